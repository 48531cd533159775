#include "ui/qt/qt_backend.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileDialog>
#include <QMessageBox>
#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "res/styles.h"
#include "res/templates.h"
#include "ui/dialog.h"
#include "ui/qt/qt_impl.h"

namespace quillon::ui {

std::string QtFileFilter(const std::string& filter) {
  // Pairs of description and patterns, each ended by '|'.
  std::vector<std::string> parts;
  std::string part;
  for (const char c : filter) {
    if (c == '|') {
      parts.push_back(part);
      part.clear();
    } else {
      part.push_back(c);
    }
  }
  if (!part.empty()) parts.push_back(part);
  std::string out;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    std::string description = parts[i];
    // Qt reads the patterns from the parentheses: the description keeps its
    // words, the patterns are the pair's second part.
    if (const size_t open = description.find('('); open != std::string::npos) {
      description.erase(open);
    }
    while (!description.empty() && description.back() == ' ') description.pop_back();
    std::string patterns = parts[i + 1];
    std::replace(patterns.begin(), patterns.end(), ';', ' ');
    if (!out.empty()) out += ";;";
    out += description + " (" + patterns + ")";
  }
  return out;
}

// --- Windows --------------------------------------------------------------

void QtBackend::Impl::Destroy(WindowHandle handle) {
  std::shared_ptr<Window> win = Find(handle);
  if (!win || win->destroying) return;
  win->destroying = true;
  // The windows it owns go first, as on Windows.
  std::vector<WindowHandle> owned;
  {
    std::lock_guard lock(mutex);
    for (const auto& [h, w] : windows) {
      if (w->owner == handle && w->alive.load()) owned.push_back(h);
    }
  }
  for (const WindowHandle h : owned) Destroy(h);

  if (win->widget) win->widget->hide();
  Deliver(handle, kWmDestroy, 0, 0);
  win->alive.store(false);
  CancelPending(handle);
  if (Dialog* dialog = win->dialog) {
    win->dialog = nullptr;
    bool handled = false;
    dialog->DialogProc(kWmNcDestroy, 0, 0, handled);  // the dialog may be gone after this
  }
  if (win->loop) win->loop->quit();
  if (DialogWidget* widget = win->widget) {
    // Still in one of its own handlers: deleted once they are over.
    if (win->handling > 0) {
      widget->deleteLater();
    } else {
      delete widget;
    }
  }
  std::lock_guard lock(mutex);
  windows.erase(handle);
}

QtBackend::QtBackend(int& argc, char** argv) : impl_(new Impl) {
  impl_->backend = this;
  if (!QApplication::instance()) impl_->ownApp = std::make_unique<QApplication>(argc, argv);
  impl_->gui = QApplication::instance()->thread();
  impl_->invoker = std::make_unique<Invoker>(*impl_);
  impl_->invoker->moveToThread(impl_->gui);
}

QtBackend::~QtBackend() {
  std::vector<WindowHandle> left;
  {
    std::lock_guard lock(impl_->mutex);
    for (const auto& [h, w] : impl_->windows) left.push_back(h);
  }
  for (const WindowHandle h : left) impl_->Destroy(h);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::removePostedEvents(impl_->invoker.get());
  impl_->invoker.reset();
  impl_->ownApp.reset();
  delete impl_;
}

intptr_t QtBackend::RunModal(Dialog& dialog, WindowHandle owner) {
  intptr_t result = -1;
  impl_->Call(kNoWindow, [&] {
    const WindowHandle handle = impl_->Make(dialog, owner, true);
    if (handle == kNoWindow) return;
    std::shared_ptr<Window> win = impl_->Find(handle);
    if (win && !win->ended && win->widget) {
      // Like a modal dialog on Windows, it keeps the user from its owner
      // (and only from it: a modeless window of no owner stays usable).
      if (win->widget->parentWidget()) win->widget->setWindowModality(Qt::WindowModal);
      win->widget->show();
      win->widget->raise();
      win->widget->activateWindow();
      QEventLoop loop;
      win->loop = &loop;
      loop.exec(QEventLoop::DialogExec);
      win->loop = nullptr;
    }
    if (!win) {
      std::lock_guard lock(impl_->mutex);
      const auto it = impl_->windows.find(handle);
      if (it != impl_->windows.end()) win = it->second;
    }
    result = win && win->ended ? win->result : -1;
    impl_->Destroy(handle);
  });
  return result;
}

WindowHandle QtBackend::CreateModeless(Dialog& dialog, WindowHandle owner) {
  WindowHandle handle = kNoWindow;
  impl_->Call(kNoWindow, [&] {
    handle = impl_->Make(dialog, owner, false);
    const std::shared_ptr<Window> win = impl_->Find(handle);
    if (win && win->widget && (win->templ->style & res::kWsVisible)) win->widget->show();
  });
  return handle;
}

void QtBackend::EndDialog(WindowHandle window, intptr_t result) {
  impl_->OnWindow(window, [&] {
    const std::shared_ptr<Window> win = impl_->Find(window);
    if (!win) return;
    win->ended = true;
    win->result = result;
    if (win->loop) {
      win->loop->quit();
    } else if (!win->modal && win->widget) {
      win->widget->hide();
    }
  });
}

void QtBackend::DestroyWindow(WindowHandle window) {
  impl_->OnWindow(window, [&] { impl_->Destroy(window); });
}

void QtBackend::ShowWindow(WindowHandle window, bool visible) {
  impl_->OnWindow(window, [&] {
    if (QWidget* w = Widget(window)) w->setVisible(visible);
  });
}

void QtBackend::UpdateWindow(WindowHandle window) {
  impl_->OnWindow(window, [&] {
    if (QWidget* w = Widget(window)) w->repaint();
  });
}

bool QtBackend::IsWindowThread(WindowHandle window) {
  return impl_->OnGui() && impl_->Alive(window);
}

void QtBackend::SetIcon(WindowHandle window, int iconId, IconSize) {
  impl_->OnWindow(window, [&] {
    if (QWidget* w = Widget(window)) w->setWindowIcon(IconOf(iconId));
  });
}

void QtBackend::AppendSystemMenu(WindowHandle window, uint32_t command, const std::string& text) {
  impl_->OnWindow(window, [&] {
    if (const auto win = impl_->Find(window); win && win->hasSystemMenu) {
      win->systemMenu.emplace_back(command, text);
    }
  });
}

void QtBackend::EnableToolTips(WindowHandle window, bool enable) {
  impl_->OnWindow(window, [&] {
    if (const auto win = impl_->Find(window)) win->toolTips = enable;
  });
}

// --- Common dialogs -------------------------------------------------------

int QtBackend::ShowMessageBox(WindowHandle owner, const std::string& text,
                              const std::string& caption, uint32_t flags) {
  impl_->Call(kNoWindow, [&] {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    if ((flags & 0xF0) == kMbIconError) icon = QMessageBox::Critical;
    if ((flags & 0xF0) == kMbIconInformation) icon = QMessageBox::Information;
    QMessageBox box(icon, Q(caption), Q(text), QMessageBox::Ok, Widget(owner));
    box.setTextFormat(Qt::PlainText);
    box.exec();
  });
  return kIdOkAnswer;
}

std::optional<std::string> QtBackend::OpenFileDialog(WindowHandle owner,
                                                     const FileDialogRequest& request) {
  std::optional<std::string> chosen;
  impl_->Call(kNoWindow, [&] {
    QFileDialog dialog(Widget(owner));
    dialog.setFileMode((request.flags & kOfnFileMustExist) ? QFileDialog::ExistingFile
                                                           : QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (!request.filter.empty()) dialog.setNameFilter(Q(QtFileFilter(request.filter)));
    if (!request.defaultExtension.empty()) dialog.setDefaultSuffix(Q(request.defaultExtension));
    if (!request.initialName.empty()) dialog.selectFile(Q(request.initialName));
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
      chosen = S(dialog.selectedFiles().front());
    }
  });
  return chosen;
}

}  // namespace quillon::ui
