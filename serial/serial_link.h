// serial_link.h: the handset's serial line: open and set up the port, run the reader thread
// that hands every received byte to the owner, and shut both down.
//
// OpenSerialLink and CloseSerialLink run on the owner's thread (the meter window's).
// ReaderThreadProc runs on the reader thread it starts; it calls LinkOwner::LinkByte for
// each byte and never touches the owner once CloseSerialLink has returned.
#pragma once

#include <cstdint>
#include <string>

#include "platform/serial_port.h"
#include "platform/thread.h"

namespace tovmir {

class LinkOwner {
 public:
  // Reader thread: one byte has arrived.
  virtual void LinkByte(std::uint8_t b) = 0;
  // Owner's thread: the port could not be opened, or opened but could not be set up. The
  // one error message the program shows: text is the port name followed by
  // kTextCannotOpen, caption kTextError (code page 932); why is the system's reason.
  // Returns when the user has seen it.
  virtual void LinkOpenFailed(const std::string& text, const std::string& caption,
                              const OsError& why) = 0;
  // Reader thread: the port failed (an unplugged adapter) and the reader has ended.
  virtual void LinkEnded(const OsError&) {}

 protected:
  ~LinkOwner() = default;
};

extern const char kTextCannotOpen[];  // "cannot be opened", after the port name
extern const char kTextError[];       // "error", the message's caption

struct SerialLink {
  PortHandle m_hComm = nullptr;  // kPortOpenFailed after a failed open; empty after a failed setup
  ThreadHandle m_hReader = nullptr;
  // The reader's id, as the thread-creation call reports it: the program's record of its
  // link keeps it, for a debugger, which names threads by it.
  std::uint32_t m_dwReaderId = 0;
  LinkOwner* m_pOwner = nullptr;
  OsError m_error;  // why the last open, setup or close step failed
};

// Opens the port by name, sets the line up (platform/line_policy.h) and starts the reader.
// Returns true when the reader runs; a port that cannot be opened or set up is reported
// through the owner, and link.m_error holds the reason.
bool OpenSerialLink(SerialLink& link, const char* port_name, LinkOwner& owner);

// The reader thread's procedure; arg is the SerialLink. Ends when the link is stopped or
// the port fails.
void ReaderThreadProc(void* arg);

// Stops the reader (without waiting for a byte) and closes the port, putting its settings
// back. False, with link.m_error, when they could not be put back, or when, as the last
// resort, a reader that would not stop had to be left running with the link (which must
// then outlive it; a later call tries again). Safe to call on a link that never opened,
// and twice.
bool CloseSerialLink(SerialLink& link);

}  // namespace tovmir
