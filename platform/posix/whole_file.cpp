#include "platform/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tovmir {
namespace {

// Writes into file, which it closes (nullptr: it could not be opened).
std::string WriteStream(const std::string& path, FILE* file,
                        const std::function<std::string(FILE*)>& write) {
  if (!file) return "cannot open '" + path + "': " + std::strerror(errno);
  const std::string error = write(file);
  const int close_errno = std::fclose(file) == 0 ? 0 : errno;
  if (!error.empty()) return "cannot write '" + path + "': " + error;
  if (close_errno) return "cannot write '" + path + "': " + std::strerror(close_errno);
  return {};
}

}  // namespace

std::string WriteWholeFile(const std::string& path,
                           const std::function<std::string(FILE* file)>& write) {
  struct stat st;
  const bool exists = stat(path.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode))
    return WriteStream(path, std::fopen(path.c_str(), "wb"), write);
  std::string target = path;
  if (char* real = exists ? realpath(path.c_str(), nullptr) : nullptr) {
    target = real;
    std::free(real);
  }
  const size_t slash = target.rfind('/');
  const size_t base = slash == std::string::npos ? 0 : slash + 1;
  std::string temporary = target.substr(0, base) + "." + target.substr(base) + ".XXXXXX";
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return "cannot open '" + path + "': " + std::strerror(errno);
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, exists ? st.st_mode & 07777 : 0666 & ~mask);
  std::string error = WriteStream(path, fdopen(fd, "wb"), write);
  if (error.empty() && rename(temporary.c_str(), target.c_str()) != 0)
    error = "cannot write '" + path + "': " + std::strerror(errno);
  if (!error.empty()) unlink(temporary.c_str());
  return error;
}

}  // namespace tovmir
