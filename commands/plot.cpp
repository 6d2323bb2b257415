// tovmir-tool plot: a monitor session, from its --json log, drawn as a PNG.
#include <string>

#include "cli/args.h"
#include "cli/input.h"
#include "cli/tool.h"
#include "commands/commands.h"
#include "commands/read_log.h"
#include "events/log_reader.h"
#include "render/plot_png.h"

namespace tovmir {
namespace {

const char kPlotHelp[] =
    "usage: tovmir-tool plot LOG --png FILE [--width W] [--height H] [--port PORT]\n"
    "\n"
    "Draws a monitor session from its log (tovmir-tool monitor --json > LOG; - for standard\n"
    "input) as a PNG picture: the reception level over time as a step line on a 0-15 axis,\n"
    "the stretches when the handset was silent shaded, the antenna's state as a band above\n"
    "(dark: filled, light: hollow), each new network number marked with a dashed line, and\n"
    "a time axis at round clock times. Where to put the handset is where the line is high.\n"
    "Where the computer's clock was set during the session, the step is marked on the time\n"
    "axis and said on standard error; the time between lines comes from monitor's own\n"
    "clock (\"elapsed\"), which nobody sets.\n"
    "\n"
    "--png FILE   the picture to write (never the log itself); written whole or not at all\n"
    "--width W    its width in pixels, 200-8000 (default 800)\n"
    "--height H   its height in pixels, 120-4000 (default 300)\n"
    "--port PORT  the port to draw, of a log of several (monitor PORT...)\n"
    "-h, --help   this help; -V, --version the version\n"
    "\n"
    "Exit status: 0 done; 1 LOG unreadable or FILE not writable; 2 bad arguments, FILE the\n"
    "same file as LOG, or a line of LOG that is not monitor --json output (its number and\n"
    "field are named).\n";

}  // namespace

int PlotMain(int argc, char** argv) {
  static const Option kOptions[] = {
      {"png", "FILE"}, {"width", "W"}, {"height", "H"}, {"port", "PORT"}};
  static const char* const kOperands[] = {"LOG"};
  CommandLine cl("plot", kPlotHelp);
  if (!cl.Parse(argc, argv, kOptions, kOperands, 1)) return cl.status();
  if (!cl.Has("png")) return cl.UsageError("--png FILE is needed: where to write the picture");
  int width = 800, height = 300;
  if (!cl.IntValue("width", kMinPlotWidth, kMaxPlotWidth, &width) ||
      !cl.IntValue("height", kMinPlotHeight, kMaxPlotHeight, &height))
    return cl.status();

  const std::string png = cl.Value("png");
  LogReader log(cl.Value("port"));
  std::string name;
  if (const int status = LoadLog("plot", cl.operands()[0], {{"the picture", png}}, &log, &name))
    return status;
  const LogSession session = log.Session();
  if (session.samples.empty())
    return Fail("plot",
                name + ": no lines" +
                    (cl.Has("port") ? " of port " + cl.Value("port") : std::string()) + " to draw",
                2);
  for (const std::string& note : log.notes()) Note("plot", name + ": " + note);

  const std::string error = WritePlotPng(session, width, height, png);
  return error.empty() ? 0 : Fail("plot", error, 1);
}

}  // namespace tovmir
