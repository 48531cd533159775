#include "platform/event.h"

#include "platform/clock.h"

namespace quillon::platform {

bool Event::Take() {
  if (!set_) return false;
  if (!manualReset_) set_ = false;
  return true;
}

void Event::Set() {
  GetClock().Update([this] { set_ = true; });
}

void Event::Reset() {
  GetClock().Update([this] { set_ = false; });
}

bool Event::Wait(uint32_t timeoutMs) {
  Clock& clock = GetClock();
  const int64_t deadline = timeoutMs == kInfinite ? kForever : clock.NowMs() + timeoutMs;
  return clock.WaitUntil(deadline, [this] { return Take(); });
}

bool Event::IsSet() {
  bool set = false;
  GetClock().Update([&] { set = set_; });
  return set;
}

}  // namespace quillon::platform
