#include "station/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace tovmir {

void TerminalSize(int* columns, int* rows) {
  winsize ws{};
  const bool ok = ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0;
  *columns = ok ? ws.ws_col : 80;
  *rows = ok ? ws.ws_row : 24;
}

std::string FrameInPlace(const std::string& lines) {
  std::string out = "\x1b[H";  // home
  for (size_t start = 0;;) {
    const size_t nl = lines.find('\n', start);
    out += lines.substr(start, nl - start) + "\x1b[K";
    if (nl == std::string::npos) break;
    out += "\r\n";
    start = nl + 1;
  }
  return out + "\x1b[J";
}

}  // namespace tovmir
