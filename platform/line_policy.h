// line_policy.h: how the handset's line is set up, the same wherever a line is set up (the
// serial port on each OS, and the simulator's side of the line).
//
//   600 baud, 8 data bits, no parity, one stop bit.
//   Binary: no byte is dropped, replaced or eaten on its way in: no software flow control
//   (XON/XOFF would eat 0x11 and 0x13), no parity checking, stripping or marking, no null
//   stripping, no error characters, no case mapping, and no abort on a line error.
//   The hardware lines and hardware flow control (RTS, DTR, CTS, DSR) stay as the port has
//   them: a handset's cable may rely on them.
//
// ApplyLinePolicy changes a copy of the OS's settings; writing them to the port, and
// putting the original back at close, is the port's business. Pure, any thread. Each OS
// defines only its own, in platform/<os>/line_policy.cpp.
#pragma once

struct termios;  // POSIX
struct _DCB;     // Windows

namespace tovmir {

inline constexpr int kLineBaud = 600;

void ApplyLinePolicy(termios& t);
void ApplyLinePolicy(_DCB& dcb);

}  // namespace tovmir
