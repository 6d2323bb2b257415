#include "serial/reopening_link.h"

#include <algorithm>

#include "platform/port_names.h"
#include "receiver/receiver.h"

namespace tovmir {

ReopeningLink::ReopeningLink(std::string device, std::string dev)
    : device_(std::move(device)), dev_(std::move(dev)), names_{device_} {}

bool ReopeningLink::TryOpen(LinkOwner& owner, MeterState& state) {
  if (open_) return true;
  hint_.clear();
  for (const std::string& name : names_) {
    if (!OpenSerialLink(link_, name.c_str(), owner)) {
      if (hint_.empty()) hint_ = PortAccessHint(name, link_.m_error);
      continue;
    }
    ResetDecoder(state);
    // From the name that opened: after an adapter came back as another ttyUSBn, the path
    // the user gave may be gone, and the by-id name must not be lost with it.
    names_ = ReopenNames(name, dev_);
    if (std::find(names_.begin(), names_.end(), device_) == names_.end()) names_.push_back(device_);
    reopens_ += lost_;
    open_ = true;
    lost_ = false;
    return true;
  }
  return false;
}

void ReopeningLink::Lost() {
  if (!open_) return;
  CloseSerialLink(link_);  // the reader has ended: this only reaps it
  open_ = false;
  lost_ = true;
}

bool ReopeningLink::Close() {
  const bool ok = CloseSerialLink(link_);
  open_ = false;
  return ok;
}

}  // namespace tovmir
