// read_log.h: a monitor --json log read into a LogReader, line by line, for the commands
// that draw one (plot, map). Single-threaded.
#pragma once

#include <string>

#include "cli/input.h"
#include "events/log_reader.h"

namespace tovmir {

// Longer than any line monitor writes.
inline constexpr size_t kMaxLogLine = 4096;

// Reads all of in into log. "" when every line was taken; else what is wrong, naming the
// input and the line ("LOG: line 7: field \"level\": ..."), or the input's error when it
// could not be read (in.error() then says so too).
std::string ReadLog(Input& in, LogReader* log);

}  // namespace tovmir
