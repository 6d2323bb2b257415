#include "commands/map_formats.h"

#include <cstdio>

#include "events/json.h"
#include "events/position.h"
#include "render/level_scale.h"

namespace tovmir {
namespace {

// Four hexadecimal digits; "" when not known.
std::string NetText(int net) {
  if (net < 0) return "";
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(net) & 0xFFFF);
  return buf;
}

const char* Antenna(bool hollow) { return hollow ? "hollow" : "filled"; }

Rgb ColourOf(const Stretch& s) { return s.receiving ? kLevelScale[s.level] : kSilentColour; }

const char* MarkName(Mark::Kind k) { return k == Mark::kSilent ? "silent" : "network"; }

std::string Xml(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else if (c == '"')
      out += "&quot;";
    else
      out += c;
  }
  return out;
}

// [lon,lat] or [lon,lat,alt], as GeoJSON wants them.
std::string JsonPlace(const Position& p) {
  return "[" + DegreesText(p.lon) + "," + DegreesText(p.lat) +
         (p.alt ? "," + MetresText(*p.alt) : "") + "]";
}

// lon,lat[,alt], as KML wants them.
std::string KmlPlace(const Position& p) {
  return DegreesText(p.lon) + "," + DegreesText(p.lat) + (p.alt ? "," + MetresText(*p.alt) : "");
}

// KML colours are aabbggrr.
std::string KmlColour(Rgb c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "ff%02x%02x%02x", c.b, c.g, c.r);
  return buf;
}

}  // namespace

std::string MapGeoJson(const LogSession& session, const Track& track) {
  std::string out = "{\"type\":\"FeatureCollection\",\"features\":[";
  bool first = true;
  auto feature = [&](const std::string& geometry, const std::string& properties) {
    out += std::string(first ? "" : ",") + "\n{\"type\":\"Feature\",\"geometry\":" + geometry +
           ",\"properties\":{" + properties + "}}";
    first = false;
  };
  for (const Stretch& s : track.stretches) {
    std::string geometry;
    if (s.points.size() == 1) {
      geometry = "{\"type\":\"Point\",\"coordinates\":" + JsonPlace(s.points[0].position) + "}";
    } else {
      geometry = "{\"type\":\"LineString\",\"coordinates\":[";
      for (size_t i = 0; i < s.points.size(); ++i)
        geometry += (i ? "," : "") + JsonPlace(s.points[i].position);
      geometry += "]}";
    }
    feature(geometry, std::string("\"kind\":\"") + (s.receiving ? "reading" : "silence") + "\"" +
                          ",\"level\":" + (s.receiving ? std::to_string(s.level) : "null") +
                          ",\"antenna\":\"" + Antenna(s.hollow) +
                          "\",\"net\":" + (s.net >= 0 ? JsonString(NetText(s.net)) : "null") +
                          ",\"receiving\":" + (s.receiving ? "true" : "false") +
                          ",\"start\":" + JsonString(UtcTime(session, s.points.front().t)) +
                          ",\"end\":" + JsonString(UtcTime(session, s.points.back().t)) +
                          ",\"stroke\":" + JsonString(HexColour(ColourOf(s))) +
                          ",\"stroke-width\":4");
  }
  for (const Mark& m : track.marks)
    feature("{\"type\":\"Point\",\"coordinates\":" + JsonPlace(m.at.position) + "}",
            std::string("\"kind\":\"") + MarkName(m.kind) + "\",\"time\":" +
                JsonString(UtcTime(session, m.at.t)) + ",\"level\":" + std::to_string(m.level) +
                ",\"net\":" + (m.net >= 0 ? JsonString(NetText(m.net)) : "null"));
  return out + "\n]}\n";
}

std::string MapGpx(const LogSession& session, const std::string& name) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<gpx version=\"1.1\" creator=\"tovmir-tool\" xmlns=\"http://www.topografix.com/GPX/1/1\" "
      "xmlns:tovmir=\"" +
      std::string(kGpxNamespace) + "\">\n<trk><name>" + Xml(name) + "</name>\n";
  bool open = false;
  double last = 0;
  for (const LogSample& s : session.samples) {
    // A point where a level was read at a place; anything else ends the segment.
    const bool point =
        s.position.fix != Position::kNone && s.receiving && s.event != MeterEvent::kLost;
    if (open && (!point || s.t - last > kMaxGapSeconds)) {
      out += "</trkseg>\n";
      open = false;
    }
    if (!point) continue;
    if (!open) out += "<trkseg>\n";
    open = true;
    last = s.t;
    const Position& p = s.position;
    out += "<trkpt lat=\"" + DegreesText(p.lat) + "\" lon=\"" + DegreesText(p.lon) + "\">";
    if (p.alt) out += "<ele>" + MetresText(*p.alt) + "</ele>";
    out += "<time>" + UtcTime(session, s.t) + "</time><extensions><tovmir:level>" +
           std::to_string(s.level) + "</tovmir:level><tovmir:antenna>" + Antenna(s.hollow) +
           "</tovmir:antenna>" +
           (s.net >= 0 ? "<tovmir:net>" + NetText(s.net) + "</tovmir:net>" : "") +
           "</extensions></trkpt>\n";
  }
  if (open) out += "</trkseg>\n";
  return out + "</trk>\n</gpx>\n";
}

std::string MapKml(const LogSession& session, const Track& track, const std::string& name) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n<Document><name>" +
      Xml(name) + "</name>\n";
  auto style = [&](const std::string& id, Rgb c) {
    out += "<Style id=\"" + id + "\"><LineStyle><color>" + KmlColour(c) +
           "</color><width>4</width></LineStyle><IconStyle><color>" + KmlColour(c) +
           "</color></IconStyle></Style>\n";
  };
  for (int level = 0; level < 16; ++level)
    style("level" + std::to_string(level), kLevelScale[level]);
  style("silence", kSilentColour);
  for (const Stretch& s : track.stretches) {
    const std::string id = s.receiving ? "level" + std::to_string(s.level) : "silence";
    const std::string when = "<TimeSpan><begin>" + UtcTime(session, s.points.front().t) +
                             "</begin><end>" + UtcTime(session, s.points.back().t) +
                             "</end></TimeSpan>";
    std::string where;
    if (s.points.size() == 1) {
      where = "<Point><coordinates>" + KmlPlace(s.points[0].position) + "</coordinates></Point>";
    } else {
      where = "<LineString><coordinates>";
      for (size_t i = 0; i < s.points.size(); ++i)
        where += (i ? " " : "") + KmlPlace(s.points[i].position);
      where += "</coordinates></LineString>";
    }
    out += "<Placemark><name>" +
           (s.receiving ? "level " + std::to_string(s.level) : std::string("silent")) + "</name>" +
           when + "<styleUrl>#" + id + "</styleUrl>" + where + "</Placemark>\n";
  }
  for (const Mark& m : track.marks)
    out += std::string("<Placemark><name>") +
           (m.kind == Mark::kSilent ? "went silent" : "network " + NetText(m.net)) +
           "</name><TimeStamp><when>" + UtcTime(session, m.at.t) + "</when></TimeStamp>" +
           "<styleUrl>#" +
           (m.kind == Mark::kSilent ? "silence" : "level" + std::to_string(m.level)) +
           "</styleUrl><Point><coordinates>" + KmlPlace(m.at.position) +
           "</coordinates></Point></Placemark>\n";
  return out + "</Document>\n</kml>\n";
}

std::string MapCsv(const LogSession& session) {
  std::string out = "time,latitude,longitude,fix,level,antenna,network,receiving\n";
  for (const LogSample& s : session.samples) {
    const bool placed = s.position.fix != Position::kNone;
    out += UtcTime(session, s.t) + "," + (placed ? DegreesText(s.position.lat) : "") + "," +
           (placed ? DegreesText(s.position.lon) : "") + "," + FixName(s.position.fix) + "," +
           std::to_string(s.level) + "," + Antenna(s.hollow) + "," + NetText(s.net) + "," +
           (s.receiving ? "true" : "false") + "\n";
  }
  return out;
}

}  // namespace tovmir
