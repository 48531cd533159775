#pragma once
// A device that counts the reads and writes reaching it and hands every call
// on to the device it wraps, for tests that must show a call was made, or
// was not.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/device.h"

namespace quillon::testing {

// How many calls reached the devices counted on it.
struct DeviceCalls {
  std::atomic<int> read{0};  // Read and ReadWait
  std::atomic<int> write{0};

  // Every read: by which thread (a number of its own for each thread made,
  // where a system's thread ids may be used again), and how many bytes it
  // asked for.
  struct Read {
    int thread;
    uint32_t bytes;
  };
  void NoteRead(uint32_t bytes) {
    ++read;
    static std::atomic<int> threads{0};
    thread_local const int self = threads++;
    std::lock_guard lock(mutex);
    reads.push_back({self, bytes});
  }
  std::vector<Read> Reads() {
    std::lock_guard lock(mutex);
    return reads;
  }

 private:
  std::mutex mutex;
  std::vector<Read> reads;  // guarded by mutex
};

class CountingDevice final : public platform::ForwardingDevice {
 public:
  CountingDevice(std::shared_ptr<platform::SerialDevice> inner, std::shared_ptr<DeviceCalls> calls)
      : ForwardingDevice(std::move(inner)), calls_(std::move(calls)) {}

  bool Read(uint8_t* data, uint32_t n, uint32_t& got) override {
    calls_->NoteRead(n);
    return ForwardingDevice::Read(data, n, got);
  }
  bool ReadWait(uint8_t* data, uint32_t n, uint32_t& got, uint32_t waitMs) override {
    calls_->NoteRead(n);
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
