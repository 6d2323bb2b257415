// reopening_link.h: a serial link that is opened again when its port comes back, as the
// Linux front ends keep it (the meter window, monitor): under the name it last opened
// under, or the /dev/serial/by-id name that pointed at it (an adapter that comes back as
// another ttyUSBn keeps that name; platform/port_names.h), one attempt each
// kReopenSeconds (the owner's timer calls TryOpen), and with nothing of the old connection
// carried into the new one (a network-number group under way is forgotten).
//
// Owner's thread only; the LinkOwner's callbacks come from the reader thread as in
// serial_link.h. The owner calls Lost when LinkEnded has told it that the port failed.
#pragma once

#include <string>
#include <vector>

#include "receiver/meter_state.h"
#include "serial/serial_link.h"

namespace tovmir {

inline constexpr int kReopenSeconds = 1;

class ReopeningLink final {
 public:
  // device: the path the user's port name stands for (PortDevice); dev: the devices' folder
  // its other names are looked for in.
  explicit ReopeningLink(std::string device, std::string dev = "/dev");
  ~ReopeningLink() { Close(); }
  ReopeningLink(const ReopeningLink&) = delete;
  ReopeningLink& operator=(const ReopeningLink&) = delete;

  // One attempt under each name the port may be found under; true when the link is up.
  // On success, state's decoder starts afresh (ResetDecoder); on failure error() and
  // hint() say why.
  bool TryOpen(LinkOwner& owner, MeterState& state);
  // The reader has ended because the port failed: reaps it and closes the port.
  void Lost();
  // Stops the reader and closes the port, its settings put back. False, with error(), when
  // they could not be put back. Safe when not open.
  bool Close();

  bool is_open() const { return open_; }
  // Whether it was open once and is not now: waiting for the port to come back.
  bool lost() const { return lost_; }
  // Opens after a loss, so far.
  long reopens() const { return reopens_; }
  const std::string& device() const { return device_; }
  // Why the last attempt (or Close) failed, and what the user can do about it ("" when the
  // system's reason says it all).
  const OsError& error() const { return link_.m_error; }
  const std::string& hint() const { return hint_; }

 private:
  std::string device_, dev_;
  std::vector<std::string> names_;
  SerialLink link_;
  bool open_ = false, lost_ = false;
  long reopens_ = 0;
  std::string hint_;
};

}  // namespace tovmir
