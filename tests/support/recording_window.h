#pragma once
// A main window for tests: records every message sent or posted to it.

#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/window_messages.h"

namespace quillon::testing {

class RecordingWindow : public platform::MessageWindow {
 public:
  struct Message {
    uint32_t id;
    uintptr_t wParam;
    intptr_t lParam;
    bool posted;
    bool operator==(const Message&) const = default;
  };

  intptr_t Send(uint32_t id, uintptr_t wParam, intptr_t lParam) override {
    std::lock_guard lock(mutex_);
    messages_.push_back({id, wParam, lParam, false});
    return 0;
  }
  bool Post(uint32_t id, uintptr_t wParam, intptr_t lParam) override {
    std::lock_guard lock(mutex_);
    messages_.push_back({id, wParam, lParam, true});
    return true;
  }

  std::vector<Message> Messages() {
    std::lock_guard lock(mutex_);
    return messages_;
  }

 private:
  std::mutex mutex_;
  std::vector<Message> messages_;
};

}  // namespace quillon::testing
