// quillon-qt-screens OUTDIR IMAGE: takes the pictures of the Linux dialog
// program for the README. It runs the program's main dialog over the Qt
// backend, acts as the user (Serial Port, COM1, the font set IMAGE, FLASH
// NOW) into the built-in printer that QUILLON_COM1 names, and saves
//   OUTDIR/linux-main-dialog.png      the main dialog with Serial Port chosen
//   OUTDIR/linux-progress-window.png  the progress window on the way
// Exits 0 once the download has completed and the program ended.

#include <QApplication>
#include <QMetaObject>
#include <QPixmap>
#include <QProgressBar>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "app/writer_app.h"
#include "qt/qt_gui.h"
#include "res/resource.h"
#include "sim/emulated_line.h"
#include "ui/backend.h"

namespace quillon::testing {
namespace {

const QString kMainCaption = QStringLiteral("Standard Model Quillon  Ver 2.02");
const QString kProgressCaption = QStringLiteral("Quillon - On Transmission...");

bool Save(ui::WindowHandle window, const QString& path) {
  const bool saved = OnGuiGet([&] { return QtGuiBackend().Widget(window)->grab().save(path); });
  std::fprintf(stderr, "%s%s\n", path.toStdString().c_str(), saved ? "" : ": not written");
  return saved;
}

// The whole session; the exit status.
int Drive(const QString& out, const std::string& image) {
  auto app = std::make_unique<app::CWriterApp>();
  std::atomic<bool> ended{false};
  Act([&] {
    app->Run();
    ended = true;
  });
  const ui::WindowHandle main = WaitForWindow(kMainCaption);
  if (main == ui::kNoWindow) return 1;
  ClickControl(main, IDC_SERIAL);
  if (!Save(main, out + QStringLiteral("/linux-main-dialog.png"))) return 1;

  if (!PickEntry(main, IDC_PORT_LIST, QStringLiteral("COM1")) ||
      !PickEntry(main, IDC_TYPE_LIST, QStringLiteral("US&EU FONT")) ||
      !ChooseFile(main, IDC_BROWSE, image)) {
    return 1;
  }
  ClickControl(main, IDC_FLASH_NOW);
  const ui::WindowHandle progress = WaitForWindow(kProgressCaption, 60000);
  if (progress == ui::kNoWindow) return 1;
  // A sector on its way: the bar between a quarter and three quarters of
  // its range while the status says Downloading.
  const bool midway = WaitForGui(
      [&] {
        auto* bar =
            qobject_cast<QProgressBar*>(QtGuiBackend().ControlWidget(progress, IDC_PROGRESS_BAR));
        const int span = bar ? bar->maximum() - bar->minimum() : 0;
        const QString status =
            QString::fromStdString(QtGuiBackend().ControlText(progress, IDC_PROGRESS_GROUP));
        return span > 0 && status.startsWith(QStringLiteral("Downloading")) &&
               bar->value() - bar->minimum() >= span / 4 &&
               bar->value() - bar->minimum() <= span * 3 / 4;
      },
      120000);
  if (!midway || !Save(progress, out + QStringLiteral("/linux-progress-window.png"))) return 1;

  const auto box = CloseMessageBox(180000);
  std::fprintf(stderr, "The download ended: %s\n", box ? box->text.c_str() : "(no message)");
  if (!box || box->text != "Download successfully completed!") return 1;
  if (!WaitForGui([&] { return QtGuiBackend().IsControlEnabled(main, IDC_EXIT); })) return 1;
  ClickControl(main, IDC_EXIT);
  return WaitForGui([&] { return ended.load(); }) ? 0 : 1;
}

}  // namespace
}  // namespace quillon::testing

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: quillon-qt-screens OUTDIR IMAGE\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  const std::string image = argv[2];
  int qtArgc = 1;
  quillon::ui::QtBackend backend(qtArgc, argv);
  quillon::ui::ScopedBackend installed(backend);
  quillon::testing::SetQtGuiBackend(&backend);
  quillon::sim::InstallBuiltInPrinter();

  int status = 1;
  std::thread driver([&] {
    status = quillon::testing::Drive(out, image);
    QMetaObject::invokeMethod(
        qApp, [] { QApplication::exit(0); }, Qt::QueuedConnection);
  });
  QApplication::exec();
  driver.join();
  return status;
}
