// Serial ports on Windows: an exclusive COM handle read with overlapped I/O, so that a stop
// event can end a blocked read. A synchronous read is woken neither by CloseHandle nor by
// CancelSynchronousIo under Wine, and CloseHandle waits for it on Windows.
#include "platform/serial_port.h"

#include <windows.h>

#include <atomic>

#include "platform/line_policy.h"
#include "platform/win32/os_error.h"

namespace tovmir {

struct SerialPort {
  HANDLE file = INVALID_HANDLE_VALUE;
  HANDLE stop = nullptr;  // manual-reset: once set, every read returns kStopped
  HANDLE io = nullptr;
  // The stop, as seen between reads without a call into the system: every call per byte
  // costs a round trip to the server under Wine.
  std::atomic<bool> stopped{false};
  DCB staged{};
  DCB original{};  // as opened; Windows keeps a port's settings beyond the close
  bool have_original = false;
};

PortHandle const kPortOpenFailed = reinterpret_cast<PortHandle>(~std::uintptr_t{0});

namespace {

// COM10 and above (and COM0) open only in the device namespace, so a bare name gets the
// \\.\ prefix; a name that already is a path is left alone.
std::string DevicePath(const char* name) {
  const std::string n = name;
  if (n.find_first_of("\\/:") != std::string::npos) return n;
  return "\\\\.\\" + n;
}

void Release(SerialPort* p) {
  if (p->file != INVALID_HANDLE_VALUE) CloseHandle(p->file);
  if (p->stop) CloseHandle(p->stop);
  if (p->io) CloseHandle(p->io);
  delete p;
}

}  // namespace

std::string PortDevice(const std::string& name) { return name; }

// Windows grants a port to whoever opens it first; there is no group to join.
std::string PortAccessHint(const std::string&, const OsError&) { return {}; }

PortHandle OpenPort(const char* name, OsError* why) {
  auto* p = new SerialPort;
  // Share mode 0: nobody else may have the port while the meter listens.
  p->file = CreateFileA(DevicePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (p->file == INVALID_HANDLE_VALUE) {
    FailWithLastError(why);
    Release(p);
    return kPortOpenFailed;
  }
  p->stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  p->io = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!p->stop || !p->io) {
    FailWithLastError(why);
    Release(p);
    return kPortOpenFailed;
  }
  return p;
}

bool PortReadSettings(PortHandle p, OsError* why) {
  p->staged = DCB{};
  p->staged.DCBlength = sizeof(DCB);
  if (!GetCommState(p->file, &p->staged)) return FailWithLastError(why);
  if (!p->have_original) p->original = p->staged;
  p->have_original = true;
  return true;
}

void PortStageProtocolSettings(PortHandle p) { ApplyLinePolicy(p->staged); }

bool PortWriteSettings(PortHandle p, OsError* why) {
  return SetCommState(p->file, &p->staged) || FailWithLastError(why);
}

namespace {

// A read failed with `code`. Whether it was a line error (which ClearCommError reports and
// clears, so that reading can go on) or the port is gone.
ReadResult ReadFailed(PortHandle p, DWORD code, OsError* why) {
  DWORD errors = 0;
  if (ClearCommError(p->file, &errors, nullptr) &&
      (errors & (CE_FRAME | CE_OVERRUN | CE_RXPARITY | CE_BREAK | CE_RXOVER)))
    return ReadResult::kNothing;
  FailWith(why, code);
  return ReadResult::kFailed;
}

}  // namespace

ReadResult PortReadByte(PortHandle p, std::uint8_t* out, OsError* why) {
  if (p->stopped.load()) return ReadResult::kStopped;
  OVERLAPPED ov{};
  ov.hEvent = p->io;  // ReadFile resets it as the read starts
  DWORD got = 0;
  if (!ReadFile(p->file, out, 1, &got, &ov)) {
    const DWORD code = GetLastError();
    if (code != ERROR_IO_PENDING) return ReadFailed(p, code, why);
    const HANDLE waits[2] = {p->stop, p->io};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) {
      CancelIo(p->file);
      GetOverlappedResult(p->file, &ov, &got, TRUE);  // the buffer is ours again
      return ReadResult::kStopped;
    }
    if (!GetOverlappedResult(p->file, &ov, &got, FALSE)) return ReadFailed(p, GetLastError(), why);
  }
  return got == 1 ? ReadResult::kByte : ReadResult::kNothing;
}

bool PortIdle(PortHandle p, int ms) {
  return WaitForSingleObject(p->stop, static_cast<DWORD>(ms)) == WAIT_OBJECT_0;
}

void PortStop(PortHandle p) {
  p->stopped.store(true);
  SetEvent(p->stop);
}

bool ClosePort(PortHandle p, OsError* why) {
  const bool ok =
      !p->have_original || SetCommState(p->file, &p->original) || FailWithLastError(why);
  Release(p);
  return ok;
}

}  // namespace tovmir
