// log_file.h: monitor's --log FILE: JSON Lines appended to a file (made with mode 0640),
// each line written whole (a write that fails part way is taken back), the file opened
// again on request (SIGHUP, once logrotate has moved it away). A full disk or any failed
// write is said on standard error with its reason, once; its lines are lost meanwhile and
// counted, and writing goes on as soon as it can, which is said with the count. A FIFO or
// other special file never holds up the open: one that nobody reads is refused.
//
// Open on the main thread before the output starts; Write is an Output sink, called on
// the output's writer thread only; RequestReopen and lost from any thread.
#pragma once

#include <atomic>
#include <string>

namespace tovmir {

class LogFile final {
 public:
  explicit LogFile(std::string path) : path_(std::move(path)) {}
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Opens (or creates) the file; false, with *error, when it cannot be.
  bool Open(std::string* error);
  // Appends one line whole, or nothing. An empty one only acts on a reopen request.
  int Write(const std::string& line);
  // The file is to be opened again before the next line (it was moved away).
  void RequestReopen() { reopen_ = true; }
  // Lines that could not be written, since the start.
  long lost() const { return lost_total_; }
  const std::string& path() const { return path_; }

 private:
  bool Reopen();
  void Failed(const std::string& what, int error);

  std::string path_;
  int fd_ = -1;
  std::atomic<bool> reopen_{false};
  bool failing_ = false;  // lines are being lost; said once
  long lost_ = 0;         // since failing_ began
  std::atomic<long> lost_total_{0};
};

}  // namespace tovmir
