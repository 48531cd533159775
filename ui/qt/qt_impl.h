#pragma once
// The Qt backend's own types, shared by its files (ui/qt/*.cpp) and by no
// one else:
// - qt_bridge.cpp: the calls and messages of other threads, carried out on
//   the GUI thread;
// - qt_layout.cpp: a dialog's widgets from its template, in dialog units;
// - qt_dialog_manager.cpp: the keys, the default button, the focus, the
//   close box and the context menu, the Windows way;
// - qt_controls.cpp: the operations on the controls;
// - qt_backend.cpp: the windows' making and ending, the common dialogs.

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QEventLoop>
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "res/templates.h"
#include "ui/qt/qt_backend.h"

class QCloseEvent;
class QContextMenuEvent;
class QHelpEvent;
class QKeyEvent;

namespace quillon::ui {

namespace qt_detail {

using res::ControlKind;

inline QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

inline std::string S(const QString& text) {
  return text.toStdString();
}

// A control of a window, as the template made it.
struct ControlInfo {
  int id = 0;
  ControlKind kind = ControlKind::kOther;
  uint32_t style = 0;
  int group = 0;  // counts the WS_GROUP controls before and at it
  QPointer<QWidget> widget;
};

class DialogWidget;

// A window of this backend. Touched on the GUI thread only, but for
// `alive`, which any thread reads to refuse messages to a window that is
// gone.
struct Window {
  WindowHandle handle = kNoWindow;
  WindowHandle owner = kNoWindow;
  Dialog* dialog = nullptr;  // null from WM_NCDESTROY on
  QPointer<DialogWidget> widget;
  const res::DialogTemplate* templ = nullptr;
  bool modal = false;
  bool hasSystemMenu = false;
  std::vector<ControlInfo> controls;  // in tab order
  std::vector<std::pair<uint32_t, std::string>> systemMenu;
  bool toolTips = false;
  bool ended = false;
  intptr_t result = 0;
  QEventLoop* loop = nullptr;
  bool destroying = false;
  int handling = 0;  // messages being handled now (nested)
  std::atomic<bool> alive{true};

  ControlInfo* Control(int id) {
    for (ControlInfo& c : controls) {
      if (c.id == id && c.widget) return &c;
    }
    return nullptr;
  }
};

// The end of a call carried out on the GUI thread for another thread.
struct Completion {
  std::mutex mutex;
  std::condition_variable done;
  bool running = false;  // on the GUI thread now: no longer cancelled
  bool finished = false;
  bool cancelled = false;  // its window went before it ran
};

extern const QEvent::Type kCallEvent;

struct CallEvent final : QEvent {
  CallEvent(WindowHandle target, std::function<void()> task, std::shared_ptr<Completion> completion)
      : QEvent(kCallEvent),
        target(target),
        task(std::move(task)),
        completion(std::move(completion)) {}
  WindowHandle target;
  std::function<void()> task;
  std::shared_ptr<Completion> completion;  // null for a posted message
};

// The resource script's icon `iconId` with every size its .ico holds, or
// a null icon.
QIcon IconOf(int iconId);

}  // namespace qt_detail

using qt_detail::CallEvent;
using qt_detail::Completion;
using qt_detail::ControlInfo;
using qt_detail::ControlKind;
using qt_detail::IconOf;
using qt_detail::Q;
using qt_detail::S;
using qt_detail::Window;

struct QtBackend::Impl {
  QtBackend* backend = nullptr;
  std::unique_ptr<QApplication> ownApp;
  QThread* gui = nullptr;
  std::unique_ptr<QObject> invoker;

  std::mutex mutex;  // guards windows (the map) and pending
  std::map<WindowHandle, std::shared_ptr<Window>> windows;
  std::vector<std::pair<WindowHandle, std::weak_ptr<Completion>>> pending;
  WindowHandle nextHandle = 0x1000;

  bool OnGui() const { return QThread::currentThread() == gui; }

  std::shared_ptr<Window> Find(WindowHandle handle) {
    std::lock_guard lock(mutex);
    const auto it = windows.find(handle);
    if (it == windows.end() || !it->second->alive.load()) return nullptr;
    return it->second;
  }

  bool Alive(WindowHandle handle) { return Find(handle) != nullptr; }

  // Runs `task` on the GUI thread and waits for it; false when it did not
  // run because `target` (kNoWindow: none) went first.
  bool Call(WindowHandle target, const std::function<void()>& task);

  template <class F>
  auto OnWindow(WindowHandle window, F&& f) -> decltype(f()) {
    using R = decltype(f());
    if constexpr (std::is_void_v<R>) {
      Call(window, [&] { f(); });
    } else {
      R result{};
      Call(window, [&] { result = f(); });
      return result;
    }
  }

  // Lets the calls still waiting for `window` go unanswered.
  void CancelPending(WindowHandle window);

  void RunCall(CallEvent& call);

  // A message to the dialog, then the default processing of what it left.
  intptr_t Deliver(WindowHandle handle, uint32_t message, uintptr_t wParam, intptr_t lParam);

  intptr_t DefaultProcessing(WindowHandle handle, uint32_t message, uintptr_t wParam);

  WindowHandle Make(Dialog& dialog, WindowHandle owner, bool modal);
  void Destroy(WindowHandle handle);
  void Clicked(WindowHandle handle, int id);
};

namespace qt_detail {

// The dialog window: keys, the close box and the context menu go to the
// dialog the Windows way.
class DialogWidget final : public QDialog {
 public:
  DialogWidget(QtBackend::Impl& impl, WindowHandle handle, QWidget* parent, Qt::WindowFlags flags)
      : QDialog(parent, flags), impl_(impl), handle_(handle) {}

  WindowHandle Handle() const { return handle_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

  // Not QDialog's: Escape and the close box are the dialog's to handle.
  void reject() override {}
  void accept() override {}

 private:
  QtBackend::Impl& impl_;
  const WindowHandle handle_;
};

// Hands the calls of other threads to the GUI thread; notifies focus and
// asks for tooltips.
class Invoker final : public QObject {
 public:
  explicit Invoker(QtBackend::Impl& impl) : impl_(impl) {}

  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

  // An edit or combo box that got the focus tells its dialog.
  void Notify(QWidget* widget);

  void ShowTip(QWidget* widget, const QHelpEvent* help);

 private:
  QtBackend::Impl& impl_;
};

}  // namespace qt_detail

using qt_detail::DialogWidget;
using qt_detail::Invoker;

}  // namespace quillon::ui
