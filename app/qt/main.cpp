// quillon: the dialog program on Linux, over the Qt window backend. Qt takes
// its own options (-platform, -display, ...); the program reads none of its
// own. The exit status is the last result shown as a process can carry it:
// 1 after a successful download, 255 when no result was shown (-1), and
// any other result code modulo 256. Scripts use quillon-flash, whose exit
// status and result line are exact.

#include "app/writer_app.h"
#include "sim/emulated_line.h"
#include "ui/backend.h"
#include "ui/qt/qt_backend.h"

int main(int argc, char** argv) {
  quillon::ui::QtBackend backend(argc, argv);
  quillon::ui::ScopedBackend installed(backend);
  // "sim" as a port (QUILLON_COMn, QUILLON_LPTn, QUILLON_USB) is the
  // built-in emulated printer, for trying the program without one.
  quillon::sim::InstallBuiltInPrinter();
  quillon::app::CWriterApp app;
  app.Run();
  return static_cast<int>(app.ProcessExitCode() & 0xFF);
}
