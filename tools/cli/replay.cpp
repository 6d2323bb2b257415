// tovmir-tool replay: feeds a script or a raw capture through the receiver logic, as the
// reader thread and the watchdog timer would, and prints the state after every token.
#include <iostream>
#include <string>

#include "tools/cli/input.h"
#include "tools/cli/script.h"
#include "tools/cli/state_line.h"
#include "tools/cli/tool.h"

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
    "Exit status: 0 done; 1 FILE missing or unreadable, or standard output not writable;\n"
    "2 bad token or bad arguments (the lines before it are printed).\n";

// Each step printed as it happens; false once standard output cannot be written.
class Replayer {
 public:
  bool Init() { return Print("init"); }
  bool Byte(std::uint8_t b) {
    ReceiveByte(state_, b, sink_);
    return Print(ByteLabel(b));
  }
  bool Tick() {
    WatchdogTick(state_, sink_);
    return Print("tick");
  }

 private:
  bool Print(const std::string& what) {
    const int redraws = sink_.count;
    sink_.count = 0;
    return WriteLine(StateLine(what, state_, redraws));
  }
  MeterState state_;
  CountingSink sink_;
};

int ReplayRaw(Input& in) {
  Replayer r;
  bool writing = r.Init();
  for (int c; writing && (c = in.Get()) >= 0;) writing = r.Byte(static_cast<std::uint8_t>(c));
  if (const int status = FinishOutput("replay")) return status;
  return in.error().empty() ? 0 : Fail("replay", in.error(), 1);
}

int ReplayScript(Input& in) {
  ScriptReader reader(in, ScriptDialect::kReplay);
  Replayer r;
  bool writing = r.Init();
  while (writing) {
    const auto tok = reader.Next();
    if (!tok) break;
    writing = tok->kind == ScriptToken::kByte ? r.Byte(tok->byte) : r.Tick();
  }
  if (const int status = FinishOutput("replay")) return status;
  if (!in.error().empty()) return Fail("replay", in.error(), 1);
  if (!reader.error().empty()) return Fail("replay", in.name() + ": " + reader.error(), 2);
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
  Input in;
  if (!in.Open(path)) return Fail("replay", in.error(), 1);
  return raw ? ReplayRaw(in) : ReplayScript(in);
}

}  // namespace tovmir
