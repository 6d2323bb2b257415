#include "tests/link/test_line.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

namespace tovmir::test {
namespace {

class PtyLine : public TestLine {
 public:
  PtyLine() {
    char name[128];
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
      throw std::runtime_error("openpty failed");
    name_ = name;
  }
  ~PtyLine() override {
    if (master_ >= 0) close(master_);
    close(slave_);
  }
  std::string PortName() const override { return name_; }
  void Write(const std::string& bytes) override {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) throw std::runtime_error("write to pty failed");
      done += static_cast<size_t>(n);
    }
  }
  LineSettings Settings() override {
    termios t;
    if (tcgetattr(slave_, &t) != 0) throw std::runtime_error("tcgetattr failed");
    LineSettings s;
    s.baud = cfgetispeed(&t) == B600 ? 600 : static_cast<int>(cfgetispeed(&t));
    const tcflag_t size = t.c_cflag & CSIZE;
    s.data_bits = size == CS8 ? 8 : size == CS7 ? 7 : size == CS6 ? 6 : 5;
    s.parity = (t.c_cflag & PARENB) != 0;
    s.stop_bits = (t.c_cflag & CSTOPB) ? 2 : 1;
    return s;
  }
  void Unplug() override {
    close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1, slave_ = -1;  // the test keeps the slave open to read its settings
  std::string name_;
};

}  // namespace

std::unique_ptr<TestLine> TestLine::Create(const std::string&) {
  return std::make_unique<PtyLine>();
}
std::string TestLine::MissingPort() { return "/dev/tovmir-no-such-port"; }
bool TestLine::ExclusiveOpenEnforced() { return true; }

}  // namespace tovmir::test

namespace tovmir::test {
void PauseMs(int ms) { usleep(static_cast<useconds_t>(ms) * 1000); }
}  // namespace tovmir::test
