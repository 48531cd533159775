#pragma once
// The terminal the progress bar is drawn on (terminal_posix.cpp,
// terminal_win32.cpp).

#include <string>

namespace quillon::cli {

// The width of the terminal behind the standard error stream, in columns;
// 0 when it is not a terminal or its width is not known.
int StderrColumns();

// Whether `path` names the terminal the program runs on (/dev/tty, or the
// terminal on one of the standard descriptors). Looks at the names only: the
// device is never opened.
bool IsOwnTerminal(const std::string& path);

}  // namespace quillon::cli
