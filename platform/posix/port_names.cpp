#include "platform/port_names.h"

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace tovmir {
namespace {

// The entries of dir/serial/by-id, each as a whole path, in name order.
std::vector<std::string> ById(const std::string& dev) {
  const std::string dir = dev + "/serial/by-id";
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.push_back(dir + "/" + e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string RealPath(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (!real) return {};
  std::string out = real;
  free(real);
  return out;
}

}  // namespace

std::string DefaultPort(const std::string& dev) {
  const std::vector<std::string> by_id = ById(dev);
  if (!by_id.empty()) return by_id.front();
  for (const char* name : {"/ttyUSB0", "/ttyACM0"})
    if (access((dev + name).c_str(), F_OK) == 0) return dev + name;
  return dev + "/ttyS0";
}

std::vector<std::string> ReopenNames(const std::string& path, const std::string& dev) {
  const std::string real = RealPath(path);
  for (const std::string& name : ById(dev))
    if (name != path && !real.empty() && RealPath(name) == real) return {name, path};
  return {path};
}

}  // namespace tovmir
