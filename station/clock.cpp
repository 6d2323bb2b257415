#include "station/clock.h"

#include <time.h>

#include <cstdio>

namespace tovmir {
namespace {

double Seconds(clockid_t clock) {
  timespec now;
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

}  // namespace

std::string Timestamp(bool rfc3339) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  tm local;
  localtime_r(&now.tv_sec, &local);
  char buf[48];
  size_t n = strftime(buf, sizeof buf, rfc3339 ? "%Y-%m-%dT%H:%M:%S" : "%Y-%m-%d %H:%M:%S", &local);
  n += std::snprintf(buf + n, sizeof buf - n, ".%03ld", now.tv_nsec / 1000000);
  if (rfc3339) {
    char zone[8];  // +hhmm, written +hh:mm
    strftime(zone, sizeof zone, "%z", &local);
    std::snprintf(buf + n, sizeof buf - n, "%.3s:%.2s", zone, zone + 3);
  }
  return buf;
}

double WallSeconds() { return Seconds(CLOCK_REALTIME); }
double BootSeconds() { return Seconds(CLOCK_BOOTTIME); }

long long MonotonicMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

}  // namespace tovmir
