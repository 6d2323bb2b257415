// port_names.h: which serial port a front end opens when the user names none, and under
// which names a port that went away (an adapter pulled out) is looked for when it comes
// back. File-system look-ups only; any thread. dev is the devices' folder: "/dev", or
// another in tests.
#pragma once

#include <string>
#include <vector>

namespace tovmir {

// On POSIX: the first USB serial adapter found (dev/serial/by-id/*, in name order; else
// dev/ttyUSB0, then dev/ttyACM0), else dev/ttyS0. On Windows: COM1.
std::string DefaultPort(const std::string& dev = "/dev");

// The names to try, in order, when the device opened as `path` comes back: on POSIX its
// dev/serial/by-id/ name when one points at it (an adapter keeps that name when it comes
// back as another ttyUSBn), then the path itself. On Windows the name itself.
std::vector<std::string> ReopenNames(const std::string& path, const std::string& dev = "/dev");

}  // namespace tovmir
