#include "events/state_line.h"

#include <cstdio>

#include "events/json.h"
#include "platform/text.h"

namespace tovmir {
namespace {

const char* const kEvents[] = {"init", "byte", "tick", "lost", "open", "gps", "position"};

std::string What(const MeterEvent& e) {
  if (e.kind != MeterEvent::kByte) return kEvents[e.kind];
  char buf[8];
  std::snprintf(buf, sizeof buf, "byte %02X", e.byte);
  return buf;
}

}  // namespace

std::string StateLine(const MeterEvent& e, const MeterState& s, const Position* position) {
  char buf[320];
  std::snprintf(buf, sizeof buf,
                " level=%d shown=%d hollow=%d hollow_shown=%d net=%d accum=%d mode=%d codes=%d"
                " digits=%d receiving=%d start=%d silent=%d redraws=%d status=",
                int{s.m_nLevel}, int{s.m_nLevelShown}, int{s.m_bHollow}, int{s.m_bHollowShown},
                int{s.m_nNetNo}, int{s.m_nNetAccum}, int{s.m_nMode}, int{s.m_nCodeBytes},
                int{s.m_nDigitBytes}, int{s.m_bReceiving}, int{s.m_bStartSeen},
                int{s.m_nSilentTicks}, e.redraws);
  return What(e) + buf + Utf8FromCp932(StatusLineText(s)) +
         (position ? PositionText(*position) : "");
}

std::string StateJson(const MeterEvent& e, const MeterState& s, const EventStamp& stamp) {
  std::string out = "{";
  if (!stamp.time.empty()) out += "\"time\":" + JsonString(stamp.time) + ",";
  char buf[160];
  if (stamp.elapsed >= 0) {
    std::snprintf(buf, sizeof buf, "\"elapsed\":%.3f,", stamp.elapsed);
    out += buf;
  }
  if (!stamp.port.empty()) out += "\"port\":" + JsonString(stamp.port) + ",";
  out += "\"event\":\"" + std::string(kEvents[e.kind]) + "\"";
  if (e.kind == MeterEvent::kByte) {
    std::snprintf(buf, sizeof buf, ",\"byte\":\"%02X\"", e.byte);
    out += buf;
  }
  if (e.kind == MeterEvent::kLost || e.kind == MeterEvent::kGps)
    out += ",\"reason\":" + JsonString(stamp.reason);
  const int net = s.m_nNetNo;
  char net_text[16] = "null";
  if (net >= 0 && net <= 0xFFFF) std::snprintf(net_text, sizeof net_text, "\"%04X\"", net);
  std::snprintf(buf, sizeof buf,
                ",\"level\":%d,\"antenna\":\"%s\",\"net\":%s,\"receiving\":%s,\"start\":%s,",
                int{s.m_nLevel}, s.m_bHollow ? "hollow" : "filled", net_text,
                s.m_bReceiving ? "true" : "false", s.m_bStartSeen ? "true" : "false");
  out += buf;
  out += "\"status\":" + JsonString(Utf8FromCp932(StatusLineText(s)));
  out += ",\"redraws\":" + std::to_string(e.redraws);
  return out + (stamp.position ? PositionJson(*stamp.position) : "") + "}";
}

}  // namespace tovmir
