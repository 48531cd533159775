// The terminal's width on POSIX systems, asked for anew each time, so that a
// resized window is followed.

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/terminal.h"

namespace quillon::cli {

int StderrColumns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

bool IsOwnTerminal(const std::string& path) {
  struct stat port {};
  if (path.empty() || stat(path.c_str(), &port) != 0 || !S_ISCHR(port.st_mode)) return false;
  struct stat tty {};
  if (stat("/dev/tty", &tty) == 0 && tty.st_rdev == port.st_rdev) return true;
  for (int standard = STDIN_FILENO; standard <= STDERR_FILENO; ++standard) {
    struct stat st {};
    if (isatty(standard) && fstat(standard, &st) == 0 && st.st_rdev == port.st_rdev) return true;
  }
  return false;
}

}  // namespace quillon::cli
