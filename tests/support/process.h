// process.h: runs a program of the project's as a child process, for end-to-end tests.
#pragma once

#include <string>
#include <vector>

namespace tovmir::test {

struct ProcessResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;
  std::string err;
};

// Runs argv[0] (a path) with argv, feeding `input` to its standard input, and waits for it.
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input = "");

// A child process that runs beside the test: its standard output read line by line.
class Child {
 public:
  explicit Child(const std::vector<std::string>& argv);
  ~Child();  // kills the child if it still runs
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // The next line of standard output, waiting up to timeout_ms; false at a time-out or the
  // end of output.
  bool ReadLine(std::string& line, int timeout_ms = 5000);
  void Signal(int sig);
  // Waits up to timeout_ms for the child to end; its status as RunProcess gives it, or -1.
  int Wait(int timeout_ms = 5000);
  // Standard error so far (read once the child has ended).
  std::string Errors();
  int pid() const { return pid_; }

 private:
  int pid_ = -1;
  int out_ = -1, err_ = -1;
  int status_ = -1;
  std::string buffer_;
};

// Splits text into lines, dropping the newline characters.
std::vector<std::string> Lines(const std::string& text);

// Writes `content` to a fresh file in the test's temporary folder and returns its path.
std::string TempFile(const std::string& name, const std::string& content);

}  // namespace tovmir::test
