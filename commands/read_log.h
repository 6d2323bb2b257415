// read_log.h: a monitor --json log read into a LogReader, line by line, for the commands
// that draw one (plot, map). Single-threaded.
#pragma once

#include <string>
#include <vector>

#include "cli/input.h"
#include "events/log_reader.h"

namespace tovmir {

// Longer than any line monitor writes.
inline constexpr size_t kMaxLogLine = 4096;

// Reads all of in into log. "" when every line was taken; else what is wrong, naming the
// input and the line ("LOG: line 7: field \"level\": ..."), or the input's error when it
// could not be read (in.error() then says so too).
std::string ReadLog(Input& in, LogReader* log);

// A file a command is to write: what the user calls it ("--kml"), and where.
struct LogOutput {
  std::string what, path;
};

// Opens the log named by operand (- for standard input), makes sure that none of outputs
// is the log itself, and reads it into log; *name is what messages call it. 0, or the
// command's exit status with the reason said (1: the log unreadable; 2: an output that is
// the log, a bad line).
int LoadLog(const std::string& cmd, const std::string& operand,
            const std::vector<LogOutput>& outputs, LogReader* log, std::string* name);

}  // namespace tovmir
