#pragma once
// The Win32 window backend: the dialogs are real windows, made from the
// compiled resource script (DialogBoxParamA, CreateDialogParamA) and served
// by one dialog procedure that hands every message to Dialog::DialogProc.
//
// - The procedure ties the Dialog to its window (Dialog::AttachWindow) at
//   WM_INITDIALOG, before the dialog sees that message, and lets go of it
//   at WM_NCDESTROY, after which the object is never touched again.
// - Whatever DialogProc leaves unhandled goes to the dialog manager's
//   default processing (DefDlgProc): SC_CLOSE -> WM_CLOSE -> IDCANCEL, and
//   so on. The dialog manager's own messages (DM_GETDEFID, DM_SETDEFID,
//   DM_REPOSITION, which share the user range) are left to it: Enter needs
//   the true default button.
// - Operations that Win32 does not carry out on the window's thread by
//   itself (SetFocus, the caret, EndDialog, DestroyWindow, menus, tooltips,
//   ...) are sent there with a private message when called from another
//   thread, and the caller waits, as with any cross-thread SendMessage.
// - Modeless dialogs get the dialog keyboard (Tab, Enter, Escape) also while
//   a modal loop of their thread runs (a message box, the main dialog): a
//   WH_MSGFILTER hook calls IsDialogMessage for them.
// - Every window it makes carries the window property kDialogProperty, so
//   that other code can tell them from the system's dialogs (message boxes,
//   file dialogs), which share their window class.
//
// This header does not include <windows.h>: handles are ui::WindowHandle.

#include <cstdint>
#include <optional>
#include <string>

#include "ui/backend.h"

namespace quillon::ui {

class Win32Backend final : public Backend {
 public:
  // The window property that marks the windows of this backend.
  static constexpr const char* kDialogProperty = "Quillon.Dialog";

  // `instance`: the module (HINSTANCE) whose resources hold the templates
  // and icons; null for the program itself. Registers the common controls
  // (progress bar, tooltips).
  explicit Win32Backend(void* instance = nullptr);
  ~Win32Backend() override;
  Win32Backend(const Win32Backend&) = delete;
  Win32Backend& operator=(const Win32Backend&) = delete;

  void* Instance() const { return instance_; }

  // Backend.
  intptr_t RunModal(Dialog& dialog, WindowHandle owner) override;
  WindowHandle CreateModeless(Dialog& dialog, WindowHandle owner) override;
  void EndDialog(WindowHandle window, intptr_t result) override;
  void DestroyWindow(WindowHandle window) override;
  void ShowWindow(WindowHandle window, bool visible) override;
  void UpdateWindow(WindowHandle window) override;
  bool IsWindowThread(WindowHandle window) override;
  void SetIcon(WindowHandle window, int iconId, IconSize size) override;
  void AppendSystemMenu(WindowHandle window, uint32_t command, const std::string& text) override;
  void EnableToolTips(WindowHandle window, bool enable) override;
  void EnableControl(WindowHandle window, int id, bool enable) override;
  bool IsControlEnabled(WindowHandle window, int id) override;
  bool SetControlText(WindowHandle window, int id, const std::string& text) override;
  std::string ControlText(WindowHandle window, int id) override;
  void SetCheck(WindowHandle window, int id, int state) override;
  int Check(WindowHandle window, int id) override;
  void ListReset(WindowHandle window, int id) override;
  int ListAdd(WindowHandle window, int id, const std::string& text) override;
  int ListCount(WindowHandle window, int id) override;
  std::string ListItemText(WindowHandle window, int id, int index) override;
  int ListSelection(WindowHandle window, int id) override;
  int ListSetSelection(WindowHandle window, int id, int index) override;
  int ListSelectText(WindowHandle window, int id, const std::string& text) override;
  void SetFocus(WindowHandle window, int id) override;
  void HideCaret(WindowHandle window) override;
  void DestroyCaret(WindowHandle window) override;
  void SetProgressRange(WindowHandle window, int id, int32_t low, int32_t high) override;
  void SetProgressPos(WindowHandle window, int id, int32_t pos) override;
  int ShowMessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                     uint32_t flags) override;
  std::optional<std::string> OpenFileDialog(WindowHandle owner,
                                            const FileDialogRequest& request) override;
  intptr_t Send(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) override;
  bool Post(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) override;

 private:
  void* instance_;
};

// A file dialog filter as GetOpenFileName takes it: every '|' becomes a NUL,
// and the whole ends with two NULs.
std::string Win32FileFilter(const std::string& filter);

}  // namespace quillon::ui
