// Quillon.exe: the dialog program on the Win32 window backend. The command
// line is ignored; the process ends with the program's exit code, the last
// result shown (-1, that is 0xFFFFFFFF, when none was).

#include <windows.h>

#include "app/writer_app.h"
#include "sim/emulated_line.h"
#include "ui/backend.h"
#include "ui/win32/win32_backend.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  quillon::ui::Win32Backend backend(instance);
  quillon::ui::ScopedBackend installed(backend);
  // "sim" as a port (QUILLON_COMn, QUILLON_LPTn, QUILLON_USB) is the
  // built-in emulated printer, for trying the program without one.
  quillon::sim::InstallBuiltInPrinter();
  quillon::app::CWriterApp app;
  app.Run();
  return static_cast<int>(app.ProcessExitCode());
}
