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
    const termios t = Get();
    LineSettings s;
    const speed_t speed = cfgetispeed(&t);
    s.baud = speed == B600 ? 600 : speed == B9600 ? 9600 : static_cast<int>(speed);
    const tcflag_t size = t.c_cflag & CSIZE;
    s.data_bits = size == CS8 ? 8 : size == CS7 ? 7 : size == CS6 ? 6 : 5;
    s.parity = (t.c_cflag & PARENB) != 0;
    s.stop_bits = (t.c_cflag & CSTOPB) ? 2 : 1;
    s.xon_xoff = (t.c_iflag & (IXON | IXOFF | IXANY)) != 0;
    s.hw_flow = (t.c_cflag & CRTSCTS) != 0;
    s.altered = (t.c_iflag & (ISTRIP | INLCR | IGNCR | ICRNL | IUCLC | PARMRK | INPCK)) ||
                (t.c_lflag & (ICANON | ISIG | IEXTEN));
    return s;
  }
  void Spoil() override {
    termios t = Get();
    t.c_iflag |= IXON | IXOFF | ISTRIP | ICRNL | IUCLC | INPCK;
    t.c_lflag |= ICANON | ISIG;
    t.c_cflag |= CRTSCTS;
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    if (tcsetattr(slave_, TCSANOW, &t) != 0) throw std::runtime_error("tcsetattr failed");
  }
  void Unplug() override {
    close(master_);
    master_ = -1;
  }

 private:
  termios Get() {
    termios t;
    if (tcgetattr(slave_, &t) != 0) throw std::runtime_error("tcgetattr failed");
    return t;
  }

  int master_ = -1, slave_ = -1;  // the test keeps the slave open to read its settings
  std::string name_;
};

}  // namespace

std::unique_ptr<TestLine> TestLine::Create(const std::string&) {
  return std::make_unique<PtyLine>();
}
std::string TestLine::MissingPort() { return "/dev/tovmir-no-such-port"; }
std::string TestLine::UnusablePort() { return "/dev/null"; }
bool TestLine::ExclusiveOpenEnforced() { return true; }

}  // namespace tovmir::test

namespace tovmir::test {
void PauseMs(int ms) { usleep(static_cast<useconds_t>(ms) * 1000); }
}  // namespace tovmir::test
