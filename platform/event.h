#pragma once
// Events in the manner of Win32 events, waited on through the process clock.

#include <cstdint>

namespace quillon::platform {

inline constexpr uint32_t kInfinite = 0xFFFFFFFF;

class Event {
 public:
  explicit Event(bool manualReset, bool initiallySet = false)
      : manualReset_(manualReset), set_(initiallySet) {}
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  // Waits up to `timeoutMs` (kInfinite: no limit) for the event. An
  // auto-reset event is cleared by the wait that takes it. Returns whether the
  // event was taken; a timeout of 0 only tests it.
  bool Wait(uint32_t timeoutMs = kInfinite);
  // Tests without waiting (and without clearing an auto-reset event).
  bool IsSet();

 private:
  bool Take();  // with the clock's lock held

  const bool manualReset_;
  bool set_;  // guarded by the clock's lock
};

}  // namespace quillon::platform
