// log_reader.h: the log that 'tovmir-tool monitor --json' writes, read back (for 'plot' and
// 'map'). Each line is checked to be what monitor writes (an RFC 3339 time with a real
// date, the event, the level 0-15, the antenna, the network number as four hexadecimal
// digits or null, receiving true or false; with --gps the fix, and with a fix a place on
// the earth, a height, an error of 0 or more, an age and a time), and the lines are put on
// one time line. The time between two
// lines comes from their "elapsed" (monitor's own clock, which nobody sets) where both have
// it, else from their wall-clock times; where the wall clock was set during the session (by
// NTP, a user, a change of zone), the step becomes a ClockMark, so that the time axis can
// show it, and a note for the user. Pure; single-threaded.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "events/position.h"
#include "receiver/meter_event.h"

namespace tovmir {

// The meter as one log line left it, from that moment until the next.
struct LogSample {
  double t = 0;  // seconds since the session's first line
  MeterEvent::Kind event = MeterEvent::kInit;
  int level = 0;
  bool hollow = false;
  bool receiving = false;
  int net = -1;       // -1 when not known
  Position position;  // no fix when the line has none (or monitor had no --gps)
};

// What the local clock read at a moment of the session: from t on (until the next mark) it
// read `clock` + (t' - t), as seconds since 1970 counted as if the zone were UTC. The first
// mark is the session's start; each later one is a step of the clock (it was set).
struct ClockMark {
  double t = 0;
  double clock = 0;
};

struct LogSession {
  std::vector<LogSample> samples;  // in time order
  double end = 0;                  // seconds: the last line, or later
  std::vector<ClockMark> clock;    // at least one, the first at t 0
  std::string date;                // the first line's date, YYYY-MM-DD
  double start = 0;                // the first line's instant, seconds since 1970 (UTC)
};

// A reading of the local clock (seconds since 1970, counted as if the zone were UTC) as a
// time of day: "10:15:30", or "10:15" without the seconds.
std::string ClockOfDay(double local_seconds, bool with_seconds = true);

class LogReader final {
 public:
  // port: the one port whose lines are drawn, in a log of several (monitor PORT...); "" to
  // take a log of one port, which a second port's line then makes an error.
  explicit LogReader(std::string port = {}) : asked_(!port.empty()), port_(std::move(port)) {}

  // The next line of the log, without its newline; blank lines and other ports' lines are
  // passed over. Returns "" when the line was taken, else what is wrong with it, naming the
  // field.
  std::string Add(std::string_view line);

  // The number of the line last added, from 1.
  int line_number() const { return line_number_; }
  // One text for each step of the clock found ("line 7: the clock was set back by ...").
  const std::vector<std::string>& notes() const { return notes_; }
  // The session read so far (no samples when no line was), its end at its last line.
  LogSession Session() const;

 private:
  struct Line {
    LogSample sample;
    double epoch = 0;  // the instant, in seconds since 1970 (UTC)
    double local = 0;  // the same instant on the local clock, counted as if it were UTC
    bool has_elapsed = false;
    double elapsed = 0;  // seconds since monitor started, on a clock that nobody sets
    std::string port;    // "" when the log does not say
  };
  std::string Read(std::string_view text, Line* line, std::string* date) const;
  void Place(Line line, const std::string& date);

  bool asked_;        // for one port of a log of several
  std::string port_;  // the port drawn: as asked, or the log's first
  LogSession session_;
  Line last_;
  int line_number_ = 0;
  std::vector<std::string> notes_;
};

}  // namespace tovmir
