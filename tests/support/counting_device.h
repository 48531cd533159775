#pragma once
// A device that counts the reads and writes reaching it and hands every call
// on to the device it wraps, for tests that must show a call was made, or
// was not.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/clock.h"
#include "platform/device.h"

namespace quillon::testing {

// How many calls reached the devices counted on it.
struct DeviceCalls {
  std::atomic<int> read{0};  // Read and ReadWait
  std::atomic<int> write{0};

  // Every read, once it has returned: by which thread (a number of its own
  // for each thread made, where a system's thread ids may be used again),
  // when it began, how many bytes it asked for and how many it got.
  struct Read {
    int thread;
    int64_t atMs;
    uint32_t bytes;
    uint32_t got;
  };
  void NoteRead(int64_t atMs, uint32_t bytes, uint32_t got) {
    static std::atomic<int> threads{0};
    thread_local const int self = threads++;
    std::lock_guard lock(mutex);
    reads.push_back({self, atMs, bytes, got});
  }
  std::vector<Read> Reads() {
    std::lock_guard lock(mutex);
    return reads;
  }
  // When each read began.
  std::vector<int64_t> Starts() {
    std::vector<int64_t> out;
    for (const Read& r : Reads()) out.push_back(r.atMs);
    return out;
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
    ++calls_->read;
    const int64_t at = platform::NowMs();
    const bool ok = ForwardingDevice::Read(data, n, got);
    calls_->NoteRead(at, n, got);
    return ok;
  }
  bool ReadWait(uint8_t* data, uint32_t n, uint32_t& got, uint32_t waitMs) override {
    ++calls_->read;
    const int64_t at = platform::NowMs();
    const bool ok = ForwardingDevice::ReadWait(data, n, got, waitMs);
    calls_->NoteRead(at, n, got);
    return ok;
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
