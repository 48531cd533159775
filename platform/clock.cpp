#include "platform/clock.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace quillon::platform {

void Clock::WaitSeconds(int seconds) {
  const int64_t end = WallSeconds() + seconds;
  // The wait is over at the first instant of second end + 1.
  SleepUntilWall((end + 1) * 1000);
}

void Clock::SleepUntilWall(int64_t wallMs) {
  // The wall clock may be stepped while we sleep; look again after each sleep.
  for (int64_t left = wallMs - WallMs(); left > 0; left = wallMs - WallMs()) {
    WaitUntil(NowMs() + left, [] { return false; });
  }
}

namespace {

class RealClock final : public Clock {
 public:
  int64_t NowMs() override {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  }
  int64_t WallMs() override {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  }
  void Pause(uint32_t ms) override {
    WaitUntil(NowMs() + ms, [] { return false; });
  }
  bool WaitUntil(int64_t deadlineMs, const std::function<bool()>& ready) override {
    std::unique_lock lock(mutex_);
    for (;;) {
      if (ready()) return true;
      if (deadlineMs == kForever) {
        cv_.wait(lock);
        continue;
      }
      const int64_t now = NowMs();
      if (now >= deadlineMs) return false;
      cv_.wait_for(lock, std::chrono::milliseconds(deadlineMs - now));
    }
  }
  void Update(const std::function<void()>& change) override {
    {
      std::lock_guard lock(mutex_);
      change();
    }
    cv_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
};

// The real clock is in force while no other is installed.
Installed<Clock, MadeOnFirstUse<Clock, RealClock>> installed;

}  // namespace

Clock& GetClock() {
  return installed.Get();
}

void SetClock(Clock* clock) {
  installed.Set(clock);
}

}  // namespace quillon::platform
