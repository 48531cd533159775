#include "support/counting_device.h"

namespace quillon::testing {

bool CountingDevice::GetState(platform::Dcb& dcb) {
  ++calls_->getState;
  return inner_->GetState(dcb);
}

bool CountingDevice::SetState(const platform::Dcb& dcb) {
  ++calls_->setState;
  return inner_->SetState(dcb);
}

bool CountingDevice::GetTimeouts(platform::CommTimeouts& t) {
  ++calls_->getTimeouts;
  return inner_->GetTimeouts(t);
}

bool CountingDevice::SetTimeouts(const platform::CommTimeouts& t) {
  ++calls_->setTimeouts;
  return inner_->SetTimeouts(t);
}

bool CountingDevice::Read(uint8_t* data, uint32_t n, uint32_t& got) {
  ++calls_->read;
  return inner_->Read(data, n, got);
}

bool CountingDevice::Write(const uint8_t* data, uint32_t n, uint32_t& written) {
  ++calls_->write;
  return inner_->Write(data, n, written);
}

bool CountingDevice::Purge(uint32_t flags) {
  ++calls_->purge;
  return inner_->Purge(flags);
}

void CountingDevice::Close() {
  ++calls_->close;
  inner_->Close();
}

bool CountingDevice::Negotiate(const platform::NegotiationMask& ask,
                               platform::NegotiationMask& granted) {
  ++calls_->negotiate;
  return inner_->Negotiate(ask, granted);
}

bool CountingDevice::QueryDeviceId(uint8_t* data, uint32_t size, uint32_t& got) {
  ++calls_->deviceId;
  return inner_->QueryDeviceId(data, size, got);
}

bool CountingDevice::QueryStatus(uint8_t& status) {
  ++calls_->status;
  return inner_->QueryStatus(status);
}

bool CountingDevice::ReadWait(uint8_t* data, uint32_t n, uint32_t& got, uint32_t waitMs) {
  ++calls_->read;
  return inner_->ReadWait(data, n, got, waitMs);
}

}  // namespace quillon::testing
