// The Win32 backend against the window system: dialogs made from the
// compiled resource script, what each backend operation does to the real
// windows and controls, which thread it runs on, and the common dialogs.

#include <gtest/gtest.h>

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "res/resource.h"
#include "win32dlg/win32_fixture.h"

namespace quillon::ui {
namespace {

using testing::WindowThread;
using Strings = std::vector<std::string>;
namespace probe = ui::probe;

constexpr const char* kMainCaption = "Standard Model Quillon  Ver 2.02";
constexpr uint32_t kAnswer = kWmApp + 7;  // answered with lParam * 2
constexpr uint32_t kNote = kWmApp + 8;    // recorded only

// A dialog that records what reaches it, and on which thread.
class Recorder : public Dialog {
 public:
  explicit Recorder(int templateId) : Dialog(templateId) {}
  ~Recorder() override { DestroyWindow(); }

  struct Event {
    uint32_t message = 0;
    int id = 0;
    int code = 0;
    intptr_t lParam = 0;
    uint32_t thread = 0;
  };

  std::vector<Event> Events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  // The events of `message` (and, for WM_COMMAND, of control `id` with
  // notification `code`).
  std::vector<Event> Of(uint32_t message, int id = -1, int code = -1) {
    std::vector<Event> out;
    for (const Event& e : Events()) {
      if (e.message == message && (id < 0 || e.id == id) && (code < 0 || e.code == code)) {
        out.push_back(e);
      }
    }
    return out;
  }

  WindowHandle handleAtInit = kNoWindow;
  bool windowThreadAtInit = false;
  std::function<void(Recorder&)> onInit;
  // Tips by control id; without an entry, the default (the string table).
  std::vector<std::pair<int, std::optional<std::string>>> tips;
  std::atomic<int> cancels{0};

  std::optional<std::string> ToolTipText(int controlId) override {
    for (const auto& [id, tip] : tips) {
      if (id == controlId) return tip;
    }
    return Dialog::ToolTipText(controlId);
  }

 protected:
  bool OnInitDialog() override {
    handleAtInit = Handle();
    windowThreadAtInit = IsWindowThread();
    Record({kWmInitDialog, 0, 0, 0, probe::CurrentThreadId()});
    const bool focusFirst = Dialog::OnInitDialog();
    if (onInit) onInit(*this);
    return focusFirst;
  }
  void OnCommand(int id, int code) override {
    Record({kWmCommand, id, code, 0, probe::CurrentThreadId()});
    Dialog::OnCommand(id, code);
  }
  void OnCancel() override {
    ++cancels;
    Dialog::OnCancel();
  }
  intptr_t OnUserMessage(uint32_t message, uintptr_t, intptr_t lParam) override {
    Record({message, 0, 0, lParam, probe::CurrentThreadId()});
    return message == kAnswer ? lParam * 2 : 0;
  }
  void OnDestroy() override { Record({kWmDestroy, 0, 0, 0, probe::CurrentThreadId()}); }
  void OnFinalDestroy() override { Record({kWmNcDestroy, 0, 0, 0, probe::CurrentThreadId()}); }

 private:
  void Record(const Event& e) {
    std::lock_guard lock(mutex_);
    events_.push_back(e);
  }
  std::mutex mutex_;
  std::vector<Event> events_;
};

class Win32Backend : public testing::Win32Test {};

TEST_F(Win32Backend, MakesTheDialogFromTheResourcesAndAttachesItBeforeInitDialog) {
  Recorder dialog(IDD_MAIN);
  ASSERT_TRUE(dialog.Create());
  const WindowHandle window = dialog.Handle();
  ASSERT_NE(window, kNoWindow);
  EXPECT_EQ(dialog.handleAtInit, window);
  EXPECT_TRUE(dialog.windowThreadAtInit);
  EXPECT_TRUE(probe::IsBackendDialog(window));
  EXPECT_EQ(probe::ClassName(window), "#32770");
  EXPECT_EQ(probe::Text(window), kMainCaption);
  EXPECT_FALSE(probe::IsVisible(window));  // a modeless window waits for Show
  dialog.Show();
  EXPECT_TRUE(probe::IsVisible(window));

  // The controls of the template, with the initial entries of its lists.
  EXPECT_EQ(probe::ClassName(probe::Control(window, IDC_TYPE_LIST)), "ComboBox");
  EXPECT_EQ(probe::ControlText(window, IDC_BROWSE), "Browse...");
  EXPECT_EQ(probe::ListEntries(window, IDC_TYPE_LIST), (Strings{"MAIN FIRMWARE", "IPL FIRMWARE"}));
  EXPECT_EQ(probe::ListEntries(window, IDC_BAUD_LIST), (Strings{"38400", "19200", "9600", "4800"}));
  EXPECT_FALSE(probe::ControlEnabled(window, IDC_DATA_BITS));  // WS_DISABLED in the template

  dialog.DestroyWindow();
  EXPECT_FALSE(probe::Exists(window));
  EXPECT_EQ(dialog.Handle(), kNoWindow);
  const auto events = dialog.Events();
  ASSERT_GE(events.size(), 3u);
  EXPECT_EQ(events.front().message, kWmInitDialog);
  EXPECT_EQ(events[events.size() - 2].message, kWmDestroy);
  EXPECT_EQ(events.back().message, kWmNcDestroy);
}

TEST_F(Win32Backend, ATemplateThatIsNotThereMakesNoWindow) {
  Recorder modeless(4711);
  EXPECT_FALSE(modeless.Create());
  EXPECT_EQ(modeless.Handle(), kNoWindow);
  Recorder modal(4711);
  EXPECT_EQ(modal.DoModal(), -1);
  EXPECT_TRUE(modal.Events().empty());
}

TEST_F(Win32Backend, ControlOperationsAreWhatTheSystemShows) {
  Recorder dialog(IDD_MAIN);
  ASSERT_TRUE(dialog.Create());
  const WindowHandle w = dialog.Handle();

  dialog.EnableControl(IDC_BROWSE, false);
  EXPECT_FALSE(probe::ControlEnabled(w, IDC_BROWSE));
  EXPECT_FALSE(dialog.IsControlEnabled(IDC_BROWSE));
  dialog.EnableControl(IDC_BROWSE, true);
  EXPECT_TRUE(probe::ControlEnabled(w, IDC_BROWSE));
  EXPECT_TRUE(dialog.IsControlEnabled(IDC_BROWSE));

  EXPECT_TRUE(dialog.SetControlText(IDC_FILE_BOX, "fonts.bin"));
  EXPECT_EQ(probe::ControlText(w, IDC_FILE_BOX), "fonts.bin");
  EXPECT_EQ(dialog.ControlText(IDC_FILE_BOX), "fonts.bin");
  EXPECT_TRUE(dialog.SetControlText(IDC_EXIT, "Quit"));
  EXPECT_EQ(probe::ControlText(w, IDC_EXIT), "Quit");

  // A drop-down list has no text of its own: it reads as its selection.
  EXPECT_FALSE(dialog.SetControlText(IDC_BAUD_LIST, "57600"));
  EXPECT_EQ(dialog.ControlText(IDC_BAUD_LIST), "");
  ASSERT_EQ(dialog.ListSetSelection(IDC_BAUD_LIST, 2), 2);
  EXPECT_EQ(dialog.ControlText(IDC_BAUD_LIST), "9600");

  dialog.SetCheck(IDC_PARALLEL, kChecked);
  EXPECT_EQ(probe::ButtonCheck(w, IDC_PARALLEL), kChecked);
  EXPECT_EQ(dialog.Check(IDC_PARALLEL), kChecked);
  EXPECT_EQ(dialog.Check(IDC_SERIAL), kUnchecked);
  dialog.SetCheck(IDC_PARALLEL, kUnchecked);
  EXPECT_EQ(probe::ButtonCheck(w, IDC_PARALLEL), kUnchecked);

  // No such control.
  EXPECT_FALSE(dialog.IsControlEnabled(4711));
  EXPECT_FALSE(dialog.SetControlText(4711, "x"));
  EXPECT_EQ(dialog.ControlText(4711), "");
  EXPECT_EQ(dialog.Check(4711), kUnchecked);
}

TEST_F(Win32Backend, ListsFollowTheComboBoxRules) {
  Recorder dialog(IDD_MAIN);
  ASSERT_TRUE(dialog.Create());
  const WindowHandle w = dialog.Handle();

  dialog.ListReset(IDC_TYPE_LIST);
  EXPECT_EQ(dialog.ListCount(IDC_TYPE_LIST), 0);
  EXPECT_EQ(probe::ListEntries(w, IDC_TYPE_LIST), Strings{});
  for (int n = 1; n <= 12; ++n) {
    EXPECT_EQ(dialog.ListAdd(IDC_PORT_LIST, "COM" + std::to_string(n)), n - 1);
  }
  EXPECT_EQ(dialog.ListCount(IDC_PORT_LIST), 12);
  EXPECT_EQ(dialog.ListItemText(IDC_PORT_LIST, 9), "COM10");
  EXPECT_EQ(dialog.ListItemText(IDC_PORT_LIST, 12), "");
  EXPECT_EQ(dialog.ListItemText(IDC_PORT_LIST, -1), "");
  EXPECT_EQ(dialog.ListSelection(IDC_PORT_LIST), kListNone);

  // The first entry that begins with the text, ignoring case, from the top.
  EXPECT_EQ(dialog.ListSelectText(IDC_PORT_LIST, "com1"), 0);
  EXPECT_EQ(dialog.ListSelectText(IDC_PORT_LIST, "COM11"), 10);
  EXPECT_EQ(dialog.ListSelectText(IDC_PORT_LIST, "Com2"), 1);
  EXPECT_EQ(probe::ListSelection(w, IDC_PORT_LIST), 1);
  EXPECT_EQ(dialog.ControlText(IDC_PORT_LIST), "COM2");
  // None: the selection stays.
  EXPECT_EQ(dialog.ListSelectText(IDC_PORT_LIST, "LPT1"), kListNone);
  EXPECT_EQ(dialog.ListSelection(IDC_PORT_LIST), 1);
  EXPECT_EQ(dialog.ListSelectText(IDC_PORT_LIST, "COM13"), kListNone);
  EXPECT_EQ(dialog.ListSelection(IDC_PORT_LIST), 1);

  EXPECT_EQ(dialog.ListSetSelection(IDC_PORT_LIST, 5), 5);
  EXPECT_EQ(probe::ListSelection(w, IDC_PORT_LIST), 5);
  EXPECT_EQ(dialog.ListSetSelection(IDC_PORT_LIST, kListNone), kListNone);
  EXPECT_EQ(dialog.ListSelection(IDC_PORT_LIST), kListNone);
  dialog.ListSetSelection(IDC_PORT_LIST, 3);
  EXPECT_EQ(dialog.ListSetSelection(IDC_PORT_LIST, 40), kListNone);  // outside: cleared
  EXPECT_EQ(dialog.ListSelection(IDC_PORT_LIST), kListNone);

  dialog.ListReset(IDC_PORT_LIST);
  EXPECT_EQ(dialog.ListCount(IDC_PORT_LIST), 0);
  EXPECT_EQ(dialog.ListSelectText(IDC_PORT_LIST, ""), kListNone);

  // Other controls are no lists.
  EXPECT_EQ(dialog.ListAdd(IDC_FILE_BOX, "x"), kListNone);
  EXPECT_EQ(dialog.ListCount(IDC_BROWSE), kListNone);
  EXPECT_EQ(dialog.ListSelection(IDC_FILE_BOX), kListNone);
  EXPECT_EQ(dialog.ListSelectText(IDC_FILE_BOX, ""), kListNone);
  EXPECT_EQ(dialog.ListCount(4711), kListNone);
}

TEST_F(Win32Backend, TheProgressBarTakesItsRangeAndPosition) {
  Recorder dialog(IDD_PROGRESS);
  ASSERT_TRUE(dialog.Create());
  const WindowHandle w = dialog.Handle();
  dialog.SetProgressRange(IDC_PROGRESS_BAR, 0, 5000);
  dialog.SetProgressPos(IDC_PROGRESS_BAR, 1234);
  probe::ProgressState bar = probe::Progress(w, IDC_PROGRESS_BAR);
  EXPECT_EQ(bar.low, 0);
  EXPECT_EQ(bar.high, 5000);
  EXPECT_EQ(bar.pos, 1234);
  dialog.SetProgressPos(IDC_PROGRESS_BAR, 7000);  // shown within the range
  EXPECT_EQ(probe::Progress(w, IDC_PROGRESS_BAR).pos, 5000);
  dialog.SetProgressRange(IDC_PROGRESS_BAR, 0, 100);
  bar = probe::Progress(w, IDC_PROGRESS_BAR);
  EXPECT_EQ(bar.high, 100);
  EXPECT_EQ(bar.pos, 100);
  // Not a progress bar: nothing happens to it.
  dialog.SetProgressPos(IDC_PROGRESS_CANCEL, 3);
  EXPECT_EQ(probe::ControlText(w, IDC_PROGRESS_CANCEL), "Cancel");
}

TEST_F(Win32Backend, IconsAndTheSystemMenu) {
  Recorder dialog(IDD_MAIN);
  ASSERT_TRUE(dialog.Create());
  const WindowHandle w = dialog.Handle();
  EXPECT_FALSE(probe::HasIcon(w, IconSize::kBig));
  const uintptr_t classIcon = probe::DragIcon(w);  // the system's default

  dialog.SetIcon(IDI_MAIN, IconSize::kBig);
  EXPECT_TRUE(probe::HasIcon(w, IconSize::kBig));
  EXPECT_FALSE(probe::HasIcon(w, IconSize::kSmall));
  dialog.SetIcon(IDI_MAIN, IconSize::kSmall);
  EXPECT_TRUE(probe::HasIcon(w, IconSize::kSmall));
  // Dragged (and minimised), it shows the dialog's icon.
  EXPECT_NE(probe::DragIcon(w), classIcon);
  EXPECT_EQ(probe::DragIcon(w), probe::ResourceIcon(IDI_MAIN));

  const auto before = probe::SystemMenu(w);
  ASSERT_FALSE(before.empty());  // the system's own entries
  dialog.AppendSystemMenuSeparator();
  dialog.AppendSystemMenu(0x10, "About Quillon...");
  const auto after = probe::SystemMenu(w);
  ASSERT_EQ(after.size(), before.size() + 2);
  EXPECT_EQ(after[after.size() - 2], (std::pair<uint32_t, std::string>{0, ""}));
  EXPECT_EQ(after.back(), (std::pair<uint32_t, std::string>{0x10, "About Quillon..."}));
}

TEST_F(Win32Backend, ToolTipsAskTheDialogForEachControlsText) {
  Recorder dialog(IDD_MAIN);
  dialog.tips = {{IDC_EXIT, "Leave"}, {IDC_BROWSE, std::nullopt}};
  ASSERT_TRUE(dialog.Create());
  const WindowHandle w = dialog.Handle();
  EXPECT_EQ(probe::ToolTipOf(w), kNoWindow);

  dialog.EnableToolTips(true);
  const WindowHandle tip = probe::ToolTipOf(w);
  ASSERT_NE(tip, kNoWindow);
  EXPECT_EQ(probe::ToolCount(tip), static_cast<int>(probe::Children(w).size()));
  EXPECT_TRUE(probe::HasTool(tip, w, IDC_FLASH_NOW));
  EXPECT_TRUE(probe::HasTool(tip, w, IDC_FILE_BOX));

  EXPECT_EQ(probe::AskToolTip(w, IDC_FLASH_NOW), "Start the download process");
  EXPECT_EQ(probe::AskToolTip(w, IDC_PORT_LIST), "Choose the COM port number");
  EXPECT_EQ(probe::AskToolTip(w, IDC_FLASH_NOW, /*wide=*/true), "Start the download process");
  EXPECT_EQ(probe::AskToolTip(w, IDC_EXIT), "Leave");
  EXPECT_EQ(probe::AskToolTip(w, IDC_BROWSE), std::nullopt);
  EXPECT_EQ(probe::AskToolTip(w, IDC_FILE_BOX), std::nullopt);  // no string for it
  EXPECT_EQ(probe::AskToolTip(w, IDC_SERIAL, /*wide=*/true), std::nullopt);

  // Switched off and on again: the same tooltip.
  dialog.EnableToolTips(false);
  dialog.EnableToolTips(true);
  EXPECT_EQ(probe::ToolTipOf(w), tip);
  dialog.DestroyWindow();
  EXPECT_FALSE(probe::Exists(tip));
}

TEST_F(Win32Backend, FocusNotifiesTheDialogAndTheCaretCanBeHiddenAndDestroyed) {
  Recorder dialog(IDD_MAIN);
  ASSERT_TRUE(dialog.Create());
  dialog.Show();
  const WindowHandle w = dialog.Handle();
  const uint32_t self = probe::CurrentThreadId();

  dialog.SetFocus(IDC_FILE_BOX);
  EXPECT_EQ(probe::FocusOf(self), probe::Control(w, IDC_FILE_BOX));
  EXPECT_EQ(dialog.Of(kWmCommand, IDC_FILE_BOX, kEnSetFocus).size(), 1u);
  EXPECT_EQ(probe::CaretOwnerOf(self), probe::Control(w, IDC_FILE_BOX));
  dialog.HideCaret();
  EXPECT_EQ(probe::CaretOwnerOf(self), probe::Control(w, IDC_FILE_BOX));  // hidden, not gone
  dialog.DestroyCaret();
  EXPECT_EQ(probe::CaretOwnerOf(self), kNoWindow);

  const size_t listFocus = dialog.Of(kWmCommand, IDC_TYPE_LIST, kCbnSetFocus).size();
  dialog.SetFocus(IDC_TYPE_LIST);
  EXPECT_EQ(dialog.Of(kWmCommand, IDC_TYPE_LIST, kCbnSetFocus).size(), listFocus + 1);
  EXPECT_EQ(probe::FocusOf(self), probe::Control(w, IDC_TYPE_LIST));
}

TEST_F(Win32Backend, FromAnotherThreadEveryOperationIsCarriedOutOnTheWindowsThread) {
  Recorder dialog(IDD_MAIN);
  WindowThread ui([&] {
    ASSERT_TRUE(dialog.Create());
    dialog.Show();
  });
  const WindowHandle w = dialog.Handle();
  ASSERT_NE(w, kNoWindow);
  ASSERT_NE(ui.Id(), probe::CurrentThreadId());
  EXPECT_FALSE(dialog.IsWindowThread());
  EXPECT_EQ(probe::WindowThread(w), ui.Id());

  // Focus and caret belong to the window's thread.
  dialog.SetFocus(IDC_FILE_BOX);
  EXPECT_EQ(probe::FocusOf(ui.Id()), probe::Control(w, IDC_FILE_BOX));
  const auto focus = dialog.Of(kWmCommand, IDC_FILE_BOX, kEnSetFocus);
  ASSERT_EQ(focus.size(), 1u);
  EXPECT_EQ(focus[0].thread, ui.Id());
  EXPECT_EQ(probe::CaretOwnerOf(ui.Id()), probe::Control(w, IDC_FILE_BOX));
  dialog.DestroyCaret();
  EXPECT_EQ(probe::CaretOwnerOf(ui.Id()), kNoWindow);

  dialog.EnableControl(IDC_FLASH_NOW, false);
  EXPECT_FALSE(probe::ControlEnabled(w, IDC_FLASH_NOW));
  EXPECT_TRUE(dialog.SetControlText(IDC_FILE_BOX, "main.mfw"));
  EXPECT_EQ(dialog.ControlText(IDC_FILE_BOX), "main.mfw");
  EXPECT_EQ(dialog.ListAdd(IDC_PORT_LIST, "COM1"), 0);
  EXPECT_EQ(dialog.ListSelectText(IDC_PORT_LIST, "com"), 0);
  dialog.SetIcon(IDI_MAIN, IconSize::kBig);
  EXPECT_TRUE(probe::HasIcon(w, IconSize::kBig));
  const size_t entries = probe::SystemMenu(w).size();
  dialog.AppendSystemMenu(0x10, "About");
  EXPECT_EQ(probe::SystemMenu(w).size(), entries + 1);
  dialog.EnableToolTips(true);
  ASSERT_NE(probe::ToolTipOf(w), kNoWindow);
  EXPECT_EQ(probe::WindowThread(probe::ToolTipOf(w)), ui.Id());
  dialog.Show(false);
  EXPECT_FALSE(probe::IsVisible(w));
  dialog.Show(true);
  EXPECT_TRUE(probe::IsVisible(w));

  // Send waits for the answer of the window's thread; Post only queues.
  EXPECT_EQ(dialog.Send(kAnswer, 0, 21), 42);
  const auto answered = dialog.Of(kAnswer);
  ASSERT_EQ(answered.size(), 1u);
  EXPECT_EQ(answered[0].thread, ui.Id());
  EXPECT_TRUE(dialog.Post(kNote, 0, 5));
  ASSERT_TRUE(probe::WaitUntil([&] { return !dialog.Of(kNote).empty(); }, 5000));
  EXPECT_EQ(dialog.Of(kNote)[0].thread, ui.Id());
  EXPECT_EQ(dialog.Of(kNote)[0].lParam, 5);

  // Destroyed from here, on its own thread.
  dialog.DestroyWindow();
  EXPECT_FALSE(probe::Exists(w));
  EXPECT_EQ(dialog.Handle(), kNoWindow);
  const auto gone = dialog.Of(kWmNcDestroy);
  ASSERT_EQ(gone.size(), 1u);
  EXPECT_EQ(gone[0].thread, ui.Id());

  // A window that is gone answers nothing.
  EXPECT_EQ(backend.Send(w, kAnswer, 0, 1), 0);
  EXPECT_FALSE(backend.Post(w, kNote, 0, 1));
  EXPECT_EQ(dialog.Send(kAnswer, 0, 1), 0);
  EXPECT_FALSE(dialog.Post(kNote, 0, 1));
  EXPECT_EQ(dialog.Of(kAnswer).size(), 1u);
}

// Runs a modal dialog on a thread of its own; its result once it ends. A
// dialog still open at the end (a failed test) is ended with -1.
class ModalThread {
 public:
  explicit ModalThread(Dialog& dialog)
      : dialog_(dialog), thread_([this] { result_ = dialog_.DoModal(); }) {}
  ~ModalThread() {
    if (!thread_.Finished()) {
      probe::WaitUntil([&] { return dialog_.Handle() != kNoWindow || thread_.Finished(); }, 5000);
      dialog_.EndDialog(-1);
    }
  }
  intptr_t Result() {
    thread_.Join();
    return result_;
  }
  bool Finished() { return thread_.Finished(); }

 private:
  Dialog& dialog_;
  std::atomic<intptr_t> result_{0};
  platform::Thread thread_;
};

TEST_F(Win32Backend, AModalDialogEndsWithTheValueGivenToEndDialog) {
  Recorder dialog(IDD_MAIN);
  dialog.onInit = [](Recorder& d) { d.Post(kNote, 0, 0); };
  ModalThread modal(dialog);
  ASSERT_NE(probe::WaitForTopLevel(kMainCaption, 10000), kNoWindow);
  ASSERT_TRUE(probe::WaitUntil([&] { return !dialog.Of(kNote).empty(); }, 5000));
  const WindowHandle w = dialog.Handle();
  EXPECT_TRUE(probe::IsVisible(w));
  dialog.EndDialog(77);
  EXPECT_EQ(modal.Result(), 77);
  EXPECT_FALSE(probe::Exists(w));
  EXPECT_EQ(dialog.Handle(), kNoWindow);
  EXPECT_EQ(dialog.Of(kWmNcDestroy).size(), 1u);
}

TEST_F(Win32Backend, TheCloseBoxAndEscapeReachTheDialogAsCancel) {
  {
    Recorder dialog(IDD_ABOUT);
    ModalThread modal(dialog);
    const WindowHandle w = probe::WaitForTopLevel("About Standard Model Quillon", 10000);
    ASSERT_NE(w, kNoWindow);
    // SC_CLOSE -> WM_CLOSE -> IDCANCEL, by the system's default processing.
    probe::Post(w, kWmSysCommand, kScClose, 0);
    EXPECT_EQ(modal.Result(), kIdCancel);
    EXPECT_EQ(dialog.cancels.load(), 1);
    EXPECT_EQ(dialog.Of(kWmCommand, kIdCancel, kBnClicked).size(), 1u);
  }
  {
    Recorder dialog(IDD_ABOUT);
    ModalThread modal(dialog);
    const WindowHandle w = probe::WaitForTopLevel("About Standard Model Quillon", 10000);
    ASSERT_NE(w, kNoWindow);
    probe::PostKey(w, probe::kVkEscape);
    EXPECT_EQ(modal.Result(), kIdCancel);
    EXPECT_EQ(dialog.cancels.load(), 1);
  }
}

TEST_F(Win32Backend, EnterPressesTheDefaultButtonOnlyWhileItIsEnabled) {
  Recorder dialog(IDD_MAIN);
  dialog.onInit = [](Recorder& d) { d.EnableControl(IDC_FLASH_NOW, false); };
  ModalThread modal(dialog);
  const WindowHandle w = probe::WaitForTopLevel(kMainCaption, 10000);
  ASSERT_NE(w, kNoWindow);

  probe::PostKey(w, probe::kVkReturn);
  dialog.Post(kNote, 0, 1);  // handled after the key
  ASSERT_TRUE(probe::WaitUntil([&] { return !dialog.Of(kNote).empty(); }, 5000));
  EXPECT_TRUE(dialog.Of(kWmCommand, IDC_FLASH_NOW).empty());
  EXPECT_FALSE(modal.Finished());

  dialog.EnableControl(IDC_FLASH_NOW, true);
  probe::PostKey(w, probe::kVkReturn);
  EXPECT_EQ(modal.Result(), kIdOk);  // FLASH NOW is IDOK: Dialog::OnOK
  EXPECT_EQ(dialog.Of(kWmCommand, IDC_FLASH_NOW, kBnClicked).size(), 1u);
}

TEST_F(Win32Backend, AModelessDialogKeepsItsKeyboardWhileAModalLoopRuns) {
  // The progress window is modeless; the About box runs its modal loop on
  // the same thread meanwhile, as the main dialog's loop does in the program.
  Recorder progress(IDD_PROGRESS);
  Recorder about(IDD_ABOUT);
  std::atomic<intptr_t> aboutResult{0};
  std::atomic<bool> made{false};
  platform::Thread ui([&] {
    made = progress.Create();
    progress.Show();
    aboutResult = about.DoModal();
    progress.DestroyWindow();
  });
  const WindowHandle box = probe::WaitForTopLevel("About Standard Model Quillon", 10000);
  const WindowHandle w = progress.Handle();
  EXPECT_TRUE(made.load());
  EXPECT_NE(box, kNoWindow);
  EXPECT_EQ(probe::WindowThread(w), probe::WindowThread(box));

  // Escape on the progress window's Cancel button: IDCANCEL for the
  // progress window, nothing for the About box.
  probe::PostKey(probe::Control(w, IDC_PROGRESS_CANCEL), probe::kVkEscape);
  EXPECT_TRUE(probe::WaitUntil([&] { return progress.cancels.load() == 1; }, 5000));
  EXPECT_EQ(progress.Of(kWmCommand, kIdCancel, kBnClicked).size(), 1u);
  EXPECT_EQ(about.cancels.load(), 0);
  EXPECT_TRUE(probe::IsVisible(box));

  about.EndDialog(kIdOk);
  ui.Join();
  EXPECT_EQ(aboutResult.load(), kIdOk);
  EXPECT_FALSE(probe::Exists(w));
}

TEST_F(Win32Backend, AMessageBoxShowsTheTextAndCaptionItIsGiven) {
  Recorder dialog(IDD_MAIN);
  ASSERT_TRUE(dialog.Create());
  EXPECT_EQ(
      backend.ShowMessageBox(dialog.Handle(), "Illegal COM port set!", "Quillon", kMbIconError),
      kIdOkAnswer);
  EXPECT_EQ(dialog.ShowMessageBox("Download successfully completed!", kMbIconInformation),
            kIdOkAnswer);
  EXPECT_EQ(backend.ShowMessageBox(kNoWindow, "No owner", "Title", kMbOk), kIdOkAnswer);

  const auto boxes = watcher.MessageBoxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].text, "Illegal COM port set!");
  EXPECT_EQ(boxes[0].caption, "Quillon");
  EXPECT_EQ(boxes[0].owner, dialog.Handle());
  EXPECT_EQ(boxes[0].icon, probe::BoxIcon::kError);
  EXPECT_EQ(boxes[0].thread, probe::CurrentThreadId());
  EXPECT_EQ(boxes[1].text, "Download successfully completed!");
  EXPECT_EQ(boxes[1].caption, AppTitle());
  EXPECT_EQ(boxes[1].icon, probe::BoxIcon::kInformation);
  EXPECT_EQ(boxes[2].caption, "Title");
  EXPECT_EQ(boxes[2].owner, kNoWindow);
  EXPECT_EQ(boxes[2].icon, probe::BoxIcon::kNone);
}

TEST_F(Win32Backend, AMessageBoxBlocksOnlyTheThreadThatShowsIt) {
  Recorder dialog(IDD_MAIN);
  WindowThread ui([&] {
    ASSERT_TRUE(dialog.Create());
    dialog.Show();
  });
  const WindowHandle w = dialog.Handle();
  watcher.Hold(true);
  std::atomic<int> answer{0};
  platform::Thread worker([&] { answer = dialog.ShowMessageBox("Cannot erase a sector!", 0x10); });
  struct Release {  // the box is answered even when the test fails
    probe::CommonDialogWatcher& watcher;
    ~Release() { watcher.Hold(false); }
  } release{watcher};
  // The box is titled with the program's name.
  ASSERT_NE(probe::WaitForTopLevel("win32dlg_tests", 10000), kNoWindow);
  // The owner is disabled while its box is up, but its thread goes on.
  EXPECT_FALSE(probe::IsEnabled(w));
  EXPECT_EQ(dialog.Send(kAnswer, 0, 4), 8);
  EXPECT_EQ(answer.load(), 0);

  watcher.Hold(false);
  worker.Join();
  EXPECT_EQ(answer.load(), kIdOkAnswer);
  EXPECT_TRUE(probe::IsEnabled(w));
  ASSERT_EQ(watcher.MessageBoxes().size(), 1u);
  EXPECT_EQ(watcher.MessageBoxes()[0].owner, w);
  EXPECT_NE(watcher.MessageBoxes()[0].thread, ui.Id());
}

TEST_F(Win32Backend, TheFileDialogTakesTheFilterAndGivesTheChosenPath) {
  Recorder dialog(IDD_MAIN);
  ASSERT_TRUE(dialog.Create());
  const std::string file = testing::WindowsPath(WriteFile("fonts.bin", 64));
  watcher.AnswerFileDialog(file);
  const auto path = dialog.OpenFileDialog("US & EU Font Files (*.bin)|*.bin|",
                                          kOfnHideReadOnly | kOfnPathMustExist);
  ASSERT_TRUE(path.has_value());
  EXPECT_EQ(*path, file);
  const auto dialogs = watcher.FileDialogs();
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0].owner, dialog.Handle());
  EXPECT_EQ(dialogs[0].fileTypes, Strings{"US & EU Font Files (*.bin)"});

  // Two file types; cancelled.
  watcher.AnswerFileDialog("");
  EXPECT_EQ(dialog.OpenFileDialog("IPL Program Files (*.ipl)|*.ipl|All Files (*.*)|*.*|",
                                  kOfnHideReadOnly),
            std::nullopt);
  ASSERT_EQ(watcher.FileDialogs().size(), 2u);
  EXPECT_EQ(watcher.FileDialogs()[1].fileTypes,
            (Strings{"IPL Program Files (*.ipl)", "All Files (*.*)"}));
}

TEST(Win32FileFilter, TurnsTheBarsIntoNulsAndEndsWithTwo) {
  EXPECT_EQ(Win32FileFilter("Main Firmware Files (*.mfw)|*.mfw|"),
            std::string("Main Firmware Files (*.mfw)\0*.mfw\0\0", 35));
  EXPECT_EQ(Win32FileFilter("A|*.a|B|*.b"), std::string("A\0*.a\0B\0*.b\0\0", 13));
  EXPECT_EQ(Win32FileFilter(""), "");
}

}  // namespace
}  // namespace quillon::ui
