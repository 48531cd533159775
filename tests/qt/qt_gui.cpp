// The GUI thread's helpers of the Qt test programs (see qt_gui.h).

#include "qt/qt_gui.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMetaObject>
#include <QTest>
#include <QThread>
#include <chrono>
#include <thread>

namespace quillon::testing {

namespace {
ui::QtBackend* backend = nullptr;
}  // namespace

ui::QtBackend& QtGuiBackend() {
  return *backend;
}

void SetQtGuiBackend(ui::QtBackend* installed) {
  backend = installed;
}

void OnGui(const std::function<void()>& task) {
  if (QThread::currentThread() == qApp->thread()) {
    task();
    return;
  }
  QMetaObject::invokeMethod(qApp, task, Qt::BlockingQueuedConnection);
}

void Act(std::function<void()> task) {
  QMetaObject::invokeMethod(qApp, std::move(task), Qt::QueuedConnection);
  // Runs after the task, or inside the event loop the task opened.
  QMetaObject::invokeMethod(
      qApp, [] {}, Qt::BlockingQueuedConnection);
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

bool WaitForGui(const std::function<bool()>& condition, int timeoutMs) {
  return WaitUntil([&] { return OnGuiGet([&] { return condition(); }); }, timeoutMs);
}

QWidget* TopLevel(const QString& title) {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->isVisible() && w->windowTitle() == title) return w;
  }
  return nullptr;
}

QMessageBox* ShownMessageBox() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) return box;
  }
  return nullptr;
}

std::optional<SeenBox> CloseMessageBox(int timeoutMs) {
  if (!WaitForGui([] { return ShownMessageBox() != nullptr; }, timeoutMs)) return std::nullopt;
  SeenBox seen;
  Act([&seen] {
    QMessageBox* box = ShownMessageBox();
    seen = SeenBox{box->text().toStdString(), box->windowTitle().toStdString(), box->icon()};
    QTest::mouseClick(static_cast<QWidget*>(box->button(QMessageBox::Ok)), Qt::LeftButton);
  });
  return seen;
}

void ClickControl(ui::WindowHandle window, int id) {
  Act([=] { QTest::mouseClick(QtGuiBackend().ControlWidget(window, id), Qt::LeftButton); });
}

void KeyOnControl(ui::WindowHandle window, int id, Qt::Key key) {
  Act([=] { QTest::keyClick(QtGuiBackend().ControlWidget(window, id), key); });
}

bool PickEntry(ui::WindowHandle window, int id, const QString& text) {
  for (int i = 0; i < 64; ++i) {
    const QString shown = OnGuiGet([=] {
      return qobject_cast<QComboBox*>(QtGuiBackend().ControlWidget(window, id))->currentText();
    });
    if (shown == text) return true;
    KeyOnControl(window, id, Qt::Key_Down);
  }
  return false;
}

bool ChooseFile(ui::WindowHandle window, int browseId, const std::string& path) {
  ClickControl(window, browseId);
  const auto fileDialog = [] {
    return qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
  };
  if (!WaitForGui([&] { return fileDialog() != nullptr; })) return false;
  Act([=] {
    auto* name = fileDialog()->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QTest::keyClicks(name, QString::fromStdString(path));
    QTest::keyClick(name, Qt::Key_Return);
  });
  return WaitForGui([&] { return fileDialog() == nullptr; });
}

ui::WindowHandle WaitForWindow(const QString& title, int timeoutMs) {
  if (!WaitForGui([&] { return TopLevel(title) != nullptr; }, timeoutMs)) return ui::kNoWindow;
  return OnGuiGet([&] { return QtGuiBackend().WindowOf(TopLevel(title)); });
}

}  // namespace quillon::testing
