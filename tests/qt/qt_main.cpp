// The Qt test program: the QApplication and the window backend live on the
// main thread, which runs the event loop; the tests run on a thread of
// their own. Without a display, Qt's offscreen platform is used.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMetaObject>
#include <QTest>
#include <QThread>
#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>

#include "qt/qt_gui.h"
#include "sim/emulated_line.h"
#include "ui/backend.h"

namespace quillon::testing {

namespace {
ui::QtBackend* backend = nullptr;
}  // namespace

ui::QtBackend& QtGuiBackend() {
  return *backend;
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

bool WaitForGui(const std::function<bool()>& condition, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!OnGuiGet([&] { return condition(); })) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
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

}  // namespace quillon::testing

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::testing::InitGoogleTest(&argc, argv);
  quillon::ui::QtBackend backend(argc, argv);
  quillon::ui::ScopedBackend installed(backend);
  quillon::testing::backend = &backend;
  // "sim" as a port is the built-in emulated printer, as in quillon.
  quillon::sim::InstallBuiltInPrinter();

  std::promise<int> result;
  std::thread tests([&] {
    result.set_value(RUN_ALL_TESTS());
    QMetaObject::invokeMethod(
        qApp, [] { QApplication::exit(0); }, Qt::QueuedConnection);
  });
  QApplication::exec();
  tests.join();
  return result.get_future().get();
}
