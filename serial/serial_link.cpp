// The serial link, written once over the platform's port and thread services.
#include "serial/serial_link.h"

namespace tovmir {

const char kTextCannotOpen[] = "\x82\xaa\x8a\x4a\x82\xaf\x82\xdc\x82\xb9\x82\xf1";
const char kTextError[] = "\x83\x47\x83\x89\x81\x5b";

namespace {

// A read that returns without a byte is retried after this pause, so that time-outs left
// on the port by another program cannot turn the reader into a busy loop.
constexpr int kEmptyReadPauseMs = 50;
// How long shutdown waits for the reader to notice the stop before ending it by force.
constexpr int kJoinTimeoutMs = 1000;

void ReportOpenFailed(SerialLink& link, const char* port_name) {
  link.m_pOwner->LinkOpenFailed(std::string(port_name) + kTextCannotOpen, kTextError, link.m_error);
}

// A port that opened but cannot be set up is as unusable as one that did not open, and
// the user is told so the same way.
bool SetupFailed(SerialLink& link, const char* port_name) {
  ClosePort(link.m_hComm, nullptr);  // the setup's own reason is the one to report
  link.m_hComm = nullptr;
  ReportOpenFailed(link, port_name);
  return false;
}

}  // namespace

bool OpenSerialLink(SerialLink& link, const char* port_name, LinkOwner& owner) {
  link.m_pOwner = &owner;
  link.m_error = {};
  link.m_hComm = OpenPort(port_name, &link.m_error);
  if (link.m_hComm == kPortOpenFailed) {
    ReportOpenFailed(link, port_name);
    return false;
  }
  if (!PortReadSettings(link.m_hComm, &link.m_error)) return SetupFailed(link, port_name);
  PortStageProtocolSettings(link.m_hComm);
  if (!PortWriteSettings(link.m_hComm, &link.m_error)) return SetupFailed(link, port_name);
  if (!StartThread(ReaderThreadProc, &link, &link.m_hReader, &link.m_dwReaderId)) {
    link.m_error = {0, "cannot start the reader thread"};
    return SetupFailed(link, port_name);
  }
  return true;
}

void ReaderThreadProc(void* arg) {
  SerialLink& link = *static_cast<SerialLink*>(arg);
  for (;;) {
    std::uint8_t b = 0;
    OsError why;
    switch (PortReadByte(link.m_hComm, &b, &why)) {
      case ReadResult::kByte:
        link.m_pOwner->LinkByte(b);
        break;
      case ReadResult::kNothing:
        if (PortIdle(link.m_hComm, kEmptyReadPauseMs)) return;
        break;
      case ReadResult::kStopped:
        return;
      case ReadResult::kFailed:
        link.m_pOwner->LinkEnded(why);
        return;
    }
  }
}

bool CloseSerialLink(SerialLink& link) {
  if (link.m_hReader) {
    PortStop(link.m_hComm);
    if (!JoinThread(link.m_hReader, kJoinTimeoutMs) && !KillThread(link.m_hReader)) {
      // Still running and still using the link and its port: everything is left to it.
      link.m_error = {0, "the reader thread did not stop"};
      return false;
    }
    CloseThread(link.m_hReader);
    link.m_hReader = nullptr;
  }
  bool ok = true;
  if (link.m_hComm && link.m_hComm != kPortOpenFailed) ok = ClosePort(link.m_hComm, &link.m_error);
  link.m_hComm = nullptr;
  return ok;
}

}  // namespace tovmir
