// The helpers every command shares.
#include "cli/tool.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace tovmir {

void Note(const std::string& cmd, const std::string& message) {
  std::cerr << "tovmir-tool" << (cmd.empty() ? "" : " ") << cmd << ": " << message << '\n';
}

int Fail(const std::string& cmd, const std::string& message, int status) {
  Note(cmd, message);
  return status;
}

bool ParseInt(const std::string& text, int& out) {
  if (text.empty() || text.size() > 11) return false;
  size_t i = text[0] == '-' ? 1 : 0;
  if (i == text.size()) return false;
  long long v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  if (text[0] == '-') v = -v;
  if (v < INT_MIN || v > INT_MAX) return false;
  out = static_cast<int>(v);
  return true;
}

namespace {
int g_write_errno = 0;  // of the first failed write to standard output
}  // namespace

bool WriteLine(const std::string& line) {
  if (g_write_errno) return false;
  if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size() ||
      std::fputc('\n', stdout) == EOF)
    g_write_errno = errno ? errno : EIO;
  return !g_write_errno;
}

int FinishOutput(const std::string& cmd) {
  if (!g_write_errno && (std::fflush(stdout) != 0 || std::ferror(stdout)))
    g_write_errno = errno ? errno : EIO;
  if (!g_write_errno) return 0;
  return Fail(cmd, std::string("cannot write to standard output: ") + std::strerror(g_write_errno),
              1);
}

}  // namespace tovmir
