#include "platform/thread.h"

#include <atomic>

#include "platform/clock.h"
#include "platform/event.h"
#include "platform/thread_priority.h"

namespace quillon::platform {

struct Thread::State {
  std::function<void()> body;
  ThreadPriority priority;
  Event go{true};
  std::atomic<bool> started{false};
  std::atomic<bool> abandoned{false};
  bool finished = false;  // guarded by the clock's lock
};

Thread::Thread(std::function<void()> body, ThreadPriority priority, bool suspended)
    : state_(std::make_shared<State>()) {
  state_->body = std::move(body);
  state_->priority = priority;
  if (!suspended) Resume();
  Clock& clock = GetClock();
  clock.ThreadStarting();
  thread_ = std::thread([state = state_, &clock] {
    state->go.Wait();
    if (!state->abandoned.load()) {
      if (state->priority != ThreadPriority::kNormal) ApplyThreadPriority(state->priority);
      state->body();
    }
    clock.Update([&] { state->finished = true; });
    clock.ThreadEnded();
  });
}

Thread::~Thread() {
  if (thread_.joinable()) {
    // A thread that was never resumed ends without running its body.
    if (!state_->started.load()) state_->abandoned.store(true);
    state_->go.Set();
    Join();
  }
}

void Thread::Resume() {
  state_->started.store(true);
  state_->go.Set();
}

void Thread::Join() {
  if (!thread_.joinable()) return;
  GetClock().WaitUntil(kForever, [this] { return state_->finished; });
  thread_.join();
}

bool Thread::Finished() {
  bool finished = false;
  GetClock().Update([&] { finished = state_->finished; });
  return finished;
}

}  // namespace quillon::platform
