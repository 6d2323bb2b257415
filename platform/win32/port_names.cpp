#include "platform/port_names.h"

namespace tovmir {

// Windows keeps a port's COM name when a device comes back, and the program opens COM1
// unless told otherwise.
std::string DefaultPort(const std::string&) { return "COM1"; }

std::vector<std::string> ReopenNames(const std::string& path, const std::string&) { return {path}; }

}  // namespace tovmir
