// tool.h: what tovmir-tool's commands report, and how: errors and notes on standard error,
// checked standard output, whole numbers. Any thread (standard error takes whole lines).
#pragma once

#include <string>

namespace tovmir {

// Prints "tovmir-tool CMD: MESSAGE" (or "tovmir-tool: MESSAGE" for no CMD) on standard
// error and returns status: an error, or the end of a command.
int Fail(const std::string& cmd, const std::string& message, int status);
// The same line for what is only worth knowing ("metrics at http://...").
void Note(const std::string& cmd, const std::string& message);
// A whole decimal number within int, with an optional minus sign.
bool ParseInt(const std::string& text, int& out);

// Standard output, checked: WriteLine is false once a write has failed, and FinishOutput
// flushes and returns 0, or prints "cannot write to standard output: REASON" and returns 1.
bool WriteLine(const std::string& line);
int FinishOutput(const std::string& cmd);

}  // namespace tovmir
