// tovmir-tool: the meter's command-line companion.
#include <signal.h>

#include <cstring>
#include <iostream>

#include "tools/cli/tool.h"

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
