// input.h: a file named on the command line, or standard input ("-"), read as a stream of
// bytes through a small buffer, so that memory stays flat whatever the input's size. Every
// failure carries the system's reason. Single-threaded.
#pragma once

#include <string>

namespace tovmir {

class Input {
 public:
  Input() = default;
  ~Input();
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;

  // "-" is standard input. False, with error() ("cannot open 'X': reason"), when the file
  // cannot be opened.
  bool Open(const std::string& path);
  // A file of our own that is gone once closed, to hold a copy of the input.
  bool OpenScratch();

  // The next byte, or -1 at the end of the input or at a read error (error() then says
  // "cannot read 'X': reason").
  int Get() {
    if (pos_ < len_) return static_cast<unsigned char>(buf_[pos_++]);
    return Refill();
  }
  // Appends bytes (a scratch file being filled). False, with error(), when they could not
  // be written.
  bool Put(const char* data, size_t n);
  // Back to the first byte (a scratch file once filled), where the input allows it.
  bool Rewind();
  bool Seekable() const;
  // Everything still to be read, appended to `to`. False, with the error in this input or
  // in `to`, when reading or writing failed.
  bool CopyTo(Input& to);

  // Whether `path` names the very file this input reads (the same device and inode, links
  // followed): a file about to be written over would lose what is still to be read.
  bool IsFile(const std::string& path) const;

  const std::string& error() const { return error_; }
  // How messages name it: the path, or <stdin>.
  const std::string& name() const { return name_; }

 private:
  int Refill();
  bool Failed(const char* what);

  int fd_ = -1;
  bool own_ = false;
  std::string name_, error_;
  char buf_[4096];
  size_t pos_ = 0, len_ = 0;
};

}  // namespace tovmir
