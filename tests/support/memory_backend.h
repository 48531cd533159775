#pragma once
// The in-memory window backend: dialogs without a screen. Windows are made
// from the program's copy of the dialog templates and keep their controls'
// state in memory; the thread that creates a window is its user-interface
// thread, with a message queue of its own. Every wait (for a message, for a
// sent message's answer) is a wait on the process clock, so on a
// platform::VirtualClock a whole download with its pauses runs in
// milliseconds and always in the same order.
//
// Message boxes are recorded and answered OK at once; file-open dialogs are
// answered from a script. A test acts as the user from its own thread
// (Click, SelectListItem, PressEnter, ...): each action is queued as input
// for the window's thread, after the messages sent and posted to it, and
// returns once handled.
//
// All state is guarded by the clock's lock (changed in Clock::Update), which
// lets any thread wait on it with Clock::WaitUntil. Destroyed windows stay
// readable (marked destroyed) for the rest of the backend's life.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ui/backend.h"

namespace quillon::ui {

// How a message reached a dialog procedure.
enum class Delivery {
  kDirect,  // sent from the window's own thread
  kSent,    // sent from another thread, which waited
  kPosted,  // queued
  kInput,   // the user's action
  kSystem,  // made by the window system (initialisation, default processing)
};

struct MessageRecord {
  int64_t timeMs = 0;
  WindowHandle window = kNoWindow;
  int templateId = 0;
  uint32_t message = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
  Delivery delivery = Delivery::kDirect;
  // The sending or posting thread (the window's own for input and for what
  // the window system makes).
  std::thread::id from;
};

struct MessageBoxRecord {
  int64_t timeMs = 0;
  WindowHandle owner = kNoWindow;
  int ownerTemplate = 0;  // 0 without an owner
  std::string text;
  std::string caption;
  uint32_t flags = 0;
  std::thread::id thread;  // the thread that showed it
};

struct FileDialogRecord {
  WindowHandle owner = kNoWindow;
  FileDialogRequest request;
  bool scripted = false;  // false: nothing was scripted; it was cancelled
  std::optional<std::string> answer;
};

// One value a control was given, and when.
struct ValueChange {
  int64_t timeMs = 0;
  std::string text;
  int32_t value = 0;
};

struct ControlState {
  res::ControlKind kind = res::ControlKind::kOther;
  int id = 0;
  std::string className;
  uint32_t style = 0;
  res::Rect rect;
  int imageId = 0;
  std::string text;  // a drop-down list shows its selected entry instead
  bool enabled = true;
  bool visible = true;
  int check = kUnchecked;
  std::vector<std::string> items;
  int selection = kListNone;
  int32_t low = 0;  // progress bar
  int32_t high = 100;
  int32_t pos = 0;
  std::vector<ValueChange> textChanges;  // every SetControlText
  std::vector<ValueChange> posChanges;   // every progress position set (as shown)

  // The entry shown: the selected one, or "".
  std::string SelectedText() const {
    return selection >= 0 && selection < static_cast<int>(items.size())
               ? items[static_cast<size_t>(selection)]
               : std::string();
  }
};

struct WindowState {
  WindowHandle handle = kNoWindow;
  int templateId = 0;
  std::string caption;
  uint32_t style = 0;
  uint32_t exStyle = 0;
  WindowHandle owner = kNoWindow;
  bool modal = false;
  bool initialised = false;  // WM_INITDIALOG has been handled
  bool visible = false;
  bool enabled = true;  // false while a modal dialog it owns is open
  bool minimised = false;
  bool ended = false;  // EndDialog was called
  bool destroyed = false;
  intptr_t result = 0;  // the EndDialog value
  std::thread::id thread;
  std::vector<ControlState> controls;  // in tab order
  int focus = 0;                       // control id; 0 for none
  CaretState caret = CaretState::kNone;
  int bigIcon = 0;
  int smallIcon = 0;
  std::vector<std::pair<uint32_t, std::string>> systemMenu;  // appended entries
  bool toolTips = false;
  int updates = 0;  // UpdateWindow calls
};

class MemoryBackend final : public Backend {
 public:
  // How long (clock time) the test-side calls wait before they give up.
  static constexpr int64_t kPatienceMs = 3'600'000;

  MemoryBackend();
  ~MemoryBackend() override;
  MemoryBackend(const MemoryBackend&) = delete;
  MemoryBackend& operator=(const MemoryBackend&) = delete;

  // Templates a test adds to the resource script's (same id: the test's).
  void AddTemplate(res::DialogTemplate t);

  // Backend.
  const res::DialogTemplate* FindTemplate(int templateId) override;
  intptr_t RunModal(Dialog& dialog, WindowHandle owner) override;
  WindowHandle CreateModeless(Dialog& dialog, WindowHandle owner) override;
  void EndDialog(WindowHandle window, intptr_t result) override;
  void DestroyWindow(WindowHandle window) override;
  void ShowWindow(WindowHandle window, bool visible) override;
  void UpdateWindow(WindowHandle window) override;
  bool IsWindowThread(WindowHandle window) override;
  void SetIcon(WindowHandle window, int iconId, IconSize size) override;
  void AppendSystemMenu(WindowHandle window, uint32_t command, const std::string& text) override;
  void EnableToolTips(WindowHandle window, bool enable) override;
  void EnableControl(WindowHandle window, int id, bool enable) override;
  bool IsControlEnabled(WindowHandle window, int id) override;
  bool SetControlText(WindowHandle window, int id, const std::string& text) override;
  std::string ControlText(WindowHandle window, int id) override;
  void SetCheck(WindowHandle window, int id, int state) override;
  int Check(WindowHandle window, int id) override;
  void ListReset(WindowHandle window, int id) override;
  int ListAdd(WindowHandle window, int id, const std::string& text) override;
  int ListCount(WindowHandle window, int id) override;
  std::string ListItemText(WindowHandle window, int id, int index) override;
  int ListSelection(WindowHandle window, int id) override;
  int ListSetSelection(WindowHandle window, int id, int index) override;
  int ListSelectText(WindowHandle window, int id, const std::string& text) override;
  void SetFocus(WindowHandle window, int id) override;
  void HideCaret(WindowHandle window) override;
  void DestroyCaret(WindowHandle window) override;
  void SetProgressRange(WindowHandle window, int id, int32_t low, int32_t high) override;
  void SetProgressPos(WindowHandle window, int id, int32_t pos) override;
  int ShowMessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                     uint32_t flags) override;
  std::optional<std::string> OpenFileDialog(WindowHandle owner,
                                            const FileDialogRequest& request) override;
  intptr_t Send(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) override;
  bool Post(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) override;

  // The user, from a thread other than the window's. Each returns false when
  // the action cannot be taken (no such window or control; the window is
  // hidden or disabled; the control is disabled), and otherwise once the
  // window's thread has handled it or waits for input again (the action
  // opened a modal dialog).
  bool Click(WindowHandle window, int id);  // push button, radio button, check box
  bool SelectListItem(WindowHandle window, int id, int index);
  bool SelectListItem(WindowHandle window, int id, const std::string& text);  // exact text
  bool Focus(WindowHandle window, int id);
  // Enter: the default push button if enabled (nothing if disabled), IDOK
  // when the dialog has none.
  bool PressEnter(WindowHandle window);
  bool PressEscape(WindowHandle window);  // IDCANCEL
  bool CloseBox(WindowHandle window);     // false when the window has no system menu
  bool AltF4(WindowHandle window);
  bool SystemCommand(WindowHandle window, uint32_t command);
  // The tip the control shows on hover; nothing without one or when the
  // window has no tooltips.
  std::optional<std::string> ToolTip(WindowHandle window, int id);
  // Runs `task` on the window's thread and waits for it (reading what only
  // that thread may touch).
  bool RunOnWindowThread(WindowHandle window, const std::function<void()>& task);

  // A thread's own message loop, for a thread that makes modeless windows
  // outside any modal dialog: serves the calling thread's windows until
  // `stop` holds (it is called under the backend's lock: change what it
  // reads with Touch).
  void RunMessageLoop(const std::function<bool()>& stop);
  // Runs `task` on `thread` in whatever loop it runs (its message loop, a
  // modal dialog's), ahead of posted messages, and waits for it, as for a
  // sent message.
  void RunOnThread(std::thread::id thread, const std::function<void()>& task);
  // Queues `task` for `thread` behind the messages posted to it, and
  // returns at once.
  void StartOnThread(std::thread::id thread, std::function<void()> task);
  // The dialog object behind a window; null once the window is destroyed.
  // Only on the window's thread (elsewhere the object may go meanwhile).
  Dialog* DialogOf(WindowHandle window);
  // Ends a modal dialog (-1) or destroys a modeless one, for a test's
  // clean-up after a failure.
  void ForceClose(WindowHandle window);

  // The answers of the next file-open dialogs, in order. With none left a
  // dialog is cancelled (and recorded as unscripted).
  void ScriptFileOpen(std::string path);
  void ScriptFileCancel();

  // Reading, from any thread.
  // The newest initialised, not destroyed window made from `templateId`.
  WindowHandle FindDialog(int templateId);
  std::optional<WindowState> Window(WindowHandle window);
  std::optional<ControlState> Control(WindowHandle window, int id);
  std::vector<MessageRecord> Messages();
  std::vector<MessageBoxRecord> MessageBoxes();
  std::vector<FileDialogRecord> FileDialogs();

  // Waits until `condition` (called on the waiting thread, outside the lock)
  // holds; it is tried again after each change of the windows, messages,
  // boxes or dialogs. False once `timeoutMs` of clock time passed without.
  bool WaitFor(const std::function<bool()>& condition, int64_t timeoutMs = kPatienceMs);
  // Waits for a window made from `templateId`; kNoWindow if none comes.
  WindowHandle WaitForDialog(int templateId, int64_t timeoutMs = kPatienceMs);
  // Changes a test's own state under the backend's lock and lets WaitFor
  // look again.
  void Touch(const std::function<void()>& change);
  // Reads such state under the lock (no change: WaitFor does not wake).
  void Peek(const std::function<void()>& read);
  // Called on the window's thread with every message just before its dialog
  // procedure gets it.
  void SetMessageObserver(std::function<void(const MessageRecord&)> observer);

 private:
  struct Completion {
    bool started = false;
    bool done = false;
    intptr_t result = 0;
  };
  struct Item {
    WindowHandle window = kNoWindow;
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
    std::function<void()> task;  // run instead of delivering a message
    std::shared_ptr<Completion> completion;
    Delivery delivery = Delivery::kPosted;
    std::thread::id from;
  };
  struct Queue {
    std::deque<Item> sent;
    std::deque<Item> posted;
    std::deque<Item> input;
    bool idle = false;  // its thread waits for a message
  };
  struct Win {
    WindowState state;
    Dialog* dialog = nullptr;
    std::shared_ptr<Queue> queue;
    bool destroying = false;
  };

  void Locked(const std::function<void()>& f);
  Win* FindLocked(WindowHandle window);
  Win* LiveLocked(WindowHandle window);  // null once destroyed
  ControlState* ControlLocked(WindowHandle window, int id);
  // Whether `window` belongs to another thread than the caller.
  bool Foreign(WindowHandle window);
  template <class F>
  auto OnOwner(WindowHandle window, F&& f) -> decltype(f());
  void RunOnOwner(WindowHandle window, const std::function<void()>& f);
  // On the window's thread, under the lock: f(control) for control `id`,
  // or `none` when the window has no such control.
  template <class T, class F>
  T OnControl(WindowHandle window, int id, T none, F&& f);
  // Counts a change of what the windows show (with the lock); `result`.
  template <class V, class T>
  T Changed(const V&, T result) {
    ++generation_;
    return result;
  }

  WindowHandle Make(Dialog& dialog, WindowHandle owner, bool modal);
  void Initialise(WindowHandle window);
  void SetWindowEnabled(WindowHandle window, bool enable);
  void Pump(Queue& queue, const std::function<bool()>& stop);
  bool TakeLocked(Queue& queue, Item& item);
  void Execute(Item& item);
  intptr_t Deliver(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam,
                   Delivery delivery, std::thread::id from);
  intptr_t DefaultProcessing(WindowHandle window, uint32_t message, uintptr_t wParam);
  bool Act(WindowHandle window, std::function<bool()> check, std::function<void()> perform);
  // The user's action `perform` on `window`, if the user can reach it (and
  // `also` holds of it, or of its enabled control `id`).
  bool UserAct(WindowHandle window, const std::function<bool(const Win&)>& also,
               std::function<void()> perform);
  bool UserActOn(WindowHandle window, int id, const std::function<bool(const ControlState&)>& also,
                 std::function<void()> perform);
  // Input the user's action makes, delivered from the calling thread.
  void Input(WindowHandle window, uint32_t message, uintptr_t wParam);
  bool Usable(WindowHandle window);  // with the lock: initialised, shown, enabled
  std::shared_ptr<Queue> QueueLocked(std::thread::id thread);

  std::deque<res::DialogTemplate> templates_;
  std::map<WindowHandle, std::unique_ptr<Win>> windows_;
  std::map<std::thread::id, std::shared_ptr<Queue>> queues_;
  WindowHandle nextHandle_ = 0x1000;
  std::deque<std::optional<std::string>> fileAnswers_;
  std::vector<MessageRecord> messages_;
  std::vector<MessageBoxRecord> boxes_;
  std::vector<FileDialogRecord> fileDialogs_;
  std::function<void(const MessageRecord&)> observer_;
  uint64_t generation_ = 0;  // counts changes, for WaitFor
};

}  // namespace quillon::ui
