// tovmir-tool plot: a monitor session, from its --json log, drawn as a PNG.
#include <time.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>

#include "tools/cli/args.h"
#include "tools/cli/input.h"
#include "tools/cli/json.h"
#include "tools/cli/tool.h"
#include "tools/render/plot_png.h"

namespace tovmir {
namespace {

const char kPlotHelp[] =
    "usage: tovmir-tool plot LOG --png FILE [--width W] [--height H]\n"
    "\n"
    "Draws a monitor session from its log (tovmir-tool monitor --json > LOG; - for standard\n"
    "input) as a PNG picture: the reception level over time as a step line on a 0-15 axis,\n"
    "the stretches when the handset was silent shaded, the antenna's state as a band above\n"
    "(dark: filled, light: hollow), each new network number marked with a dashed line, and\n"
    "a time axis at round clock times. Where to put the handset is where the line is high.\n"
    "\n"
    "--png FILE   the picture to write\n"
    "--width W    its width in pixels, 200-8000 (default 800)\n"
    "--height H   its height in pixels, 120-4000 (default 300)\n"
    "-h, --help   this help; --version the version\n"
    "\n"
    "Exit status: 0 done; 1 LOG unreadable or FILE not writable; 2 bad arguments or a line\n"
    "of LOG that is not monitor --json output (its number is named).\n";

constexpr size_t kMaxLine = 4096;

// "2026-12-09T10:15:30.125+01:00" (or Z): the instant in seconds since 1970, the local time
// of day and the date.
bool ParseTime(const std::string& text, double* epoch, double* of_day, std::string* date) {
  int y, mo, d, h, mi, n = 0;
  double sec;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%lf%n", &y, &mo, &d, &h, &mi, &sec, &n) != 6)
    return false;
  int offset = 0;  // minutes east of UTC
  const std::string zone = text.substr(static_cast<size_t>(n));
  int zh, zm;
  if (zone == "Z")
    offset = 0;
  else if (zone.size() == 6 && (zone[0] == '+' || zone[0] == '-') &&
           std::sscanf(zone.c_str() + 1, "%2d:%2d", &zh, &zm) == 2)
    offset = (zone[0] == '-' ? -1 : 1) * (zh * 60 + zm);
  else
    return false;
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || !(sec >= 0 && sec < 61))
    return false;
  tm t{};
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  t.tm_min = mi;
  *epoch = static_cast<double>(timegm(&t)) + sec - offset * 60.0;
  *of_day = h * 3600.0 + mi * 60.0 + sec;
  *date = text.substr(0, 10);
  return true;
}

// One line of the log into a sample; "" when it is fine, else what is wrong with it.
std::string ReadSample(const std::string& line, PlotSample* p, double* epoch, double* of_day,
                       std::string* date) {
  std::map<std::string, JsonValue> v;
  std::string error;
  if (!ParseJsonObject(line, &v, &error)) return error;
  const JsonValue &time = v["time"], &level = v["level"], &receiving = v["receiving"];
  const JsonValue &antenna = v["antenna"], &net = v["net"];
  if (time.kind != JsonValue::kString) return "no \"time\" (plot draws monitor --json logs)";
  if (!ParseTime(time.text, epoch, of_day, date)) return "a time that is not ISO 8601: " + time.text;
  if (level.kind != JsonValue::kNumber || level.number < 0 || level.number > 15 ||
      level.number != std::floor(level.number))
    return "no \"level\" from 0 to 15";
  if (receiving.kind != JsonValue::kBool) return "no \"receiving\" true or false";
  p->level = static_cast<int>(level.number);
  p->receiving = receiving.boolean;
  p->hollow = antenna.kind == JsonValue::kString && antenna.text == "hollow";
  p->net = -1;
  if (net.kind == JsonValue::kString) {
    unsigned value;
    int used = 0;
    if (net.text.size() != 4 || std::sscanf(net.text.c_str(), "%4x%n", &value, &used) != 1 || used != 4)
      return "a \"net\" that is not four hexadecimal digits";
    p->net = static_cast<int>(value);
  }
  return {};
}

}  // namespace

int PlotMain(int argc, char** argv) {
  static const Option kOptions[] = {{"png", "FILE"}, {"width", "W"}, {"height", "H"}};
  static const char* const kOperands[] = {"LOG"};
  CommandLine cl("plot", kPlotHelp);
  if (!cl.Parse(argc, argv, kOptions, kOperands, 1)) return cl.status();
  if (!cl.Has("png")) return cl.UsageError("--png FILE is needed: where to write the picture");
  int width = 800, height = 300;
  if (!cl.IntValue("width", kMinPlotWidth, kMaxPlotWidth, &width) ||
      !cl.IntValue("height", kMinPlotHeight, kMaxPlotHeight, &height))
    return cl.status();

  Input in;
  if (!in.Open(cl.operands()[0])) return Fail("plot", in.error(), 1);
  PlotSession session;
  double first_epoch = 0;
  int line_no = 0;
  for (bool more = true; more;) {
    std::string line;
    int c;
    while ((c = in.Get()) >= 0 && c != '\n') {
      if (line.size() == kMaxLine)
        return Fail("plot", in.name() + ": line " + std::to_string(line_no + 1) +
                                ": longer than " + std::to_string(kMaxLine) + " bytes", 2);
      line += static_cast<char>(c);
    }
    more = c >= 0;
    ++line_no;
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    PlotSample p;
    double epoch = 0, of_day = 0;
    std::string date;
    const std::string wrong = ReadSample(line, &p, &epoch, &of_day, &date);
    if (!wrong.empty())
      return Fail("plot", in.name() + ": line " + std::to_string(line_no) + ": " + wrong, 2);
    if (session.samples.empty()) {
      first_epoch = epoch;
      session.clock_start = of_day;
      session.date = date;
    }
    p.t = epoch - first_epoch;
    if (!session.samples.empty() && p.t < session.samples.back().t)
      return Fail("plot", in.name() + ": line " + std::to_string(line_no) +
                              ": earlier than the line before it", 2);
    session.samples.push_back(p);
  }
  if (!in.error().empty()) return Fail("plot", in.error(), 1);
  if (session.samples.empty()) return Fail("plot", in.name() + ": no lines to draw", 2);
  session.end = std::max(session.samples.back().t, 1.0);

  const std::string error = WritePlotPng(session, width, height, cl.Value("png"));
  return error.empty() ? 0 : Fail("plot", error, 1);
}

}  // namespace tovmir
