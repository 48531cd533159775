#pragma once
// A clock for tests: time stands still while any thread that uses the clock
// is running, and jumps to the next deadline once every such thread waits.
// A whole download with all its fixed waits therefore runs in milliseconds,
// gives the same timing on a loaded machine as on an idle one, and records
// every pause and whole-second wait so that tests can assert them exactly.

#include <condition_variable>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace quillon::platform {

class VirtualClock final : public Clock {
 public:
  enum class Kind { kPause, kWaitSeconds };
  struct Record {
    Kind kind;
    int64_t value;    // ms for a pause, seconds for a whole-second wait
    int64_t startMs;  // monotonic time when it began
    int64_t endMs;    // monotonic time when it ended
    std::thread::id thread;
  };

  // The constructing thread counts as one running thread. `wallStartMs` sets
  // the wall clock at monotonic time 0 (its milliseconds part decides where
  // in a second whole-second waits begin).
  explicit VirtualClock(int64_t wallStartMs = 1'800'000'000'000);

  int64_t NowMs() override;
  int64_t WallMs() override;
  void Pause(uint32_t ms) override;
  void WaitSeconds(int seconds) override;
  bool WaitUntil(int64_t deadlineMs, const std::function<bool()>& ready) override;
  void Update(const std::function<void()>& change) override;
  void ThreadStarting() override;
  void ThreadEnded() override;

  // Moves time on by `ms` from the calling (running) thread, as if it had
  // paused, without recording a pause.
  void Advance(int64_t ms);

  std::vector<Record> Records();
  // Pauses (ms) and whole-second waits (as -seconds) of one thread, in order;
  // a compact form for assertions.
  std::vector<int64_t> Timeline(std::thread::id thread);
  void ClearRecords();

 private:
  struct Waiter {
    int64_t deadline;
    const std::function<bool()>* ready;
    bool woken = false;
    bool satisfied = false;
  };
  void AdvanceLocked();  // with mutex_ held

  std::mutex mutex_;
  std::condition_variable cv_;
  int64_t now_ = 0;
  int64_t wallStart_;
  int running_ = 1;
  std::list<Waiter*> waiters_;
  std::vector<Record> records_;
};

}  // namespace quillon::platform
