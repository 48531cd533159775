#pragma once
// The one clock through which all time in the program passes: protocol pauses,
// whole-second waits, event waits, port time-outs and emulator delays.

#include <cstdint>
#include <functional>
#include <limits>

#include "platform/installed.h"

namespace quillon::platform {

inline constexpr int64_t kForever = std::numeric_limits<int64_t>::max();

class Clock {
 public:
  virtual ~Clock() = default;

  // Monotonic time in milliseconds (arbitrary origin).
  virtual int64_t NowMs() = 0;
  // Wall-clock time in milliseconds since the epoch.
  virtual int64_t WallMs() = 0;
  // Wall-clock time in whole seconds.
  int64_t WallSeconds() { return WallMs() / 1000; }

  // A fixed pause of the protocol.
  virtual void Pause(uint32_t ms) = 0;

  // The whole-second wait: end = now + n seconds (whole seconds of the wall
  // clock); returns once the current second is later than end. Lasts at least
  // n and less than n + 1 seconds. It sleeps; it never spins.
  virtual void WaitSeconds(int seconds);

  // Blocks until `ready` returns true or the monotonic deadline (ms, kForever
  // for none) has passed. `ready` runs with the clock's lock held and may
  // consume what it tests; it is called until it returns true once. Returns
  // whether it did.
  virtual bool WaitUntil(int64_t deadlineMs, const std::function<bool()>& ready) = 0;

  // Runs `change` with the clock's lock held, then lets every waiter test its
  // condition again. State that waiters test must only change in here.
  virtual void Update(const std::function<void()>& change) = 0;

  // Bookkeeping of the threads that use the clock (platform::Thread calls
  // these). The real clock ignores them; a virtual clock needs them to know
  // when every thread is waiting.
  virtual void ThreadStarting() {}
  virtual void ThreadEnded() {}

 protected:
  // Sleeps until the wall clock reads at least `wallMs`.
  void SleepUntilWall(int64_t wallMs);
};

// The process-wide clock. The real clock unless a test installed another.
Clock& GetClock();

// Installs `clock` for the whole process (nullptr restores the real clock).
// Only while no other thread uses the clock.
void SetClock(Clock* clock);

// Installs a clock for the lifetime of the object.
using ScopedClock = Scoped<Clock, SetClock>;

// Shorthands on the process-wide clock.
inline void Pause(uint32_t ms) {
  GetClock().Pause(ms);
}
inline int64_t NowMs() {
  return GetClock().NowMs();
}

}  // namespace quillon::platform
