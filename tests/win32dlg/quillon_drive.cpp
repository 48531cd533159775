// quillon-drive.exe: acts as the user on a dialog program's windows from
// outside, through the window system (scripts/screenshots.sh drives
// Quillon.exe with it under Wine). Each command names the program's window
// by its caption and waits at most TIMEOUT ms (default 10000) for it.
//
//   quillon-drive wait CAPTION [TIMEOUT]        the window is shown
//   quillon-drive gone CAPTION [TIMEOUT]        no window with it is shown
//   quillon-drive click CAPTION ID              a click on button ID (posted)
//   quillon-drive pick CAPTION ID TEXT          the list entry TEXT of list ID
//   quillon-drive browse CAPTION ID PATH        a click on button ID, and the
//                                               file dialog it opens answered
//                                               with PATH
//   quillon-drive box CAPTION [TIMEOUT]         the next message box of the
//                                               window's program: prints its
//                                               text and presses OK
//   quillon-drive list CAPTION ID               prints the entries of list ID
//   quillon-drive text CAPTION ID               prints the text of control ID
//   quillon-drive bar CAPTION ID                prints progress bar ID's
//                                               "LOW HIGH POSITION"
//   quillon-drive await CAPTION BAR LABEL PREFIX FROM TO [TIMEOUT]
//                                               until control LABEL's text
//                                               begins with PREFIX and progress
//                                               bar BAR stands between FROM and
//                                               TO percent of its range
//   quillon-drive rect CAPTION                  prints "X Y WIDTH HEIGHT"
//
// Exit status 0 on success, 1 when the command failed, 2 on bad usage.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/win32/win32_probe.h"

namespace {

namespace probe = quillon::ui::probe;
using quillon::ui::kNoWindow;
using quillon::ui::WindowHandle;

int Usage() {
  std::fprintf(
      stderr,
      "usage: quillon-drive wait|gone|click|pick|browse|box|list|text|bar|await|rect CAPTION "
      "[ARGS...]\n");
  return 2;
}

int Fail(const std::string& what) {
  std::fprintf(stderr, "quillon-drive: %s\n", what.c_str());
  return 1;
}

int Timeout(const std::vector<std::string>& args, size_t at) {
  return args.size() > at ? std::atoi(args[at].c_str()) : 10000;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() < 2) return Usage();
  const std::string& command = args[0];
  const std::string& caption = args[1];

  if (command == "gone") {
    return probe::WaitUntil([&] { return probe::FindTopLevelAnywhere(caption) == kNoWindow; },
                            Timeout(args, 2))
               ? 0
               : Fail("'" + caption + "' is still shown");
  }

  const int waitMs = command == "wait" || command == "box" ? Timeout(args, 2) : 10000;
  const int awaitMs = command == "await" ? Timeout(args, 7) : 0;
  WindowHandle window = kNoWindow;
  probe::WaitUntil([&] { return (window = probe::FindTopLevelAnywhere(caption)) != kNoWindow; },
                   waitMs);
  if (window == kNoWindow) return Fail("no window '" + caption + "'");

  if (command == "wait") return 0;
  if (command == "rect") {
    const probe::Rect r = probe::WindowRect(window);
    std::printf("%d %d %d %d\n", r.x, r.y, r.width, r.height);
    return 0;
  }
  if (command == "list" && args.size() == 3) {
    for (const std::string& entry : probe::ListEntries(window, std::atoi(args[2].c_str()))) {
      std::printf("%s\n", entry.c_str());
    }
    return 0;
  }
  if (command == "text" && args.size() == 3) {
    std::printf("%s\n", probe::ControlText(window, std::atoi(args[2].c_str())).c_str());
    return 0;
  }
  if (command == "bar" && args.size() == 3) {
    const probe::ProgressState bar = probe::Progress(window, std::atoi(args[2].c_str()));
    std::printf("%d %d %d\n", bar.low, bar.high, bar.pos);
    return 0;
  }
  if (command == "await" && args.size() >= 7) {
    const int bar = std::atoi(args[2].c_str());
    const int label = std::atoi(args[3].c_str());
    const std::string& prefix = args[4];
    const int64_t from = std::atoi(args[5].c_str());
    const int64_t to = std::atoi(args[6].c_str());
    const bool reached = probe::WaitUntil(
        [&] {
          if (probe::ControlText(window, label).rfind(prefix, 0) != 0) return false;
          const probe::ProgressState p = probe::Progress(window, bar);
          const int64_t span = int64_t{p.high} - p.low;
          const int64_t at = int64_t{p.pos} - p.low;
          return span > 0 && at * 100 >= from * span && at * 100 <= to * span;
        },
        awaitMs);
    return reached ? 0 : Fail("the progress did not come to " + args[5] + "-" + args[6] + "%");
  }
  if (command == "click" && args.size() == 3) {
    return probe::PostClick(window, std::atoi(args[2].c_str())) ? 0 : Fail("no button " + args[2]);
  }
  if (command == "pick" && args.size() == 4) {
    return probe::PickListEntry(window, std::atoi(args[2].c_str()), args[3])
               ? 0
               : Fail("list " + args[2] + " has no entry '" + args[3] + "'");
  }
  if (command == "browse" && args.size() == 4) {
    probe::CommonDialogWatcher watcher(probe::WindowProcess(window));
    watcher.AnswerFileDialog(args[3]);
    if (!probe::PostClick(window, std::atoi(args[2].c_str()))) return Fail("no button " + args[2]);
    if (!watcher.WaitForFileDialogs(1, 20000)) return Fail("no file dialog came");
    return 0;
  }
  if (command == "box") {
    probe::CommonDialogWatcher watcher(probe::WindowProcess(window));
    if (!watcher.WaitForMessageBoxes(1, waitMs)) return Fail("no message box came");
    std::printf("%s\n", watcher.MessageBoxes().front().text.c_str());
    return 0;
  }
  return Usage();
}
