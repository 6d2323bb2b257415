// pty.h: a pty pair standing in for a serial adapter in tests: the program opens its near
// end (by its own name, or by a path of the test's choosing that links to it), the test
// writes the handset's bytes into its far end, and can pull it out.
#pragma once

#include <sys/types.h>

#include <string>

namespace tovmir::test {

class Pty {
 public:
  // path: where the adapter appears (a symbolic link to the pty), or "" for none.
  explicit Pty(const std::string& path = "");
  ~Pty() { Unplug(); }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  // The name to open: the path given, else the pty's own.
  const std::string& name() const { return path_.empty() ? name_ : path_; }
  // The pty's own name.
  const std::string& device() const { return name_; }
  // The handset's bytes, all of them.
  void Write(const std::string& bytes);
  // Writes what the line takes now, without waiting for a reader that may be stuck.
  void Offer(const std::string& bytes);
  // Whether the port is marked for one opener only.
  bool Exclusive() const;
  void GiveTo(uid_t uid);
  // Pulled out: both ends closed (a reader of the near end gets an error) and the path
  // taken away.
  void Unplug();

 private:
  int far_ = -1, near_ = -1;
  std::string name_, path_;
};

}  // namespace tovmir::test
