#include "ports/receive_threads.h"

#include <algorithm>
#include <cstring>

#include "platform/clock.h"
#include "platform/device.h"

namespace quillon::ports {

namespace {

// Every receive thread reads into a local buffer of this size; a count above
// it is cut down to it.
constexpr int kLocalBufferSize = 300;

constexpr uint32_t kUsbPaceMs = timing::kUsbReadPaceMs;
constexpr uint32_t kParallelPauseMs = timing::kParallelReadPauseMs;

int ClampCount(int bytes) {
  return std::clamp(bytes, 0, kLocalBufferSize);
}

}  // namespace

ReceiveThread::ReceiveThread(Link& link, int bytes)
    : link(link), bytes2BeReceived(ClampCount(bytes)) {}

ReceiveThread::~ReceiveThread() {
  Finish();
}

void ReceiveThread::Finish() {
  // Whoever deletes a thread no longer waits for its answer: a thread still
  // reading stops at its next look at the stop request.
  m_hEventKill.Set();
  thread_.reset();  // joins
}

void ReceiveThread::Stop() {
  m_hEventKill.Set();
  platform::GetClock().WaitUntil(platform::kForever, [this] { return runDone_; });
}

void ReceiveThread::Start(platform::ThreadPriority priority) {
  thread_ = std::make_unique<platform::Thread>(
      [this] {
        startedEvent.Set();
        Run();
        platform::GetClock().Update([this] { runDone_ = true; });
      },
      priority);
}

CReceiveUSBThread::CReceiveUSBThread(int bytes, Link& link) : ReceiveThread(link, bytes) {
  Start(platform::ThreadPriority::kTimeCritical);
  startedEvent.Wait();
}

CReceiveUSBThread::~CReceiveUSBThread() {
  Finish();
}

void CReceiveUSBThread::Run() {
  uint8_t local[kLocalBufferSize];
  int received = 0;
  int remaining = bytes2BeReceived;
  platform::Pause(kUsbPaceMs);
  while (remaining > 0) {
    uint32_t n = 0;
    const int64_t began = platform::NowMs();
    // A read waits up to 50 ms for the printer; one still pending then is
    // cancelled, and the stop request is looked at before the next.
    if (!platform::ReadDeviceWait(link.Handle(), local, static_cast<uint32_t>(remaining), &n,
                                  kUsbPaceMs)) {
      return;
    }
    if (n == 0 && platform::NowMs() - began >= kUsbPaceMs) {
      // Nothing for the whole wait: the read was still pending, not
      // completed, and the next one follows at once.
      if (m_hEventKill.IsSet()) return;
      continue;
    }
    if (n > 0) {
      n = std::min<uint32_t>(n, static_cast<uint32_t>(remaining));
      link.StoreAnswer(received, local, n);
      received += static_cast<int>(n);
      remaining -= static_cast<int>(n);
      if (remaining == 0) {
        link.AnswerEvent().Set();
        return;
      }
    }
    // The read completed: 50 ms before the next, whatever it brought. A
    // driver whose reads complete at once with nothing must not make this
    // loop spin.
    platform::Pause(kUsbPaceMs);
    if (m_hEventKill.IsSet()) return;
  }
}

CReceiveParallelThread::CReceiveParallelThread(Link& link, int bytes) : ReceiveThread(link, bytes) {
  Start(platform::ThreadPriority::kNormal);
}

CReceiveParallelThread::~CReceiveParallelThread() {
  Finish();
}

void CReceiveParallelThread::Run() {
  uint8_t local[kLocalBufferSize];
  int received = 0;
  int remaining = bytes2BeReceived;
  while (remaining > 0) {
    if (m_hEventKill.IsSet()) return;
    std::memset(local, 0, sizeof local);
    uint32_t n = 0;
    bool ok;
    {
      std::lock_guard lock(link.DeviceMutex());
      ok = platform::ReadDevice(link.Handle(), local, static_cast<uint32_t>(remaining), &n);
    }
    if (!ok) return;
    if (n == 0) {
      // Nothing yet: look again in 750 ms, or as soon as a stop comes.
      m_hEventKill.Wait(kParallelPauseMs);
      continue;
    }
    n = std::min<uint32_t>(n, static_cast<uint32_t>(remaining));
    link.StoreAnswer(received, local, n);
    received += static_cast<int>(n);
    remaining -= static_cast<int>(n);
    platform::Pause(kParallelPauseMs);
    if (remaining == 0) {
      link.AnswerEvent().Set();
      return;
    }
  }
}

}  // namespace quillon::ports
