// The main dialog as the user meets it: its state at start, the interface
// radio buttons, the download type, Browse, About, the keys that close it.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "engine/result_codes.h"
#include "engine/sector_plan.h"
#include "support/main_dialog.h"
#include "support/writer_fixture.h"

namespace quillon::app {
namespace {

using Strings = std::vector<std::string>;
using testing::ImagePattern;
using testing::kSettings;
using testing::Numbered;

class WriterDialog : public testing::WriterFixture {
 protected:
  // The interface flag the dialog keeps for the end of a download.
  int UseUsb() {
    return OnDialog([](CWriterDlg& d) { return d.useUsb; });
  }
  // The ids among `ids` whose control is enabled.
  std::vector<int> EnabledOf(std::initializer_list<int> ids) {
    std::vector<int> out;
    for (const int id : ids) {
      if (Enabled(id)) out.push_back(id);
    }
    return out;
  }
};

TEST_F(WriterDialog, StartsWithNothingChosenAndTheSettingsDisabled) {
  Start();
  ASSERT_NE(main, ui::kNoWindow);
  const ui::WindowState window = *backend.Window(main);
  EXPECT_EQ(window.caption, "Standard Model Quillon  Ver 2.02");
  EXPECT_EQ(window.bigIcon, IDI_MAIN);
  EXPECT_EQ(window.smallIcon, IDI_MAIN);
  EXPECT_TRUE(window.systemMenu.empty());  // the string table has no About entry
  EXPECT_EQ(window.focus, IDC_TYPE_LIST);

  for (const int id : {IDC_SERIAL, IDC_PARALLEL, IDC_USB}) {
    EXPECT_EQ(Control(id).check, ui::kUnchecked) << id;
    EXPECT_TRUE(Enabled(id)) << id;
  }
  for (const int id : kSettings) EXPECT_FALSE(Enabled(id)) << id;
  EXPECT_TRUE(Enabled(IDC_EXIT));
  EXPECT_TRUE(Enabled(IDC_ABOUT));

  EXPECT_EQ(Control(IDC_TYPE_LIST).items, (Strings{"MAIN FIRMWARE", "IPL FIRMWARE", "US&EU FONT"}));
  EXPECT_EQ(Control(IDC_TYPE_LIST).selection, ui::kListNone);
  EXPECT_TRUE(Control(IDC_PORT_LIST).items.empty());
  EXPECT_EQ(Control(IDC_PORT_LIST).selection, ui::kListNone);
  EXPECT_EQ(Control(IDC_BAUD_LIST).items, (Strings{"38400", "19200", "9600", "4800"}));
  EXPECT_EQ(Control(IDC_BAUD_LIST).SelectedText(), "38400");
  EXPECT_EQ(Control(IDC_PARITY_LIST).items, (Strings{"NONE", "EVEN", "ODD"}));
  EXPECT_EQ(Control(IDC_PARITY_LIST).SelectedText(), "NONE");
  EXPECT_EQ(Control(IDC_STOP_LIST).items, (Strings{"1", "2"}));
  EXPECT_EQ(Control(IDC_STOP_LIST).SelectedText(), "1");
  EXPECT_EQ(Control(IDC_DATA_BITS).text, "8");
  EXPECT_EQ(Control(IDC_DATA_FLOW).text, "DTR / DSR");
  EXPECT_EQ(Control(IDC_FILE_BOX).text, "BINARY FILE");
  EXPECT_TRUE(backend.MessageBoxes().empty());

  struct Members {
    int busy, lastResult, rowCount;
    bool printer, thread, progress, sectors;
    std::string modelName, fileTitle, filePath, portName, parityText;
    int baudRate, stopBits;
  };
  const Members m = OnDialog([](CWriterDlg& d) {
    return Members{d.busy,
                   d.GetLastResult(),
                   d.rowCount,
                   d.download != nullptr,
                   d.pThread != nullptr,
                   d.progressDlg != nullptr,
                   d.sectorTable == engine::flashSectorSizes,
                   d.modelName,
                   d.fileTitle,
                   d.filePath,
                   d.portName,
                   d.parityText,
                   d.baudRate,
                   d.stopBits};
  });
  EXPECT_EQ(m.busy, 0);
  EXPECT_EQ(m.lastResult, -1);
  EXPECT_EQ(m.rowCount, 3);
  EXPECT_FALSE(m.printer || m.thread || m.progress);
  EXPECT_TRUE(m.sectors);
  EXPECT_EQ(m.modelName, "PBOOK");
  EXPECT_EQ(m.fileTitle, "BINARY FILE");
  EXPECT_EQ(m.filePath, "");
  EXPECT_EQ(m.portName, "COM1");  // not in the (empty) port list, so not selected
  EXPECT_EQ(m.parityText, "NONE");
  EXPECT_EQ(m.baudRate, 38400);
  EXPECT_EQ(m.stopBits, 1);
  EXPECT_EQ(UseUsb(), 0);

  ASSERT_TRUE(backend.Click(main, IDC_EXIT));
  EXPECT_EQ(ExitCode(), -1);
  EXPECT_EQ(app->ProcessExitCode(), 0xFFFFFFFFu);
}

TEST_F(WriterDialog, TheInterfaceRadioButtonsFillThePortListAndEnableWhatTheyUse) {
  Start();
  ASSERT_TRUE(backend.Click(main, IDC_SERIAL));
  EXPECT_EQ(Control(IDC_PORT_LIST).items, Numbered("COM", 20));
  EXPECT_EQ(Control(IDC_PORT_LIST).selection, ui::kListNone);
  for (const int id : kSettings) EXPECT_TRUE(Enabled(id)) << id;
  EXPECT_EQ(Control(IDC_SERIAL).check, ui::kChecked);

  ASSERT_TRUE(backend.SelectListItem(main, IDC_PORT_LIST, 4));
  ASSERT_TRUE(backend.Click(main, IDC_PARALLEL));
  EXPECT_EQ(Control(IDC_PORT_LIST).items, Numbered("LPT", 10));
  EXPECT_EQ(Control(IDC_PORT_LIST).selection, ui::kListNone);
  EXPECT_EQ(
      EnabledOf({IDC_TYPE_LIST, IDC_PORT_LIST, IDC_BAUD_LIST, IDC_PARITY_LIST, IDC_STOP_LIST,
                 IDC_FILE_BOX, IDC_BROWSE, IDC_FLASH_NOW}),
      (std::vector<int>{IDC_TYPE_LIST, IDC_PORT_LIST, IDC_FILE_BOX, IDC_BROWSE, IDC_FLASH_NOW}));
  EXPECT_EQ(Control(IDC_SERIAL).check, ui::kUnchecked);
  EXPECT_EQ(Control(IDC_PARALLEL).check, ui::kChecked);
  EXPECT_EQ(UseUsb(), 0);

  ASSERT_TRUE(backend.Click(main, IDC_SERIAL));
  ASSERT_TRUE(backend.Click(main, IDC_USB));
  EXPECT_EQ(UseUsb(), 1);
  EXPECT_EQ(Control(IDC_PORT_LIST).items, Numbered("COM", 20));  // kept, but out of use
  EXPECT_EQ(EnabledOf({IDC_TYPE_LIST, IDC_PORT_LIST, IDC_BAUD_LIST, IDC_PARITY_LIST, IDC_STOP_LIST,
                       IDC_FILE_BOX, IDC_BROWSE, IDC_FLASH_NOW}),
            (std::vector<int>{IDC_TYPE_LIST, IDC_FILE_BOX, IDC_BROWSE, IDC_FLASH_NOW}));
  EXPECT_EQ(Control(IDC_USB).check, ui::kChecked);
  EXPECT_EQ(Control(IDC_SERIAL).check, ui::kUnchecked);

  // A new port is only taken up at FLASH NOW.
  ASSERT_TRUE(backend.Click(main, IDC_SERIAL));
  EXPECT_EQ(UseUsb(), 0);
  const size_t before = backend.Messages().size();
  ASSERT_TRUE(backend.SelectListItem(main, IDC_PORT_LIST, 2));
  EXPECT_EQ(backend.Messages().size(), before + 1);
  EXPECT_TRUE(backend.MessageBoxes().empty());
}

TEST_F(WriterDialog, ChangingTheTypeForgetsAChosenFileButNotThePlaceholder) {
  const std::string path = WriteImage("fw.mfw", ImagePattern(100));
  Start();
  ASSERT_TRUE(backend.Click(main, IDC_SERIAL));
  ASSERT_TRUE(backend.SelectListItem(main, IDC_TYPE_LIST, std::string("IPL FIRMWARE")));
  EXPECT_EQ(Control(IDC_FILE_BOX).text, "BINARY FILE");

  ChooseFile("MAIN FIRMWARE", path);
  EXPECT_EQ(Control(IDC_FILE_BOX).text, "fw.mfw");
  EXPECT_EQ(OnDialog([](CWriterDlg& d) { return d.filePath; }), path);

  ASSERT_TRUE(backend.SelectListItem(main, IDC_TYPE_LIST, std::string("IPL FIRMWARE")));
  EXPECT_EQ(Control(IDC_FILE_BOX).text, "");
  EXPECT_EQ(OnDialog([](CWriterDlg& d) { return d.filePath + "|" + d.fileTitle; }), "|");
  // An empty box is not the placeholder either: it stays empty.
  ASSERT_TRUE(backend.SelectListItem(main, IDC_TYPE_LIST, std::string("MAIN FIRMWARE")));
  EXPECT_EQ(Control(IDC_FILE_BOX).text, "");
}

TEST_F(WriterDialog, BrowseOffersTheFilesOfTheChosenType) {
  const std::string font = WriteImage("fonts.bin", ImagePattern(100));
  Start();
  ASSERT_TRUE(backend.Click(main, IDC_SERIAL));

  // No type yet.
  ASSERT_TRUE(backend.Click(main, IDC_BROWSE));
  ASSERT_EQ(backend.MessageBoxes().size(), 1u);
  EXPECT_EQ(backend.MessageBoxes()[0].text, "Please determine the download type!");
  EXPECT_EQ(backend.MessageBoxes()[0].flags, ui::kMbIconError);
  EXPECT_EQ(backend.MessageBoxes()[0].owner, main);
  EXPECT_TRUE(backend.FileDialogs().empty());

  const std::pair<const char*, const char*> types[] = {
      {"MAIN FIRMWARE", "Main Firmware Files (*.mfw)|*.mfw|"},
      {"IPL FIRMWARE", "IPL Program Files (*.ipl)|*.ipl|"},
      {"US&EU FONT", "US & EU Font Files (*.bin)|*.bin|"},
  };
  for (const auto& [type, filter] : types) {
    ASSERT_TRUE(backend.SelectListItem(main, IDC_TYPE_LIST, std::string(type)));
    backend.ScriptFileCancel();
    ASSERT_TRUE(backend.Click(main, IDC_BROWSE));
    const ui::FileDialogRecord asked = backend.FileDialogs().back();
    EXPECT_EQ(asked.request.filter, filter) << type;
    EXPECT_EQ(asked.request.flags, 0x804u);
    EXPECT_EQ(asked.request.initialName, "");
    EXPECT_EQ(asked.request.defaultExtension, "");
    EXPECT_EQ(asked.owner, main);
  }
  EXPECT_EQ(backend.FileDialogs().size(), 3u);

  // A choice, then a cancelled dialog: the choice stays.
  backend.ScriptFileOpen(font);
  ASSERT_TRUE(backend.Click(main, IDC_BROWSE));
  EXPECT_EQ(Control(IDC_FILE_BOX).text, "fonts.bin");
  backend.ScriptFileCancel();
  ASSERT_TRUE(backend.Click(main, IDC_BROWSE));
  EXPECT_EQ(Control(IDC_FILE_BOX).text, "fonts.bin");

  // A file that cannot be read: the platform's reason, and the choice stays.
  backend.ScriptFileOpen((dir / "gone.bin").string());
  ASSERT_TRUE(backend.Click(main, IDC_BROWSE));
  const auto boxes = backend.MessageBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].text, std::strerror(ENOENT));
  EXPECT_EQ(boxes[1].flags, ui::kMbIconError);
  EXPECT_EQ(Control(IDC_FILE_BOX).text, "fonts.bin");
  EXPECT_EQ(OnDialog([](CWriterDlg& d) { return d.filePath; }), font);
  EXPECT_EQ(OnDialog([](CWriterDlg& d) { return d.GetLastResult(); }), -1);  // not a result
}

TEST_F(WriterDialog, BrowseRefusesATypeWithoutAKnownKeyWord) {
  // Types of another model table: "FONTS" has no blank, "OTHER STUFF" an
  // unknown key word, "ipl image" a known one in other case.
  Start("PASSBOOK,FONTS,U,18,OTHER STUFF,U,18,ipl image,I,4.");
  ASSERT_TRUE(backend.Click(main, IDC_SERIAL));
  EXPECT_EQ(Control(IDC_TYPE_LIST).items, (Strings{"FONTS", "OTHER STUFF", "ipl image"}));
  for (const char* type : {"FONTS", "OTHER STUFF"}) {
    ASSERT_TRUE(backend.SelectListItem(main, IDC_TYPE_LIST, std::string(type)));
    ASSERT_TRUE(backend.Click(main, IDC_BROWSE));
    EXPECT_EQ(backend.MessageBoxes().back().text, "Please select a correct download type!");
    EXPECT_EQ(backend.MessageBoxes().back().flags, ui::kMbIconError);
  }
  EXPECT_TRUE(backend.FileDialogs().empty());
  ASSERT_TRUE(backend.SelectListItem(main, IDC_TYPE_LIST, std::string("ipl image")));
  backend.ScriptFileCancel();
  ASSERT_TRUE(backend.Click(main, IDC_BROWSE));
  ASSERT_EQ(backend.FileDialogs().size(), 1u);
  EXPECT_EQ(backend.FileDialogs()[0].request.filter, "IPL Program Files (*.ipl)|*.ipl|");
}

TEST_F(WriterDialog, AModelTableThatCannotBeSplitKeepsTheTemplatesTypes) {
  Start("PASSBOOK,MAIN FIRMWARE,M.");
  ASSERT_NE(main, ui::kNoWindow);
  EXPECT_EQ(BoxTexts(), (Strings{"Data file error!"}));
  EXPECT_EQ(Control(IDC_TYPE_LIST).items, (Strings{"MAIN FIRMWARE", "IPL FIRMWARE"}));
  ASSERT_TRUE(backend.Click(main, IDC_EXIT));
  EXPECT_EQ(ExitCode(), engine::kDataFileError);
}

TEST_F(WriterDialog, AModelTableThatCannotBeLoadedEndsBeforeTheDialog) {
  app = std::make_unique<CWriterApp>("PASSBOOK,MAIN FIRMWARE,M,6");  // no closing "."
  ui = std::make_unique<testing::UiThread>([this] { return app->Run(); });
  EXPECT_EQ(ExitCode(), -1);
  EXPECT_EQ(BoxTexts(), (Strings{"Data file error!"}));
  EXPECT_EQ(backend.MessageBoxes()[0].owner, ui::kNoWindow);
  EXPECT_EQ(backend.FindDialog(IDD_MAIN), ui::kNoWindow);
}

TEST_F(WriterDialog, TheFileBoxShowsNoCaret) {
  Start();
  ASSERT_TRUE(backend.Click(main, IDC_SERIAL));
  ASSERT_TRUE(backend.Focus(main, IDC_FILE_BOX));
  EXPECT_EQ(backend.Window(main)->focus, IDC_FILE_BOX);
  EXPECT_EQ(backend.Window(main)->caret, ui::CaretState::kNone);
}

TEST_F(WriterDialog, AboutRunsModallyFromItsButtonAndTheSystemMenu) {
  Start();
  ASSERT_TRUE(backend.Click(main, IDC_ABOUT));
  ui::WindowHandle about = backend.FindDialog(IDD_ABOUT);
  ASSERT_NE(about, ui::kNoWindow);
  EXPECT_EQ(backend.Window(about)->caption, "About Standard Model Quillon");
  EXPECT_EQ(backend.Window(about)->owner, main);
  EXPECT_FALSE(backend.Window(main)->enabled);
  EXPECT_FALSE(backend.Click(main, IDC_EXIT));  // the About dialog is in the way
  ASSERT_TRUE(backend.Click(about, IDC_ABOUT_OK));
  ASSERT_TRUE(backend.WaitFor([&] { return backend.FindDialog(IDD_ABOUT) == ui::kNoWindow; }));
  EXPECT_TRUE(backend.Window(about)->destroyed);
  ASSERT_TRUE(backend.WaitFor([&] { return backend.Window(main)->enabled; }));

  ASSERT_TRUE(backend.SystemCommand(main, kAboutCommand));
  about = backend.FindDialog(IDD_ABOUT);
  ASSERT_NE(about, ui::kNoWindow);
  ASSERT_TRUE(backend.PressEnter(about));
  ASSERT_TRUE(backend.WaitFor([&] { return backend.FindDialog(IDD_ABOUT) == ui::kNoWindow; }));

  // Other system commands take the system's way: minimise, close.
  ASSERT_TRUE(backend.SystemCommand(main, ui::kScMinimize));
  EXPECT_TRUE(backend.Window(main)->minimised);
  ASSERT_TRUE(backend.AltF4(main));
  EXPECT_EQ(ExitCode(), -1);
  EXPECT_TRUE(backend.MessageBoxes().empty());
}

TEST_F(WriterDialog, EscapeAndTheCloseBoxEndTheDialogWhenIdle) {
  Start();
  ASSERT_TRUE(backend.CloseBox(main));
  EXPECT_EQ(ExitCode(), -1);
  EXPECT_TRUE(backend.Window(main)->destroyed);
  EXPECT_EQ(backend.Window(main)->result, engine::kCancelled);

  ui.reset();
  Start();
  ASSERT_TRUE(backend.PressEscape(main));
  EXPECT_EQ(ExitCode(), -1);
}

TEST_F(WriterDialog, TooltipsNameWhatEachControlDoes) {
  Start();
  const std::pair<int, const char*> tips[] = {
      {IDC_FLASH_NOW, "Start the download process"},
      {IDC_TYPE_LIST, "Choose download type"},
      {IDC_PORT_LIST, "Choose the COM port number"},
      {IDC_BAUD_LIST, "Choose the baud rate"},
      {IDC_PARITY_LIST, "Choose the parity scheme to be used"},
      {IDC_STOP_LIST, "Choose the number of stop bits to be used"},
      {IDC_BROWSE, "Browse file"},
      {IDC_EXIT, "Exit this program"},
      {IDC_ABOUT, "About Brenmoor"},
  };
  for (const auto& [id, tip] : tips) EXPECT_EQ(backend.ToolTip(main, id), tip) << id;
  for (const int id : {IDC_FILE_BOX, IDC_SERIAL, IDC_DATA_BITS}) {
    EXPECT_EQ(backend.ToolTip(main, id), std::nullopt) << id;
  }
}

}  // namespace
}  // namespace quillon::app
