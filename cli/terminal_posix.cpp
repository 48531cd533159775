// The terminal's width on POSIX systems, asked for anew each time, so that a
// resized window is followed.

#include <sys/ioctl.h>
#include <unistd.h>

#include "cli/terminal.h"

namespace quillon::cli {

int StderrColumns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

}  // namespace quillon::cli
