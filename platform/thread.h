#pragma once
// Threads of the program. They are known to the clock, so a test clock can
// tell when every thread waits.

#include <functional>
#include <memory>
#include <thread>

namespace quillon::platform {

enum class ThreadPriority { kNormal, kAboveNormal, kTimeCritical };

class Thread {
 public:
  // Creates the thread; it runs `body` once Resume is called (or at once
  // unless `suspended`).
  explicit Thread(std::function<void()> body, ThreadPriority priority = ThreadPriority::kNormal,
                  bool suspended = false);
  // Joins the thread if it was started and not yet joined.
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  void Resume();
  // Waits for the thread to end. Harmless when it has been joined already.
  void Join();
  // Whether the thread's body has returned.
  bool Finished();

 private:
  struct State;
  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace quillon::platform
