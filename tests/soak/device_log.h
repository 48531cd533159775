#pragma once
// What the host did to the printer's devices during one soak run, in order:
// opens, writes, negotiations, id and status requests, closes. Every device
// the run's "sim" port hands out is wrapped in a LoggingDevice on one log.

#include <memory>
#include <mutex>
#include <vector>

#include "platform/device.h"
#include "platform/fake_printer_port.h"

namespace quillon::soak {

struct DeviceEvent {
  enum class Kind { kOpen, kWrite, kNegotiate, kDeviceId, kStatus, kClose };
  Kind kind;
  bool ok = true;
  uint32_t size = 0;  // writes: the bytes asked for
};

class DeviceLog {
 public:
  // From write call `n` on (counting from 1; 0: never) the USB printer's id
  // or status request fails: the printer is still there but no longer
  // answers them.
  DeviceLog(std::shared_ptr<platform::PrinterPortKnobs> knobs, int deviceIdFailsFrom,
            int statusFailsFrom)
      : knobs_(std::move(knobs)),
        deviceIdFailsFrom_(deviceIdFailsFrom),
        statusFailsFrom_(statusFailsFrom) {}

  void Add(DeviceEvent e) {
    std::lock_guard lock(mutex_);
    events_.push_back(e);
    if (e.kind == DeviceEvent::Kind::kOpen && e.ok) ++open_;
    if (e.kind == DeviceEvent::Kind::kClose) --open_;
  }
  // Before each write call.
  void Writing() {
    int n = 0;
    {
      std::lock_guard lock(mutex_);
      n = ++writes_;
    }
    if (n == deviceIdFailsFrom_) knobs_->SetDeviceIdFails(true);
    if (n == statusFailsFrom_) knobs_->SetStatusFails(true);
  }
  std::vector<DeviceEvent> Events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  // Devices handed out and not closed.
  int Open() {
    std::lock_guard lock(mutex_);
    return open_;
  }

 private:
  const std::shared_ptr<platform::PrinterPortKnobs> knobs_;
  const int deviceIdFailsFrom_;
  const int statusFailsFrom_;
  std::mutex mutex_;
  std::vector<DeviceEvent> events_;  // guarded by mutex_
  int open_ = 0;                     // guarded by mutex_
  int writes_ = 0;                   // guarded by mutex_
};

class LoggingDevice final : public platform::ForwardingDevice {
 public:
  LoggingDevice(std::shared_ptr<platform::SerialDevice> inner, std::shared_ptr<DeviceLog> log)
      : ForwardingDevice(std::move(inner)), log_(std::move(log)) {
    log_->Add({DeviceEvent::Kind::kOpen});
  }

  bool Write(const uint8_t* data, uint32_t n, uint32_t& written) override {
    log_->Writing();
    const bool ok = ForwardingDevice::Write(data, n, written);
    log_->Add({DeviceEvent::Kind::kWrite, ok, n});
    return ok;
  }
  bool Negotiate(const platform::NegotiationMask& ask,
                 platform::NegotiationMask& granted) override {
    const bool ok = ForwardingDevice::Negotiate(ask, granted);
    log_->Add({DeviceEvent::Kind::kNegotiate, ok});
    return ok;
  }
  bool QueryDeviceId(uint8_t* data, uint32_t size, uint32_t& got) override {
    const bool ok = ForwardingDevice::QueryDeviceId(data, size, got);
    log_->Add({DeviceEvent::Kind::kDeviceId, ok});
    return ok;
  }
  bool QueryStatus(uint8_t& status) override {
    const bool ok = ForwardingDevice::QueryStatus(status);
    log_->Add({DeviceEvent::Kind::kStatus, ok});
    return ok;
  }
  void Close() override {
    ForwardingDevice::Close();
    log_->Add({DeviceEvent::Kind::kClose});
  }

 private:
  const std::shared_ptr<DeviceLog> log_;
};

}  // namespace quillon::soak
