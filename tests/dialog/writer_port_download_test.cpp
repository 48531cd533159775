// The main dialog running downloads over the parallel port and USB: the
// launches, the send and receive threads and their end messages, and the
// controls afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "app/history.h"
#include "engine/result_codes.h"
#include "support/writer_fixture.h"

namespace quillon::app {
namespace {

using namespace platform;  // the message names

class WriterPortDownload : public testing::WriterFixture {
 protected:
  void SetUp() override {
    WriterFixture::SetUp();
    MapPrinterPorts();
  }
  struct Threads {
    bool usbSend, parallelSend, download;
    int busy;
  };
  Threads Held() {
    return OnDialog([](CWriterDlg& d) {
      return Threads{d.usbSendThread != nullptr, d.parallelSendThread != nullptr,
                     d.download != nullptr, d.busy};
    });
  }
};

TEST_F(WriterPortDownload, AParallelDownloadRunsOnItsSendThreadAndCleansUp) {
  MakePrinter();
  const auto image = testing::ImagePattern(131072);
  Start();
  ASSERT_TRUE(backend.Click(main, IDC_PARALLEL));
  ASSERT_TRUE(backend.SelectListItem(main, IDC_PORT_LIST, std::string("LPT1")));
  ChooseFile("MAIN FIRMWARE", WriteImage("fw.mfw", image));
  ASSERT_TRUE(backend.Click(main, IDC_FLASH_NOW));
  ASSERT_TRUE(WaitForMessage(WM_PARALLEL_SEND_ENDED));

  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Download successfully completed!"});
  EXPECT_EQ(emulated.printer->Sector(7), std::vector<uint8_t>(image.begin() + 65536, image.end()));
  // ECP mode for a main firmware download; nibble mode never asked for.
  for (const auto& n : port->Negotiations()) {
    EXPECT_FALSE(SameModes(n.ask, kAskNibble));
  }

  const auto messages = UserMessages();
  const auto open = std::find_if(messages.begin(), messages.end(),
                                 [](const auto& m) { return m.message == WM_OPEN_PROGRESS; });
  ASSERT_NE(open, messages.end());
  EXPECT_EQ(open->wParam, 0u);  // Cancel never usable
  EXPECT_EQ(Count(WM_DISABLE_PROGRESS), 0u);
  EXPECT_EQ(Count(WM_USB_SEND_ENDED), 0u);
  // The progress window was closed by the end of the download.
  EXPECT_TRUE(backend.Window(ProgressWindow())->destroyed);

  const Threads held = Held();
  EXPECT_FALSE(held.parallelSend);
  EXPECT_FALSE(held.download);
  EXPECT_EQ(held.busy, 0);
  EXPECT_FALSE(Enabled(IDC_BAUD_LIST));
  EXPECT_TRUE(Enabled(IDC_PORT_LIST));
  ASSERT_TRUE(backend.PressEscape(main));  // not busy: Escape ends the dialog
  EXPECT_EQ(ExitCode(), engine::kSuccess);
}

TEST_F(WriterPortDownload, AParallelImageThatVanishedIsReportedByTheSendThread) {
  MakePrinter();
  Start();
  ASSERT_TRUE(backend.Click(main, IDC_PARALLEL));
  ASSERT_TRUE(backend.SelectListItem(main, IDC_PORT_LIST, std::string("LPT1")));
  const std::string path = WriteImage("gone.bin", testing::ImagePattern(100));
  ChooseFile("US&EU FONT", path);
  std::filesystem::remove(path);
  ASSERT_TRUE(backend.Click(main, IDC_FLASH_NOW));
  ASSERT_TRUE(WaitForMessage(WM_ENABLE_CONTROLS));

  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Unable to open file!"});
  EXPECT_EQ(Count(WM_DOWNLOAD_DONE), 0u);
  EXPECT_EQ(Count(WM_PARALLEL_SEND_ENDED), 0u);
  EXPECT_TRUE(emulated.printer->Transcript().empty());

  // The next launch finds the ended thread and replaces it.
  WriteImage("gone.bin", testing::ImagePattern(65536));
  ASSERT_TRUE(backend.Click(main, IDC_FLASH_NOW));
  ASSERT_TRUE(WaitForMessage(WM_PARALLEL_SEND_ENDED));
  EXPECT_EQ(BoxTexts().back(), "Download successfully completed!");
  EXPECT_FALSE(Held().parallelSend);
}

TEST_F(WriterPortDownload, AUsbDownloadClosesItsProgressWindowOnTheResultAndStaysBusy) {
  MakePrinter();
  const auto image = testing::ImagePattern(65536);
  Start();
  ASSERT_TRUE(backend.Click(main, IDC_USB));
  ChooseFile("US&EU FONT", WriteImage("fonts.bin", image));
  ASSERT_TRUE(backend.Click(main, IDC_FLASH_NOW));
  ASSERT_TRUE(WaitForMessage(WM_USB_SEND_ENDED));

  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Download successfully completed!"});
  EXPECT_EQ(emulated.printer->Sector(18), image);
  // Over USB the end of the download does not close the progress window:
  // the result does, before it is shown.
  EXPECT_EQ(Count(WM_CLOSE_PROGRESS), 0u);
  EXPECT_TRUE(backend.Window(ProgressWindow())->destroyed);
  // The launch and the download each checked the printer answers.
  EXPECT_EQ(port->DeviceIdQueries(), 1);
  EXPECT_EQ(port->DevicesOpen(), 0);

  const Threads held = Held();
  EXPECT_FALSE(held.usbSend);
  EXPECT_FALSE(held.download);
  EXPECT_EQ(held.busy, 1);  // only Exit ends the dialog now
  EXPECT_FALSE(Enabled(IDC_PORT_LIST));
  ASSERT_TRUE(backend.PressEscape(main));
  EXPECT_FALSE(backend.Window(main)->ended);
  ASSERT_TRUE(backend.Click(main, IDC_EXIT));
  EXPECT_EQ(ExitCode(), engine::kSuccess);  // the last result shown
}

TEST_F(WriterPortDownload, ASecondUsbLaunchWhileTheSendThreadIsHeldIsRefused) {
  MakePrinter();
  const std::string history = UseHistory();
  Start();
  // A send thread of an earlier download that has not reported its end.
  ASSERT_TRUE(OnDialog([](CWriterDlg& d) {
    d.usbSendThread = std::make_unique<CSend_USBThread>();
    return true;
  }));
  ASSERT_TRUE(backend.Click(main, IDC_USB));
  ChooseFile("US&EU FONT", WriteImage("fonts.bin", testing::ImagePattern(100)));
  ASSERT_TRUE(backend.Click(main, IDC_FLASH_NOW));
  ASSERT_TRUE(WaitForMessage(WM_ENABLE_CONTROLS));

  const auto boxes = backend.MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Send Thread exist!!");
  EXPECT_EQ(boxes[0].flags, ui::kMbIconError);
  EXPECT_EQ(boxes[0].caption, "dialog_tests");  // the program's own name
  EXPECT_TRUE(emulated.printer->Transcript().empty());
  EXPECT_EQ(port->DevicesOpen(), 0);  // the printer opened for the launch is let go
  EXPECT_EQ(Count(WM_OPEN_PROGRESS), 0u);

  // A late end message for a thread that has not ended leaves it alone.
  backend.Post(main, WM_USB_SEND_ENDED, 0, 0);
  ASSERT_TRUE(WaitForMessage(WM_USB_SEND_ENDED));
  EXPECT_TRUE(Held().usbSend);

  // The refused launch is no download: the next result, a refusal of the
  // settings, is not recorded as its result either.
  ASSERT_TRUE(backend.Click(main, IDC_SERIAL));
  ASSERT_TRUE(backend.Click(main, IDC_FLASH_NOW));  // no port chosen
  ASSERT_TRUE(WaitForMessage(WM_ENABLE_CONTROLS, 2));
  EXPECT_EQ(backend.MessageBoxes().back().text, "Illegal COM port set!");
  EXPECT_TRUE(app::LastHistoryLines(history, 10).empty());
  ASSERT_TRUE(backend.Click(main, IDC_EXIT));
  ExitCode();
}

}  // namespace
}  // namespace quillon::app
