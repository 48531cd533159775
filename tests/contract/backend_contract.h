#pragma once
// What every window backend must do, written once and run against each
// backend by its own test program. The suite is a typed, parameterised
// GoogleTest suite over a harness type; a program instantiates it with its
// harness:
//
//   INSTANTIATE_TYPED_TEST_SUITE_P(Memory, BackendContract, MemoryHarness);
//
// It uses only the program's own dialog templates (IDD_MAIN, IDD_ABOUT,
// IDD_PROGRESS), since a backend that builds its windows from the compiled
// resources has no others, and a probe dialog that writes down what reaches
// it.
//
// ---------------------------------------------------------------------------
// The harness (derive from contract::Harness, default-constructible)
//
// It installs its backend for its lifetime and owns the UI thread: the one
// thread that makes the windows and runs their loops for the whole test. The
// test body runs on another thread, the test's thread, and acts as the user
// from there. Every call below is made from the test's thread unless noted.
//
//   ui::Backend& Backend()
//       The backend under test, installed (ui::SetBackend) while the harness
//       lives.
//   void OnUi(const std::function<void()>& task)
//       Runs `task` on the UI thread and returns when it has returned. It
//       must run in whatever loop the UI thread is in at the time: its idle
//       loop, a modal dialog's, a message box's. Called on the UI thread
//       itself, runs the task at once.
//   void StartOnUi(std::function<void()> task)
//       Queues `task` for the UI thread and returns at once (a task that
//       runs a modal dialog, which returns only when the dialog ends). Tasks
//       run in the order started, each once the UI thread's loop gets to it;
//       the suite waits for their ends with WaitFor.
//   bool WaitFor(const std::function<bool()>& condition, int timeoutMs)
//       Tries `condition` (on the test's thread) until it holds (true) or
//       `timeoutMs` have passed (false). It waits between tries (on the
//       process clock, or for the window system), never spins.
//   bool Click(ui::WindowHandle window, int id)
//   bool SelectListItem(ui::WindowHandle window, int id, int index)
//   bool PressEnter(ui::WindowHandle window)
//   bool PressEscape(ui::WindowHandle window)
//   bool CloseBox(ui::WindowHandle window)
//       The user's actions on a dialog's window: a click on a button, a
//       pick of entry `index` of a drop-down list with the mouse, the Enter
//       and Escape keys on the dialog, a click on its close box. Each is
//       performed on the UI thread as the window system delivers it, and
//       returns once the UI thread has handled it or has entered a modal
//       loop because of it (what the action made the system queue in turn,
//       as WM_CLOSE's IDCANCEL, may still come: the suite waits for it).
//       False, and nothing done, when the user could not do it: no such
//       window or control, the window hidden or disabled, the control
//       disabled, no entry `index`, and for CloseBox a window that shows no
//       close box (one without a system menu). A window that is made but
//       not shown yet (a window system may show a modal dialog only once its
//       loop has run out of messages) may be waited for.
//   ProgressView Progress(ui::WindowHandle window, int id)
//       What the progress bar `id` shows: range and position, as the window
//       system reads them (the backend interface has no reading of its own).
//   std::optional<BoxView> NextMessageBox(int timeoutMs)
//       Waits for the next message box this process shows (from any thread)
//       and reads its text, caption and icon; nothing if none comes in time.
//       The box stays as it is until CloseMessageBox.
//   void CloseMessageBox()
//       Closes the box NextMessageBox returned, with OK, and returns once it
//       is gone.
//   bool BoxesStayOpen()
//       Whether a message box stays open until the user closes it, blocking
//       the thread that showed it. False for a backend that answers boxes at
//       once and records them (NextMessageBox then reads its record).
//
// On destruction, the harness closes what a failed test left open (message
// boxes, dialogs), ends the UI thread and uninstalls the backend.
// ---------------------------------------------------------------------------

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
// some window systems are slow under test; a backend that works takes a
// fraction of it.
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

class Harness {
 public:
  virtual ~Harness() = default;
  virtual ui::Backend& Backend() = 0;
  virtual void OnUi(const std::function<void()>& task) = 0;
  virtual void StartOnUi(std::function<void()> task) = 0;
  virtual bool WaitFor(const std::function<bool()>& condition, int timeoutMs) = 0;
  virtual bool Click(ui::WindowHandle window, int id) = 0;
  virtual bool SelectListItem(ui::WindowHandle window, int id, int index) = 0;
  virtual bool PressEnter(ui::WindowHandle window) = 0;
  virtual bool PressEscape(ui::WindowHandle window) = 0;
  virtual bool CloseBox(ui::WindowHandle window) = 0;
  virtual ProgressView Progress(ui::WindowHandle window, int id) = 0;
  virtual std::optional<BoxView> NextMessageBox(int timeoutMs) = 0;
  virtual void CloseMessageBox() = 0;
  virtual bool BoxesStayOpen() const = 0;
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

// Text in brackets, so that an empty one shows.
inline std::string Bracketed(const std::string& text) {
  std::string out(1, '[');
  out += text;
  out += ']';
  return out;
}

inline std::string Com(int n) {
  std::string port = "COM";
  port += Str(n);
  return port;
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
};

TYPED_TEST_SUITE_P(BackendContract);

// One step of a table: what it does (to the dialog, from whichever thread
// runs the table) and what reads back, written as text.
struct ControlStep {
  const char* what;
  std::function<std::string(ui::Dialog&)> run;
  std::string expected;
};

TYPED_TEST_P(BackendContract, ControlsReadBackWhatWasSet) {
  const auto checks = [](ui::Dialog& d) {
    return Str(d.Check(IDC_SERIAL)) + Str(d.Check(IDC_PARALLEL)) + Str(d.Check(IDC_USB));
  };
  const std::vector<ControlStep> steps = {
      {"the template's list entries",
       [](ui::Dialog& d) {
         return Join({Str(d.ListCount(IDC_TYPE_LIST)), d.ListItemText(IDC_TYPE_LIST, 1),
                      d.ListItemText(IDC_BAUD_LIST, 3)});
       },
       "2 IPL FIRMWARE 4800"},
      {"disabled by the template",
       [](ui::Dialog& d) { return Str(d.IsControlEnabled(IDC_DATA_BITS)); }, "0"},
      {"disabled",
       [](ui::Dialog& d) {
         d.EnableControl(IDC_BROWSE, false);
         return Str(d.IsControlEnabled(IDC_BROWSE));
       },
       "0"},
      {"enabled again",
       [](ui::Dialog& d) {
         d.EnableControl(IDC_BROWSE, true);
         return Str(d.IsControlEnabled(IDC_BROWSE));
       },
       "1"},
      {"a read-only edit box keeps the text set",
       [](ui::Dialog& d) {
         return Join(
             {Str(d.SetControlText(IDC_FILE_BOX, "fonts.bin")), d.ControlText(IDC_FILE_BOX)});
       },
       "1 fonts.bin"},
      {"a button's text",
       [](ui::Dialog& d) {
         return Join({Str(d.SetControlText(IDC_EXIT, "Quit")), d.ControlText(IDC_EXIT)});
       },
       "1 Quit"},
      {"a drop-down list takes no text and reads as its selection",
       [](ui::Dialog& d) {
         return Join({Str(d.SetControlText(IDC_BAUD_LIST, "57600")),
                      Bracketed(d.ControlText(IDC_BAUD_LIST))});
       },
       "0 []"},
      {"a drop-down list with an entry selected",
       [](ui::Dialog& d) {
         return Join({Str(d.ListSetSelection(IDC_BAUD_LIST, 2)), d.ControlText(IDC_BAUD_LIST)});
       },
       "2 9600"},
      {"SetCheck checks",
       [&](ui::Dialog& d) {
         d.SetCheck(IDC_PARALLEL, ui::kChecked);
         return checks(d);
       },
       "010"},
      {"SetCheck does not clear the others",
       [&](ui::Dialog& d) {
         d.SetCheck(IDC_SERIAL, ui::kChecked);
         return checks(d);
       },
       "110"},
      {"SetCheck clears",
       [&](ui::Dialog& d) {
         d.SetCheck(IDC_PARALLEL, ui::kUnchecked);
         return checks(d);
       },
       "100"},
      {"a list emptied",
       [](ui::Dialog& d) {
         d.ListReset(IDC_TYPE_LIST);
         return Join({Str(d.ListCount(IDC_TYPE_LIST)), Str(d.ListSelection(IDC_TYPE_LIST))});
       },
       "0 -1"},
      {"entries appended in order",
       [](ui::Dialog& d) {
         std::string indexes;
         for (int n = 1; n <= 12; ++n) {
           indexes += Str(d.ListAdd(IDC_PORT_LIST, Com(n)));
           indexes += ' ';
         }
         return indexes + Str(d.ListCount(IDC_PORT_LIST));
       },
       "0 1 2 3 4 5 6 7 8 9 10 11 12"},
      {"entry texts, and none outside the list",
       [](ui::Dialog& d) {
         return Join(
             {d.ListItemText(IDC_PORT_LIST, 9), Bracketed(d.ListItemText(IDC_PORT_LIST, 12)),
              Bracketed(d.ListItemText(IDC_PORT_LIST, -1)), Str(d.ListSelection(IDC_PORT_LIST))});
       },
       "COM10 [] [] -1"},
      {"an entry selected",
       [](ui::Dialog& d) {
         return Join({Str(d.ListSetSelection(IDC_PORT_LIST, 5)),
                      Str(d.ListSelection(IDC_PORT_LIST)), d.ControlText(IDC_PORT_LIST)});
       },
       "5 5 COM6"},
      {"an index past the end clears the selection",
       [](ui::Dialog& d) {
         return Join({Str(d.ListSetSelection(IDC_PORT_LIST, 40)),
                      Str(d.ListSelection(IDC_PORT_LIST)),
                      Bracketed(d.ControlText(IDC_PORT_LIST))});
       },
       "-1 -1 []"},
      {"kListNone clears the selection",
       [](ui::Dialog& d) {
         return Join({Str(d.ListSetSelection(IDC_PORT_LIST, 3)),
                      Str(d.ListSetSelection(IDC_PORT_LIST, ui::kListNone)),
                      Str(d.ListSelection(IDC_PORT_LIST))});
       },
       "3 -1 -1"},
      {"controls that are no lists",
       [](ui::Dialog& d) {
         return Join({Str(d.ListAdd(IDC_FILE_BOX, "x")), Str(d.ListCount(IDC_BROWSE)),
                      Str(d.ListSelectText(IDC_FILE_BOX, ""))});
       },
       "-1 -1 -1"},
      {"no such control",
       [](ui::Dialog& d) {
         return Join({Str(d.IsControlEnabled(4711)), Str(d.SetControlText(4711, "x")),
                      Bracketed(d.ControlText(4711)), Str(d.Check(4711)), Str(d.ListCount(4711))});
       },
       "0 0 [] 0 -1"},
  };
  // The operations belong on the window's thread; from another thread they
  // are carried out there. Both ways, on a window of their own.
  for (const bool onUi : {false, true}) {
    SCOPED_TRACE(onUi ? "on the UI thread" : "from the test's thread");
    Probe dialog(IDD_MAIN);
    ASSERT_NE(this->CreateShown(dialog), ui::kNoWindow);
    for (const ControlStep& step : steps) {
      std::string got;
      if (onUi) {
        this->harness.OnUi([&] { got = step.run(dialog); });
      } else {
        got = step.run(dialog);
      }
      EXPECT_EQ(got, step.expected) << step.what;
    }
  }

  // The progress bar, as the window system shows it.
  struct BarStep {
    const char* what;
    std::function<void(ui::Dialog&)> run;
    ProgressView shown;
  };
  const std::vector<BarStep> bar = {
      {"a 32-bit range and position",
       [](ui::Dialog& d) {
         d.SetProgressRange(IDC_PROGRESS_BAR, 0, 200000);
         d.SetProgressPos(IDC_PROGRESS_BAR, 150000);
       },
       {0, 200000, 150000}},
      {"past the end: the end",
       [](ui::Dialog& d) { d.SetProgressPos(IDC_PROGRESS_BAR, 250000); },
       {0, 200000, 200000}},
      {"a narrower range takes the position in",
       [](ui::Dialog& d) { d.SetProgressRange(IDC_PROGRESS_BAR, 0, 1000); },
       {0, 1000, 1000}},
      {"before the start: the start",
       [](ui::Dialog& d) { d.SetProgressPos(IDC_PROGRESS_BAR, -5); },
       {0, 1000, 0}},
      {"a range below zero",
       [](ui::Dialog& d) {
         d.SetProgressRange(IDC_PROGRESS_BAR, -100, 100);
         d.SetProgressPos(IDC_PROGRESS_BAR, -40);
       },
       {-100, 100, -40}},
  };
  Probe progress(IDD_PROGRESS, false);
  const ui::WindowHandle w = this->CreateShown(progress);
  ASSERT_NE(w, ui::kNoWindow);
  for (const BarStep& step : bar) {
    step.run(progress);
    const ProgressView got = this->harness.Progress(w, IDC_PROGRESS_BAR);
    EXPECT_EQ(got, step.shown) << step.what << ": " << got.low << ".." << got.high << " at "
                               << got.pos;
  }
}

TYPED_TEST_P(BackendContract, SelectingByTextTakesTheFirstEntryBeginningWithItIgnoringCase) {
  struct Row {
    const char* text;
    int result;
    int selection;  // after it
  };
  const std::vector<Row> rows = {
      {"com2", 1, 1},
      {"COM1", 0, 0},
      {"com10", 9, 9},
      {"CO", 0, 0},  // the whole list, not from the selection on
      {"Com6", 5, 5},
      {"LPT1", ui::kListNone, 5},  // no match: the selection stays
      {"COM200", ui::kListNone, 5},
      {"COM20", 19, 19},
  };
  Probe dialog(IDD_MAIN, false);
  ASSERT_NE(this->CreateShown(dialog), ui::kNoWindow);
  for (int n = 1; n <= 20; ++n) dialog.ListAdd(IDC_PORT_LIST, Com(n));
  for (const Row& row : rows) {
    EXPECT_EQ(dialog.ListSelectText(IDC_PORT_LIST, row.text), row.result) << row.text;
    EXPECT_EQ(dialog.ListSelection(IDC_PORT_LIST), row.selection) << row.text;
  }
}

TYPED_TEST_P(BackendContract, ClicksAndPicksReachTheDialogAndChangeTheControls) {
  Probe dialog(IDD_MAIN, false);
  const ui::WindowHandle w = this->CreateShown(dialog);
  ASSERT_NE(w, ui::kNoWindow);
  auto& h = this->harness;
  struct Step {
    const char* what;
    std::function<bool()> act;
    const char* event;  // nullptr: none
    std::string state;  // Serial Parallel USB checks, the baud rate shown
  };
  const std::vector<Step> steps = {
      {"a click on an auto radio button checks it", [&] { return h.Click(w, IDC_SERIAL); },
       "command 1041 0", "100 []"},
      {"the program checks another one",
       [&] {
         h.OnUi([&] { dialog.SetCheck(IDC_USB, ui::kChecked); });
         return true;
       },
       nullptr, "101 []"},
      {"a click clears the others of its group", [&] { return h.Click(w, IDC_PARALLEL); },
       "command 1042 0", "010 []"},
      {"a pick in a drop-down list", [&] { return h.SelectListItem(w, IDC_BAUD_LIST, 1); },
       "command 1014 1", "010 [19200]"},
      {"a click on a push button", [&] { return h.Click(w, IDC_BROWSE); }, "command 1020 0",
       "010 [19200]"},
  };
  dialog.Clear();
  Strings expected;
  for (const Step& step : steps) {
    ASSERT_TRUE(step.act()) << step.what;
    if (step.event) {
      expected.push_back(step.event);
      ASSERT_TRUE(this->WaitEvents(dialog, expected.size())) << step.what;
    }
    EXPECT_EQ(dialog.Events(), expected) << step.what;
    EXPECT_EQ(Join({Str(dialog.Check(IDC_SERIAL)) + Str(dialog.Check(IDC_PARALLEL)) +
                        Str(dialog.Check(IDC_USB)),
                    Bracketed(dialog.ControlText(IDC_BAUD_LIST))}),
              step.state)
        << step.what;
  }
  const std::thread::id ui = this->UiThreadId();
  EXPECT_EQ(dialog.ThreadOf("command 1042 0"), ui);
  EXPECT_EQ(dialog.ThreadOf("command 1014 1"), ui);
  // What the user cannot do.
  h.OnUi([&] { dialog.EnableControl(IDC_BROWSE, false); });
  EXPECT_FALSE(h.Click(w, IDC_BROWSE));
  EXPECT_FALSE(h.SelectListItem(w, IDC_BAUD_LIST, 4));  // no fifth entry
}

TYPED_TEST_P(BackendContract, EnterEscapeAndTheCloseBoxTakeTheirRoutes) {
  Probe dialog(IDD_MAIN, /*endOnKeys=*/false);
  ModalRun modal(this->harness, dialog);
  const ui::WindowHandle w = modal.WaitOpen();
  ASSERT_NE(w, ui::kNoWindow);
  auto& h = this->harness;
  const std::string close = Join({"syscommand", Str(ui::kScClose)});
  struct Step {
    const char* what;
    std::function<void()> before;  // on the UI thread; may be empty
    std::function<bool()> act;
    Strings events;
  };
  const std::vector<Step> steps = {
      {"Enter: the default button", {}, [&] { return h.PressEnter(w); }, {"command 1 0"}},
      {"Enter while the default button is disabled: nothing",
       [&] { dialog.EnableControl(IDC_FLASH_NOW, false); },
       [&] { return h.PressEnter(w); },
       {}},
      {"Escape: IDCANCEL", {}, [&] { return h.PressEscape(w); }, {"command 2 0"}},
      {"the close box: SC_CLOSE, then WM_CLOSE's IDCANCEL",
       {},
       [&] { return h.CloseBox(w); },
       {close, "command 2 0"}},
      {"the close box, SC_CLOSE handled by the dialog",
       [&] { dialog.handleSysCommands = true; },
       [&] { return h.CloseBox(w); },
       {close}},
      {"Enter once the default button is enabled again",
       [&] { dialog.EnableControl(IDC_FLASH_NOW, true); },
       [&] { return h.PressEnter(w); },
       {"command 1 0"}},
  };
  dialog.Clear();
  Strings expected;
  for (const Step& step : steps) {
    if (step.before) h.OnUi(step.before);
    ASSERT_TRUE(step.act()) << step.what;
    expected.insert(expected.end(), step.events.begin(), step.events.end());
    // Each route in order: a step that sent something it should not have
    // shows up before the next step's events.
    EXPECT_TRUE(this->WaitEvents(dialog, expected.size())) << step.what;
  }
  // Whatever the window system still had queued comes before this.
  ASSERT_TRUE(dialog.Post(kNote, 0, 1));
  expected.push_back("note 1");
  ASSERT_TRUE(this->WaitEvents(dialog, expected.size()));
  EXPECT_EQ(dialog.Events(), expected);
  EXPECT_FALSE(modal.Done());

  this->backend().EndDialog(w, 5);
  ASSERT_TRUE(modal.WaitEnd());
  EXPECT_EQ(modal.Result(), 5);
}

TYPED_TEST_P(BackendContract, AModalDialogReturnsTheEndDialogValueAndIsDestroyed) {
  const std::thread::id ui = this->UiThreadId();
  Probe dialog(IDD_MAIN);
  {
    ModalRun modal(this->harness, dialog);
    const ui::WindowHandle w = modal.WaitOpen();
    ASSERT_NE(w, ui::kNoWindow);
    EXPECT_FALSE(dialog.IsWindowThread());
    bool onItsThread = false;
    this->harness.OnUi([&] { onItsThread = dialog.IsWindowThread(); });
    EXPECT_TRUE(onItsThread);

    this->backend().EndDialog(w, 77);  // from the test's thread
    ASSERT_TRUE(modal.WaitEnd());
    EXPECT_EQ(modal.Result(), 77);
    const Strings events = dialog.Events();
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events.front(), "init");
    EXPECT_EQ(Strings(events.end() - 2, events.end()), (Strings{"destroy", "final"}));
    EXPECT_EQ(dialog.ThreadOf("init"), ui);
    EXPECT_EQ(dialog.ThreadOf("final"), ui);
    EXPECT_EQ(dialog.Handle(), ui::kNoWindow);
    EXPECT_EQ(this->backend().Send(w, kAnswer, 0, 1), 0);
    EXPECT_FALSE(this->backend().Post(w, kNote, 0, 1));
  }

  // A template the program does not have makes no window.
  Probe missing(4711);
  bool created = true;
  intptr_t result = 0;
  this->harness.OnUi([&] {
    created = missing.Create();
    result = missing.DoModal();
  });
  EXPECT_FALSE(created);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(missing.Events(), Strings{});
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
  progress.Clear();

  EXPECT_FALSE(h.CloseBox(pw));  // no system menu, no close box
  EXPECT_TRUE(h.Click(pw, IDC_PROGRESS_CANCEL));
  EXPECT_TRUE(h.PressEscape(pw));
  EXPECT_EQ(progress.Send(kAnswer, 0, 21), 42);  // served by the modal loop
  ASSERT_TRUE(this->WaitEvents(progress, 3));
  EXPECT_EQ(progress.Events(), (Strings{"command 1046 0", "command 2 0", "answer 21"}));
  EXPECT_EQ(progress.ThreadOf("answer 21"), ui);
  EXPECT_EQ(about.Events(), Strings{"init"});
  EXPECT_FALSE(modal.Done());

  // Enter on the About box: its default button, OK, whose id is IDCANCEL.
  EXPECT_TRUE(h.PressEnter(aw));
  ASSERT_TRUE(modal.WaitEnd());
  EXPECT_EQ(modal.Result(), ui::kIdCancel);
  EXPECT_EQ(about.Events(), (Strings{"init", "command 2 0", "destroy", "final"}));

  // Destroyed from the test's thread: on its own thread, WM_DESTROY then
  // WM_NCDESTROY, and nothing reaches the window afterwards.
  progress.DestroyWindow();
  EXPECT_EQ(progress.Handle(), ui::kNoWindow);
  const Strings events = progress.Events();
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(Strings(events.end() - 2, events.end()), (Strings{"destroy", "final"}));
  EXPECT_EQ(progress.ThreadOf("destroy"), ui);
  EXPECT_EQ(progress.ThreadOf("final"), ui);
  EXPECT_EQ(this->backend().Send(pw, kAnswer, 0, 1), 0);
  EXPECT_FALSE(this->backend().Post(pw, kNote, 0, 1));
  EXPECT_FALSE(h.Click(pw, IDC_PROGRESS_CANCEL));
  EXPECT_EQ(progress.Events(), events);
}

TYPED_TEST_P(BackendContract, SendAndPostAcrossThreads) {
  auto& h = this->harness;
  const std::thread::id ui = this->UiThreadId();
  Probe dialog(IDD_MAIN, false);
  ASSERT_NE(this->CreateShown(dialog), ui::kNoWindow);
  dialog.Clear();

  // From a worker: the handler runs on the UI thread and its value comes
  // back.
  std::atomic<intptr_t> answer{0};
  platform::Thread worker([&] { answer = dialog.Send(kAnswer, 0, 21); });
  worker.Join();
  EXPECT_EQ(answer.load(), 42);
  EXPECT_EQ(dialog.ThreadOf("answer 21"), ui);

  // On the UI thread: Post only queues, Send is a direct call.
  bool posted = false;
  intptr_t sent = 0;
  Strings during;
  h.OnUi([&] {
    posted = dialog.Post(kNote, 1, 1);
    sent = dialog.Send(kAnswer, 0, 2);
    during = dialog.Events();
  });
  EXPECT_TRUE(posted);
  EXPECT_EQ(sent, 4);
  EXPECT_EQ(during, (Strings{"answer 21", "answer 2"}));
  ASSERT_TRUE(this->WaitEvents(dialog, 3));
  EXPECT_EQ(dialog.Events(), (Strings{"answer 21", "answer 2", "note 1"}));
  EXPECT_EQ(dialog.ThreadOf("note 1"), ui);

  // While a message box holds the UI thread, sent messages are handled.
  const auto boxAnswer = std::make_shared<std::atomic<int>>(0);
  h.StartOnUi(
      [&dialog, boxAnswer] { *boxAnswer = dialog.ShowMessageBox("Busy", ui::kMbIconInformation); });
  const std::optional<BoxView> box = h.NextMessageBox(kPatienceMs);
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(box->text, "Busy");
  EXPECT_EQ(dialog.Send(kAnswer, 0, 3), 6);
  if (h.BoxesStayOpen()) {
    EXPECT_EQ(boxAnswer->load(), 0);
  }
  h.CloseMessageBox();
  EXPECT_TRUE(h.WaitFor([&] { return boxAnswer->load() == ui::kIdOkAnswer; }, kPatienceMs));
  EXPECT_EQ(dialog.ThreadOf("answer 3"), ui);
}

TYPED_TEST_P(BackendContract, AMessageBoxFromAWorkerBlocksItUntilClosed) {
  auto& h = this->harness;
  Probe dialog(IDD_MAIN, false);
  const ui::WindowHandle w = this->CreateShown(dialog);
  ASSERT_NE(w, ui::kNoWindow);
  struct Row {
    const char* text;
    uint32_t flags;
    bool owned;  // by the dialog, captioned with the program's title
    BoxIcon icon;
  };
  const std::vector<Row> rows = {
      {"Cannot erase a sector!", ui::kMbIconError, true, BoxIcon::kError},
      {"Download successfully completed!", ui::kMbIconInformation, true, BoxIcon::kInformation},
      {"Illegal COM port set!", ui::kMbIconError, false, BoxIcon::kError},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    std::atomic<int> answer{0};
    std::atomic<bool> returned{false};
    platform::Thread worker([&] {
      answer = row.owned
                   ? dialog.ShowMessageBox(row.text, row.flags)
                   : this->backend().ShowMessageBox(ui::kNoWindow, row.text, "Quillon", row.flags);
      returned = true;
    });
    const std::optional<BoxView> box = h.NextMessageBox(kPatienceMs);
    EXPECT_TRUE(box.has_value());
    if (box) {
      EXPECT_EQ(box->text, row.text);
      EXPECT_EQ(box->caption, row.owned ? ui::AppTitle() : std::string("Quillon"));
      EXPECT_EQ(box->icon, row.icon);
      if (h.BoxesStayOpen()) {
        EXPECT_FALSE(returned.load());
        // The owner's thread goes on meanwhile.
        EXPECT_EQ(dialog.Send(kAnswer, 0, 5), 10);
      }
      h.CloseMessageBox();
    }
    worker.Join();
    EXPECT_EQ(answer.load(), ui::kIdOkAnswer);
  }
}

REGISTER_TYPED_TEST_SUITE_P(BackendContract, ControlsReadBackWhatWasSet,
                            SelectingByTextTakesTheFirstEntryBeginningWithItIgnoringCase,
                            ClicksAndPicksReachTheDialogAndChangeTheControls,
                            EnterEscapeAndTheCloseBoxTakeTheirRoutes,
                            AModalDialogReturnsTheEndDialogValueAndIsDestroyed,
                            AModelessDialogWorksWhileAModalOneRuns, SendAndPostAcrossThreads,
                            AMessageBoxFromAWorkerBlocksItUntilClosed);

}  // namespace quillon::contract
