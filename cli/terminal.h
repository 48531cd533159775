#pragma once
// The terminal the progress bar is drawn on (terminal_posix.cpp,
// terminal_win32.cpp).

namespace quillon::cli {

// The width of the terminal behind the standard error stream, in columns;
// 0 when it is not a terminal or its width is not known.
int StderrColumns();

}  // namespace quillon::cli
