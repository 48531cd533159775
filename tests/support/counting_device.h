#pragma once
// A device that counts the reads and writes reaching it and hands every call
// on to the device it wraps, for tests that must show a call was made, or
// was not.

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/device.h"

namespace quillon::testing {

// How many calls reached the devices counted on it.
struct DeviceCalls {
  std::atomic<int> read{0};  // Read and ReadWait
  std::atomic<int> write{0};
};

class CountingDevice final : public platform::ForwardingDevice {
 public:
  CountingDevice(std::shared_ptr<platform::SerialDevice> inner, std::shared_ptr<DeviceCalls> calls)
      : ForwardingDevice(std::move(inner)), calls_(std::move(calls)) {}

  bool Read(uint8_t* data, uint32_t n, uint32_t& got) override {
    ++calls_->read;
    return ForwardingDevice::Read(data, n, got);
  }
  bool ReadWait(uint8_t* data, uint32_t n, uint32_t& got, uint32_t waitMs) override {
    ++calls_->read;
    return ForwardingDevice::ReadWait(data, n, got, waitMs);
  }
  bool Write(const uint8_t* data, uint32_t n, uint32_t& written) override {
    ++calls_->write;
    return ForwardingDevice::Write(data, n, written);
  }

 private:
  const std::shared_ptr<DeviceCalls> calls_;
};

// `device` with its reads and writes counted on `calls`.
inline std::shared_ptr<platform::SerialDevice> Counted(
    std::shared_ptr<platform::SerialDevice> device, std::shared_ptr<DeviceCalls> calls) {
  return std::make_shared<CountingDevice>(std::move(device), std::move(calls));
}

}  // namespace quillon::testing
