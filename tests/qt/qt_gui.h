#pragma once
// The Qt test program's GUI thread: the program's main thread runs the
// QApplication's event loop while the tests run on a thread of their own and
// act as the user through it, with real mouse and keyboard events (QTest).

#include <QApplication>
#include <QMessageBox>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>

#include "ui/qt/qt_backend.h"

namespace quillon::testing {

// The backend the program installed.
ui::QtBackend& QtGuiBackend();
void SetQtGuiBackend(ui::QtBackend* installed);

// Runs `task` on the GUI thread and waits for it. Not for tasks that open a
// modal loop: use Act for those.
void OnGui(const std::function<void()>& task);

template <class F>
auto OnGuiGet(F f) -> decltype(f()) {
  std::optional<decltype(f())> result;
  OnGui([&] { result = f(); });
  return *result;
}

// Starts `task` on the GUI thread and returns once it is over or once the
// GUI thread runs an event loop it opened (a modal dialog, a message box).
void Act(std::function<void()> task);

// Waits until `condition` (run on the calling thread) holds; false after
// `timeoutMs` of real time without.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs);

// Waits until `condition` (run on the GUI thread) holds; false after
// `timeoutMs` of real time without.
bool WaitForGui(const std::function<bool()>& condition, int timeoutMs = 30000);

// The visible top-level window with `title`, or null (GUI thread).
QWidget* TopLevel(const QString& title);

// The message box shown now, if any (GUI thread).
QMessageBox* ShownMessageBox();

// The user, with real mouse and keyboard events on a window's controls.
void ClickControl(ui::WindowHandle window, int id);
void KeyOnControl(ui::WindowHandle window, int id, Qt::Key key);
// Picks the entry `text` of a drop-down list with the arrow keys.
bool PickEntry(ui::WindowHandle window, int id, const QString& text);
// Clicks the button `browseId` and types `path` into the file dialog it
// opens; false when no file dialog came or it did not close.
bool ChooseFile(ui::WindowHandle window, int browseId, const std::string& path);
// The backend's window with `title` once it is shown, or kNoWindow.
ui::WindowHandle WaitForWindow(const QString& title, int timeoutMs = 30000);

// A message box as the user saw it.
struct SeenBox {
  std::string text;
  std::string caption;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
};
// Waits for a message box, reads it and presses its OK button with the mouse.
std::optional<SeenBox> CloseMessageBox(int timeoutMs = 30000);

}  // namespace quillon::testing
