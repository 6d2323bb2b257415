// tty.h: a tty as the handset's line: opened, its settings read (the first reading kept to
// be put back), the line policy staged on them (line_policy.h) and written, and put back as
// it was found, as picocom keeps a port. The serial port (posix/serial_port.cpp) and the
// simulator's end of the line both keep their ttys so. POSIX only; the owner's thread. A
// call that fails returns false with errno as the failing call left it, for the caller to
// take before anything else can change it.
#pragma once

#include <termios.h>

namespace tovmir {

class Tty final {
 public:
  Tty() = default;
  ~Tty() { Close(); }
  Tty(const Tty&) = delete;
  Tty& operator=(const Tty&) = delete;

  // Opens path for reading and writing, as no controlling terminal, and without waiting for
  // a carrier (reads and writes do not block either).
  bool Open(const char* path);
  int fd() const { return fd_; }

  // The settings as they are now; the first reading is what Restore puts back.
  bool ReadSettings();
  // The line policy, on the settings read, not yet written.
  void StageLinePolicy();
  bool WriteSettings();
  // The settings of the first reading, back; true when there were none.
  bool Restore();
  // Closes the tty, its settings as they are.
  void Close();

 private:
  int fd_ = -1;
  termios original_{}, staged_{};
  bool have_original_ = false;
};

}  // namespace tovmir
