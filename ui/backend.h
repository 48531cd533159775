#pragma once
// The window system behind the dialogs. One backend serves the whole process:
// the Win32 backend (real dialogs from the resource script), or in the tests
// an in-memory one (tests/support/memory_backend.h). Dialogs only
// talk to the backend; the backend calls a dialog back through
// Dialog::DialogProc on the window's own thread, Win32 style:
//
//   - windows are made from a dialog template by resource id; the backend
//     calls Dialog::AttachWindow before WM_INITDIALOG reaches DialogProc;
//   - a modal dialog runs in a loop the backend owns (DialogBoxParam) until
//     EndDialog; a modeless one is created and then served by whatever loop
//     runs on its thread;
//   - controls are addressed by their ids; user actions reach the dialog as
//     WM_COMMAND (id, notification code), system menu picks as
//     WM_SYSCOMMAND, user messages as themselves;
//   - whatever DialogProc leaves unhandled gets the system's default
//     processing (WM_SYSCOMMAND SC_CLOSE -> WM_CLOSE -> WM_COMMAND IDCANCEL).
//
// Window and control operations belong on the window's thread; called from
// another thread they are carried out there and wait for it, as Win32 does
// with a cross-thread SendMessage. Send from another thread waits for the
// window's thread to handle the message; Post only queues it.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/installed.h"
#include "res/templates.h"
#include "ui/types.h"

namespace quillon::ui {

class Dialog;

// What a file-open dialog is asked for.
struct FileDialogRequest {
  // "Description (*.x)|*.x|" pairs, each part ended by '|'.
  std::string filter;
  uint32_t flags = 0;
  std::string initialName;       // empty: none
  std::string defaultExtension;  // empty: none
};

class Backend {
 public:
  virtual ~Backend() = default;

  // The template a dialog is made from (the program's copy of it; the Win32
  // backend builds its windows from the compiled resources instead).
  virtual const res::DialogTemplate* FindTemplate(int templateId);

  // Windows.
  // Creates the dialog's window on the calling thread, runs it until
  // EndDialog and destroys it; returns the EndDialog value, or -1 when the
  // window cannot be made.
  virtual intptr_t RunModal(Dialog& dialog, WindowHandle owner) = 0;
  // Creates the dialog's window on the calling thread, initialised but not
  // shown (unless its template says WS_VISIBLE); kNoWindow on failure.
  virtual WindowHandle CreateModeless(Dialog& dialog, WindowHandle owner) = 0;
  virtual void EndDialog(WindowHandle window, intptr_t result) = 0;
  virtual void DestroyWindow(WindowHandle window) = 0;
  virtual void ShowWindow(WindowHandle window, bool visible) = 0;
  virtual void UpdateWindow(WindowHandle window) = 0;
  // Whether the calling thread is the window's thread.
  virtual bool IsWindowThread(WindowHandle window) = 0;
  virtual void SetIcon(WindowHandle window, int iconId, IconSize size) = 0;
  // Appends to the window's system menu; command 0 appends a separator.
  virtual void AppendSystemMenu(WindowHandle window, uint32_t command, const std::string& text) = 0;
  // Tooltips for the dialog's controls; the text of each comes from
  // Dialog::ToolTipText when the tip is about to show.
  virtual void EnableToolTips(WindowHandle window, bool enable) = 0;

  // Controls.
  virtual void EnableControl(WindowHandle window, int id, bool enable) = 0;
  virtual bool IsControlEnabled(WindowHandle window, int id) = 0;
  // A drop-down list has no text of its own: setting it fails (false) and
  // reading it gives the selected entry.
  virtual bool SetControlText(WindowHandle window, int id, const std::string& text) = 0;
  virtual std::string ControlText(WindowHandle window, int id) = 0;
  virtual void SetCheck(WindowHandle window, int id, int state) = 0;
  virtual int Check(WindowHandle window, int id) = 0;
  virtual void ListReset(WindowHandle window, int id) = 0;
  // Appends; returns the new entry's index or kListNone.
  virtual int ListAdd(WindowHandle window, int id, const std::string& text) = 0;
  virtual int ListCount(WindowHandle window, int id) = 0;
  virtual std::string ListItemText(WindowHandle window, int id, int index) = 0;
  virtual int ListSelection(WindowHandle window, int id) = 0;
  // Selects entry `index` (kListNone: none); returns it, or kListNone.
  virtual int ListSetSelection(WindowHandle window, int id, int index) = 0;
  // Selects the first entry that begins with `text`, ignoring case, looking
  // at the whole list; returns its index. When none does, the selection is
  // left as it is and the result is kListNone.
  virtual int ListSelectText(WindowHandle window, int id, const std::string& text) = 0;
  // Keyboard focus to a control; an edit box or combo box that gets it
  // notifies its dialog (EN_SETFOCUS / CBN_SETFOCUS).
  virtual void SetFocus(WindowHandle window, int id) = 0;
  virtual void HideCaret(WindowHandle window) = 0;
  virtual void DestroyCaret(WindowHandle window) = 0;
  virtual void SetProgressRange(WindowHandle window, int id, int32_t low, int32_t high) = 0;
  virtual void SetProgressPos(WindowHandle window, int id, int32_t pos) = 0;

  // Common dialogs. Both block only the calling thread.
  // OK only; returns kIdOkAnswer.
  virtual int ShowMessageBox(WindowHandle owner, const std::string& text,
                             const std::string& caption, uint32_t flags) = 0;
  // The chosen file's full path, or nothing when the user cancels.
  virtual std::optional<std::string> OpenFileDialog(WindowHandle owner,
                                                    const FileDialogRequest& request) = 0;

  // Messages to a window (see the top of this file). Send to a window that
  // does not exist (any more) returns 0, Post returns false.
  virtual intptr_t Send(WindowHandle window, uint32_t message, uintptr_t wParam,
                        intptr_t lParam) = 0;
  virtual bool Post(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};

// The process-wide backend. Aborts with a message when none is installed.
Backend& GetBackend();
// Installs `backend` for the whole process (nullptr: none).
void SetBackend(Backend* backend);

// Installs a backend for the lifetime of the object.
using ScopedBackend = platform::Scoped<Backend, SetBackend>;

}  // namespace quillon::ui
