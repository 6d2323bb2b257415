// tovmir-tool map: a monitor --gps session, from its log, as maps: GeoJSON, GPX, KML, CSV
// and a PNG picture.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/input.h"
#include "cli/tool.h"
#include "commands/commands.h"
#include "commands/map_formats.h"
#include "commands/read_log.h"
#include "events/log_reader.h"
#include "events/track.h"
#include "platform/whole_file.h"
#include "render/map_png.h"

namespace tovmir {
namespace {

const char kMapHelp[] =
    "usage: tovmir-tool map LOG [--geojson FILE] [--gpx FILE] [--kml FILE] [--csv FILE]\n"
    "                       [--png FILE [--width W] [--height H]] [--port PORT]\n"
    "\n"
    "Draws a survey, a monitor --gps session from its log (tovmir-tool monitor --json --gps\n"
    "> LOG; - for standard input), as maps of where the handset received how well: the way\n"
    "walked (or driven), coloured by the reception level on one scale of 16 colours, red (0)\n"
    "through yellow to green (15), broken where the fix was lost (none for 10 s) or the\n"
    "handset was silent or unplugged; and where it went silent and where its network number\n"
    "changed. At least one of:\n"
    "\n"
    "--geojson FILE  GeoJSON (RFC 7946): a LineString a stretch of one reading, with its level,\n"
    "                antenna, network number, start, end and stroke colour; a Point a mark\n"
    "--gpx FILE      GPX 1.1: one track, a segment after each break, each point with its time\n"
    "                and, under extensions, its level, antenna and network number\n"
    "--kml FILE      KML (Google Earth, QGIS): a style a level, a Placemark a stretch or mark\n"
    "--csv FILE      CSV, a row a log line: time, latitude, longitude, fix, level, antenna,\n"
    "                network, receiving\n"
    "--png FILE      a picture of the way, north up, with the legend and a scale bar (no map\n"
    "                tiles); --width W 240-8000 (default 800), --height H 200-8000 (600)\n"
    "--port PORT     the port to draw, of a log of several (monitor PORT...)\n"
    "-h, --help      this help; -V, --version the version\n"
    "\n"
    "Each FILE is written whole or not at all, and never over the log.\n"
    "\n"
    "Exit status: 0 done; 1 LOG unreadable, a FILE not writable, or no position in the log;\n"
    "2 bad arguments, a FILE the same file as LOG, or a line of LOG that is not monitor --json\n"
    "output (its number and field are named).\n";

}  // namespace

int MapMain(int argc, char** argv) {
  static const Option kOptions[] = {{"geojson", "FILE"}, {"gpx", "FILE"}, {"kml", "FILE"},
                                    {"csv", "FILE"},     {"png", "FILE"}, {"width", "W"},
                                    {"height", "H"},     {"port", "PORT"}};
  static const char* const kOperands[] = {"LOG"};
  CommandLine cl("map", kMapHelp);
  if (!cl.Parse(argc, argv, kOptions, kOperands, 1)) return cl.status();
  std::vector<LogOutput> outputs;
  for (const char* option : {"geojson", "gpx", "kml", "csv", "png"})
    if (cl.Has(option)) outputs.push_back({std::string("--") + option, cl.Value(option)});
  if (outputs.empty())
    return cl.UsageError("one of --geojson, --gpx, --kml, --csv or --png is needed");
  int width = 800, height = 600;
  if (!cl.IntValue("width", kMinMapWidth, kMaxMapWidth, &width) ||
      !cl.IntValue("height", kMinMapHeight, kMaxMapHeight, &height))
    return cl.status();

  LogReader log(cl.Value("port"));
  std::string name;
  if (const int status = LoadLog("map", cl.operands()[0], outputs, &log, &name)) return status;
  const LogSession session = log.Session();
  const Track track = TrackOf(session);
  if (track.positions == 0)
    return Fail(
        "map",
        name + ": no position in " +
            (session.samples.empty() ? "it"
                                     : "its " + std::to_string(session.samples.size()) + " lines") +
            ": was monitor run with --gps, with a fix?",
        1);

  const std::string title = "tovmir survey " + session.date;
  int status = 0;
  for (const LogOutput& o : outputs) {
    const std::string option = o.what.substr(2);
    std::string error;
    if (option == "png") {
      error = WriteMapPng(session, track, width, height, o.path);
    } else {
      const std::string text = option == "geojson" ? MapGeoJson(session, track)
                               : option == "gpx"   ? MapGpx(session, title)
                               : option == "kml"   ? MapKml(session, track, title)
                                                   : MapCsv(session);
      error = WriteWholeFile(o.path, [&text](FILE* file) -> std::string {
        return std::fwrite(text.data(), 1, text.size(), file) == text.size() ? ""
                                                                             : std::strerror(errno);
      });
    }
    if (!error.empty()) status = Fail("map", error, 1);
  }
  return status;
}

}  // namespace tovmir
