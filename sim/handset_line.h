// handset_line.h: the handset's end of the serial line, for the simulator. HandsetLine is a
// pty pair of its own or an existing serial device, kept as the meter's end keeps its port
// (platform/tty.h: the same line policy, the settings put back); Pacer sends bytes on it no faster
// than a 600-baud 8N1 line carries them (one each 1/60 s) and waits out silences, and a stop signal
// ends either at once. Single-threaded.
#pragma once

#include <cstdint>
#include <string>

#include "platform/tty.h"

namespace tovmir {

class HandsetLine {
 public:
  HandsetLine() = default;
  ~HandsetLine();
  HandsetLine(const HandsetLine&) = delete;
  HandsetLine& operator=(const HandsetLine&) = delete;

  // A pty pair of our own; *name is the device the meter should open. Its slave stays open
  // here too, raw and quiet, so that what is written before the meter opens it is not
  // echoed or translated, and the line survives the meter closing and opening it again.
  bool OpenPty(std::string* name, std::string* error);
  // An existing serial device or pty, whose settings Restore puts back.
  bool OpenDevice(const std::string& path, std::string* error);
  // False, with *error, when a device's own settings could not be put back (a pty of our
  // own goes away with us).
  bool Restore(std::string* error);

  // The handset's end: the pty's master, or the device.
  int fd() const { return master_ >= 0 ? master_ : tty_.fd(); }

  // Waits (up to a second) until the far end has read what was sent, so that ending the
  // simulator does not take the last bytes away with the pty.
  void Drain();

 private:
  static bool Error(const std::string& what, std::string* error);

  int master_ = -1;  // of a pty of our own, whose slave is tty_
  Tty tty_;
  std::string path_;
  bool restore_ = false;  // a device's settings are to be put back
};

class Pacer {
 public:
  // fd: the line; signal_fd: readable when the simulator is to stop.
  Pacer(int fd, int signal_fd) : fd_(fd), signal_fd_(signal_fd) {}

  // False when stopped by a signal; *error is set when the line failed.
  bool Send(std::uint8_t b, std::string* error);
  // Waits out the last byte's time on the line (the pty hands bytes on to its reader side
  // a moment after they are written). False when stopped.
  bool Finish();
  // Silence on the line. False when stopped.
  bool Silence(double seconds);

 private:
  bool WaitUntil(long long deadline_ns);

  int fd_, signal_fd_;
  long long next_ns_ = 0;
};

}  // namespace tovmir
