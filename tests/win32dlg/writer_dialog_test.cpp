// The program's main dialog on the Win32 backend, as the window system
// shows it: CWriterApp runs on a user-interface thread of its own while the
// test acts as the user through the system (BM_CLICK, list picks, keys) and
// a watcher answers the message boxes and file dialogs.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/writer_app.h"
#include "app/writer_dlg.h"
#include "engine/result_codes.h"
#include "platform/window_messages.h"
#include "res/resource.h"
#include "support/main_dialog.h"
#include "support/ui_thread.h"
#include "win32dlg/win32_fixture.h"

namespace quillon::app {
namespace {

using Strings = std::vector<std::string>;
namespace probe = ui::probe;
using ui::kNoWindow;

using testing::kSettings;
using testing::Numbered;

constexpr const char* kMainCaption = "Standard Model Quillon  Ver 2.02";

class Win32WriterDialog : public testing::Win32Test {
 protected:
  std::unique_ptr<CWriterApp> app;
  std::unique_ptr<testing::UiThread> ui;
  ui::WindowHandle main = kNoWindow;

  void SetUp() override { Win32Test::SetUp(); }
  void TearDown() override {
    if (ui && !ui->Finished() && main != kNoWindow) {
      // A failed test may leave dialogs open: close them as the user could.
      for (const ui::WindowHandle w : probe::TopLevelWindows()) {
        if (w != main && probe::IsBackendDialog(w)) {
          probe::Post(w, ui::kWmCommand, ui::CommandParam(ui::kIdCancel, ui::kBnClicked), 0);
        }
      }
      probe::Post(main, ui::kWmCommand, ui::CommandParam(IDC_EXIT, ui::kBnClicked), 0);
    }
    ui.reset();
    Win32Test::TearDown();
  }

  void Start() {
    app = std::make_unique<CWriterApp>();
    ui = std::make_unique<testing::UiThread>([this] { return app->Run(); });
    main = probe::WaitForTopLevel(kMainCaption, 10000);
  }
  int ExitCode() {
    ui->Join();
    return app->exitCode;
  }
  bool Enabled(int id) { return probe::ControlEnabled(main, id); }
  std::vector<int> EnabledOf(std::initializer_list<int> ids) {
    std::vector<int> out;
    for (const int id : ids) {
      if (Enabled(id)) out.push_back(id);
    }
    return out;
  }
  // Waits until the controls are given back after a refused FLASH NOW.
  bool WaitForControls() {
    return probe::WaitUntil([&] { return Enabled(IDC_FLASH_NOW) && Enabled(IDC_EXIT); }, 10000);
  }
};

TEST_F(Win32WriterDialog, StartsWithNothingChosenAndTheSettingsDisabled) {
  Start();
  ASSERT_NE(main, kNoWindow);
  EXPECT_TRUE(probe::IsBackendDialog(main));
  EXPECT_TRUE(probe::IsVisible(main));
  EXPECT_TRUE(probe::IsEnabled(main));
  EXPECT_EQ(probe::Owner(main), kNoWindow);

  for (const int id : {IDC_SERIAL, IDC_PARALLEL, IDC_USB}) {
    EXPECT_EQ(probe::ButtonCheck(main, id), ui::kUnchecked) << id;
    EXPECT_TRUE(Enabled(id)) << id;
  }
  for (const int id : kSettings) EXPECT_FALSE(Enabled(id)) << id;
  EXPECT_TRUE(Enabled(IDC_EXIT));
  EXPECT_TRUE(Enabled(IDC_ABOUT));

  EXPECT_EQ(probe::ListEntries(main, IDC_PORT_LIST), Strings{});
  EXPECT_EQ(probe::ListSelection(main, IDC_PORT_LIST), ui::kListNone);
  EXPECT_EQ(probe::ListEntries(main, IDC_TYPE_LIST),
            (Strings{"MAIN FIRMWARE", "IPL FIRMWARE", "US&EU FONT"}));
  EXPECT_EQ(probe::ListSelection(main, IDC_TYPE_LIST), ui::kListNone);
  EXPECT_EQ(probe::ControlText(main, IDC_FILE_BOX), "BINARY FILE");
  EXPECT_EQ(probe::ControlText(main, IDC_BAUD_LIST), "38400");
  EXPECT_EQ(probe::ControlText(main, IDC_PARITY_LIST), "NONE");
  EXPECT_EQ(probe::ControlText(main, IDC_STOP_LIST), "1");
  EXPECT_EQ(probe::ControlText(main, IDC_DATA_BITS), "8");
  EXPECT_EQ(probe::ControlText(main, IDC_DATA_FLOW), "DTR / DSR");

  EXPECT_TRUE(probe::HasIcon(main, ui::IconSize::kBig));
  EXPECT_TRUE(probe::HasIcon(main, ui::IconSize::kSmall));
  EXPECT_EQ(probe::DragIcon(main), probe::ResourceIcon(IDI_MAIN));
  const ui::WindowHandle tip = probe::ToolTipOf(main);
  ASSERT_NE(tip, kNoWindow);
  EXPECT_EQ(probe::AskToolTip(main, IDC_FLASH_NOW), "Start the download process");
  EXPECT_EQ(probe::AskToolTip(main, IDC_ABOUT), "About Brenmoor");
  EXPECT_EQ(probe::AskToolTip(main, IDC_SERIAL), std::nullopt);
  EXPECT_TRUE(watcher.MessageBoxes().empty());
}

TEST_F(Win32WriterDialog, TheInterfaceRadioButtonsFillThePortListAndEnableWhatTheyUse) {
  Start();
  ASSERT_NE(main, kNoWindow);

  probe::Click(main, IDC_SERIAL);
  EXPECT_EQ(probe::ButtonCheck(main, IDC_SERIAL), ui::kChecked);
  EXPECT_EQ(probe::ListEntries(main, IDC_PORT_LIST), Numbered("COM", 20));
  EXPECT_EQ(probe::ListSelection(main, IDC_PORT_LIST), ui::kListNone);
  for (const int id : kSettings) EXPECT_TRUE(Enabled(id)) << id;

  probe::Click(main, IDC_PARALLEL);
  EXPECT_EQ(probe::ButtonCheck(main, IDC_SERIAL), ui::kUnchecked);
  EXPECT_EQ(probe::ButtonCheck(main, IDC_PARALLEL), ui::kChecked);
  EXPECT_EQ(probe::ListEntries(main, IDC_PORT_LIST), Numbered("LPT", 10));
  EXPECT_EQ(probe::ListSelection(main, IDC_PORT_LIST), ui::kListNone);
  EXPECT_EQ(
      EnabledOf({IDC_TYPE_LIST, IDC_PORT_LIST, IDC_BAUD_LIST, IDC_PARITY_LIST, IDC_STOP_LIST,
                 IDC_FILE_BOX, IDC_BROWSE, IDC_FLASH_NOW}),
      (std::vector<int>{IDC_TYPE_LIST, IDC_PORT_LIST, IDC_FILE_BOX, IDC_BROWSE, IDC_FLASH_NOW}));

  probe::Click(main, IDC_SERIAL);
  ASSERT_TRUE(probe::PickListEntry(main, IDC_PORT_LIST, "COM3"));
  probe::Click(main, IDC_USB);
  EXPECT_EQ(probe::ButtonCheck(main, IDC_USB), ui::kChecked);
  EXPECT_EQ(probe::ButtonCheck(main, IDC_SERIAL), ui::kUnchecked);
  // The entries stay, out of use.
  EXPECT_EQ(probe::ListEntries(main, IDC_PORT_LIST), Numbered("COM", 20));
  EXPECT_EQ(probe::ControlText(main, IDC_PORT_LIST), "COM3");
  EXPECT_EQ(EnabledOf({IDC_TYPE_LIST, IDC_PORT_LIST, IDC_BAUD_LIST, IDC_PARITY_LIST, IDC_STOP_LIST,
                       IDC_FILE_BOX, IDC_BROWSE, IDC_FLASH_NOW}),
            (std::vector<int>{IDC_TYPE_LIST, IDC_FILE_BOX, IDC_BROWSE, IDC_FLASH_NOW}));
  EXPECT_TRUE(watcher.MessageBoxes().empty());
}

TEST_F(Win32WriterDialog, FlashNowWithoutAPortShowsWhyAndGivesTheControlsBack) {
  Start();
  ASSERT_NE(main, kNoWindow);
  probe::Click(main, IDC_SERIAL);
  probe::Click(main, IDC_FLASH_NOW);  // returns once the box is answered

  ASSERT_TRUE(watcher.WaitForMessageBoxes(1, 10000));
  const auto boxes = watcher.MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Illegal COM port set!");
  EXPECT_EQ(boxes[0].caption, "win32dlg_tests");  // the program's own name
  EXPECT_EQ(boxes[0].owner, main);
  EXPECT_EQ(boxes[0].icon, probe::BoxIcon::kError);
  EXPECT_EQ(boxes[0].thread, probe::WindowThread(main));

  ASSERT_TRUE(WaitForControls());
  for (const int id : kSettings) EXPECT_TRUE(Enabled(id)) << id;
  EXPECT_EQ(probe::ButtonCheck(main, IDC_SERIAL), ui::kChecked);

  // The refusal is the program's result.
  probe::PostClick(main, IDC_EXIT);
  EXPECT_EQ(ExitCode(), engine::kIllegalComPort);
}

TEST_F(Win32WriterDialog, ExitEndsTheProgramWithMinusOneWhenNothingWasShown) {
  Start();
  ASSERT_NE(main, kNoWindow);
  probe::PostClick(main, IDC_EXIT);
  EXPECT_EQ(ExitCode(), -1);
  EXPECT_EQ(app->ProcessExitCode(), 0xFFFFFFFFu);
  EXPECT_FALSE(probe::Exists(main));
  EXPECT_TRUE(watcher.MessageBoxes().empty());
}

TEST_F(Win32WriterDialog, EscapeAndTheCloseBoxEndTheDialogWhenIdle) {
  Start();
  ASSERT_NE(main, kNoWindow);
  probe::Post(main, ui::kWmSysCommand, ui::kScClose, 0);
  EXPECT_EQ(ExitCode(), -1);
  EXPECT_FALSE(probe::Exists(main));

  ui.reset();
  Start();
  ASSERT_NE(main, kNoWindow);
  probe::PostKey(main, probe::kVkEscape);
  EXPECT_EQ(ExitCode(), -1);
  EXPECT_FALSE(probe::Exists(main));
}

TEST_F(Win32WriterDialog, AboutIsModalOverTheMainDialog) {
  Start();
  ASSERT_NE(main, kNoWindow);
  probe::PostClick(main, IDC_ABOUT);
  const ui::WindowHandle about = probe::WaitForTopLevel("About Standard Model Quillon", 10000);
  ASSERT_NE(about, kNoWindow);
  EXPECT_TRUE(probe::IsBackendDialog(about));
  EXPECT_EQ(probe::Owner(about), main);
  EXPECT_FALSE(probe::IsEnabled(main));
  EXPECT_EQ(probe::ControlText(about, IDC_ABOUT_OK), "OK");

  probe::Click(about, IDC_ABOUT_OK);
  EXPECT_TRUE(probe::WaitUntil([&] { return !probe::Exists(about); }, 5000));
  EXPECT_TRUE(probe::WaitUntil([&] { return probe::IsEnabled(main); }, 5000));
}

TEST_F(Win32WriterDialog, BrowseOffersTheTypesFilesAndShowsTheChosenName) {
  Start();
  ASSERT_NE(main, kNoWindow);
  probe::Click(main, IDC_SERIAL);
  ASSERT_TRUE(probe::PickListEntry(main, IDC_TYPE_LIST, "US&EU FONT"));
  const std::string file = testing::WindowsPath(WriteFile("fonts.bin", 1000));
  watcher.AnswerFileDialog(file);
  probe::Click(main, IDC_BROWSE);  // returns once the file dialog is answered

  const auto dialogs = watcher.FileDialogs();
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0].owner, main);
  EXPECT_EQ(dialogs[0].fileTypes, Strings{"US & EU Font Files (*.bin)"});
  EXPECT_EQ(probe::ControlText(main, IDC_FILE_BOX), "fonts.bin");

  // Cancelled: the choice stands.
  watcher.AnswerFileDialog("");
  probe::Click(main, IDC_BROWSE);
  EXPECT_EQ(watcher.FileDialogs().size(), 2u);
  EXPECT_EQ(probe::ControlText(main, IDC_FILE_BOX), "fonts.bin");

  // Another type: the file no longer fits.
  ASSERT_TRUE(probe::PickListEntry(main, IDC_TYPE_LIST, "MAIN FIRMWARE"));
  EXPECT_EQ(probe::ControlText(main, IDC_FILE_BOX), "");
  EXPECT_TRUE(watcher.MessageBoxes().empty());
}

TEST_F(Win32WriterDialog, TheProgressWindowTakesEscapeWhileTheMainDialogRuns) {
  Start();
  ASSERT_NE(main, kNoWindow);
  // What a download does first: open the progress window, Cancel enabled.
  probe::Send(main, platform::WM_OPEN_PROGRESS, 1, 0);
  const ui::WindowHandle progress = probe::FindTopLevel("Quillon - On Transmission...");
  ASSERT_NE(progress, kNoWindow);
  EXPECT_TRUE(probe::IsBackendDialog(progress));
  EXPECT_EQ(probe::Owner(progress), kNoWindow);
  EXPECT_EQ(probe::WindowThread(progress), probe::WindowThread(main));
  EXPECT_TRUE(probe::ControlEnabled(progress, IDC_PROGRESS_CANCEL));

  probe::Send(main, platform::WM_PROGRESS_SETPOS, 200, 50);
  ASSERT_TRUE(probe::WaitUntil(
      [&] {
        const probe::ProgressState bar = probe::Progress(progress, IDC_PROGRESS_BAR);
        return bar.high == 200 && bar.pos >= 50;
      },
      5000));

  // Escape reaches the modeless window inside the main dialog's modal loop.
  probe::PostKey(probe::Control(progress, IDC_PROGRESS_CANCEL), probe::kVkEscape);
  // Cancel stops the window's refresh: a later position is not shown.
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  probe::Send(main, platform::WM_PROGRESS_SETPOS, 200, 150);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_LT(probe::Progress(progress, IDC_PROGRESS_BAR).pos, 150);
  EXPECT_TRUE(probe::Exists(progress));  // it stays until the download closes it

  probe::Send(main, platform::WM_CLOSE_PROGRESS, 0, 0);
  EXPECT_FALSE(probe::Exists(progress));
}

}  // namespace
}  // namespace quillon::app
