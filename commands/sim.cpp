// tovmir-tool sim: the handset's side of the line. Plays a scripted scenario, or a
// realistic endless session (sim/), into a pty pair of its own or an existing serial
// device.
#include <iostream>
#include <random>
#include <string>

#include "cli/args.h"
#include "cli/input.h"
#include "cli/script.h"
#include "cli/tool.h"
#include "commands/commands.h"
#include "platform/stop_signals.h"
#include "sim/handset_line.h"
#include "sim/sim_session.h"

namespace tovmir {
namespace {

const char kSimHelp[] =
    "usage: tovmir-tool sim [--port DEVICE] [--seed N] [SCRIPT]\n"
    "\n"
    "Plays the handset: sends its status bytes at the pace of a 600-baud 8N1 line (one byte\n"
    "per 1/60 s, never faster).\n"
    "\n"
    "By default it makes a pty pair and prints, on the first line of its output, the device\n"
    "the meter should open (tovmir-tool monitor DEVICE, or a Wine COM port mapped to it);\n"
    "the pty lives as long as the simulator. --port DEVICE writes into an existing serial\n"
    "device or pty instead, set to 600 baud 8N1 and put back as it was at the end.\n"
    "\n"
    "Without SCRIPT it plays a realistic session until stopped: a fresh start, the antenna,\n"
    "the network number, a wandering reception level, and about once a minute a switch-off\n"
    "of 3 to 5 seconds. --seed N makes the session repeatable.\n"
    "\n"
    "SCRIPT holds bytes in replay's format (two hexadecimal digits, '#' comments) and\n"
    "'wait SECONDS' for silence on the line; the simulator ends after it.\n"
    "\n"
    "-h, --help shows this, -V, --version the version.\n"
    "\n"
    "Ctrl-C or SIGTERM ends it at once. Exit status: 0 done or stopped; 1 the script could\n"
    "not be read, or the device could not be opened, written or restored; 2 bad arguments or\n"
    "a bad script (its line is named).\n";

// Reads the script through once, so that a bad one is refused before anything reaches the
// line, and leaves it ready to be read again from its start: a file that cannot go back
// (standard input, a pipe) is copied to a scratch file first. *status says why not.
bool CheckScript(Input& file, Input& scratch, Input** script, int* status) {
  *script = &file;
  if (!file.Seekable()) {
    if (!scratch.OpenScratch() || !file.CopyTo(scratch) || !scratch.Rewind()) {
      *status = Fail("sim", file.error().empty() ? scratch.error() : file.error(), 1);
      return false;
    }
    *script = &scratch;
  }
  ScriptReader reader(**script, ScriptDialect::kSim);
  while (reader.Next()) {
  }
  if (!(*script)->error().empty()) {
    *status = Fail("sim", (*script)->error(), 1);
  } else if (!reader.error().empty()) {
    *status = Fail("sim", file.name() + ": " + reader.error(), 2);
  } else if (!(*script)->Rewind()) {
    *status = Fail("sim", (*script)->error(), 1);
  } else {
    return true;
  }
  return false;
}

}  // namespace

int SimMain(int argc, char** argv) {
  static const Option kOptions[] = {{"port", "DEVICE"}, {"seed", "N"}};
  static const char* const kOperands[] = {"SCRIPT"};
  CommandLine cl("sim", kSimHelp);
  if (!cl.Parse(argc, argv, kOptions, kOperands, 0)) return cl.status();
  const std::string port = cl.Value("port");
  const std::string script = cl.operands().empty() ? "" : cl.operands()[0];
  const bool have_seed = cl.Has("seed");
  int seed = 0;
  if (!cl.IntValue("seed", 0, 2147483647, &seed)) return cl.status();

  // A bad script is refused before anything reaches the line.
  Input file, scratch;
  Input* in = nullptr;
  int status = 0;
  if (!script.empty()) {
    if (!file.Open(script)) return Fail("sim", file.error(), 1);
    if (!CheckScript(file, scratch, &in, &status)) return status;
  }

  const int signal_fd = StopSignals();
  if (signal_fd < 0) return Fail("sim", "cannot set up signal handling", 1);

  HandsetLine line;
  std::string error, name;
  if (port.empty() ? !line.OpenPty(&name, &error) : !line.OpenDevice(port, &error))
    return Fail("sim", error, 1);
  WriteLine(port.empty() ? name : port);
  if (const int failed = FinishOutput("sim")) {
    line.Restore(&error);
    return failed;
  }

  Pacer pacer(line.fd(), signal_fd);
  if (in) {
    ScriptReader reader(*in, ScriptDialect::kSim);
    while (const auto t = reader.Next()) {
      const bool go =
          t->kind == ScriptToken::kByte ? pacer.Send(t->byte, &error) : pacer.Silence(t->seconds);
      if (!go) break;
    }
    if (!in->error().empty()) error = in->error();  // the file changed under us
    if (error.empty() && pacer.Finish()) line.Drain();
  } else {
    SimSession session(have_seed ? static_cast<std::uint32_t>(seed) : std::random_device{}());
    for (;;) {
      const SimStep s = session.Next();
      if (!(s.kind == SimStep::kByte ? pacer.Send(s.byte, &error) : pacer.Silence(s.seconds)))
        break;
    }
  }
  std::string restore_error;
  if (!line.Restore(&restore_error) && error.empty()) error = restore_error;
  return error.empty() ? 0 : Fail("sim", error, 1);
}

}  // namespace tovmir
