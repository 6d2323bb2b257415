// Lines under Wine: COM ports the test harness mapped to pty pairs. The environment names
// each far end (TOVMIR_FAR_COMn_WIN, a Z: path), its near end (TOVMIR_NEAR_COMn) and the pid
// of the process holding the pair (TOVMIR_LINK_PID_COMn). Linux programs are run through
// Wine's support for starting native executables.
#include "tests/link/test_line.h"

#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tovmir::test {
namespace {

std::string Env(const std::string& name) {
  const char* v = std::getenv(name.c_str());
  if (!v || !*v)
    throw std::runtime_error(name + " is not set: run this under tools/wine/harness.py");
  return v;
}

// Starts a Linux command line through /bin/sh. Wine signals the process handle of a native
// program at once, so a caller that needs its result polls for it.
void RunUnix(const std::string& command) {
  std::string line = "/bin/sh -c \"" + command + "\"";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    throw std::runtime_error("cannot run " + line);
  // For a native program Wine gives no process handle, and may leave a stale value in
  // hThread: closing that would close some other handle of ours (a port, say).
  if (pi.hProcess) {
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
}

class WineLine : public TestLine {
 public:
  explicit WineLine(const std::string& com)
      : com_(com),
        far_(Env("TOVMIR_FAR_" + com + "_WIN")),
        near_(Env("TOVMIR_NEAR_" + com)),
        pid_(Env("TOVMIR_LINK_PID_" + com)) {
    far_handle_ = CreateFileA(far_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (far_handle_ == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open " + far_);
    // The pty outlives each test: drop what an earlier test left unread on the line.
    HANDLE port = CreateFileA(("\\\\.\\" + com).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (port != INVALID_HANDLE_VALUE) {
      PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR);
      CloseHandle(port);
    }
  }
  ~WineLine() override {
    if (far_handle_ != INVALID_HANDLE_VALUE) CloseHandle(far_handle_);
  }
  std::string PortName() const override { return com_; }

  void Write(const std::string& bytes) override {
    DWORD n = 0;
    if (!WriteFile(far_handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) ||
        n != bytes.size())
      throw std::runtime_error("write to " + far_ + " failed");
  }

  LineSettings Settings() override {
    // stty's report, through a file both sides can reach, renamed into place when whole.
    const std::string out = near_ + ".stty";
    DeleteFileA(("Z:" + out).c_str());
    RunUnix("stty -a -F " + near_ + " > " + out + ".part && mv " + out + ".part " + out);
    for (int waited = 0; GetFileAttributesA(("Z:" + out).c_str()) == INVALID_FILE_ATTRIBUTES;
         waited += 5) {
      if (waited > 10000) throw std::runtime_error("stty gave no report on " + near_);
      Sleep(5);
    }
    std::ifstream in("Z:" + out);
    std::stringstream text;
    text << in.rdbuf();
    std::string s = " " + text.str() + " ";
    for (char& c : s)
      if (c == '\n' || c == ';') c = ' ';
    auto has = [&](const char* word) {
      return s.find(std::string(" ") + word + " ") != std::string::npos;
    };
    LineSettings r;
    const size_t speed = s.find("speed ");
    if (speed != std::string::npos) r.baud = std::atoi(s.c_str() + speed + 6);
    r.data_bits = has("cs8") ? 8 : has("cs7") ? 7 : has("cs6") ? 6 : 5;
    r.parity = !has("-parenb");
    r.stop_bits = has("-cstopb") ? 1 : 2;
    r.xon_xoff = !has("-ixon") || !has("-ixoff") || !has("-ixany");
    r.hw_flow = !has("-crtscts");
    // What Windows reports of the port, besides what the device does.
    const DCB d = State();
    r.altered = !has("-istrip") || !has("-icrnl") || !has("-inlcr") || !has("-igncr") ||
                !has("-iuclc") || !has("-parmrk") || !has("-inpck") || !d.fBinary || d.fNull ||
                d.fErrorChar || d.fParity || d.fAbortOnError || d.fOutX || d.fInX;
    return r;
  }

  void Spoil() override {
    DCB d = State();
    d.BaudRate = 9600;
    d.fOutX = d.fInX = TRUE;
    d.fNull = d.fErrorChar = d.fParity = d.fAbortOnError = TRUE;
    d.fOutxCtsFlow = TRUE;
    d.fRtsControl = RTS_CONTROL_HANDSHAKE;
    const HANDLE port = OpenPort();
    const BOOL ok = SetCommState(port, &d);
    CloseHandle(port);
    if (!ok) throw std::runtime_error("SetCommState on " + com_ + " failed");
  }

  void Unplug() override { RunUnix("kill " + pid_); }

 private:
  // A handle of the test's own (Wine does not hold a port to one opener).
  HANDLE OpenPort() {
    const HANDLE port = CreateFileA(("\\\\.\\" + com_).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open " + com_);
    return port;
  }
  DCB State() {
    const HANDLE port = OpenPort();
    DCB d{};
    d.DCBlength = sizeof d;
    const BOOL ok = GetCommState(port, &d);
    CloseHandle(port);
    if (!ok) throw std::runtime_error("GetCommState on " + com_ + " failed");
    return d;
  }

  std::string com_, far_, near_, pid_;
  HANDLE far_handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace

std::unique_ptr<TestLine> TestLine::Create(const std::string& com) {
  return std::make_unique<WineLine>(com);
}
std::string TestLine::MissingPort() { return "COM7"; }
std::string TestLine::UnusablePort() { return "NUL"; }
bool TestLine::ExclusiveOpenEnforced() {
  // Windows refuses a second open of a COM port; Wine lets it through.
  return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") == nullptr;
}

void PauseMs(int ms) { Sleep(static_cast<DWORD>(ms)); }

}  // namespace tovmir::test
