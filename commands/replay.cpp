// tovmir-tool replay: feeds a script or a raw capture through the receiver logic, as the
// reader thread and the watchdog timer would, and prints the state after every token.
#include <string>

#include "cli/args.h"
#include "cli/input.h"
#include "cli/script.h"
#include "cli/tool.h"
#include "commands/commands.h"
#include "events/state_line.h"

namespace tovmir {
namespace {

const char kReplayHelp[] =
    "usage: tovmir-tool replay [-j|--json] [FILE]\n"
    "       tovmir-tool replay [-j|--json] --raw FILE\n"
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
    "-j, --json prints the same as JSON Lines, one object per line:\n"
    "  {\"event\":\"byte\",\"byte\":\"C7\",\"level\":7,\"antenna\":\"filled\",\"net\":\"1234\",\n"
    "   \"receiving\":true,\"start\":true,\"status\":\"...\",\"redraws\":1}\n"
    "event is init, byte or tick; antenna filled or hollow; net null when not known.\n"
    "\n"
    "-h, --help shows this, -V, --version the version.\n"
    "\n"
    "Exit status: 0 done; 1 FILE missing or unreadable, or standard output not writable;\n"
    "2 bad token or bad arguments (the lines before it are printed).\n";

// Each step printed as it happens; false once standard output cannot be written.
class Replayer final {
 public:
  explicit Replayer(bool json) : json_(json) {}
  bool Init() { return Print({MeterEvent::kInit}); }
  bool Byte(std::uint8_t b) {
    ReceiveByte(state_, b, sink_);
    return Print({MeterEvent::kByte, b});
  }
  bool Tick() {
    WatchdogTick(state_, sink_);
    return Print({MeterEvent::kTick});
  }

 private:
  bool Print(MeterEvent e) {
    e.redraws = sink_.count;
    sink_.count = 0;
    return WriteLine(json_ ? StateJson(e, state_) : StateLine(e, state_));
  }
  bool json_;
  MeterState state_;
  CountingSink sink_;
};

int ReplayRaw(Input& in, bool json) {
  Replayer r(json);
  bool writing = r.Init();
  for (int c; writing && (c = in.Get()) >= 0;) writing = r.Byte(static_cast<std::uint8_t>(c));
  if (const int status = FinishOutput("replay")) return status;
  return in.error().empty() ? 0 : Fail("replay", in.error(), 1);
}

int ReplayScript(Input& in, bool json) {
  ScriptReader reader(in, ScriptDialect::kReplay);
  Replayer r(json);
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
  static const Option kOptions[] = {{"raw", nullptr}, {"json", nullptr, 'j'}};
  static const char* const kOperands[] = {"FILE"};
  CommandLine cl("replay", kReplayHelp);
  if (!cl.Parse(argc, argv, kOptions, kOperands, 0)) return cl.status();
  const bool raw = cl.Has("raw");
  if (raw && cl.operands().empty()) return cl.UsageError("--raw needs a FILE");
  Input in;
  if (!in.Open(cl.operands().empty() ? "-" : cl.operands()[0]))
    return Fail("replay", in.error(), 1);
  return raw ? ReplayRaw(in, cl.Has("json")) : ReplayScript(in, cl.Has("json"));
}

}  // namespace tovmir
