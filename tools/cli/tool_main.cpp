// tovmir-tool: the meter's command-line companion.
#include <signal.h>
#include <sys/signalfd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "tools/tool.h"

namespace tovmir {

int Fail(const std::string& cmd, const std::string& message, int status) {
  std::cerr << "tovmir-tool " << cmd << ": " << message << '\n';
  return status;
}

bool ParseInt(const std::string& text, int& out) {
  if (text.empty() || text.size() > 11) return false;
  size_t i = text[0] == '-' ? 1 : 0;
  if (i == text.size()) return false;
  long long v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  if (text[0] == '-') v = -v;
  if (v < INT_MIN || v > INT_MAX) return false;
  out = static_cast<int>(v);
  return true;
}

int StopSignals(std::initializer_list<int> more) {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    // A signal ignored from the start (a background job of a script) would never reach
    // the descriptor: take the default back before blocking it.
    signal(sig, SIG_DFL);
    sigaddset(&set, sig);
  }
  for (int sig : more) sigaddset(&set, sig);
  sigprocmask(SIG_BLOCK, &set, nullptr);
  return signalfd(-1, &set, SFD_CLOEXEC);
}

int Usage(const std::string& cmd, const char* help) {
  std::cerr << "tovmir-tool " << cmd << ": bad arguments\n" << help;
  return 2;
}

namespace {
int g_write_errno = 0;  // of the first failed write to standard output
}  // namespace

bool WriteLine(const std::string& line) {
  if (g_write_errno) return false;
  if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size() ||
      std::fputc('\n', stdout) == EOF)
    g_write_errno = errno ? errno : EIO;
  return !g_write_errno;
}

int FinishOutput(const std::string& cmd) {
  if (!g_write_errno && (std::fflush(stdout) != 0 || std::ferror(stdout)))
    g_write_errno = errno ? errno : EIO;
  if (!g_write_errno) return 0;
  return Fail(cmd, std::string("cannot write to standard output: ") + std::strerror(g_write_errno), 1);
}

}  // namespace tovmir

namespace {

struct Command {
  const char* name;
  int (*main)(int, char**);
  const char* summary;
};

const Command kCommands[] = {
    {"replay", tovmir::ReplayMain, "feed a script of bytes and ticks through the receiver logic"},
    {"figure", tovmir::FigureMain, "the meter figure's drawing calls, and a PNG of the window"},
    {"monitor", tovmir::MonitorMain, "listen to a handset on a serial port and print the meter"},
    {"sim", tovmir::SimMain, "play the handset: send its bytes into a pty or serial port"},
};

void PrintHelp(std::ostream& out) {
  out << "usage: tovmir-tool COMMAND [ARGS]\n\n"
         "The command-line companion of the tovmir reception meter.\n\n";
  for (const Command& c : kCommands) out << "  " << c.name << "\t" << c.summary << "\n";
  out << "\n'tovmir-tool COMMAND --help' describes a command.\n";
}

}  // namespace

int main(int argc, char** argv) {
  // A closed output is a write error like any other, reported with its reason; dying of
  // SIGPIPE would also leave a serial port without its settings put back.
  signal(SIGPIPE, SIG_IGN);
  if (argc < 2) {
    PrintHelp(std::cerr);
    return 2;
  }
  if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") ||
      !std::strcmp(argv[1], "help")) {
    PrintHelp(std::cout);
    return 0;
  }
  for (const Command& c : kCommands)
    if (!std::strcmp(argv[1], c.name)) return c.main(argc - 2, argv + 2);
  std::cerr << "tovmir-tool: unknown command '" << argv[1] << "'\n";
  PrintHelp(std::cerr);
  return 2;
}
