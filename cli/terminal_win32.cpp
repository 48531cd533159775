// The console's width on Windows: the visible part of its screen buffer,
// asked for anew each time, so that a resized window is followed.

#include <windows.h>

#include "cli/terminal.h"

namespace quillon::cli {

int StderrColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

bool IsOwnTerminal(const std::string&) {
  return false;  // a console is never opened as a port
}

}  // namespace quillon::cli
