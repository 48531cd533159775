#pragma once
// The dialog base class. A dialog is made from a template of the resource
// script (by id), run modally or created modeless, and handled through a
// handful of virtual functions that the backend reaches through DialogProc,
// always on the window's thread. It is also a platform::MessageWindow, so a
// download can send and post its user messages to it from any thread.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/window_messages.h"
#include "ui/types.h"

namespace quillon::ui {

class Dialog : public platform::MessageWindow {
 public:
  explicit Dialog(int templateId);
  // Destroy the window before the object; a window still there is destroyed
  // without this class's handlers.
  ~Dialog() override;
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  int TemplateId() const { return templateId_; }
  // The window; kNoWindow before it is made and once it is gone.
  WindowHandle Handle() const { return handle_.load(std::memory_order_acquire); }

  // Lifecycle.
  // Runs the dialog modally on the calling thread; returns the value given
  // to EndDialog (-1 if the window cannot be made).
  intptr_t DoModal(WindowHandle owner = kNoWindow);
  // Creates the window modeless on the calling thread; shown by Show.
  bool Create(WindowHandle owner = kNoWindow);
  void Show(bool visible = true);
  void Update();
  void DestroyWindow();
  void EndDialog(intptr_t result);
  bool IsWindowThread();

  // Controls by id.
  void EnableControl(int id, bool enable);
  bool IsControlEnabled(int id);
  bool SetControlText(int id, const std::string& text);
  std::string ControlText(int id);
  void SetCheck(int id, int state);
  int Check(int id);
  void ListReset(int id);
  int ListAdd(int id, const std::string& text);
  int ListCount(int id);
  std::string ListItemText(int id, int index);
  int ListSelection(int id);
  int ListSetSelection(int id, int index);
  // The first entry that begins with `text`, ignoring case; kListNone (and
  // the selection unchanged) if there is none.
  int ListSelectText(int id, const std::string& text);
  void SetFocus(int id);
  void HideCaret();
  void DestroyCaret();
  void SetProgressRange(int id, int32_t low, int32_t high);
  void SetProgressPos(int id, int32_t pos);

  // The window itself.
  void SetIcon(int iconId, IconSize size);
  void AppendSystemMenu(uint32_t command, const std::string& text);
  void AppendSystemMenuSeparator();
  void EnableToolTips(bool enable = true);

  // A message box owned by this dialog, with the application's title as its
  // caption. Callable from any thread; it blocks that thread only.
  int ShowMessageBox(const std::string& text, uint32_t flags);
  // The file-open dialog owned by this dialog: the chosen full path, or
  // nothing.
  std::optional<std::string> OpenFileDialog(const std::string& filter, uint32_t flags,
                                            const std::string& initialName = {},
                                            const std::string& defaultExtension = {});

  // platform::MessageWindow: from any thread.
  intptr_t Send(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
  bool Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

  // For backends.
  // Ties the object to its new window (before WM_INITDIALOG).
  void AttachWindow(WindowHandle window) { handle_.store(window, std::memory_order_release); }
  // Every message of the window, on its thread. Sets `handled` to false for
  // what the backend's default processing must take. After WM_NCDESTROY the
  // object may be gone: the backend must not touch it again.
  intptr_t DialogProc(uint32_t message, uintptr_t wParam, intptr_t lParam, bool& handled);
  // The tooltip of a control: by default the string whose id is the
  // control's id; nothing for no tip.
  virtual std::optional<std::string> ToolTipText(int controlId);
  // The icon shown while minimised and dragged (0: the class icon).
  int IconId() const { return iconId_; }

 protected:
  // WM_INITDIALOG: fills the drop-down lists with their initial entries from
  // the template. Returns true to let the system focus the first control,
  // false when the dialog has set the focus itself.
  virtual bool OnInitDialog();
  // WM_COMMAND. The default passes IDOK to OnOK and IDCANCEL to OnCancel.
  virtual void OnCommand(int id, int code);
  // Enter / the default button: EndDialog(IDOK).
  virtual void OnOK();
  // Escape, the close box, Alt+F4: EndDialog(IDCANCEL).
  virtual void OnCancel();
  // Messages from kWmUser on (the program's 0x500-0x518, a class's own from
  // kWmApp on). Returns the result for the sender.
  virtual intptr_t OnUserMessage(uint32_t message, uintptr_t wParam, intptr_t lParam);
  // WM_SYSCOMMAND; return false for the system's default processing.
  virtual bool OnSysCommand(uint32_t command, intptr_t lParam);
  // WM_DESTROY: the window is going; its controls still answer.
  virtual void OnDestroy();
  // After the window is gone (WM_NCDESTROY): the last call the object gets
  // from its window; a modeless dialog may delete itself here.
  virtual void OnFinalDestroy();

 private:
  const int templateId_;
  std::atomic<WindowHandle> handle_{kNoWindow};
  int iconId_ = 0;
};

// A control of a dialog, addressed by id: what a dialog class keeps as a
// member for each control it works with.
class Control {
 public:
  Control(Dialog& dialog, int id) : dialog_(dialog), id_(id) {}
  int Id() const { return id_; }
  void Enable(bool enable) { dialog_.EnableControl(id_, enable); }
  bool IsEnabled() { return dialog_.IsControlEnabled(id_); }
  void SetText(const std::string& text) { dialog_.SetControlText(id_, text); }
  std::string Text() { return dialog_.ControlText(id_); }
  void SetRange32(int32_t low, int32_t high) { dialog_.SetProgressRange(id_, low, high); }
  void SetPos(int32_t pos) { dialog_.SetProgressPos(id_, pos); }

 private:
  Dialog& dialog_;
  const int id_;
};

// The application's main window (the window a modeless dialog reports to)
// and its title (the caption of every message box): the program file's name
// without its extension.
platform::MessageWindow* MainWindow();
void SetMainWindow(platform::MessageWindow* window);
std::string AppTitle();

}  // namespace quillon::ui
