#pragma once
// The user window messages through which a download reports to the main
// window, and the interface of a window that takes them. The main dialog
// implements it; tests give it a recording implementation.

#include <cstdint>

namespace quillon::platform {

inline constexpr uint32_t WM_PROGRESS_DESTROYED = 0x500;
inline constexpr uint32_t WM_CLOSE_PROGRESS = 0x501;
inline constexpr uint32_t WM_OPEN_PROGRESS = 0x502;
inline constexpr uint32_t WM_PROGRESS_STATUS = 0x504;
inline constexpr uint32_t WM_DOWNLOAD_DONE = 0x506;
inline constexpr uint32_t WM_ENABLE_CONTROLS = 0x507;
inline constexpr uint32_t WM_PROGRESS_SETPOS = 0x508;
inline constexpr uint32_t WM_PROGRESS_AUTOSTEP = 0x509;
inline constexpr uint32_t WM_USB_SEND_ENDED = 0x510;
inline constexpr uint32_t WM_PARALLEL_SEND_ENDED = 0x517;
inline constexpr uint32_t WM_DISABLE_PROGRESS = 0x518;

// The message's name ("WM_OPEN_PROGRESS"), or "unnamed user message".
const char* MessageName(uint32_t message);

class MessageWindow {
 public:
  virtual ~MessageWindow() = default;
  // Synchronous send: returns once the window's thread has handled the
  // message (from that thread itself, the handler runs directly).
  virtual intptr_t Send(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
  // Asynchronous post: queued for the window's thread.
  virtual bool Post(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};

}  // namespace quillon::platform
