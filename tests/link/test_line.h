// test_line.h: a serial line for the link tests. On Linux a pty pair made by the test; under
// Wine a COM port the harness mapped to a pty pair (its far end named in the environment).
#pragma once

#include <memory>
#include <string>

namespace tovmir::test {

struct LineSettings {
  int baud = 0;
  int data_bits = 0;
  bool parity = true;
  int stop_bits = 0;
  bool xon_xoff = true;  // software flow control, either way
  bool hw_flow = false;  // RTS/CTS flow control
  bool altered = true;   // any setting that drops, replaces or changes a received byte
  bool operator==(const LineSettings&) const = default;
};

class TestLine {
 public:
  // A line for the COM port of that name (a fresh pty on Linux).
  static std::unique_ptr<TestLine> Create(const std::string& com);
  // A port name that nothing answers to.
  static std::string MissingPort();
  // A name that can be opened but is no serial port.
  static std::string UnusablePort();
  // Whether a second open of a port in use fails here (Wine does not enforce share mode 0).
  static bool ExclusiveOpenEnforced();

  virtual ~TestLine() = default;
  virtual std::string PortName() const = 0;
  // The handset's side: bytes into the far end.
  virtual void Write(const std::string& bytes) = 0;
  // The port's line settings as the OS side of the pty has them.
  virtual LineSettings Settings() = 0;
  // Leaves the port as a careless program might: 9600 baud, XON/XOFF both ways, bytes
  // stripped, mapped or checked, and RTS/CTS flow control on (which a cable may need).
  virtual void Spoil() = 0;
  // Takes the far end away, like pulling out the adapter.
  virtual void Unplug() = 0;
};

}  // namespace tovmir::test

namespace tovmir::test {
// A short pause while polling for a condition.
void PauseMs(int ms);
}  // namespace tovmir::test
