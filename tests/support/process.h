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

// Splits text into lines, dropping the newline characters.
std::vector<std::string> Lines(const std::string& text);

// Writes `content` to a fresh file in the test's temporary folder and returns its path.
std::string TempFile(const std::string& name, const std::string& content);

}  // namespace tovmir::test
