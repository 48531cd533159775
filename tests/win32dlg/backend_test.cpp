// The Win32 backend against the window system, where it goes beyond what
// every backend does (tests/contract/): dialogs made from the compiled
// resource script, icons, the system menu, tooltips, focus and caret and
// the thread they belong to, message box owners, the file dialog.

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

// A dialog that records what reaches it, and on which thread.
class Recorder : public Dialog {
 public:
  explicit Recorder(int templateId) : Dialog(templateId) {}
  ~Recorder() override { DestroyWindow(); }

  struct Event {
    uint32_t message = 0;
    int id = 0;
    int code = 0;
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
  // Tips by control id; without an entry, the default (the string table).
  std::vector<std::pair<int, std::optional<std::string>>> tips;

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
    Record({kWmInitDialog, 0, 0, probe::CurrentThreadId()});
    return Dialog::OnInitDialog();
  }
  void OnCommand(int id, int code) override {
    Record({kWmCommand, id, code, probe::CurrentThreadId()});
    Dialog::OnCommand(id, code);
  }
  void OnDestroy() override { Record({kWmDestroy, 0, 0, probe::CurrentThreadId()}); }
  void OnFinalDestroy() override { Record({kWmNcDestroy, 0, 0, probe::CurrentThreadId()}); }

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

TEST_F(Win32Backend, ToolTipsAskTheDialogForEachControlsTextInBothCharacterSets) {
  Recorder dialog(IDD_MAIN);
  dialog.tips = {{IDC_EXIT, "Leave"}, {IDC_BROWSE, std::nullopt}};
  ASSERT_TRUE(dialog.Create());
  const WindowHandle w = dialog.Handle();
  EXPECT_EQ(probe::ToolTipOf(w), kNoWindow);

  // One tool per control, each asked for its text when it shows.
  dialog.EnableToolTips(true);
  const WindowHandle tip = probe::ToolTipOf(w);
  ASSERT_NE(tip, kNoWindow);
  EXPECT_EQ(probe::ToolCount(tip), static_cast<int>(probe::Children(w).size()));
  EXPECT_TRUE(probe::HasTool(tip, w, IDC_FILE_BOX));
  EXPECT_EQ(probe::AskToolTip(w, IDC_FLASH_NOW, /*wide=*/true), "Start the download process");
  EXPECT_EQ(probe::AskToolTip(w, IDC_EXIT), "Leave");
  EXPECT_EQ(probe::AskToolTip(w, IDC_BROWSE), std::nullopt);
  EXPECT_EQ(probe::AskToolTip(w, IDC_SERIAL, /*wide=*/true), std::nullopt);

  // Switched off and on again: the same tooltip, gone with the window.
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

  // Destroyed from here, on its own thread: its tooltip goes with it.
  const WindowHandle tip = probe::ToolTipOf(w);
  dialog.DestroyWindow();
  EXPECT_FALSE(probe::Exists(w));
  EXPECT_FALSE(probe::Exists(tip));
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
