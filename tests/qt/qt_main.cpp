// The Qt test program: the QApplication and the window backend live on the
// main thread, which runs the event loop; the tests run on a thread of
// their own. Without a display, Qt's offscreen platform is used.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMetaObject>
#include <cstdlib>
#include <future>
#include <thread>

#include "qt/qt_gui.h"
#include "sim/emulated_line.h"
#include "ui/backend.h"

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::testing::InitGoogleTest(&argc, argv);
  quillon::ui::QtBackend backend(argc, argv);
  quillon::ui::ScopedBackend installed(backend);
  quillon::testing::SetQtGuiBackend(&backend);
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
