#pragma once
// The program's main dialog as the user meets it, written once and run by
// each backend's test program over its harness (a contract::Harness):
//
//   INSTANTIATE_TYPED_TEST_SUITE_P(Memory, MainDialogContract, MemoryHarness);
//
// The program runs on the harness's UI thread; the test acts as the user.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "app/writer_app.h"
#include "contract/backend_contract.h"
#include "engine/result_codes.h"
#include "platform/device.h"
#include "platform/window_messages.h"
#include "res/resource.h"
#include "sim/emulated_line.h"
#include "sim/printer_emulator.h"
#include "support/environment.h"
#include "support/main_dialog.h"
#include "support/scratch_dir.h"

namespace quillon::contract {

inline constexpr const char* kMainCaption = "Standard Model Quillon  Ver 2.02";
inline constexpr const char* kAboutCaption = "About Standard Model Quillon";
inline constexpr const char* kProgressCaption = "Quillon - On Transmission...";

template <class H>
class MainDialogContract : public ::testing::Test {
 protected:
  // The program outlives the harness's UI thread, which runs it.
  std::unique_ptr<app::CWriterApp> app;
  std::shared_ptr<std::atomic<bool>> ended;
  H harness;
  testing::ScratchDir scratch;
  ui::WindowHandle main = ui::kNoWindow;

  void SetUp() override { Start(); }
  void TearDown() override {
    // A failed test may leave the program running: end it as the user
    // could, closing what is open over it first.
    if (*ended) return;
    while (harness.NextMessageBox(0)) harness.CloseMessageBox();
    if (const ui::WindowHandle about = harness.FindWindow(kAboutCaption)) {
      harness.OnUi([&] { harness.Backend().EndDialog(about, ui::kIdCancel); });
    }
    harness.OnUi([&] { harness.Backend().EndDialog(main, -1); });
    harness.WaitFor([&] { return ended->load(); }, kPatienceMs);
  }

  // Runs a new program and waits for its main dialog.
  void Start() {
    app = std::make_unique<app::CWriterApp>();
    ended = std::make_shared<std::atomic<bool>>(false);
    harness.StartOnUi([program = app.get(), done = ended] {
      program->Run();
      *done = true;
    });
    harness.WaitFor([&] { return (main = harness.FindWindow(kMainCaption)) != ui::kNoWindow; },
                    kPatienceMs);
    ASSERT_NE(main, ui::kNoWindow);
  }
  int ExitCode() {
    EXPECT_TRUE(harness.WaitFor([&] { return ended->load(); }, kPatienceMs));
    return app->exitCode;
  }

  // What the main dialog's controls show, read on the UI thread.
  template <class F>
  auto Read(F f) {
    decltype(f(harness.Backend())) out{};
    harness.OnUi([&] { out = f(harness.Backend()); });
    return out;
  }
  bool Enabled(int id) {
    return Read([&](ui::Backend& b) { return b.IsControlEnabled(main, id); });
  }
  std::vector<int> EnabledOf(std::initializer_list<int> ids) {
    std::vector<int> out;
    for (const int id : ids) {
      if (Enabled(id)) out.push_back(id);
    }
    return out;
  }
  int Check(int id) {
    return Read([&](ui::Backend& b) { return b.Check(main, id); });
  }
  std::string Text(int id) {
    return Read([&](ui::Backend& b) { return b.ControlText(main, id); });
  }
  int Selection(int id) {
    return Read([&](ui::Backend& b) { return b.ListSelection(main, id); });
  }
  Strings Items(int id) {
    return Read([&](ui::Backend& b) {
      Strings items;
      for (int i = 0; i < b.ListCount(main, id); ++i) items.push_back(b.ListItemText(main, id, i));
      return items;
    });
  }
  // Picks entry `text` of list `id`.
  bool Pick(int id, const std::string& text) {
    const Strings items = Items(id);
    const auto at = std::find(items.begin(), items.end(), text);
    return at != items.end() &&
           harness.SelectListItem(main, id, static_cast<int>(at - items.begin()));
  }
  // The next message box: its text, and icon; closed.
  std::optional<BoxView> TakeBox() {
    std::optional<BoxView> box = harness.NextMessageBox(kPatienceMs);
    if (box) harness.CloseMessageBox();
    return box;
  }
};

TYPED_TEST_SUITE_P(MainDialogContract);

TYPED_TEST_P(MainDialogContract, StartsWithNothingChosenAndTheSettingsDisabled) {
  for (const int id : {IDC_SERIAL, IDC_PARALLEL, IDC_USB}) {
    EXPECT_EQ(this->Check(id), ui::kUnchecked) << id;
    EXPECT_TRUE(this->Enabled(id)) << id;
  }
  for (const int id : testing::kSettings) EXPECT_FALSE(this->Enabled(id)) << id;
  EXPECT_TRUE(this->Enabled(IDC_EXIT));
  EXPECT_TRUE(this->Enabled(IDC_ABOUT));

  EXPECT_EQ(this->Items(IDC_TYPE_LIST), (Strings{"MAIN FIRMWARE", "IPL FIRMWARE", "US&EU FONT"}));
  EXPECT_EQ(this->Selection(IDC_TYPE_LIST), ui::kListNone);
  EXPECT_EQ(this->Items(IDC_PORT_LIST), Strings{});
  EXPECT_EQ(this->Selection(IDC_PORT_LIST), ui::kListNone);
  EXPECT_EQ(this->Items(IDC_BAUD_LIST), (Strings{"38400", "19200", "9600", "4800"}));
  EXPECT_EQ(this->Text(IDC_BAUD_LIST), "38400");
  EXPECT_EQ(this->Items(IDC_PARITY_LIST), (Strings{"NONE", "EVEN", "ODD"}));
  EXPECT_EQ(this->Text(IDC_PARITY_LIST), "NONE");
  EXPECT_EQ(this->Items(IDC_STOP_LIST), (Strings{"1", "2"}));
  EXPECT_EQ(this->Text(IDC_STOP_LIST), "1");
  EXPECT_EQ(this->Text(IDC_DATA_BITS), "8");
  EXPECT_EQ(this->Text(IDC_DATA_FLOW), "DTR / DSR");
  EXPECT_EQ(this->Text(IDC_FILE_BOX), "BINARY FILE");

  const std::pair<int, std::optional<std::string>> tips[] = {
      {IDC_FLASH_NOW, "Start the download process"},
      {IDC_TYPE_LIST, "Choose download type"},
      {IDC_PORT_LIST, "Choose the COM port number"},
      {IDC_BAUD_LIST, "Choose the baud rate"},
      {IDC_PARITY_LIST, "Choose the parity scheme to be used"},
      {IDC_STOP_LIST, "Choose the number of stop bits to be used"},
      {IDC_BROWSE, "Browse file"},
      {IDC_EXIT, "Exit this program"},
      {IDC_ABOUT, "About Brenmoor"},
      {IDC_FILE_BOX, std::nullopt},  // no string under its id
      {IDC_SERIAL, std::nullopt},
      {IDC_DATA_BITS, std::nullopt},
  };
  for (const auto& [id, tip] : tips) EXPECT_EQ(this->harness.ToolTip(this->main, id), tip) << id;
  EXPECT_FALSE(this->harness.NextMessageBox(0));

  ASSERT_TRUE(this->harness.Click(this->main, IDC_EXIT));
  EXPECT_EQ(this->ExitCode(), -1);
  EXPECT_EQ(this->app->ProcessExitCode(), 0xFFFFFFFFu);
}

TYPED_TEST_P(MainDialogContract, TheInterfaceRadioButtonsFillThePortListAndEnableWhatTheyUse) {
  auto& h = this->harness;
  const ui::WindowHandle main = this->main;
  const auto settings = [this] {
    return this->EnabledOf({IDC_TYPE_LIST, IDC_PORT_LIST, IDC_BAUD_LIST, IDC_PARITY_LIST,
                            IDC_STOP_LIST, IDC_FILE_BOX, IDC_BROWSE, IDC_FLASH_NOW});
  };
  ASSERT_TRUE(h.Click(main, IDC_SERIAL));
  EXPECT_EQ(this->Check(IDC_SERIAL), ui::kChecked);
  EXPECT_EQ(this->Items(IDC_PORT_LIST), testing::Numbered("COM", 20));
  EXPECT_EQ(this->Selection(IDC_PORT_LIST), ui::kListNone);
  EXPECT_EQ(settings(),
            (std::vector<int>(std::begin(testing::kSettings), std::end(testing::kSettings))));

  ASSERT_TRUE(h.SelectListItem(main, IDC_PORT_LIST, 4));
  ASSERT_TRUE(h.Click(main, IDC_PARALLEL));
  EXPECT_EQ(this->Check(IDC_SERIAL), ui::kUnchecked);
  EXPECT_EQ(this->Check(IDC_PARALLEL), ui::kChecked);
  EXPECT_EQ(this->Items(IDC_PORT_LIST), testing::Numbered("LPT", 10));
  EXPECT_EQ(this->Selection(IDC_PORT_LIST), ui::kListNone);
  EXPECT_EQ(settings(), (std::vector<int>{IDC_TYPE_LIST, IDC_PORT_LIST, IDC_FILE_BOX, IDC_BROWSE,
                                          IDC_FLASH_NOW}));

  ASSERT_TRUE(h.Click(main, IDC_SERIAL));
  ASSERT_TRUE(this->Pick(IDC_PORT_LIST, "COM3"));
  ASSERT_TRUE(h.Click(main, IDC_USB));
  EXPECT_EQ(this->Check(IDC_USB), ui::kChecked);
  EXPECT_EQ(this->Check(IDC_SERIAL), ui::kUnchecked);
  // The entries stay, out of use.
  EXPECT_EQ(this->Items(IDC_PORT_LIST), testing::Numbered("COM", 20));
  EXPECT_EQ(this->Text(IDC_PORT_LIST), "COM3");
  EXPECT_EQ(settings(), (std::vector<int>{IDC_TYPE_LIST, IDC_FILE_BOX, IDC_BROWSE, IDC_FLASH_NOW}));
  EXPECT_FALSE(h.NextMessageBox(0));
}

TYPED_TEST_P(MainDialogContract, FlashNowWithoutAPortShowsWhyAndGivesTheControlsBack) {
  auto& h = this->harness;
  ASSERT_TRUE(h.Click(this->main, IDC_SERIAL));
  ASSERT_TRUE(h.Click(this->main, IDC_FLASH_NOW));
  const auto box = this->TakeBox();
  ASSERT_TRUE(box);
  EXPECT_EQ(box->text, "Illegal COM port set!");
  EXPECT_EQ(box->caption, ui::AppTitle());  // the program's own name
  EXPECT_EQ(box->icon, BoxIcon::kError);

  EXPECT_TRUE(h.WaitFor([&] { return this->Enabled(IDC_FLASH_NOW); }, kPatienceMs));
  for (const int id : testing::kSettings) EXPECT_TRUE(this->Enabled(id)) << id;
  EXPECT_TRUE(this->Enabled(IDC_EXIT));
  EXPECT_EQ(this->Check(IDC_SERIAL), ui::kChecked);

  // Escape ends the program with the refusal as its result.
  ASSERT_TRUE(h.PressEscape(this->main));
  EXPECT_EQ(this->ExitCode(), engine::kIllegalComPort);
}

TYPED_TEST_P(MainDialogContract, EscapeAndTheCloseBoxEndTheDialogWhenIdle) {
  ASSERT_TRUE(this->harness.CloseBox(this->main));
  EXPECT_EQ(this->ExitCode(), -1);
  EXPECT_EQ(this->harness.FindWindow(kMainCaption), ui::kNoWindow);

  this->Start();
  ASSERT_TRUE(this->harness.PressEscape(this->main));
  EXPECT_EQ(this->ExitCode(), -1);
  EXPECT_EQ(this->harness.FindWindow(kMainCaption), ui::kNoWindow);
  EXPECT_FALSE(this->harness.NextMessageBox(0));
}

TYPED_TEST_P(MainDialogContract, AboutIsModalOverTheMainDialog) {
  auto& h = this->harness;
  const auto about = [&h] { return h.FindWindow(kAboutCaption); };
  // Ended by its button, then by Enter.
  for (const bool byButton : {true, false}) {
    SCOPED_TRACE(byButton ? "OK" : "Enter");
    ASSERT_TRUE(h.Click(this->main, IDC_ABOUT));
    ASSERT_TRUE(h.WaitFor([&] { return about() != ui::kNoWindow; }, kPatienceMs));
    EXPECT_FALSE(h.Click(this->main, IDC_EXIT));  // the About dialog is in the way
    ASSERT_TRUE(byButton ? h.Click(about(), IDC_ABOUT_OK) : h.PressEnter(about()));
    ASSERT_TRUE(h.WaitFor([&] { return about() == ui::kNoWindow; }, kPatienceMs));
  }
  ASSERT_TRUE(h.WaitFor([&] { return h.Click(this->main, IDC_EXIT); }, kPatienceMs));
  EXPECT_EQ(this->ExitCode(), -1);
}

TYPED_TEST_P(MainDialogContract, BrowseOffersTheFilesOfTheChosenType) {
  auto& h = this->harness;
  const ui::WindowHandle main = this->main;
  const std::string font = this->scratch.Write("fonts.bin", std::vector<uint8_t>(100, 0x5A));
  ASSERT_TRUE(h.Click(main, IDC_SERIAL));
  // No type yet.
  ASSERT_TRUE(h.Click(main, IDC_BROWSE));
  const auto box = this->TakeBox();
  ASSERT_TRUE(box);
  EXPECT_EQ(box->text, "Please determine the download type!");
  EXPECT_EQ(box->icon, BoxIcon::kError);
  // A type without a file keeps the placeholder.
  ASSERT_TRUE(this->Pick(IDC_TYPE_LIST, "IPL FIRMWARE"));
  EXPECT_EQ(this->Text(IDC_FILE_BOX), "BINARY FILE");

  const std::pair<const char*, const char*> types[] = {
      {"MAIN FIRMWARE", "Main Firmware Files (*.mfw)"},
      {"IPL FIRMWARE", "IPL Program Files (*.ipl)"},
      {"US&EU FONT", "US & EU Font Files (*.bin)"},
  };
  for (const auto& [type, files] : types) {
    ASSERT_TRUE(this->Pick(IDC_TYPE_LIST, type));
    const auto asked = h.Browse(main, IDC_BROWSE, std::nullopt);
    ASSERT_TRUE(asked) << type;
    EXPECT_EQ(asked->fileTypes, Strings{files}) << type;
  }

  // A choice, then a cancelled dialog: the choice stays.
  ASSERT_TRUE(h.Browse(main, IDC_BROWSE, font));
  EXPECT_EQ(this->Text(IDC_FILE_BOX), "fonts.bin");
  ASSERT_TRUE(h.Browse(main, IDC_BROWSE, std::nullopt));
  EXPECT_EQ(this->Text(IDC_FILE_BOX), "fonts.bin");

  // Another type: the file no longer fits. An empty box is not the
  // placeholder either: it stays empty.
  ASSERT_TRUE(this->Pick(IDC_TYPE_LIST, "MAIN FIRMWARE"));
  EXPECT_EQ(this->Text(IDC_FILE_BOX), "");
  ASSERT_TRUE(this->Pick(IDC_TYPE_LIST, "IPL FIRMWARE"));
  EXPECT_EQ(this->Text(IDC_FILE_BOX), "");
  EXPECT_FALSE(h.NextMessageBox(0));
}

TYPED_TEST_P(MainDialogContract, TheProgressWindowTakesEscapeWhileTheMainDialogRuns) {
  auto& h = this->harness;
  ui::Backend& b = h.Backend();
  const ui::WindowHandle main = this->main;
  const auto bar = [&](ui::WindowHandle w) { return h.Progress(w, IDC_PROGRESS_BAR); };
  // What a download does first: open the progress window, Cancel enabled.
  b.Send(main, platform::WM_OPEN_PROGRESS, 1, 0);
  ui::WindowHandle progress = ui::kNoWindow;
  ASSERT_TRUE(h.WaitFor(
      [&] { return (progress = h.FindWindow(kProgressCaption)) != ui::kNoWindow; }, kPatienceMs));
  EXPECT_TRUE(this->Read(
      [&](ui::Backend& ui) { return ui.IsControlEnabled(progress, IDC_PROGRESS_CANCEL); }));
  b.Send(main, platform::WM_PROGRESS_SETPOS, 200, 50);
  ASSERT_TRUE(
      h.WaitFor([&] { return bar(progress).high == 200 && bar(progress).pos >= 50; }, kPatienceMs));

  // Escape reaches the modeless window inside the main dialog's modal loop,
  // and Cancel stops its refresh: a later position is not shown.
  ASSERT_TRUE(h.PressEscape(progress));
  b.Send(main, platform::WM_PROGRESS_SETPOS, 200, 150);
  EXPECT_FALSE(h.WaitFor([&] { return bar(progress).pos >= 150; }, 2500));
  EXPECT_EQ(h.FindWindow(kProgressCaption), progress);  // it stays until the download closes it

  b.Send(main, platform::WM_CLOSE_PROGRESS, 0, 0);
  EXPECT_TRUE(
      h.WaitFor([&] { return h.FindWindow(kProgressCaption) == ui::kNoWindow; }, kPatienceMs));
}

TYPED_TEST_P(MainDialogContract, ADownloadIntoTheBuiltInPrinterFromTheRadioButtonToTheResultBox) {
  auto& h = this->harness;
  const ui::WindowHandle main = this->main;
  const std::string flash = (this->scratch.Path() / "flash.bin").string();
  ASSERT_TRUE(testing::SetEnvironment("QUILLON_COM1", "sim:flash=" + flash));
  sim::InstallBuiltInPrinter();  // as the program's start does
  struct Unset {
    ~Unset() {
      testing::UnsetEnvironment("QUILLON_COM1");
      platform::SetSimulatorFactory(nullptr);
    }
  } unset;
  // Two sectors of fonts.
  std::vector<uint8_t> image(2 * 65536);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + i / 251);
  const std::string path = this->scratch.Write("fonts.bin", image);

  ASSERT_TRUE(h.Click(main, IDC_SERIAL));
  ASSERT_TRUE(this->Pick(IDC_PORT_LIST, "COM1"));
  ASSERT_TRUE(this->Pick(IDC_TYPE_LIST, "US&EU FONT"));
  ASSERT_TRUE(h.Browse(main, IDC_BROWSE, path));
  EXPECT_EQ(this->Text(IDC_FILE_BOX), "fonts.bin");
  ASSERT_TRUE(h.Click(main, IDC_FLASH_NOW));

  ASSERT_TRUE(
      h.WaitFor([&] { return h.FindWindow(kProgressCaption) != ui::kNoWindow; }, kPatienceMs));
  EXPECT_FALSE(this->Enabled(IDC_FLASH_NOW));
  // Escape while the download runs does nothing.
  h.PressEscape(main);
  EXPECT_FALSE(this->ended->load());

  const auto box = h.NextMessageBox(3 * kPatienceMs);
  ASSERT_TRUE(box);
  EXPECT_EQ(box->text, "Download successfully completed!");
  EXPECT_EQ(box->icon, BoxIcon::kInformation);
  h.CloseMessageBox();
  EXPECT_TRUE(
      h.WaitFor([&] { return h.FindWindow(kProgressCaption) == ui::kNoWindow; }, kPatienceMs));

  // The flash holds the image from the fonts' first sector on.
  const std::vector<uint8_t> written = testing::ReadFileBytes(flash);
  const size_t at = sim::PrinterEmulator::SectorAddress(18);
  ASSERT_GE(written.size(), at + image.size());
  EXPECT_TRUE(std::equal(image.begin(), image.end(), written.begin() + static_cast<long>(at)));

  // After the download, Escape ends the program with its result.
  ASSERT_TRUE(h.WaitFor([&] { return this->Enabled(IDC_FLASH_NOW); }, kPatienceMs));
  ASSERT_TRUE(h.PressEscape(main));
  EXPECT_EQ(this->ExitCode(), 1);
}

REGISTER_TYPED_TEST_SUITE_P(MainDialogContract, StartsWithNothingChosenAndTheSettingsDisabled,
                            TheInterfaceRadioButtonsFillThePortListAndEnableWhatTheyUse,
                            FlashNowWithoutAPortShowsWhyAndGivesTheControlsBack,
                            EscapeAndTheCloseBoxEndTheDialogWhenIdle, AboutIsModalOverTheMainDialog,
                            BrowseOffersTheFilesOfTheChosenType,
                            TheProgressWindowTakesEscapeWhileTheMainDialogRuns,
                            ADownloadIntoTheBuiltInPrinterFromTheRadioButtonToTheResultBox);

}  // namespace quillon::contract
