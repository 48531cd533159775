// The program's dialogs on the Qt backend, driven as a user drives them:
// real mouse clicks and key presses (QTest) on the widgets of the main
// dialog, the file dialog and the message boxes, on Qt's offscreen
// platform. The download goes into the built-in emulated printer on COM1,
// in real time.

#include <gtest/gtest.h>

#include <QProgressBar>
#include <QTest>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "app/result_table.h"
#include "app/writer_app.h"
#include "engine/result_codes.h"
#include "qt/qt_gui.h"
#include "res/resource.h"
#include "sim/printer_emulator.h"
#include "support/main_dialog.h"
#include "support/scratch_dir.h"
#include "ui/dialog.h"

namespace quillon::app {
namespace {

using testing::Act;
using testing::OnGuiGet;
using testing::QtGuiBackend;
using testing::WaitForGui;

const QString kMainCaption = QStringLiteral("Standard Model Quillon  Ver 2.02");
const QString kProgressCaption = QStringLiteral("Quillon - On Transmission...");

std::string Message(int code) {
  return LookupResult(code)->text;
}

class QtWriterDialog : public ::testing::Test {
 protected:
  testing::ScratchDir scratch;
  const std::filesystem::path dir = scratch.Path();
  std::unique_ptr<CWriterApp> app;
  std::atomic<bool> ended{false};
  ui::WindowHandle main = ui::kNoWindow;

  void TearDown() override {
    if (app && !ended) {
      // A failed test may leave the program running: end it as the user
      // could, closing what is open over it first.
      while (testing::CloseMessageBox(0)) {
      }
      Act([] {
        if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
      });
      Act([this] { QtGuiBackend().EndDialog(main, -1); });
      WaitForGui([this] { return ended.load(); }, 10000);
    }
    unsetenv("QUILLON_COM1");
  }

  // Runs the program on the GUI thread and waits for its main dialog.
  void Start() {
    app = std::make_unique<CWriterApp>();
    Act([this] {
      app->Run();
      ended = true;
    });
    main = testing::WaitForWindow(kMainCaption);
    ASSERT_NE(main, ui::kNoWindow);
  }

  QWidget* Control(int id) { return QtGuiBackend().ControlWidget(main, id); }
  void Click(int id) { testing::ClickControl(main, id); }
  void Key(int id, Qt::Key key) { testing::KeyOnControl(main, id, key); }
  bool Enabled(int id) {
    return OnGuiGet([=, this] { return Control(id)->isEnabled(); });
  }
  std::string WriteImage(const std::string& name, const std::vector<uint8_t>& bytes) {
    return scratch.Write(name, bytes);
  }
};

TEST_F(QtWriterDialog, StartsAsOnWindowsAndARefusedFlashNowShowsTheError) {
  Start();
  for (const int id : {IDC_SERIAL, IDC_PARALLEL, IDC_USB, IDC_ABOUT, IDC_EXIT}) {
    EXPECT_TRUE(Enabled(id)) << id;
  }
  for (const int id : testing::kSettings) EXPECT_FALSE(Enabled(id)) << id;
  EXPECT_EQ(QtGuiBackend().ControlText(main, IDC_FILE_BOX), "BINARY FILE");
  EXPECT_EQ(QtGuiBackend().ControlText(main, IDC_BAUD_LIST), "38400");
  EXPECT_EQ(QtGuiBackend().ListCount(main, IDC_TYPE_LIST), 3);
  EXPECT_FALSE(OnGuiGet([] { return testing::TopLevel(kMainCaption)->windowIcon().isNull(); }));

  // Serial Port, then FLASH NOW with no port chosen: the error box, and
  // the controls back.
  Click(IDC_SERIAL);
  EXPECT_EQ(QtGuiBackend().Check(main, IDC_SERIAL), ui::kChecked);
  EXPECT_EQ(QtGuiBackend().ListItemText(main, IDC_PORT_LIST, 19), "COM20");
  for (const int id : testing::kSettings) EXPECT_TRUE(Enabled(id)) << id;
  Click(IDC_FLASH_NOW);
  const auto box = testing::CloseMessageBox();
  ASSERT_TRUE(box);
  EXPECT_EQ(box->text, Message(engine::kIllegalComPort));
  EXPECT_EQ(box->icon, QMessageBox::Critical);
  EXPECT_EQ(box->caption, ui::AppTitle());
  EXPECT_TRUE(WaitForGui([&] { return Control(IDC_FLASH_NOW)->isEnabled(); }));

  // Escape ends the program with the last result shown.
  Key(IDC_TYPE_LIST, Qt::Key_Escape);
  ASSERT_TRUE(WaitForGui([this] { return ended.load(); }));
  EXPECT_EQ(app->ProcessExitCode(), static_cast<uint32_t>(engine::kIllegalComPort));
}

TEST_F(QtWriterDialog, ASerialDownloadIntoTheBuiltInPrinterFromTheRadioButtonToTheInformationBox) {
  const std::string flash = (dir / "flash.bin").string();
  setenv("QUILLON_COM1", ("sim:flash=" + flash).c_str(), 1);
  // Two sectors of fonts.
  std::vector<uint8_t> image(2 * 65536);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + i / 251);
  const std::string path = WriteImage("fonts.bin", image);

  Start();
  Click(IDC_SERIAL);
  ASSERT_TRUE(testing::PickEntry(main, IDC_PORT_LIST, QStringLiteral("COM1")));
  ASSERT_TRUE(testing::PickEntry(main, IDC_TYPE_LIST, QStringLiteral("US&EU FONT")));
  ASSERT_TRUE(testing::ChooseFile(main, IDC_BROWSE, path));
  EXPECT_EQ(QtGuiBackend().ControlText(main, IDC_FILE_BOX), "fonts.bin");
  // Enter, with the focus back on a list, presses FLASH NOW, the default
  // button.
  Act([this] { Control(IDC_TYPE_LIST)->setFocus(Qt::TabFocusReason); });
  Key(IDC_TYPE_LIST, Qt::Key_Return);

  ASSERT_TRUE(WaitForGui([] { return testing::TopLevel(kProgressCaption) != nullptr; }, 60000));
  EXPECT_FALSE(Enabled(IDC_FLASH_NOW));
  // Escape while the download runs does nothing.
  Key(IDC_TYPE_LIST, Qt::Key_Escape);
  EXPECT_FALSE(ended);

  const auto box = testing::CloseMessageBox(180000);
  ASSERT_TRUE(box);
  EXPECT_EQ(box->text, "Download successfully completed!");
  EXPECT_EQ(box->icon, QMessageBox::Information);
  EXPECT_TRUE(WaitForGui([] { return testing::TopLevel(kProgressCaption) == nullptr; }));

  // The flash holds the image from the fonts' first sector on.
  std::ifstream in(flash, std::ios::binary);
  const std::vector<uint8_t> written{std::istreambuf_iterator<char>(in), {}};
  const size_t at = sim::PrinterEmulator::SectorAddress(18);
  ASSERT_GE(written.size(), at + image.size());
  EXPECT_TRUE(std::equal(image.begin(), image.end(), written.begin() + static_cast<long>(at)));

  // After the download, Escape ends the program with its result.
  ASSERT_TRUE(WaitForGui([&] { return Control(IDC_FLASH_NOW)->isEnabled(); }));
  Key(IDC_TYPE_LIST, Qt::Key_Escape);
  ASSERT_TRUE(WaitForGui([this] { return ended.load(); }));
  EXPECT_EQ(app->ProcessExitCode(), 1u);
}

}  // namespace
}  // namespace quillon::app
