#pragma once
// What the Win32 window system itself shows of windows, and the user's
// actions on them, for the Win32 backend's tests and the dialog driver tool:
// everything goes through the Win32 API directly, never through
// ui::Backend, so a test compares the backend against the system. Works on
// the windows of this process and, where noted, of another one (a program
// the caller started).
//
// No <windows.h> here: windows are ui::WindowHandle values (HWNDs).

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ui/types.h"

namespace quillon::ui::probe {

// --- Threads, processes, time ----------------------------------------------

uint32_t CurrentThreadId();
uint32_t CurrentProcessId();
uint32_t WindowThread(WindowHandle window);
uint32_t WindowProcess(WindowHandle window);
// Tries `condition` every 10 ms until it holds (true) or `timeoutMs` passed.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs);

// --- Finding windows (any process) -----------------------------------------

// The visible top-level windows of process `processId` (0: this one).
std::vector<WindowHandle> TopLevelWindows(uint32_t processId = 0);
// The first of them whose caption is `caption`; kNoWindow if none.
WindowHandle FindTopLevel(const std::string& caption, uint32_t processId = 0);
WindowHandle WaitForTopLevel(const std::string& caption, int timeoutMs, uint32_t processId = 0);
// Any process.
WindowHandle FindTopLevelAnywhere(const std::string& caption);

// --- One window --------------------------------------------------------------

bool Exists(WindowHandle window);
bool IsVisible(WindowHandle window);
bool IsEnabled(WindowHandle window);
std::string Text(WindowHandle window);
std::string ClassName(WindowHandle window);
uint32_t Style(WindowHandle window);
WindowHandle Owner(WindowHandle window);
std::vector<WindowHandle> Children(WindowHandle window);
WindowHandle Control(WindowHandle dialog, int id);
int ControlId(WindowHandle control);
// Made by ui::Win32Backend (its window property).
bool IsBackendDialog(WindowHandle window);
struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};
// On the screen, in pixels.
Rect WindowRect(WindowHandle window);

// --- Controls of a dialog, by id (any process) -----------------------------

bool ControlEnabled(WindowHandle dialog, int id);
std::string ControlText(WindowHandle dialog, int id);
int ButtonCheck(WindowHandle dialog, int id);
std::vector<std::string> ListEntries(WindowHandle dialog, int id);
int ListSelection(WindowHandle dialog, int id);
struct ProgressState {
  int32_t low = 0;
  int32_t high = 0;
  int32_t pos = 0;
};
ProgressState Progress(WindowHandle dialog, int id);

// --- The user -------------------------------------------------------------

// A click on a button (BM_CLICK), sent: returns once the button and its
// dialog have handled it, after any modal loop the click opened.
void Click(WindowHandle dialog, int id);
// The same, posted: returns at once.
bool PostClick(WindowHandle dialog, int id);
// Picks the entry whose text is exactly `text` and tells the dialog
// (CBN_SELCHANGE), as a pick with the mouse does. False without one.
bool PickListEntry(WindowHandle dialog, int id, const std::string& text);
// The same for a pick of entry `index`, posted (CB_SETCURSEL to the list,
// then CBN_SELCHANGE to the dialog): returns at once. False without the
// list or the entry.
bool PostListPick(WindowHandle dialog, int id, int index);
// A key pressed and released, posted to `window` (the control with the
// focus, as the keyboard would).
inline constexpr int kVkTab = 0x09;
inline constexpr int kVkReturn = 0x0D;
inline constexpr int kVkEscape = 0x1B;
bool PostKey(WindowHandle window, int virtualKey);
intptr_t Send(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
bool Post(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// --- Focus and caret of a thread of this process ---------------------------

WindowHandle FocusOf(uint32_t threadId);
WindowHandle CaretOwnerOf(uint32_t threadId);

// --- Icons, the system menu, tooltips (this process) -----------------------

bool HasIcon(WindowHandle window, IconSize size);
// What the window answers to WM_QUERYDRAGICON (0: none).
uintptr_t DragIcon(WindowHandle window);
// The icon resource `iconId` of the program, as LoadIcon gives it.
uintptr_t ResourceIcon(int iconId);
// The system menu's entries: (command, text); a separator is (0, "").
std::vector<std::pair<uint32_t, std::string>> SystemMenu(WindowHandle window);
// The tooltip window the dialog owns; kNoWindow if none.
WindowHandle ToolTipOf(WindowHandle dialog);
int ToolCount(WindowHandle toolTip);
// Whether the tooltip has a tool for the dialog's control `id`.
bool HasTool(WindowHandle toolTip, WindowHandle dialog, int id);
// Asks the dialog for a control's tip as its tooltip does (TTN_GETDISPINFOA
// or, with `wide`, TTN_GETDISPINFOW); nothing when the answer is empty.
std::optional<std::string> AskToolTip(WindowHandle dialog, int id, bool wide = false);

// --- Message boxes and file dialogs of a process ---------------------------

enum class BoxIcon { kNone, kError, kInformation, kOther };

struct MessageBoxSeen {
  WindowHandle owner = kNoWindow;
  std::string caption;
  std::string text;
  BoxIcon icon = BoxIcon::kNone;
  uint32_t thread = 0;
};

struct FileDialogSeen {
  WindowHandle owner = kNoWindow;
  std::string caption;
  std::vector<std::string> fileTypes;  // the entries of its file type list
  std::string fileName;                // what it was given; "" when cancelled
};

// The message boxes of this process on the screen now, and what each shows.
std::vector<std::pair<WindowHandle, MessageBoxSeen>> OpenMessageBoxes();
// Answers a box with OK (posted: returns at once).
void AnswerMessageBox(WindowHandle box);

// A thread that watches a process's windows for message boxes and file-open
// dialogs: it records what each shows and answers it, the boxes with OK,
// the file dialogs with the next scripted file name (Cancel when none is
// left). The windows of ui::Win32Backend are left alone.
class CommonDialogWatcher {
 public:
  explicit CommonDialogWatcher(uint32_t processId = 0);  // 0: this process
  ~CommonDialogWatcher();
  CommonDialogWatcher(const CommonDialogWatcher&) = delete;
  CommonDialogWatcher& operator=(const CommonDialogWatcher&) = delete;

  // The answer of the next file dialog: a full path ("" cancels).
  void AnswerFileDialog(std::string path);
  // While held, nothing is answered (or recorded): the dialogs stay open.
  void Hold(bool hold);
  std::vector<MessageBoxSeen> MessageBoxes();
  std::vector<FileDialogSeen> FileDialogs();
  // Until at least `count` boxes (file dialogs) were answered.
  bool WaitForMessageBoxes(size_t count, int timeoutMs);
  bool WaitForFileDialogs(size_t count, int timeoutMs);

 private:
  void Run();
  void Look();

  const uint32_t processId_;
  std::mutex mutex_;
  bool stop_ = false;
  bool hold_ = false;
  std::vector<std::string> fileAnswers_;
  std::vector<MessageBoxSeen> boxes_;
  std::vector<FileDialogSeen> fileDialogs_;
  std::vector<WindowHandle> answered_;  // still on the screen
  std::thread thread_;
};

// --- The calling thread's messages ------------------------------------------

// Dispatches the calling thread's messages, with the dialog keyboard for the
// backend's dialogs, until `done` holds (true) or `timeoutMs` passed.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs);

// A hidden window of the thread that makes it, through which other threads
// run tasks there. Make and destroy it on that thread.
class TaskWindow {
 public:
  TaskWindow();
  ~TaskWindow();
  TaskWindow(const TaskWindow&) = delete;
  TaskWindow& operator=(const TaskWindow&) = delete;

  // Sent: runs `task` in whatever loop the thread is in (its own, a modal
  // dialog's, a message box's) and waits for it; directly on the thread
  // itself.
  void Run(const std::function<void()>& task);
  // Posted: `task` runs in turn with the thread's other posted messages;
  // returns at once. Tasks still queued when the window goes are dropped.
  void Start(std::function<void()> task);

 private:
  WindowHandle window_ = kNoWindow;
};

// --- Programs -------------------------------------------------------------

class Process {
 public:
  // Starts `commandLine` (the program's path first, quoted if it has
  // blanks) in `directory` (empty: the caller's). Null when it cannot.
  static std::unique_ptr<Process> Start(const std::string& commandLine,
                                        const std::string& directory = {});
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  uint32_t Id() const { return id_; }
  // The full 32-bit exit code once it has ended; nothing if it is still
  // running after `timeoutMs`.
  std::optional<uint32_t> Wait(int timeoutMs);
  void Kill();

 private:
  Process(void* process, uint32_t id) : process_(process), id_(id) {}
  void* process_;
  uint32_t id_;
};

}  // namespace quillon::ui::probe
