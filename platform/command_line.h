// command_line.h: a Windows command line split into arguments the way the C run-time
// library splits it (quotes group, backslashes escape only before a quote). Pure logic,
// any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tovmir {

// The program name first, then the arguments.
std::vector<std::u16string> SplitCommandLine(std::u16string_view line);

}  // namespace tovmir
