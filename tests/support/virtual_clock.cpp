#include "support/virtual_clock.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace quillon::platform {

VirtualClock::VirtualClock(int64_t wallStartMs) : wallStart_(wallStartMs) {}

int64_t VirtualClock::NowMs() {
  std::lock_guard lock(mutex_);
  return now_;
}

int64_t VirtualClock::WallMs() {
  std::lock_guard lock(mutex_);
  return wallStart_ + now_;
}

void VirtualClock::Pause(uint32_t ms) {
  const int64_t start = NowMs();
  WaitUntil(start + ms, [] { return false; });
  std::lock_guard lock(mutex_);
  records_.push_back({Kind::kPause, ms, start, now_, std::this_thread::get_id()});
}

void VirtualClock::WaitSeconds(int seconds) {
  const int64_t start = NowMs();
  Clock::WaitSeconds(seconds);
  std::lock_guard lock(mutex_);
  records_.push_back({Kind::kWaitSeconds, seconds, start, now_, std::this_thread::get_id()});
}

bool VirtualClock::WaitUntil(int64_t deadlineMs, const std::function<bool()>& ready) {
  std::unique_lock lock(mutex_);
  if (ready()) return true;
  if (now_ >= deadlineMs) return false;
  Waiter self{deadlineMs, &ready};
  waiters_.push_back(&self);
  --running_;
  AdvanceLocked();
  cv_.wait(lock, [&] { return self.woken; });
  waiters_.remove(&self);
  return self.satisfied;
}

void VirtualClock::Update(const std::function<void()>& change) {
  std::lock_guard lock(mutex_);
  change();
  bool any = false;
  for (Waiter* w : waiters_) {
    if (!w->woken && (*w->ready)()) {
      w->woken = w->satisfied = true;
      ++running_;
      any = true;
    }
  }
  if (any) cv_.notify_all();
}

void VirtualClock::ThreadStarting() {
  std::lock_guard lock(mutex_);
  ++running_;
}

void VirtualClock::ThreadEnded() {
  std::lock_guard lock(mutex_);
  --running_;
  AdvanceLocked();
}

void VirtualClock::Advance(int64_t ms) {
  std::lock_guard lock(mutex_);
  now_ += ms;
  bool any = false;
  for (Waiter* w : waiters_) {
    if (!w->woken && w->deadline <= now_) {
      w->woken = true;
      ++running_;
      any = true;
    }
  }
  if (any) cv_.notify_all();
}

void VirtualClock::AdvanceLocked() {
  while (running_ == 0) {
    int64_t next = kForever;
    for (Waiter* w : waiters_) {
      if (!w->woken) next = std::min(next, w->deadline);
    }
    if (next == kForever) {
      if (waiters_.empty()) return;  // no thread left at all
      std::fprintf(stderr, "VirtualClock: every thread waits without a deadline (deadlock)\n");
      std::abort();
    }
    now_ = std::max(now_, next);
    for (Waiter* w : waiters_) {
      if (!w->woken && w->deadline <= now_) {
        w->woken = true;
        ++running_;
      }
    }
  }
  cv_.notify_all();
}

std::vector<VirtualClock::Record> VirtualClock::Records() {
  std::lock_guard lock(mutex_);
  return records_;
}

std::vector<int64_t> VirtualClock::Timeline(std::thread::id thread) {
  std::lock_guard lock(mutex_);
  std::vector<int64_t> out;
  for (const Record& r : records_) {
    if (r.thread == thread) out.push_back(r.kind == Kind::kPause ? r.value : -r.value);
  }
  return out;
}

void VirtualClock::ClearRecords() {
  std::lock_guard lock(mutex_);
  records_.clear();
}

}  // namespace quillon::platform
