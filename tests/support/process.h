// process.h: runs a program of the project's as a child process, for end-to-end tests.
#pragma once

#include <string>
#include <vector>

#include "tests/support/waits.h"

namespace tovmir::test {

struct ProcessResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;
  std::string err;
};

// Runs argv[0] (a path) with argv, feeding `input` to its standard input, and waits for it.
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input = "");

// A child process that runs beside the test: its standard output and standard error read
// line by line as they come.
class Child {
 public:
  explicit Child(const std::vector<std::string>& argv);
  ~Child();  // kills the child if it still runs
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // The next line of standard output, waiting up to timeout_ms; false at a time-out or the
  // end of output.
  bool ReadLine(std::string& line, int timeout_ms = WaitMs());
  // Waits up to timeout_ms for a line of standard error that holds text, after the lines an
  // earlier WaitSaid went past; that line, or "" at a time-out or the end of output.
  std::string WaitSaid(const std::string& text, int timeout_ms = WaitMs());
  void Signal(int sig);
  // Waits up to timeout_ms for the child to end; its status as RunProcess gives it, or -1.
  int Wait(int timeout_ms = WaitMs());
  // All of standard error so far; once the child has ended, all of it.
  std::string Errors();
  int pid() const { return pid_; }

 private:
  // A stream of the child's, and what was read of it not yet taken.
  struct Stream {
    int fd = -1;
    std::string text;
    size_t taken = 0;
  };
  // Waits up to timeout_ms for output on either stream (or, with for_end, the child's end)
  // and reads what came.
  void Poll(int timeout_ms, bool for_end);
  // The next whole line of s not taken yet.
  bool TakeLine(Stream& s, std::string& line);

  int pid_ = -1, pidfd_ = -1;
  Stream out_, err_;
  int status_ = -1;
};

// Splits text into lines, dropping the newline characters.
std::vector<std::string> Lines(const std::string& text);

// Writes `content` to a fresh file in the test's temporary folder and returns its path.
std::string TempFile(const std::string& name, const std::string& content);

}  // namespace tovmir::test
