#pragma once
// The Qt 6 Widgets window backend (Linux): the dialogs are QDialogs built
// from the program's copy of the templates (res/dialogs.def), laid out in
// pixels the way Windows turns dialog units into pixels, and served by the
// thread that made the QApplication (the GUI thread).
//
// - Every widget lives on the GUI thread. An operation called from another
//   thread is carried out there while the caller waits, as Win32 does with
//   a cross-thread SendMessage; a window made from another thread is made
//   there too (and a modal one runs there while the caller waits).
// - Send from another thread waits until the GUI thread has handled the
//   message, in whatever event loop it runs (a modal dialog's, a message
//   box's); sent messages go before posted ones. Send to a window that is
//   destroyed meanwhile returns 0. Post queues.
// - Keys and the close box reach the dialog as on Windows: Enter is
//   WM_COMMAND of the focused push button, else of the default one (nothing
//   while that is disabled; IDOK when there is none); Escape is IDCANCEL;
//   the close box is WM_SYSCOMMAND SC_CLOSE -> WM_CLOSE -> IDCANCEL (unless
//   the dialog has a Cancel button that is disabled). A window without a
//   system menu has no close box.
// - The system menu's entries the dialog appends are shown as the window's
//   context menu and reach the dialog as WM_SYSCOMMAND.
// - Message boxes are owned by the window given, with the icons of Windows'
//   MB_ICONERROR and MB_ICONINFORMATION; from any thread, blocking the
//   caller until the box is closed.
//
// This header includes no Qt header.

#include <cstdint>
#include <optional>
#include <string>

#include "ui/backend.h"

class QWidget;

namespace quillon::ui {

class QtBackend final : public Backend {
 public:
  // Makes the QApplication with the program's arguments (kept by reference,
  // as Qt requires) unless the process already has one; the calling thread
  // becomes the GUI thread.
  QtBackend(int& argc, char** argv);
  ~QtBackend() override;
  QtBackend(const QtBackend&) = delete;
  QtBackend& operator=(const QtBackend&) = delete;

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

  // The widgets behind a window and its controls (GUI thread only); null
  // when there is none (any more).
  QWidget* Widget(WindowHandle window);
  QWidget* ControlWidget(WindowHandle window, int id);
  // The window a widget belongs to (itself or one of its controls), or
  // kNoWindow.
  WindowHandle WindowOf(const QWidget* widget);

  struct Impl;

 private:
  Impl* impl_;
};

// Dialog units to pixels, as Windows converts them: x * baseX / 4 and
// y * baseY / 8, rounded (MulDiv). baseX and baseY are the dialog font's
// average character width and height.
int DialogUnitsToPixelsX(int x, int baseX);
int DialogUnitsToPixelsY(int y, int baseY);

// A file dialog filter ("Description (*.x)|*.x|...") as Qt takes it:
// "Description (*.x);;...".
std::string QtFileFilter(const std::string& filter);

}  // namespace quillon::ui
