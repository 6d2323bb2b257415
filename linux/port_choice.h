// port_choice.h: which serial device the Linux meter opens when none is named, and under
// which name it looks for it again after an unplug. File-system look-ups only; any thread.
// dev is the devices' folder: "/dev", or another in tests.
#pragma once

#include <string>
#include <vector>

namespace tovmir {

// The first USB serial adapter found (dev/serial/by-id/*, in name order; else dev/ttyUSB0,
// then dev/ttyACM0), else dev/ttyS0.
std::string DefaultPort(const std::string& dev = "/dev");

// The names to try, in order, when the device opened as `path` comes back: its
// dev/serial/by-id/ name when one points at it (an adapter keeps that name when it comes
// back as another ttyUSBn), then the path itself.
std::vector<std::string> ReopenNames(const std::string& path, const std::string& dev = "/dev");

}  // namespace tovmir
