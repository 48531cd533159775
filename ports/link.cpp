#include "ports/link.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/clock.h"
#include "ports/receive_threads.h"

namespace quillon::ports {

using platform::kInvalidHandle;
using namespace timing;

namespace {

int Clamp(int bytes) {
  return std::clamp(bytes, 0, kAnswerBufferSize);
}

}  // namespace

Link::Link(Interface iface)
    : iface_(iface), handle_(iface == Interface::kUsb ? platform::kNoHandle : kInvalidHandle) {}

Link::~Link() = default;

void Link::Close() {
  const platform::Handle h = handle_.exchange(kInvalidHandle);
  if (h != kInvalidHandle) platform::CloseDevice(h);
}

bool Link::WriteLine(const uint8_t* data, int length) {
  int offset = 0;
  int remaining = length;
  for (int call = 1;; ++call) {
    uint32_t written = 0;
    bool ok;
    {
      std::lock_guard lock(deviceMutex_);
      ok = platform::WriteDevice(Handle(), data + offset, static_cast<uint32_t>(remaining),
                                 &written);
    }
    if (!ok) return false;
    if (StopRequested()) return false;
    offset += static_cast<int>(written);
    remaining -= static_cast<int>(written);
    if (call == kWriteCalls) return false;
    platform::Pause(kAfterWriteCallMs);
    if (remaining <= 0) return true;
  }
}

bool Link::WriteUsb(const uint8_t* data, int length) {
  int offset = 0;
  int remaining = length;
  while (remaining > 0) {
    // A stop request ends the write as it ends a serial one (the dialog's
    // USB download cannot be cancelled; the command line can stop one).
    if (StopRequested()) return false;
    const uint32_t chunk = std::min(static_cast<uint32_t>(remaining), platform::kUsbChunk);
    uint32_t written = 0;
    if (platform::WriteDevice(Handle(), data + offset, chunk, &written)) {
      // A write that takes nothing would never end.
      if (written == 0) return false;
      offset += static_cast<int>(written);
      remaining -= static_cast<int>(written);
      continue;
    }
    if (platform::LastError() != platform::kErrorInvalidHandle) return false;
    if (!reconnect_ || !reconnect_()) return false;
    platform::Pause(kAfterReconnectMs);
  }
  return true;
}

bool Link::AwaitAnswer(int bytes, int seconds) {
  if (iface_ == Interface::kSerial) return false;  // the serial line is read directly
  answerEvent_.Reset();
  {
    std::lock_guard lock(answerMutex_);
    std::memset(answer_, 0, static_cast<size_t>(Clamp(bytes)));
  }
  std::unique_ptr<ReceiveThread> thread;
  if (iface_ == Interface::kUsb) {
    thread = std::make_unique<CReceiveUSBThread>(bytes, *this);
  } else {
    thread = std::make_unique<CReceiveParallelThread>(*this, bytes);
  }

  // The answer counts until the wall clock's second is later than the
  // deadline's. The wait sleeps on the answer event until then.
  platform::Clock& clock = platform::GetClock();
  const int64_t deadline = clock.WallSeconds() + seconds;
  bool came = false;
  for (;;) {
    const int64_t left = (deadline + 1) * 1000 - clock.WallMs();
    if (answerEvent_.Wait(static_cast<uint32_t>(std::max<int64_t>(left, 0)))) {
      came = true;
      break;
    }
    if (clock.WallSeconds() > deadline) break;
  }
  // A thread stopped while a read is out would take the next answer: the
  // stop waits until it no longer reads.
  thread->Stop();
  return came;
}

bool Link::AnswerStarted(int bytes) {
  std::lock_guard lock(answerMutex_);
  return std::any_of(answer_, answer_ + Clamp(bytes), [](uint8_t b) { return b != 0; });
}

uint8_t Link::AnswerByte(int at) {
  std::lock_guard lock(answerMutex_);
  return at >= 0 && at < kAnswerBufferSize ? answer_[at] : 0;
}

void Link::StoreAnswer(int at, const uint8_t* data, uint32_t n) {
  std::lock_guard lock(answerMutex_);
  const int room = kAnswerBufferSize - std::clamp(at, 0, kAnswerBufferSize);
  std::memcpy(answer_ + at, data, std::min<size_t>(n, static_cast<size_t>(room)));
}

}  // namespace quillon::ports
