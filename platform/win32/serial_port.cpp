// Serial ports on Windows: an exclusive COM handle read with overlapped I/O, so that a stop
// event can end a blocked read. A synchronous read is woken neither by CloseHandle nor by
// CancelSynchronousIo under Wine, and CloseHandle waits for it on Windows.
#include "platform/serial_port.h"

#include <windows.h>

#include <atomic>

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
  return GetCommState(p->file, &p->staged) || FailWithLastError(why);
}

void PortStageProtocolSettings(PortHandle p) {
  // Only the four the handset's line needs; flow control, special characters and the
  // rest stay as the port has them.
  p->staged.BaudRate = 600;
  p->staged.ByteSize = 8;
  p->staged.Parity = NOPARITY;
  p->staged.StopBits = ONESTOPBIT;
}

bool PortWriteSettings(PortHandle p, OsError* why) {
  return SetCommState(p->file, &p->staged) || FailWithLastError(why);
}

ReadResult PortReadByte(PortHandle p, std::uint8_t* out, OsError* why) {
  if (p->stopped.load()) return ReadResult::kStopped;
  OVERLAPPED ov{};
  ov.hEvent = p->io;  // ReadFile resets it as the read starts
  DWORD got = 0;
  if (!ReadFile(p->file, out, 1, &got, &ov)) {
    if (GetLastError() != ERROR_IO_PENDING) {
      FailWithLastError(why);
      return ReadResult::kFailed;
    }
    const HANDLE waits[2] = {p->stop, p->io};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) {
      CancelIo(p->file);
      GetOverlappedResult(p->file, &ov, &got, TRUE);  // the buffer is ours again
      return ReadResult::kStopped;
    }
    if (!GetOverlappedResult(p->file, &ov, &got, FALSE)) {
      FailWithLastError(why);
      return ReadResult::kFailed;
    }
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

void ClosePort(PortHandle p) { Release(p); }

}  // namespace tovmir
