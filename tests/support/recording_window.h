#pragma once
// The main window for tests: records every message sent or posted to it and
// keeps a copy of every status record it is shown.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/flash_download.h"
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
    sent_.push_back({id, wParam, lParam, false});
    if (id == platform::WM_PROGRESS_STATUS) {
      statuses_.push_back(*reinterpret_cast<const engine::StatusRecord*>(lParam));
    }
    if (onSend) onSend(id, lParam);
    return 0;
  }
  bool Post(uint32_t id, uintptr_t wParam, intptr_t lParam) override {
    std::lock_guard lock(mutex_);
    posted_.push_back({id, wParam, lParam, true});
    return true;
  }

  // The messages sent, and those posted, each in order.
  std::vector<Message> Messages() {
    std::lock_guard lock(mutex_);
    return sent_;
  }
  std::vector<Message> Posted() {
    std::lock_guard lock(mutex_);
    return posted_;
  }
  std::vector<engine::StatusRecord> Statuses() {
    std::lock_guard lock(mutex_);
    return statuses_;
  }
  // Status texts in order, without repeats of the same text in a row.
  std::vector<std::string> Texts() {
    std::vector<std::string> out;
    for (const auto& s : Statuses()) {
      if (out.empty() || out.back() != s.statusText) out.push_back(s.statusText);
    }
    return out;
  }
  // Runs on every send, with the window's lock held.
  std::function<void(uint32_t id, intptr_t lParam)> onSend;

 private:
  std::mutex mutex_;
  std::vector<Message> sent_;
  std::vector<Message> posted_;
  std::vector<engine::StatusRecord> statuses_;
};

}  // namespace quillon::testing
