// serial_port.h: the OS's serial ports, opened exclusively by name and read one byte at a
// time.
//
// Settings are staged: PortReadSettings loads the port's current line settings (the first
// time, also as the ones to put back at close), PortStageProtocolSettings applies the line
// policy to them (platform/line_policy.h: 600 baud 8N1, every byte through unchanged,
// hardware lines as they were), PortWriteSettings writes them. Nothing is ever written to
// the line itself.
//
// Threads: open, settings and ClosePort on the owner's thread; PortReadByte and PortIdle on
// the reader thread only; PortStop from any thread, to wake a reader blocked in a read.
// Errors are captured at the failing call, before any clean-up can overwrite them.
#pragma once

#include <cstdint>
#include <string>

namespace tovmir {

struct SerialPort;  // one per OS, in platform/<os>/serial_port.cpp
using PortHandle = SerialPort*;

// What OpenPort returns when the port could not be opened (not a valid handle, not empty).
extern PortHandle const kPortOpenFailed;

struct OsError {
  int code = 0;      // GetLastError() or errno
  std::string text;  // the OS's description of it, in the system's language
};

// The device a port's name, as a user gives it, stands for: on POSIX "COM3" (any case)
// means /dev/ttyS2, as Windows numbers serial ports from 1; every other name, and every
// name on Windows, stands for itself.
std::string PortDevice(const std::string& name);

PortHandle OpenPort(const char* name, OsError* why);

// What a user who was refused a port (`why`, from OpenPort) can do about it, read from the
// device itself: on POSIX, which group owns it and how to join it ("sudo usermod -aG
// dialout $USER, then log in again"). Empty when there is nothing to say: another error,
// a device nobody may join, or Windows.
std::string PortAccessHint(const std::string& device, const OsError& why);
bool PortReadSettings(PortHandle port, OsError* why);
void PortStageProtocolSettings(PortHandle port);
bool PortWriteSettings(PortHandle port, OsError* why);

enum class ReadResult {
  kByte,     // *out holds the byte read
  kNothing,  // the read ended without a byte (time-outs left on the port by someone else)
  kStopped,  // PortStop was called
  kFailed,   // the port is gone (adapter unplugged) or broken; *why says how
};
// A line error (framing, overrun, parity, break) is cleared and the read goes on: only a
// port that is gone ends the reads.
ReadResult PortReadByte(PortHandle port, std::uint8_t* out, OsError* why);

// Waits up to ms milliseconds; returns true at once, or as soon as, PortStop is called.
bool PortIdle(PortHandle port, int ms);

// Stops the port for good: a blocked read, and every later one, returns kStopped.
void PortStop(PortHandle port);

// Puts back the settings the port had when it was opened, where the OS keeps them beyond
// the close, gives up the exclusive hold, and closes it. False (and *why) when the settings
// could not be put back; the port is closed all the same.
bool ClosePort(PortHandle port, OsError* why);

}  // namespace tovmir
