#include "platform/command_line.h"

namespace tovmir {
namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

}  // namespace

std::vector<std::u16string> SplitCommandLine(std::u16string_view line) {
  std::vector<std::u16string> args;
  size_t i = 0;
  const size_t n = line.size();

  // The program name: no escapes, quotes only group (a path may end in a backslash).
  std::u16string name;
  bool quoted = false;
  for (; i < n && (quoted || !IsBlank(line[i])); ++i) {
    if (line[i] == u'"')
      quoted = !quoted;
    else
      name += line[i];
  }
  args.push_back(name);

  for (;;) {
    while (i < n && IsBlank(line[i])) ++i;
    if (i >= n) break;
    std::u16string arg;
    quoted = false;
    while (i < n && (quoted || !IsBlank(line[i]))) {
      size_t slashes = 0;
      while (i < n && line[i] == u'\\') {
        ++slashes;
        ++i;
      }
      if (i < n && line[i] == u'"') {
        // 2k backslashes and a quote: k backslashes, and the quote groups; 2k+1: k and a
        // literal quote.
        arg.append(slashes / 2, u'\\');
        if (slashes % 2) {
          arg += u'"';
        } else if (quoted && i + 1 < n && line[i + 1] == u'"') {
          arg += u'"';  // "" inside quotes is a literal quote
          ++i;
        } else {
          quoted = !quoted;
        }
        ++i;
      } else {
        arg.append(slashes, u'\\');
        if (i < n && (quoted || !IsBlank(line[i]))) arg += line[i++];
      }
    }
    args.push_back(arg);
  }
  return args;
}

}  // namespace tovmir
