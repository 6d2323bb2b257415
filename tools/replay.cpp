// tovmir-tool replay: feeds a script or a raw capture through the receiver logic, as the
// reader thread and the watchdog timer would, and prints the state after every token.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "tools/script.h"
#include "tools/state_line.h"
#include "tools/tool.h"

namespace tovmir {
namespace {

const char kReplayHelp[] =
    "usage: tovmir-tool replay [FILE]\n"
    "       tovmir-tool replay --raw FILE\n"
    "\n"
    "Feeds handset bytes and watchdog ticks through the meter's receiver logic and prints\n"
    "the state: one line for the initial state, then one line per token.\n"
    "\n"
    "A script (from FILE, or standard input when FILE is absent or -) holds tokens separated\n"
    "by white space; '#' starts a comment that runs to the end of the line.\n"
    "  c7, 0xC7   a received byte: two hexadecimal digits, optionally after 0x\n"
    "  t, tick    one tick of the 500 ms watchdog timer\n"
    "--raw FILE reads a raw capture instead: every byte of FILE is a received byte.\n"
    "\n"
    "Each line reads\n"
    "  WHAT level=L shown=S hollow=H hollow_shown=HS net=N accum=A mode=M codes=C digits=D\n"
    "  receiving=R start=ST silent=T redraws=RD status=TEXT\n"
    "where WHAT is 'init', 'byte XX' or 'tick', numbers are decimal (net=-1: not known;\n"
    "mode=173: collecting network-number digits), redraws counts the repaints the token\n"
    "asked for and TEXT is the status line.\n"
    "\n"
    "Exit status: 0 done; 1 FILE missing or unreadable; 2 bad token or bad arguments (the\n"
    "lines before it are printed).\n";

class Replayer {
 public:
  void Init() { Print("init"); }
  void Byte(std::uint8_t b) {
    ReceiveByte(state_, b, sink_);
    Print(ByteLabel(b));
  }
  void Tick() {
    WatchdogTick(state_, sink_);
    Print("tick");
  }

 private:
  void Print(const std::string& what) {
    std::cout << StateLine(what, state_, sink_.count) << '\n';
    sink_.count = 0;
  }
  MeterState state_;
  CountingSink sink_;
};

int ReplayRaw(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::istream& in = path == "-" ? std::cin : file;
  if (path != "-" && !file) return Fail("replay", "cannot open '" + path + "'", 1);
  Replayer r;
  r.Init();
  for (std::istreambuf_iterator<char> it(in), end; it != end; ++it)
    r.Byte(static_cast<std::uint8_t>(*it));
  if (in.bad()) return Fail("replay", "cannot read '" + path + "'", 1);
  return 0;
}

int ReplayScript(const std::string& path) {
  std::ifstream file(path);
  std::istream& in = path == "-" ? std::cin : file;
  if (path != "-" && !file) return Fail("replay", "cannot open '" + path + "'", 1);
  ScriptReader reader(in, ScriptDialect::kReplay);
  Replayer r;
  r.Init();
  while (auto tok = reader.Next()) {
    if (tok->kind == ScriptToken::kByte)
      r.Byte(tok->byte);
    else
      r.Tick();
  }
  if (!reader.error().empty()) {
    std::cout.flush();
    return Fail("replay", (path == "-" ? "<stdin>" : path) + ": " + reader.error(), 2);
  }
  if (in.bad()) return Fail("replay", "cannot read '" + path + "'", 1);
  return 0;
}

}  // namespace

int ReplayMain(int argc, char** argv) {
  std::string path = "-";
  bool raw = false;
  int i = 0;
  for (; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << kReplayHelp;
      return 0;
    }
    if (a == "--raw")
      raw = true;
    else
      break;
  }
  if (argc - i > 1 || (raw && argc - i != 1) || (i < argc && argv[i][0] == '-' && argv[i][1]))
    return Usage("replay", kReplayHelp);
  if (i < argc) path = argv[i];
  return raw ? ReplayRaw(path) : ReplayScript(path);
}

}  // namespace tovmir
