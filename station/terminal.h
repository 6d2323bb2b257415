// terminal.h: the terminal monitor --bars draws the meter in: its size, and a picture put
// in place of the last one. Any thread.
#pragma once

#include <string>

namespace tovmir {

inline constexpr char kHideCursorAndClear[] = "\x1b[?25l\x1b[2J";
inline constexpr char kShowCursor[] = "\x1b[?25h\n";

// The size of the terminal on standard output, or a common one when it is not a terminal.
void TerminalSize(int* columns, int* rows);

// Lines joined by '\n', as the control sequences that draw them from the top left corner
// over whatever was there: each line cleared to its end, the rest of the screen below.
std::string FrameInPlace(const std::string& lines);

}  // namespace tovmir
