#pragma once
// A user-interface thread for dialog tests: the thread that makes the
// windows and runs their loops, while the test acts as the user from its
// own thread through the in-memory backend.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "platform/thread.h"

namespace quillon::testing {

class UiThread {
 public:
  explicit UiThread(std::function<intptr_t()> body)
      : thread_(std::make_unique<platform::Thread>([this, body = std::move(body)] {
          id_.store(std::this_thread::get_id());
          result_ = body();
        })) {}
  ~UiThread() { thread_->Join(); }
  UiThread(const UiThread&) = delete;
  UiThread& operator=(const UiThread&) = delete;

  // Waits for the body to return; its result.
  intptr_t Join() {
    thread_->Join();
    return result_;
  }
  bool Finished() { return thread_->Finished(); }
  std::thread::id Id() const { return id_.load(); }

 private:
  std::atomic<std::thread::id> id_{};
  intptr_t result_ = 0;  // written by the thread, read after the join
  std::unique_ptr<platform::Thread> thread_;
};

}  // namespace quillon::testing
