#include "commands/read_log.h"

#include "cli/tool.h"

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

int LoadLog(const std::string& cmd, const std::string& operand,
            const std::vector<LogOutput>& outputs, LogReader* log, std::string* name) {
  Input in;
  if (!in.Open(operand)) return Fail(cmd, in.error(), 1);
  *name = in.name();
  for (const LogOutput& o : outputs)
    if (in.IsFile(o.path))
      return Fail(cmd,
                  o.what + " '" + o.path + "' would be written over the log " + in.name() +
                      ": name another file",
                  2);
  const std::string wrong = ReadLog(in, log);
  return wrong.empty() ? 0 : Fail(cmd, wrong, in.error().empty() ? 2 : 1);
}

}  // namespace tovmir
