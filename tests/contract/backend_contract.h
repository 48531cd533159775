#pragma once
// What every window backend must do, written once and run by each backend's
// test program against its backend: a typed, parameterised suite over a
// harness type (a contract::Harness), instantiated as
//
//   INSTANTIATE_TYPED_TEST_SUITE_P(MemoryContract, BackendContract, MemoryHarness);
//
// It uses only the program's own templates (IDD_MAIN, IDD_ABOUT,
// IDD_PROGRESS): a backend that builds its windows from the compiled
// resources has no others.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/thread.h"
#include "res/resource.h"
#include "ui/backend.h"
#include "ui/dialog.h"

namespace quillon::contract {

// How long the suite waits for anything the UI thread does: long, because
// some window systems are slow under test.
inline constexpr int kPatienceMs = 60'000;

struct ProgressView {
  int32_t low = 0;
  int32_t high = 0;
  int32_t pos = 0;
  bool operator==(const ProgressView&) const = default;
};

enum class BoxIcon { kNone, kError, kInformation, kOther };

struct BoxView {
  std::string text;
  std::string caption;
  BoxIcon icon = BoxIcon::kNone;
};

// A file dialog as the user met it: the entries of its file type list.
struct FileDialogView {
  std::vector<std::string> fileTypes;
};

// What the suite needs of a backend's test harness (default-constructible).
// It installs the backend for its lifetime and owns the UI thread: the one
// thread that makes the windows and runs their loops. The test body runs on
// another thread, the test's thread, and calls everything below from there.
// On destruction the harness closes what a failed test left open (message
// boxes, windows) and ends the UI thread.
class Harness {
 public:
  virtual ~Harness() = default;
  // The backend under test, installed (ui::SetBackend) while the harness lives.
  virtual ui::Backend& Backend() = 0;
  // Runs `task` on the UI thread and returns when it has returned, in
  // whatever loop that thread is in (its own, a modal dialog's, a message
  // box's). On the UI thread itself: at once.
  virtual void OnUi(const std::function<void()>& task) = 0;
  // Queues `task` for the UI thread (behind the tasks started before it)
  // and returns at once: for a task that runs a modal dialog or a box.
  virtual void StartOnUi(std::function<void()> task) = 0;
  // Tries `condition` until it holds (true) or `timeoutMs` passed (false),
  // waiting between tries (on the process clock, or for the window
  // system); never spins.
  virtual bool WaitFor(const std::function<bool()>& condition, int timeoutMs) = 0;
  // The user, on a dialog's window: a click on a button, a pick of entry
  // `index` of a drop-down list, Enter and Escape on the dialog, a click on
  // its close box. Each is performed on the UI thread as the window system
  // delivers it, and returns once that thread has handled it or has entered
  // a modal loop because of it (what the system queued in turn, as
  // WM_CLOSE's IDCANCEL, may come later: the suite waits for it). False,
  // and nothing done, when the user cannot do it: no such window or
  // control, the window hidden or disabled, the control disabled, no entry
  // `index`, no close box (a window without a system menu). A window that
  // is made but not yet shown (a modal dialog may show only once its loop
  // runs out of messages) may be waited for.
  virtual bool Click(ui::WindowHandle window, int id) = 0;
  virtual bool SelectListItem(ui::WindowHandle window, int id, int index) = 0;
  virtual bool PressEnter(ui::WindowHandle window) = 0;
  virtual bool PressEscape(ui::WindowHandle window) = 0;
  virtual bool CloseBox(ui::WindowHandle window) = 0;
  // What progress bar `id` shows, as the window system reads it (the
  // backend interface has no reading of its own). From any thread.
  virtual ProgressView Progress(ui::WindowHandle window, int id) = 0;
  // Waits for the next message box of this process (from any thread) and
  // reads it; nothing if none comes in time. It stays until CloseMessageBox,
  // which answers it OK and returns once it is gone.
  virtual std::optional<BoxView> NextMessageBox(int timeoutMs) = 0;
  virtual void CloseMessageBox() = 0;
  // Whether a box stays open until closed, blocking the thread that showed
  // it. False for a backend that answers boxes at once and records them
  // (NextMessageBox reads the records).
  virtual bool BoxesStayOpen() const = 0;
  // The shown top-level window of this process with `caption`; none if
  // there is none.
  virtual ui::WindowHandle FindWindow(const std::string& caption) = 0;
  // The user clicks button `id`, which opens a file dialog, reads its file
  // types and answers it with `path` (a path of this system), or cancels it
  // when none; returns once it is gone. Nothing if no file dialog came.
  virtual std::optional<FileDialogView> Browse(ui::WindowHandle window, int id,
                                               std::optional<std::string> path) = 0;
  // The tooltip the user sees over control `id`; none when it shows none.
  virtual std::optional<std::string> ToolTip(ui::WindowHandle window, int id) = 0;
};

using Strings = std::vector<std::string>;

inline std::string Str(int value) {
  return std::to_string(value);
}

// The parts joined with blanks; a braced list is evaluated in order, so
// each part sees what the ones before it did.
inline std::string Join(std::initializer_list<std::string> parts) {
  std::string out;
  for (const std::string& part : parts) {
    if (!out.empty()) out += ' ';
    out += part;
  }
  return out;
}

inline constexpr uint32_t kAnswer = ui::kWmApp + 7;  // recorded, answered with lParam * 2
inline constexpr uint32_t kNote = ui::kWmApp + 8;    // recorded
inline constexpr uint32_t kReady = ui::kWmApp + 9;   // posted to itself at initialisation

// A dialog that writes down what reaches it, and on which thread:
// "init", "command <id> <code>", "syscommand <command>", "answer <lParam>",
// "note <lParam>", "destroy", "final". Of the commands only clicks and list
// picks are written down: focus and edit notifications differ between window
// systems and are left to each backend's own tests.
class Probe : public ui::Dialog {
 public:
  explicit Probe(int templateId, bool endOnKeys = true)
      : Dialog(templateId), endOnKeys_(endOnKeys) {}
  ~Probe() override { DestroyWindow(); }

  // Whether WM_SYSCOMMAND is handled here (no default processing).
  std::atomic<bool> handleSysCommands{false};
  // Its window's loop has handled a message posted at initialisation.
  std::atomic<bool> ready{false};

  Strings Events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  size_t Count() {
    std::lock_guard lock(mutex_);
    return events_.size();
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
    threads_.clear();
  }
  // The thread that wrote `event` down first; none if nothing did.
  std::thread::id ThreadOf(const std::string& event) {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < events_.size(); ++i) {
      if (events_[i] == event) return threads_[i];
    }
    return {};
  }

 protected:
  bool OnInitDialog() override {
    Record("init");
    Post(kReady, 0, 0);
    return Dialog::OnInitDialog();
  }
  void OnCommand(int id, int code) override {
    if (code == ui::kBnClicked || code == ui::kCbnSelChange) {
      Record(Join({"command", Str(id), Str(code)}));
    }
    Dialog::OnCommand(id, code);
  }
  void OnOK() override {
    if (endOnKeys_) Dialog::OnOK();
  }
  void OnCancel() override {
    if (endOnKeys_) Dialog::OnCancel();
  }
  intptr_t OnUserMessage(uint32_t message, uintptr_t, intptr_t lParam) override {
    if (message == kReady) ready = true;
    if (message == kAnswer) Record(Join({"answer", Str(static_cast<int>(lParam))}));
    if (message == kNote) Record(Join({"note", Str(static_cast<int>(lParam))}));
    return message == kAnswer ? lParam * 2 : 0;
  }
  bool OnSysCommand(uint32_t command, intptr_t) override {
    Record(Join({"syscommand", Str(static_cast<int>(command))}));
    return handleSysCommands;
  }
  void OnDestroy() override { Record("destroy"); }
  void OnFinalDestroy() override { Record("final"); }

 private:
  void Record(std::string event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
    threads_.push_back(std::this_thread::get_id());
  }

  const bool endOnKeys_;
  std::mutex mutex_;
  Strings events_;
  std::vector<std::thread::id> threads_;
};

// A dialog run modally on the UI thread. One the test leaves open is ended
// with -1 before the dialog object goes.
class ModalRun {
 public:
  ModalRun(Harness& harness, Probe& dialog) : harness_(harness), dialog_(dialog) {
    harness.StartOnUi([state = state_, &dialog] {
      state->result = dialog.DoModal();
      state->done = true;
    });
  }
  ~ModalRun() {
    harness_.WaitFor(
        [&] {
          if (state_->done) return true;
          if (const ui::WindowHandle w = dialog_.Handle()) harness_.Backend().EndDialog(w, -1);
          return false;
        },
        kPatienceMs);
  }
  ModalRun(const ModalRun&) = delete;
  ModalRun& operator=(const ModalRun&) = delete;

  // Until its loop runs; its window.
  ui::WindowHandle WaitOpen() {
    harness_.WaitFor([&] { return dialog_.ready.load() || state_->done.load(); }, kPatienceMs);
    return dialog_.Handle();
  }
  bool Done() const { return state_->done; }
  bool WaitEnd() {
    return harness_.WaitFor([&] { return state_->done.load(); }, kPatienceMs);
  }
  intptr_t Result() const { return state_->result; }

 private:
  struct State {
    std::atomic<bool> done{false};
    std::atomic<intptr_t> result{0};
  };
  Harness& harness_;
  Probe& dialog_;
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

// One row of a control table: an operation on control `id` (with a, b or
// text as it takes them) and what it gives back, as text ("" for the
// operations that give nothing back). kChecks reads the checks of Serial,
// Parallel and USB; kBar what progress bar `id` shows: low, high, position.
enum class Op {
  kEnable,
  kIsEnabled,
  kSetText,
  kText,
  kSetCheck,
  kChecks,
  kReset,
  kAdd,
  kCount,
  kItem,
  kSelection,
  kSetSelection,
  kSelectText,
  kRange,
  kPos,
  kBar
};
struct Row {
  Op op;
  int id;
  int a;
  int b;
  const char* text;
  const char* expected;
};

template <class H>
class BackendContract : public ::testing::Test {
 protected:
  H harness;

  ui::Backend& backend() { return harness.Backend(); }
  std::thread::id UiThreadId() {
    std::thread::id id;
    harness.OnUi([&] { id = std::this_thread::get_id(); });
    return id;
  }
  // Makes `dialog` modeless on the UI thread and shows it; its window.
  ui::WindowHandle CreateShown(Probe& dialog) {
    harness.OnUi([&] {
      if (dialog.Create()) dialog.Show();
    });
    return dialog.Handle();
  }
  // Until the probe has written down at least `count` events.
  bool WaitEvents(Probe& dialog, size_t count) {
    return harness.WaitFor([&] { return dialog.Count() >= count; }, kPatienceMs);
  }
  std::string Do(ui::Dialog& d, const Row& r) {
    switch (r.op) {
      case Op::kEnable:
        d.EnableControl(r.id, r.a != 0);
        return "";
      case Op::kIsEnabled:
        return Str(d.IsControlEnabled(r.id));
      case Op::kSetText:
        return Str(d.SetControlText(r.id, r.text));
      case Op::kText:
        return d.ControlText(r.id);
      case Op::kSetCheck:
        d.SetCheck(r.id, r.a);
        return "";
      case Op::kChecks:
        return Join({Str(d.Check(IDC_SERIAL)), Str(d.Check(IDC_PARALLEL)), Str(d.Check(IDC_USB))});
      case Op::kReset:
        d.ListReset(r.id);
        return "";
      case Op::kAdd:
        return Str(d.ListAdd(r.id, r.text));
      case Op::kCount:
        return Str(d.ListCount(r.id));
      case Op::kItem:
        return d.ListItemText(r.id, r.a);
      case Op::kSelection:
        return Str(d.ListSelection(r.id));
      case Op::kSetSelection:
        return Str(d.ListSetSelection(r.id, r.a));
      case Op::kSelectText:
        return Str(d.ListSelectText(r.id, r.text));
      case Op::kRange:
        d.SetProgressRange(r.id, r.a, r.b);
        return "";
      case Op::kPos:
        d.SetProgressPos(r.id, r.a);
        return "";
      case Op::kBar: {
        const ProgressView bar = harness.Progress(d.Handle(), r.id);
        return Join({Str(bar.low), Str(bar.high), Str(bar.pos)});
      }
    }
    return "?";
  }
};

TYPED_TEST_SUITE_P(BackendContract);

TYPED_TEST_P(BackendContract, ControlsReadBackWhatWasSet) {
  using enum Op;
  constexpr int kPort = IDC_PORT_LIST;
  const std::vector<Row> main = {
      {kCount, IDC_TYPE_LIST, 0, 0, "", "2"},  // the template's entries
      {kItem, IDC_BAUD_LIST, 3, 0, "", "4800"},
      {kIsEnabled, IDC_DATA_BITS, 0, 0, "", "0"},  // WS_DISABLED in the template
      {kEnable, IDC_BROWSE, 0, 0, "", ""},
      {kIsEnabled, IDC_BROWSE, 0, 0, "", "0"},
      {kEnable, IDC_BROWSE, 1, 0, "", ""},
      {kIsEnabled, IDC_BROWSE, 0, 0, "", "1"},
      {kSetText, IDC_FILE_BOX, 0, 0, "fonts.bin", "1"},  // read-only: the program's text stays
      {kText, IDC_FILE_BOX, 0, 0, "", "fonts.bin"},
      {kSetText, IDC_EXIT, 0, 0, "Quit", "1"},
      {kText, IDC_EXIT, 0, 0, "", "Quit"},
      {kSetText, IDC_BAUD_LIST, 0, 0, "57600", "0"},  // a drop-down list takes no text...
      {kText, IDC_BAUD_LIST, 0, 0, "", ""},
      {kSetSelection, IDC_BAUD_LIST, 2, 0, "", "2"},
      {kText, IDC_BAUD_LIST, 0, 0, "", "9600"},  // ...and reads as its selection
      {kSetCheck, IDC_PARALLEL, ui::kChecked, 0, "", ""},
      {kChecks, 0, 0, 0, "", "0 1 0"},
      {kSetCheck, IDC_SERIAL, ui::kChecked, 0, "", ""},
      {kChecks, 0, 0, 0, "", "1 1 0"},  // SetCheck clears no other button
      {kSetCheck, IDC_PARALLEL, ui::kUnchecked, 0, "", ""},
      {kChecks, 0, 0, 0, "", "1 0 0"},
      {kReset, IDC_TYPE_LIST, 0, 0, "", ""},
      {kCount, IDC_TYPE_LIST, 0, 0, "", "0"},
      {kAdd, kPort, 0, 0, "COM1", "0"},  // appended in order
      {kAdd, kPort, 0, 0, "COM2", "1"},
      {kAdd, kPort, 0, 0, "COM10", "2"},
      {kAdd, kPort, 0, 0, "COM11", "3"},
      {kAdd, kPort, 0, 0, "com12", "4"},
      {kCount, kPort, 0, 0, "", "5"},
      {kItem, kPort, 2, 0, "", "COM10"},
      {kItem, kPort, 5, 0, "", ""},  // none past the end
      {kItem, kPort, -1, 0, "", ""},
      {kSelection, kPort, 0, 0, "", "-1"},
      // By text: the first entry beginning with it, ignoring case, looking
      // at the whole list; without one the selection stays.
      {kSelectText, kPort, 0, 0, "com1", "0"},
      {kSelectText, kPort, 0, 0, "COM11", "3"},
      {kSelection, kPort, 0, 0, "", "3"},
      {kSelectText, kPort, 0, 0, "co", "0"},  // not from the selection on
      {kSelectText, kPort, 0, 0, "COM12", "4"},
      {kSelectText, kPort, 0, 0, "LPT", "-1"},
      {kSelectText, kPort, 0, 0, "COM111", "-1"},
      {kSelection, kPort, 0, 0, "", "4"},
      {kSetSelection, kPort, 1, 0, "", "1"},
      {kText, kPort, 0, 0, "", "COM2"},
      {kSetSelection, kPort, 40, 0, "", "-1"},  // outside the list: none
      {kSelection, kPort, 0, 0, "", "-1"},
      {kText, kPort, 0, 0, "", ""},
      {kSetSelection, kPort, 3, 0, "", "3"},
      {kSetSelection, kPort, ui::kListNone, 0, "", "-1"},
      {kSelection, kPort, 0, 0, "", "-1"},
      {kAdd, IDC_FILE_BOX, 0, 0, "x", "-1"},  // no list
      {kCount, IDC_BROWSE, 0, 0, "", "-1"},
      {kSelectText, IDC_FILE_BOX, 0, 0, "", "-1"},
      {kIsEnabled, 4711, 0, 0, "", "0"},  // no such control
      {kSetText, 4711, 0, 0, "x", "0"},
      {kText, 4711, 0, 0, "", ""},
      {kCount, 4711, 0, 0, "", "-1"},
  };
  const std::vector<Row> progress = {
      {kRange, IDC_PROGRESS_BAR, 0, 200000, "", ""},  // 32 bits
      {kPos, IDC_PROGRESS_BAR, 150000, 0, "", ""},
      {kBar, IDC_PROGRESS_BAR, 0, 0, "", "0 200000 150000"},
      {kPos, IDC_PROGRESS_BAR, 250000, 0, "", ""},  // shown within the range
      {kBar, IDC_PROGRESS_BAR, 0, 0, "", "0 200000 200000"},
      {kRange, IDC_PROGRESS_BAR, 0, 1000, "", ""},  // the position taken in
      {kBar, IDC_PROGRESS_BAR, 0, 0, "", "0 1000 1000"},
      {kPos, IDC_PROGRESS_BAR, -5, 0, "", ""},
      {kBar, IDC_PROGRESS_BAR, 0, 0, "", "0 1000 0"},
      {kRange, IDC_PROGRESS_BAR, -100, 100, "", ""},
      {kPos, IDC_PROGRESS_BAR, -40, 0, "", ""},
      {kBar, IDC_PROGRESS_BAR, 0, 0, "", "-100 100 -40"},
  };
  // The operations belong on the window's thread; from another thread they
  // are carried out there. Both ways, on windows of their own.
  for (const bool onUi : {false, true}) {
    SCOPED_TRACE(onUi ? "on the UI thread" : "from the test's thread");
    for (const auto& [templateId, rows] : {std::pair{IDD_MAIN, &main}, {IDD_PROGRESS, &progress}}) {
      Probe dialog(templateId, false);
      ASSERT_NE(this->CreateShown(dialog), ui::kNoWindow);
      for (size_t n = 0; n < rows->size(); ++n) {
        const Row& row = (*rows)[n];
        std::string got;
        if (onUi) {
          this->harness.OnUi([&] { got = this->Do(dialog, row); });
        } else {
          got = this->Do(dialog, row);
        }
        EXPECT_EQ(got, row.expected) << "row " << n << " of template " << templateId;
      }
    }
  }
}

TYPED_TEST_P(BackendContract, TheUsersActionsReachTheDialogInOrder) {
  auto& h = this->harness;
  Probe dialog(IDD_MAIN, /*endOnKeys=*/false);
  ModalRun modal(h, dialog);
  const ui::WindowHandle w = modal.WaitOpen();
  ASSERT_NE(w, ui::kNoWindow);
  const std::string close = Join({"syscommand", Str(ui::kScClose)});
  const auto click = [&](int id) { return [&h, w, id] { return h.Click(w, id); }; };
  const auto enter = [&] { return h.PressEnter(w); };
  const auto closeBox = [&] { return h.CloseBox(w); };
  struct Step {
    std::function<void()> before;  // on the UI thread; may be empty
    std::function<bool()> act;     // may be empty
    Strings events;
    const char* state;  // the checks of Serial, Parallel, USB and the baud rate shown
  };
  const std::vector<Step> steps = {
      {{}, click(IDC_SERIAL), {"command 1041 0"}, "1 0 0 "},
      {[&] { dialog.SetCheck(IDC_USB, ui::kChecked); }, {}, {}, "1 0 1 "},
      // An auto radio button clears the others of its group.
      {{}, click(IDC_PARALLEL), {"command 1042 0"}, "0 1 0 "},
      {{},
       [&] { return h.SelectListItem(w, IDC_BAUD_LIST, 1); },
       {"command 1014 1"},
       "0 1 0 19200"},
      {{}, click(IDC_BROWSE), {"command 1020 0"}, "0 1 0 19200"},
      {{}, enter, {"command 1 0"}, "0 1 0 19200"},  // the default button
      {[&] { dialog.EnableControl(IDC_FLASH_NOW, false); }, enter, {}, "0 1 0 19200"},
      {{}, [&] { return h.PressEscape(w); }, {"command 2 0"}, "0 1 0 19200"},
      {{}, closeBox, {close, "command 2 0"}, "0 1 0 19200"},  // SC_CLOSE, WM_CLOSE, IDCANCEL
      {[&] { dialog.handleSysCommands = true; }, closeBox, {close}, "0 1 0 19200"},
      {[&] { dialog.EnableControl(IDC_FLASH_NOW, true); }, enter, {"command 1 0"}, "0 1 0 19200"},
  };
  dialog.Clear();
  Strings expected;
  for (size_t n = 0; n < steps.size(); ++n) {
    const Step& step = steps[n];
    if (step.before) h.OnUi(step.before);
    ASSERT_TRUE(!step.act || step.act()) << "step " << n;
    // What a step should not have caused shows here, or before the next
    // step's events.
    expected.insert(expected.end(), step.events.begin(), step.events.end());
    ASSERT_TRUE(this->WaitEvents(dialog, expected.size())) << "step " << n;
    EXPECT_EQ(dialog.Events(), expected) << "step " << n;
    EXPECT_EQ(
        this->Do(dialog, {Op::kChecks, 0, 0, 0, "", ""}) + " " + dialog.ControlText(IDC_BAUD_LIST),
        step.state)
        << "step " << n;
  }
  // Whatever the window system still had queued comes before this.
  ASSERT_TRUE(dialog.Post(kNote, 0, 1));
  expected.push_back("note 1");
  ASSERT_TRUE(this->WaitEvents(dialog, expected.size()));
  EXPECT_EQ(dialog.Events(), expected);
  EXPECT_EQ(dialog.ThreadOf("command 1014 1"), this->UiThreadId());
  EXPECT_FALSE(modal.Done());
  // What the user cannot do.
  h.OnUi([&] { dialog.EnableControl(IDC_BROWSE, false); });
  EXPECT_FALSE(h.Click(w, IDC_BROWSE));
  EXPECT_FALSE(h.SelectListItem(w, IDC_BAUD_LIST, 4));  // no fifth entry
}

TYPED_TEST_P(BackendContract, AModelessDialogWorksWhileAModalOneRuns) {
  auto& h = this->harness;
  const std::thread::id ui = this->UiThreadId();
  // The progress window is modeless; the About box runs modally on the same
  // thread meanwhile, as the main dialog does in the program.
  Probe progress(IDD_PROGRESS, false);
  const ui::WindowHandle pw = this->CreateShown(progress);
  ASSERT_NE(pw, ui::kNoWindow);
  Probe about(IDD_ABOUT);
  ModalRun modal(h, about);
  const ui::WindowHandle aw = modal.WaitOpen();
  ASSERT_NE(aw, ui::kNoWindow);
  EXPECT_FALSE(about.IsWindowThread());
  progress.Clear();

  EXPECT_FALSE(h.CloseBox(pw));  // no system menu, no close box
  EXPECT_TRUE(h.Click(pw, IDC_PROGRESS_CANCEL));
  EXPECT_TRUE(h.PressEscape(pw));
  EXPECT_EQ(progress.Send(kAnswer, 0, 21), 42);  // served by the modal loop
  ASSERT_TRUE(this->WaitEvents(progress, 3));
  EXPECT_EQ(progress.Events(), (Strings{"command 1046 0", "command 2 0", "answer 21"}));
  EXPECT_EQ(about.Events(), Strings{"init"});

  // RunModal returns EndDialog's value; the window is destroyed on its
  // thread, WM_DESTROY then WM_NCDESTROY, and is gone.
  this->backend().EndDialog(aw, 77);
  ASSERT_TRUE(modal.WaitEnd());
  EXPECT_EQ(modal.Result(), 77);
  EXPECT_EQ(about.Events(), (Strings{"init", "destroy", "final"}));
  EXPECT_EQ(about.ThreadOf("init"), ui);
  EXPECT_EQ(about.ThreadOf("final"), ui);
  EXPECT_EQ(about.Handle(), ui::kNoWindow);
  // The same for the modeless one, destroyed from the test's thread.
  progress.DestroyWindow();
  EXPECT_EQ(progress.Handle(), ui::kNoWindow);
  const Strings events = progress.Events();
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(Strings(events.end() - 2, events.end()), (Strings{"destroy", "final"}));
  EXPECT_EQ(progress.ThreadOf("final"), ui);
  for (const ui::WindowHandle gone : {aw, pw}) {
    EXPECT_EQ(this->backend().Send(gone, kAnswer, 0, 1), 0);
    EXPECT_FALSE(this->backend().Post(gone, kNote, 0, 1));
  }
  EXPECT_FALSE(h.Click(pw, IDC_PROGRESS_CANCEL));

  // A template the program does not have makes no window.
  Probe missing(4711);
  bool created = true;
  intptr_t result = 0;
  h.OnUi([&] {
    created = missing.Create();
    result = missing.DoModal();
  });
  EXPECT_FALSE(created);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(missing.Events(), Strings{});
}

TYPED_TEST_P(BackendContract, SendAndPostAcrossThreads) {
  const std::thread::id ui = this->UiThreadId();
  Probe dialog(IDD_MAIN, false);
  ASSERT_NE(this->CreateShown(dialog), ui::kNoWindow);
  dialog.Clear();

  // From a worker: the handler runs on the UI thread; its value comes back.
  std::atomic<intptr_t> answer{0};
  platform::Thread([&] { answer = dialog.Send(kAnswer, 0, 21); }).Join();
  EXPECT_EQ(answer.load(), 42);
  EXPECT_EQ(dialog.ThreadOf("answer 21"), ui);

  // On the UI thread: Post only queues, Send is a direct call.
  bool posted = false;
  intptr_t sent = 0;
  Strings during;
  this->harness.OnUi([&] {
    posted = dialog.Post(kNote, 0, 1);
    sent = dialog.Send(kAnswer, 0, 2);
    during = dialog.Events();
  });
  EXPECT_TRUE(posted);
  EXPECT_EQ(sent, 4);
  EXPECT_EQ(during, (Strings{"answer 21", "answer 2"}));
  ASSERT_TRUE(this->WaitEvents(dialog, 3));
  EXPECT_EQ(dialog.Events(), (Strings{"answer 21", "answer 2", "note 1"}));
  EXPECT_EQ(dialog.ThreadOf("note 1"), ui);
}

TYPED_TEST_P(BackendContract, AMessageBoxBlocksItsThreadUntilClosed) {
  auto& h = this->harness;
  Probe dialog(IDD_MAIN, false);
  ASSERT_NE(this->CreateShown(dialog), ui::kNoWindow);
  struct Row {
    const char* text;
    uint32_t flags;
    bool owned;  // by the dialog, with the program's title; else "Quillon"
    bool onUi;   // shown by the UI thread, else by a worker
    BoxIcon icon;
  };
  const std::vector<Row> rows = {
      {"Cannot erase a sector!", ui::kMbIconError, true, false, BoxIcon::kError},
      {"Illegal COM port set!", ui::kMbIconError, false, false, BoxIcon::kError},
      {"Download successfully completed!", ui::kMbIconInformation, true, true,
       BoxIcon::kInformation},
      {"No icon", ui::kMbOk, false, false, BoxIcon::kNone},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    const auto answer = std::make_shared<std::atomic<int>>(0);
    const auto show = [&dialog, &row, answer, &backend = this->backend()] {
      *answer = row.owned ? dialog.ShowMessageBox(row.text, row.flags)
                          : backend.ShowMessageBox(ui::kNoWindow, row.text, "Quillon", row.flags);
    };
    std::unique_ptr<platform::Thread> worker;
    if (row.onUi) {
      h.StartOnUi(show);
    } else {
      worker = std::make_unique<platform::Thread>(show);
    }
    const std::optional<BoxView> box = h.NextMessageBox(kPatienceMs);
    EXPECT_TRUE(box.has_value());
    if (box) {
      EXPECT_EQ(box->text, row.text);
      EXPECT_EQ(box->caption, row.owned ? ui::AppTitle() : std::string("Quillon"));
      EXPECT_EQ(box->icon, row.icon);
      if (h.BoxesStayOpen()) {
        EXPECT_EQ(answer->load(), 0);
        // The dialog's thread goes on: in the box's loop when it shows it.
        EXPECT_EQ(dialog.Send(kAnswer, 0, 5), 10);
        // The user cannot reach the box's owner while it is up.
        if (row.owned) {
          EXPECT_FALSE(h.Click(dialog.Handle(), IDC_EXIT));
        }
      }
      h.CloseMessageBox();
    }
    EXPECT_TRUE(h.WaitFor([&] { return answer->load() == ui::kIdOkAnswer; }, kPatienceMs));
  }
}

TYPED_TEST_P(BackendContract, ToolTipsShowTheStringsUnderTheControlIdsOnceEnabled) {
  Probe dialog(IDD_MAIN, false);
  const ui::WindowHandle w = this->CreateShown(dialog);
  ASSERT_NE(w, ui::kNoWindow);
  EXPECT_EQ(this->harness.ToolTip(w, IDC_BROWSE), std::nullopt);  // not enabled yet
  this->harness.OnUi([&] { dialog.EnableToolTips(true); });
  EXPECT_EQ(this->harness.ToolTip(w, IDC_BROWSE), "Browse file");
  EXPECT_EQ(this->harness.ToolTip(w, IDC_FILE_BOX), std::nullopt);  // no string under its id
  EXPECT_EQ(this->harness.ToolTip(w, IDC_FLASH_NOW), "Start the download process");
}

REGISTER_TYPED_TEST_SUITE_P(BackendContract, ControlsReadBackWhatWasSet,
                            TheUsersActionsReachTheDialogInOrder,
                            AModelessDialogWorksWhileAModalOneRuns, SendAndPostAcrossThreads,
                            AMessageBoxBlocksItsThreadUntilClosed,
                            ToolTipsShowTheStringsUnderTheControlIdsOnceEnabled);

}  // namespace quillon::contract
