#pragma once
// A device that counts the calls reaching it and hands each on to the device
// it wraps, for tests that must show a call was made, or was not.

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/device.h"

namespace quillon::testing {

// How many calls of each kind reached the devices counted on it.
struct DeviceCalls {
  std::atomic<int> getState{0}, setState{0}, getTimeouts{0}, setTimeouts{0};
  std::atomic<int> read{0};  // Read and ReadWait
  std::atomic<int> write{0}, purge{0}, close{0};
  std::atomic<int> negotiate{0}, deviceId{0}, status{0};
};

class CountingDevice final : public platform::SerialDevice {
 public:
  CountingDevice(std::shared_ptr<platform::SerialDevice> inner, std::shared_ptr<DeviceCalls> calls)
      : inner_(std::move(inner)), calls_(std::move(calls)) {}

  bool GetState(platform::Dcb& dcb) override;
  bool SetState(const platform::Dcb& dcb) override;
  bool GetTimeouts(platform::CommTimeouts& t) override;
  bool SetTimeouts(const platform::CommTimeouts& t) override;
  bool Read(uint8_t* data, uint32_t n, uint32_t& got) override;
  bool Write(const uint8_t* data, uint32_t n, uint32_t& written) override;
  bool Purge(uint32_t flags) override;
  void Close() override;
  bool Negotiate(const platform::NegotiationMask& ask, platform::NegotiationMask& granted) override;
  bool QueryDeviceId(uint8_t* data, uint32_t size, uint32_t& got) override;
  bool QueryStatus(uint8_t& status) override;
  bool ReadWait(uint8_t* data, uint32_t n, uint32_t& got, uint32_t waitMs) override;

 private:
  const std::shared_ptr<platform::SerialDevice> inner_;
  const std::shared_ptr<DeviceCalls> calls_;
};

// `device` with its calls counted on `calls`.
inline std::shared_ptr<platform::SerialDevice> Counted(
    std::shared_ptr<platform::SerialDevice> device, std::shared_ptr<DeviceCalls> calls) {
  return std::make_shared<CountingDevice>(std::move(device), std::move(calls));
}

}  // namespace quillon::testing
