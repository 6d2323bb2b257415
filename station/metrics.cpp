#include "station/metrics.h"

#include <cstdio>

namespace tovmir {
namespace {

// A label's value, escaped as the format wants: backslash, double quote, newline.
std::string Label(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '\\' || c == '"') out += '\\';
    out += c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  return out;
}

struct Family {
  const char* name;
  const char* type;
  const char* help;
};

void Head(std::string& out, const Family& f) {
  out +=
      std::string("# HELP ") + f.name + " " + f.help + "\n# TYPE " + f.name + " " + f.type + "\n";
}

std::string Number(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

}  // namespace

std::string MetricsText(std::span<const PortMetrics> ports, const std::string& version,
                        const Position* position) {
  std::string out;
  // One family at a time, every port's sample in it, as the format asks; a port whose
  // value(p) is "" has none.
  auto family = [&](const Family& f, auto value) {
    Head(out, f);
    for (const PortMetrics& p : ports) {
      const std::string v = value(p);
      if (!v.empty()) out += std::string(f.name) + "{port=\"" + Label(p.port) + "\"} " + v + "\n";
    }
  };
  auto flag = [](bool b) { return std::string(b ? "1" : "0"); };
  family({"tovmir_port_up", "gauge", "Whether the serial port is open (1) or waited for (0)."},
         [&](const PortMetrics& p) { return flag(p.up); });
  family({"tovmir_level", "gauge", "The handset's reception level, 0 to 15 (bars filled)."},
         [](const PortMetrics& p) { return std::to_string(p.level); });
  family(
      {"tovmir_antenna_filled", "gauge", "Whether the antenna is shown filled (1) or hollow (0)."},
      [&](const PortMetrics& p) { return flag(p.antenna_filled); });
  family(
      {"tovmir_receiving", "gauge", "Whether the handset sent anything in the last two seconds."},
      [&](const PortMetrics& p) { return flag(p.receiving); });
  family({"tovmir_start_seen", "gauge",
          "Whether the handset announced a fresh start since it last fell silent."},
         [&](const PortMetrics& p) { return flag(p.start_seen); });
  Head(out, {"tovmir_network_info", "gauge",
             "The network number the handset reports, in four hexadecimal digits, as a label."});
  for (const PortMetrics& p : ports) {
    if (p.net < 0) continue;
    char net[8];
    std::snprintf(net, sizeof net, "%04X", static_cast<unsigned>(p.net) & 0xFFFF);
    out += "tovmir_network_info{port=\"" + Label(p.port) + "\",network=\"" + net + "\"} 1\n";
  }
  family({"tovmir_received_bytes_total", "counter", "Bytes received from the handset."},
         [](const PortMetrics& p) { return std::to_string(p.bytes); });
  family({"tovmir_silences_total", "counter", "Times the handset fell silent for two seconds."},
         [](const PortMetrics& p) { return std::to_string(p.silences); });
  family({"tovmir_reopens_total", "counter", "Times the port was opened again after it was lost."},
         [](const PortMetrics& p) { return std::to_string(p.reopens); });
  family({"tovmir_last_byte_timestamp_seconds", "gauge",
          "When the last byte came from the handset, in seconds since 1970."},
         [](const PortMetrics& p) { return p.last_byte > 0 ? Number(p.last_byte) : ""; });
  if (position) {  // the station's, not a port's
    const Position& p = *position;
    auto one = [&](const Family& f, const std::string& v) {
      Head(out, f), out += std::string(f.name) + " " + v + "\n";
    };
    one({"tovmir_gps_fix", "gauge",
         "The station's position fix: 0 none (or older than a few seconds), 2 2D, 3 3D."},
        p.fix == Position::k3d   ? "3"
        : p.fix == Position::k2d ? "2"
                                 : "0");
    if (p.fix != Position::kNone) {
      one({"tovmir_latitude_degrees", "gauge", "The station's latitude, WGS 84, north positive."},
          Number(p.lat));
      one({"tovmir_longitude_degrees", "gauge", "The station's longitude, WGS 84, east positive."},
          Number(p.lon));
      if (p.alt)
        one({"tovmir_altitude_meters", "gauge", "The station's height above mean sea level."},
            Number(*p.alt));
      if (p.error)
        one({"tovmir_position_error_meters", "gauge",
             "The receiver's estimate of the position's horizontal error."},
            Number(*p.error));
      one({"tovmir_position_age_seconds", "gauge", "How old the position is."}, Number(p.age));
    }
  }
  Head(out, {"tovmir_build_info", "gauge", "The tovmir-tool that serves these metrics."});
  out += "tovmir_build_info{version=\"" + Label(version) + "\"} 1\n";
  return out;
}

}  // namespace tovmir
