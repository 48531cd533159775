#pragma once
// The vocabulary of the dialog layer: window handles, the messages a dialog
// procedure receives, command notifications, and the flags of message boxes
// and file dialogs. The numbers are those of Windows, so the Win32 backend
// passes them through unchanged; the names differ from the Windows macros so
// that this header can sit next to <windows.h>.

#include <cstdint>

namespace quillon::ui {

// A window: an HWND in the Win32 backend, a number in the in-memory one.
using WindowHandle = std::uintptr_t;
inline constexpr WindowHandle kNoWindow = 0;

// Messages of the dialog procedure.
inline constexpr uint32_t kWmDestroy = 0x0002;
inline constexpr uint32_t kWmClose = 0x0010;
inline constexpr uint32_t kWmNcDestroy = 0x0082;
inline constexpr uint32_t kWmInitDialog = 0x0110;
inline constexpr uint32_t kWmCommand = 0x0111;
inline constexpr uint32_t kWmSysCommand = 0x0112;
// First user message; the program's own are 0x500-0x518.
inline constexpr uint32_t kWmUser = 0x0400;
// First message a dialog class may use for itself.
inline constexpr uint32_t kWmApp = 0x8000;

// Command ids.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

// Notification codes of WM_COMMAND.
inline constexpr int kBnClicked = 0;
inline constexpr int kCbnSelChange = 1;
inline constexpr int kCbnSetFocus = 3;
inline constexpr int kEnSetFocus = 0x0100;

// wParam of WM_COMMAND: the control id in the low word, the notification
// code in the high word.
inline uintptr_t CommandParam(int id, int code) {
  return static_cast<uintptr_t>(static_cast<uint16_t>(id)) |
         (static_cast<uintptr_t>(static_cast<uint16_t>(code)) << 16);
}
inline int CommandId(uintptr_t wParam) {
  return static_cast<int16_t>(wParam & 0xFFFF);
}
inline int CommandCode(uintptr_t wParam) {
  return static_cast<int>((wParam >> 16) & 0xFFFF);
}

// System commands (wParam of WM_SYSCOMMAND; the low four bits are the
// system's own).
inline constexpr uint32_t kScMinimize = 0xF020;
inline constexpr uint32_t kScClose = 0xF060;
inline constexpr uint32_t kScRestore = 0xF120;

// Message boxes: OK only, with one of these icons.
inline constexpr uint32_t kMbOk = 0x0;
inline constexpr uint32_t kMbIconError = 0x10;
inline constexpr uint32_t kMbIconInformation = 0x40;
inline constexpr int kIdOkAnswer = 1;

// File-open dialog flags.
inline constexpr uint32_t kOfnHideReadOnly = 0x4;
inline constexpr uint32_t kOfnPathMustExist = 0x800;
inline constexpr uint32_t kOfnFileMustExist = 0x1000;

// Button check states.
inline constexpr int kUnchecked = 0;
inline constexpr int kChecked = 1;

// "No entry" of the list operations.
inline constexpr int kListNone = -1;

enum class IconSize { kBig, kSmall };

enum class CaretState { kNone, kShown, kHidden };

}  // namespace quillon::ui
