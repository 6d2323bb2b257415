#include "commands/read_log.h"

namespace tovmir {

std::string ReadLog(Input& in, LogReader* log) {
  for (bool more = true; more;) {
    std::string line;
    int c;
    while ((c = in.Get()) >= 0 && c != '\n') {
      if (line.size() == kMaxLogLine)
        return in.name() + ": line " + std::to_string(log->line_number() + 1) + ": longer than " +
               std::to_string(kMaxLogLine) + " bytes";
      line += static_cast<char>(c);
    }
    more = c >= 0;
    const std::string wrong = log->Add(line);
    if (!wrong.empty())
      return in.name() + ": line " + std::to_string(log->line_number()) + ": " + wrong;
  }
  return in.error();
}

}  // namespace tovmir
