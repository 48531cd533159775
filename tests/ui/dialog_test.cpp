// The in-memory backend's own features: what it records of windows,
// messages, boxes and file dialogs, its order of sent, posted and input
// messages, its virtual time, and what the test templates have that the
// program's do not. What every backend does is in tests/contract/.

#include "ui/dialog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/thread.h"
#include "res/styles.h"
#include "support/memory_desktop.h"
#include "support/ui_thread.h"
#include "support/virtual_clock.h"

namespace quillon::ui {
namespace {

using namespace res;
using testing::UiThread;
using Strings = std::vector<std::string>;

constexpr int kTestDialog = 9001;
constexpr int kOtherDialog = 9002;
constexpr int kCombo = 10;
constexpr int kSortedCombo = 12;
constexpr int kEdit = 11;
constexpr int kOpenNested = 60;
constexpr int kBrowse = 1020;  // has a tooltip in the string table
constexpr int kNoTip = 1017;   // has none
constexpr uint32_t kPing = 0x520;

ControlTemplate Child(std::string text, int id, std::string className, uint32_t style) {
  return {std::move(text), id, std::move(className), style | kWsChild | kWsVisible, {}, 0};
}

DialogTemplate TestTemplate(int id, uint32_t style) {
  DialogTemplate t;
  t.id = id;
  t.caption = "Test";
  t.style = style;
  t.controls = {
      Child("OK", kIdOk, "Button", kBsDefPushButton | kWsTabStop),
      Child("Cancel", kIdCancel, "Button", kBsPushButton | kWsTabStop),
      Child("", kCombo, "ComboBox", kCbsDropDownList | kWsTabStop),
      Child("", kSortedCombo, "ComboBox", kCbsDropDownList | kCbsSort),
      Child("start", kEdit, "Edit", kEsAutoHScroll),
      Child("Open", kOpenNested, "Button", kBsPushButton),
      Child("Browse", kBrowse, "Button", kBsPushButton),
      Child("", kNoTip, "Edit", 0),
  };
  t.listItems = {{kCombo, "first"}, {kCombo, "second"}};
  return t;
}

// A dialog that writes down what happens to it (read it on its thread, or
// once the thread is over).
class Probe : public Dialog {
 public:
  explicit Probe(int templateId = kTestDialog, bool endOnKeys = true)
      : Dialog(templateId), endOnKeys_(endOnKeys) {}
  ~Probe() override {
    if (deleted) *deleted = true;
  }

  Strings events;
  bool handleSysCommands = false;
  bool* deleted = nullptr;
  bool deleteOnFinal = false;

 protected:
  bool OnInitDialog() override {
    events.push_back("init");
    return Dialog::OnInitDialog();
  }
  void OnCommand(int id, int code) override {
    events.push_back("command " + std::to_string(id) + " " + std::to_string(code));
    if (id == kOpenNested && code == kBnClicked) {
      Probe nested(kOtherDialog);
      events.push_back("nested returned " + std::to_string(nested.DoModal(Handle())));
      return;
    }
    Dialog::OnCommand(id, code);
  }
  void OnOK() override {
    events.push_back("ok");
    if (endOnKeys_) Dialog::OnOK();
  }
  void OnCancel() override {
    events.push_back("cancel");
    if (endOnKeys_) Dialog::OnCancel();
  }
  intptr_t OnUserMessage(uint32_t message, uintptr_t wParam, intptr_t) override {
    events.push_back("user " + std::to_string(wParam));
    return static_cast<intptr_t>(message + wParam);
  }
  bool OnSysCommand(uint32_t command, intptr_t) override {
    events.push_back("syscommand " + std::to_string(command));
    return handleSysCommands;
  }
  void OnDestroy() override { events.push_back("destroy"); }
  void OnFinalDestroy() override {
    events.push_back("final");
    if (deleteOnFinal) delete this;
  }

 private:
  bool endOnKeys_;
};

class DialogTest : public ::testing::Test, protected testing::MemoryDesktop {
 protected:
  // Dialogs outlive the user-interface thread that runs them.
  std::vector<std::unique_ptr<Probe>> probes;
  std::unique_ptr<UiThread> ui;

  Probe& Make(int templateId = kTestDialog, bool endOnKeys = true) {
    probes.push_back(std::make_unique<Probe>(templateId, endOnKeys));
    return *probes.back();
  }

  void SetUp() override {
    backend.AddTemplate(
        TestTemplate(kTestDialog, kWsPopup | kWsCaption | kWsSysMenu | kDsModalFrame));
    backend.AddTemplate(TestTemplate(kOtherDialog, kWsPopup | kWsCaption));
  }
  void TearDown() override {
    for (const int id : {kOtherDialog, kTestDialog}) {
      while (const WindowHandle w = backend.FindDialog(id)) backend.ForceClose(w);
    }
    if (ui) ui->Join();
  }

  // Runs `probe` modally on a user-interface thread; returns its window.
  WindowHandle RunModal(Probe& probe) {
    ui = std::make_unique<UiThread>([&probe] { return probe.DoModal(); });
    return backend.WaitForDialog(probe.TemplateId());
  }
  // The probe's events, read on its thread.
  Strings Events(WindowHandle w, Probe& probe) {
    Strings out;
    backend.RunOnWindowThread(w, [&] { out = probe.events; });
    return out;
  }
  template <class F>
  void OnUi(WindowHandle w, F f) {
    ASSERT_TRUE(backend.RunOnWindowThread(w, f));
  }
};

TEST_F(DialogTest, AModalWindowsStateIsRecorded) {
  Probe& probe = Make();
  const WindowHandle w = RunModal(probe);
  ASSERT_NE(w, kNoWindow);
  const auto state = backend.Window(w);
  EXPECT_TRUE(state->modal);
  EXPECT_TRUE(state->visible);
  EXPECT_EQ(state->thread, ui->Id());
  EXPECT_EQ(state->caption, "Test");
  EXPECT_EQ(state->focus, kIdOk);  // the first tab stop
  ASSERT_TRUE(backend.Click(w, kIdOk));
  EXPECT_EQ(ui->Join(), kIdOk);
  EXPECT_TRUE(backend.Window(w)->destroyed);
}
TEST_F(DialogTest, AltF4IsTheCloseBoxAndADisabledCancelButtonKeepsBothFromCancelling) {
  Probe& probe = Make(kTestDialog, /*endOnKeys=*/false);
  const WindowHandle w = RunModal(probe);
  OnUi(w, [&] { probe.events.clear(); });
  ASSERT_TRUE(backend.AltF4(w));  // SC_CLOSE -> WM_CLOSE -> IDCANCEL
  OnUi(w, [&] { probe.EnableControl(kIdCancel, false); });
  ASSERT_TRUE(backend.CloseBox(w));
  ASSERT_TRUE(backend.AltF4(w));
  EXPECT_EQ(Events(w, probe), (Strings{"syscommand 61536", "command 2 0", "cancel",
                                       "syscommand 61536", "syscommand 61536"}));
}

TEST_F(DialogTest, MessagesAreRecordedWithHowTheyCame) {
  Probe& probe = Make();
  const WindowHandle w = RunModal(probe);
  probe.Send(kPing, 7, 0);
  OnUi(w, [&] {
    probe.Post(kPing, 1, 0);
    probe.Send(kPing, 2, 0);
  });
  ASSERT_TRUE(backend.WaitFor([&] { return Events(w, probe).back() == "user 1"; }));
  std::vector<Delivery> how;
  for (const MessageRecord& m : backend.Messages()) {
    if (m.message == kPing) how.push_back(m.delivery);
  }
  EXPECT_EQ(how, (std::vector<Delivery>{Delivery::kSent, Delivery::kDirect, Delivery::kPosted}));
}
TEST_F(DialogTest, SentMessagesGoBeforePostedOnesAndInput) {
  Probe& probe = Make(kTestDialog, false);
  const WindowHandle w = RunModal(probe);
  OnUi(w, [&] { probe.events.clear(); });

  // While the window's thread is busy for 100 ms, a post, a user's Enter and
  // a send arrive in that order.
  platform::Thread busy([&] {
    backend.RunOnWindowThread(w, [&] {
      probe.Post(kPing, 1, 0);
      platform::Pause(100);
    });
  });
  platform::Thread user([&] {
    platform::Pause(20);
    backend.PressEnter(w);
  });
  platform::Thread sender([&] {
    platform::Pause(50);
    probe.Send(kPing, 3, 0);
  });
  sender.Join();
  user.Join();
  busy.Join();
  ASSERT_TRUE(backend.WaitFor([&] { return Events(w, probe).size() >= 4; }));
  EXPECT_EQ(Events(w, probe), (Strings{"user 3", "user 1", "command 1 0", "ok"}));
}

TEST_F(DialogTest, DestroyingAModelessDialogAnswersWhatWaitsAndLetsItDeleteItself) {
  Probe& host = Make();
  const WindowHandle hostWindow = RunModal(host);
  bool deleted = false;
  Probe* modeless = nullptr;
  OnUi(hostWindow, [&] {
    modeless = new Probe(kOtherDialog);
    modeless->deleted = &deleted;
    modeless->deleteOnFinal = true;
    ASSERT_TRUE(modeless->Create());
  });
  const WindowHandle w = modeless->Handle();
  // Modeless: made on the same thread, hidden until shown.
  EXPECT_EQ(backend.Window(w)->thread, ui->Id());
  EXPECT_FALSE(backend.Window(w)->visible);
  EXPECT_FALSE(backend.Click(w, kIdOk));  // hidden
  OnUi(hostWindow, [&] { modeless->Show(); });
  EXPECT_TRUE(backend.Click(w, kIdOk));
  EXPECT_EQ(backend.FindDialog(kOtherDialog), w);

  // A send that is still waiting when the window goes comes back with 0,
  // unhandled.
  intptr_t answer = -1;
  platform::Thread sender([&] {
    platform::Pause(50);
    answer = modeless->Send(kPing, 5, 0);
  });
  Strings before;
  OnUi(hostWindow, [&] {
    platform::Pause(100);
    before = modeless->events;
    modeless->DestroyWindow();
  });
  sender.Join();
  EXPECT_EQ(answer, 0);
  EXPECT_TRUE(deleted);
  EXPECT_EQ(before, (Strings{"init", "command 1 0", "ok"}));
  EXPECT_TRUE(backend.Window(w)->destroyed);
  EXPECT_EQ(backend.FindDialog(kOtherDialog), kNoWindow);
}

TEST_F(DialogTest, ANestedModalDialogDisablesItsOwnerUntilItEnds) {
  Probe& probe = Make(kTestDialog, false);
  const WindowHandle w = RunModal(probe);
  // The click returns while the nested dialog runs.
  ASSERT_TRUE(backend.Click(w, kOpenNested));
  const WindowHandle nested = backend.FindDialog(kOtherDialog);
  ASSERT_NE(nested, kNoWindow);
  EXPECT_EQ(backend.Window(nested)->owner, w);
  EXPECT_FALSE(backend.Window(w)->enabled);
  EXPECT_FALSE(backend.Click(w, kIdOk));  // the owner takes no input meanwhile

  // Messages still reach the owner: the nested loop serves the thread.
  EXPECT_EQ(probe.Send(kPing, 4, 0), static_cast<intptr_t>(kPing + 4));
  ASSERT_TRUE(backend.PressEscape(nested));
  ASSERT_TRUE(backend.WaitFor([&] { return backend.Window(w)->enabled; }));
  EXPECT_EQ(Events(w, probe), (Strings{"init", "command 60 0", "user 4", "nested returned 2"}));
}

TEST_F(DialogTest, ASortedListFilesEntriesInOrderIgnoringCase) {
  Probe& probe = Make();
  const WindowHandle w = RunModal(probe);
  OnUi(w, [&] {
    for (const char* s : {"delta", "Alpha", "charlie", "Bravo"}) probe.ListAdd(kSortedCombo, s);
  });
  EXPECT_EQ(backend.Control(w, kSortedCombo)->items,
            (Strings{"Alpha", "Bravo", "charlie", "delta"}));
  // The user picks by text: only an entry that is there.
  EXPECT_FALSE(backend.SelectListItem(w, kSortedCombo, std::string("alpha")));
  ASSERT_TRUE(backend.SelectListItem(w, kSortedCombo, std::string("charlie")));
  EXPECT_EQ(backend.Control(w, kSortedCombo)->selection, 2);
}
TEST_F(DialogTest, FocusNotifiesEditBoxesAndTheCaretCanGo) {
  Probe& probe = Make();
  const WindowHandle w = RunModal(probe);
  OnUi(w, [&] { probe.events.clear(); });
  ASSERT_TRUE(backend.Focus(w, kEdit));
  EXPECT_EQ(backend.Window(w)->focus, kEdit);
  EXPECT_EQ(backend.Window(w)->caret, CaretState::kShown);
  ASSERT_TRUE(backend.Focus(w, kEdit));  // already there: no second notification
  OnUi(w, [&] { probe.HideCaret(); });
  EXPECT_EQ(backend.Window(w)->caret, CaretState::kHidden);
  OnUi(w, [&] { probe.DestroyCaret(); });
  EXPECT_EQ(backend.Window(w)->caret, CaretState::kNone);
  ASSERT_TRUE(backend.Focus(w, kCombo));
  OnUi(w, [&] { probe.SetFocus(kIdOk); });
  EXPECT_EQ(Events(w, probe), (Strings{"command 11 256", "command 10 3"}));
}

TEST_F(DialogTest, MessageBoxesAreRecordedWithTheirOwnerAndThread) {
  Probe& probe = Make();
  const WindowHandle w = RunModal(probe);
  OnUi(w, [&] { EXPECT_EQ(probe.ShowMessageBox("from the window", kMbIconError), kIdOkAnswer); });
  EXPECT_EQ(probe.ShowMessageBox("from the test", kMbIconInformation), kIdOkAnswer);
  const auto boxes = backend.MessageBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, "from the window");
  EXPECT_EQ(boxes[0].caption, "ui_tests");  // the program's own name
  EXPECT_EQ(boxes[0].flags, kMbIconError);
  EXPECT_EQ(boxes[0].owner, w);
  EXPECT_EQ(boxes[0].ownerTemplate, kTestDialog);
  EXPECT_EQ(boxes[0].thread, ui->Id());
  EXPECT_EQ(boxes[1].flags, kMbIconInformation);
  EXPECT_EQ(boxes[1].thread, std::this_thread::get_id());
}

TEST_F(DialogTest, FileDialogsAreAnsweredFromTheScript) {
  Probe& probe = Make();
  const WindowHandle w = RunModal(probe);
  backend.ScriptFileOpen("/data/fw.mfw");
  backend.ScriptFileCancel();
  std::vector<std::optional<std::string>> answers;
  OnUi(w, [&] {
    for (int i = 0; i < 3; ++i) {
      answers.push_back(probe.OpenFileDialog("Main (*.mfw)|*.mfw|", 0x804));
    }
  });
  EXPECT_EQ(answers,
            (std::vector<std::optional<std::string>>{"/data/fw.mfw", std::nullopt, std::nullopt}));
  const auto dialogs = backend.FileDialogs();
  ASSERT_EQ(dialogs.size(), 3u);
  EXPECT_EQ(dialogs[0].owner, w);
  EXPECT_EQ(dialogs[0].request.filter, "Main (*.mfw)|*.mfw|");
  EXPECT_EQ(dialogs[0].request.flags, 0x804u);
  EXPECT_TRUE(dialogs[1].scripted);
  EXPECT_FALSE(dialogs[2].scripted);  // nothing left to answer with
}

TEST_F(DialogTest, ControlOperationsFromAnotherThreadWaitForTheWindowsThread) {
  Probe& probe = Make();
  const WindowHandle w = RunModal(probe);
  int64_t doneAt = -1;
  platform::Thread other([&] {
    platform::Pause(10);
    probe.SetControlText(kEdit, "from elsewhere");
    doneAt = platform::NowMs();
  });
  OnUi(w, [&] { platform::Pause(100); });
  other.Join();
  EXPECT_EQ(doneAt, 100);
  EXPECT_EQ(backend.Control(w, kEdit)->text, "from elsewhere");
  EXPECT_EQ(backend.Control(w, kEdit)->textChanges.back().timeMs, 100);
}

}  // namespace
}  // namespace quillon::ui
