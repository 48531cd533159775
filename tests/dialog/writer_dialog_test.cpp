// What the main dialog keeps and shows beyond what every backend shows the
// same way (that is the main-dialog contract): its own state, the window's
// icons and system menu, the file dialog's request, other model tables.

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
};

TEST_F(WriterDialog, StartsWithItsOwnStateAtTheDefaults) {
  Start();
  ASSERT_NE(main, ui::kNoWindow);
  const ui::WindowState window = *backend.Window(main);
  EXPECT_EQ(window.caption, "Standard Model Quillon  Ver 2.02");
  EXPECT_EQ(window.bigIcon, IDI_MAIN);
  EXPECT_EQ(window.smallIcon, IDI_MAIN);
  EXPECT_TRUE(window.systemMenu.empty());  // the string table has no About entry
  EXPECT_EQ(window.focus, IDC_TYPE_LIST);

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

  // The USB flag follows the radio buttons; a port picked is only taken up
  // at FLASH NOW.
  ASSERT_TRUE(backend.Click(main, IDC_USB));
  EXPECT_EQ(UseUsb(), 1);
  ASSERT_TRUE(backend.Click(main, IDC_PARALLEL));
  EXPECT_EQ(UseUsb(), 0);
  ASSERT_TRUE(backend.Click(main, IDC_USB));
  ASSERT_TRUE(backend.Click(main, IDC_SERIAL));
  EXPECT_EQ(UseUsb(), 0);
  const size_t before = backend.Messages().size();
  ASSERT_TRUE(backend.SelectListItem(main, IDC_PORT_LIST, 2));
  EXPECT_EQ(backend.Messages().size(), before + 1);
  EXPECT_EQ(OnDialog([](CWriterDlg& d) { return d.portName; }), "COM1");
  EXPECT_TRUE(backend.MessageBoxes().empty());
}

TEST_F(WriterDialog, BrowseAsksForAnExistingFileAndKeepsTheChoiceWhenOneCannotBeRead) {
  const std::string font = WriteImage("fonts.bin", ImagePattern(100));
  Start();
  ASSERT_TRUE(backend.Click(main, IDC_SERIAL));
  ASSERT_TRUE(backend.SelectListItem(main, IDC_TYPE_LIST, std::string("US&EU FONT")));
  backend.ScriptFileOpen(font);
  ASSERT_TRUE(backend.Click(main, IDC_BROWSE));
  const ui::FileDialogRecord asked = backend.FileDialogs().back();
  EXPECT_EQ(asked.request.filter, "US & EU Font Files (*.bin)|*.bin|");
  EXPECT_EQ(asked.request.flags, 0x804u);
  EXPECT_EQ(asked.request.initialName, "");
  EXPECT_EQ(asked.request.defaultExtension, "");
  EXPECT_EQ(asked.owner, main);
  EXPECT_EQ(OnDialog([](CWriterDlg& d) { return d.filePath; }), font);

  // A file that cannot be read: the platform's reason, and the choice stays.
  backend.ScriptFileOpen((dir / "gone.bin").string());
  ASSERT_TRUE(backend.Click(main, IDC_BROWSE));
  const auto boxes = backend.MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, std::strerror(ENOENT));
  EXPECT_EQ(boxes[0].flags, ui::kMbIconError);
  EXPECT_EQ(boxes[0].owner, main);
  EXPECT_EQ(Control(IDC_FILE_BOX).text, "fonts.bin");
  EXPECT_EQ(OnDialog([](CWriterDlg& d) { return d.filePath; }), font);
  EXPECT_EQ(OnDialog([](CWriterDlg& d) { return d.GetLastResult(); }), -1);  // not a result

  // Another type forgets the file.
  ASSERT_TRUE(backend.SelectListItem(main, IDC_TYPE_LIST, std::string("IPL FIRMWARE")));
  EXPECT_EQ(OnDialog([](CWriterDlg& d) { return d.filePath + "|" + d.fileTitle; }), "|");
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

}  // namespace
}  // namespace quillon::app
