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
    if (onMessage) onMessage(id, lParam);
    return 0;
  }
  bool Post(uint32_t id, uintptr_t wParam, intptr_t lParam) override {
    std::lock_guard lock(mutex_);
    posted_.push_back({id, wParam, lParam, true});
    if (onMessage) onMessage(id, lParam);
    return true;
  }

  // The messages sent, and those posted, each in order.
  std::vector<Message> Messages() { return Locked(sent_); }
  std::vector<Message> Posted() { return Locked(posted_); }
  std::vector<engine::StatusRecord> Statuses() { return Locked(statuses_); }
  // Status texts in order, without repeats of the same text in a row.
  std::vector<std::string> Texts() {
    std::vector<std::string> out;
    for (const auto& s : Statuses()) {
      if (out.empty() || out.back() != s.statusText) out.push_back(s.statusText);
    }
    return out;
  }
  // Run on every send (and every send or post), with the window's lock held.
  std::function<void(uint32_t id, intptr_t lParam)> onSend;
  std::function<void(uint32_t id, intptr_t lParam)> onMessage;

 private:
  template <class T>
  T Locked(const T& field) {
    std::lock_guard lock(mutex_);
    return field;
  }
  std::mutex mutex_;
  std::vector<Message> sent_;
  std::vector<Message> posted_;
  std::vector<engine::StatusRecord> statuses_;
};

}  // namespace quillon::testing
