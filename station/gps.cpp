#include "station/gps.h"

#include <fcntl.h>
#include <gps.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/wake_pipe.h"
#include "station/clock.h"

namespace tovmir {
namespace {

constexpr int kJoinMs = 5000;

// A report's time, RFC 3339 UTC to the millisecond; "" for none.
std::string GpsTime(const timespec& t) {
  if (t.tv_sec <= 0) return {};
  tm utc;
  if (!gmtime_r(&t.tv_sec, &utc)) return {};
  char buf[80];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(t.tv_nsec / 1000000 % 1000));
  return buf;
}

// What a TPV report says of the place.
Position PositionOf(const gps_data_t& d) {
  Position p;
  const gps_fix_t& f = d.fix;
  const bool placed = (d.set & LATLON_SET) && std::isfinite(f.latitude) &&
                      std::isfinite(f.longitude) && std::fabs(f.latitude) <= 90 &&
                      std::fabs(f.longitude) <= 180;
  if (f.mode < MODE_2D || !placed) return p;
  p.fix = f.mode >= MODE_3D ? Position::k3d : Position::k2d;
  p.lat = f.latitude;
  p.lon = f.longitude;
  if (p.fix == Position::k3d && std::isfinite(f.altMSL))
    p.alt = f.altMSL;
  else if (p.fix == Position::k3d && std::isfinite(f.altHAE))
    p.alt = f.altHAE;
  if (std::isfinite(f.eph) && f.eph >= 0) p.error = f.eph;
  if (d.set & TIME_SET) p.gps_time = GpsTime(f.time);
  return p;
}

}  // namespace

bool ParseGpsAddress(const std::string& text, std::string* host, std::string* port) {
  std::string h = kGpsdHost, p = kGpsdPort;
  if (!text.empty() && text[0] == '[') {
    const size_t close = text.find(']');
    if (close == std::string::npos) return false;
    h = text.substr(1, close - 1);
    const std::string rest = text.substr(close + 1);
    if (!rest.empty() && (rest[0] != ':' || rest.size() == 1)) return false;
    if (!rest.empty()) p = rest.substr(1);
  } else if (const size_t colon = text.rfind(':'); colon != std::string::npos) {
    if (colon > 0) h = text.substr(0, colon);
    p = text.substr(colon + 1);
    if (h.find(':') != std::string::npos) return false;  // an IPv6 address wants brackets
  } else if (!text.empty()) {
    h = text;
  }
  if (h.empty() || p.empty() || p.size() > 5 || p.find_first_not_of("0123456789") != p.npos ||
      std::stoi(p) < 1 || std::stoi(p) > 65535 || h.find_first_of(" /\\") != h.npos)
    return false;
  *host = h;
  *port = p;
  return true;
}

GpsSource::GpsSource(std::string host, std::string port, Listener& listener)
    : host_(std::move(host)),
      port_(std::move(port)),
      address_((host_.find(':') != std::string::npos ? "[" + host_ + "]" : host_) + ":" + port_),
      listener_(listener) {}

bool GpsSource::Start(std::string* error) {
  std::uint32_t id;
  if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0 ||
      !StartThread(&GpsSource::Run, this, &thread_, &id)) {
    *error = std::string("cannot start reading gpsd: ") + std::strerror(errno);
    return false;
  }
  return true;
}

void GpsSource::Stop() {
  if (thread_) {
    WakePipe(wake_[1]);
    // The thread waits only in poll(), where the wake reaches it.
    if (JoinThread(thread_, kJoinMs) || KillThread(thread_)) CloseThread(thread_);
    thread_ = nullptr;
  }
  for (int& fd : wake_)
    if (fd >= 0) {
      close(fd);
      fd = -1;
    }
}

Position GpsSource::Latest() const {
  std::lock_guard<std::mutex> lock(mu_);
  const double age = (MonotonicMs() - received_ms_) / 1000.0;
  if (latest_.fix == Position::kNone || age > kMaxFixAgeSeconds) return {};
  Position p = latest_;
  p.age = age;
  return p;
}

void GpsSource::Say(GpsSource::State state, const std::string& what) {
  if (state == state_) return;
  state_ = state;
  listener_.GpsSaid(what);
}

bool GpsSource::Stopped(int ms) const {
  pollfd w = {wake_[0], POLLIN, 0};
  return poll(&w, 1, ms) > 0;
}

void GpsSource::Run(void* p) {
  auto* self = static_cast<GpsSource*>(p);
  do {
    self->Read();
  } while (!self->Stopped(kGpsRetrySeconds * 1000));
}

void GpsSource::Read() {
  gps_data_t data{};
  if (gps_open(host_.c_str(), port_.c_str(), &data) != 0) {
    Say(State::kDown, "gpsd at " + address_ + " cannot be reached (" + gps_errstr(errno) +
                          "); trying again every " + std::to_string(kGpsRetrySeconds) + " s");
    return;
  }
  gps_stream(&data, WATCH_ENABLE | WATCH_JSON, nullptr);
  Say(State::kConnected, "gpsd at " + address_ + ": connected");
  std::string why;
  for (;;) {
    pollfd fds[2] = {{data.gps_fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      why = std::strerror(errno);
      break;
    }
    if (fds[1].revents) break;  // Stop
    if (!TakeReports(data, &why)) break;
  }
  gps_close(&data);
  if (!why.empty())
    Say(State::kDown, "gpsd at " + address_ + " was lost (" + why + "); trying again every " +
                          std::to_string(kGpsRetrySeconds) + " s");
  std::lock_guard<std::mutex> lock(mu_);
  latest_ = {};
}

bool GpsSource::TakeReports(gps_data_t& data, std::string* why) {
  // gpsd's reports come several to a read when this thread falls behind, and libgps hands
  // them out one a call, keeping the rest where poll() cannot see them: all are taken here,
  // until only part of one (or nothing) is left.
  for (;;) {
    // The flags of this report alone: libgps leaves a TPV's MODE_SET on through the SKY
    // report that follows it, which would be the same position again.
    data.set = 0;
    errno = 0;
    const int got = gps_read(&data, nullptr, 0);
    if (got < 0) {
      *why = errno ? std::strerror(errno) : "it closed the connection";
      return false;
    }
    if (got == 0) return true;
    if (!(data.set & MODE_SET)) continue;  // not a position report
    const Position now = PositionOf(data);
    bool told;
    {
      std::lock_guard<std::mutex> lock(mu_);
      // A fix, and the loss of one, are news; a report without a fix after none is not.
      told = now.fix != Position::kNone || latest_.fix != Position::kNone;
      latest_ = now;
      received_ms_ = MonotonicMs();
    }
    if (told) listener_.NewPosition();
  }
}

}  // namespace tovmir
