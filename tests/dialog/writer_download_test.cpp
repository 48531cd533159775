// Downloads started from the main dialog: the whole serial download against
// the emulated printer, cancelling, launch failures, the interfaces this
// build cannot drive, and the exit codes that follow.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "app/history.h"
#include "engine/result_codes.h"
#include "platform/sha256.h"
#include "support/environment.h"
#include "support/writer_fixture.h"

namespace quillon::app {
namespace {

using namespace platform;
using Strings = std::vector<std::string>;
using testing::ImagePattern;

class WriterDownload : public testing::WriterFixture {
 protected:
  // Waits until the main dialog took WM_ENABLE_CONTROLS `n` times.
  bool WaitForEnable(size_t n = 1) { return WaitForMessage(WM_ENABLE_CONTROLS, n); }
  // Waits until a status with `text` reached the main dialog.
  bool WaitForStatus(const std::string& text) {
    return backend.WaitFor([&] {
      for (const auto& s : Statuses()) {
        if (s.statusText == text) return true;
      }
      return false;
    });
  }
  std::vector<uint32_t> Ids(const std::vector<ui::MessageRecord>& messages) {
    std::vector<uint32_t> ids;
    for (const auto& m : messages) ids.push_back(m.message);
    return ids;
  }
  struct Leftovers {
    bool printer, thread, progress;
    int busy;
  };
  Leftovers Left() {
    return OnDialog([](CWriterDlg& d) {
      return Leftovers{d.download != nullptr, d.pThread != nullptr, d.progressDlg != nullptr,
                       d.busy};
    });
  }
};

TEST_F(WriterDownload, ASerialDownloadRunsFromFlashNowToTheResult) {
  MakePrinter();
  const auto image = ImagePattern(131072);
  Start();
  ChooseSerial("MAIN FIRMWARE", WriteImage("fw.mfw", image));
  const int64_t start = clock.NowMs();
  ASSERT_TRUE(backend.PressEnter(main));  // FLASH NOW is the default button

  // Everything but About is off while the download runs.
  for (const int id :
       {IDC_TYPE_LIST, IDC_PORT_LIST, IDC_BAUD_LIST, IDC_PARITY_LIST, IDC_STOP_LIST, IDC_FILE_BOX,
        IDC_BROWSE, IDC_FLASH_NOW, IDC_EXIT, IDC_SERIAL, IDC_PARALLEL, IDC_USB}) {
    EXPECT_FALSE(Enabled(id)) << id;
  }
  EXPECT_TRUE(Enabled(IDC_ABOUT));

  ASSERT_TRUE(WaitForEnable());
  const int64_t end = clock.NowMs();

  // The result, from the user-interface thread.
  const auto boxes = backend.MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Download successfully completed!");
  EXPECT_EQ(boxes[0].flags, ui::kMbIconInformation);
  EXPECT_EQ(boxes[0].caption, "dialog_tests");  // the program's own name
  EXPECT_EQ(boxes[0].owner, main);
  EXPECT_EQ(boxes[0].thread, ui->Id());

  // The message flow, with repeats of the progress messages folded.
  std::vector<ui::MessageRecord> flow;
  for (const auto& m : UserMessages()) {
    const bool repeat = !flow.empty() && flow.back().message == m.message &&
                        (m.message == WM_PROGRESS_STATUS || m.message == WM_PROGRESS_SETPOS ||
                         m.message == WM_PROGRESS_AUTOSTEP);
    if (!repeat) flow.push_back(m);
  }
  const std::vector<uint32_t> ids = Ids(flow);
  ASSERT_GE(ids.size(), 8u);
  EXPECT_EQ(ids[0], WM_OPEN_PROGRESS);
  EXPECT_EQ(flow[0].wParam, 1u);  // Cancel usable
  EXPECT_EQ(ids[1], WM_PROGRESS_STATUS);
  EXPECT_EQ((std::vector<uint32_t>(ids.end() - 5, ids.end())),
            (std::vector<uint32_t>{WM_PROGRESS_STATUS, WM_CLOSE_PROGRESS, WM_PROGRESS_DESTROYED,
                                   WM_DOWNLOAD_DONE, WM_ENABLE_CONTROLS}));
  const std::thread::id worker = flow[0].from;
  EXPECT_NE(worker, ui->Id());
  EXPECT_EQ(flow[0].delivery, ui::Delivery::kSent);
  const auto& done = flow[flow.size() - 2];
  EXPECT_EQ(done.lParam, engine::kSuccess);
  EXPECT_EQ(done.delivery, ui::Delivery::kPosted);
  EXPECT_EQ(done.from, worker);
  EXPECT_EQ(flow.back().lParam, 1);
  EXPECT_EQ(flow.back().delivery, ui::Delivery::kPosted);
  EXPECT_EQ(flow[flow.size() - 3].delivery, ui::Delivery::kDirect);  // from the closing window
  // Cancel is switched off once the line check has passed.
  const auto disable = std::find(ids.begin(), ids.end(), WM_DISABLE_PROGRESS);
  ASSERT_NE(disable, ids.end());
  EXPECT_LT(std::find(ids.begin(), ids.end(), WM_PROGRESS_SETPOS), ids.end());
  EXPECT_LT(std::find(ids.begin(), ids.end(), WM_PROGRESS_AUTOSTEP), ids.end());
  const auto statuses = Statuses();
  ASSERT_FALSE(statuses.empty());
  EXPECT_EQ(statuses.front().statusText, "Switching printer to download...");
  EXPECT_EQ(statuses.back().statusText, "Download completed!");

  // The progress window: refreshed every 500 ms from its opening on, its
  // caption following the status, Cancel off after the line check, closed.
  const ui::WindowHandle progress = ProgressWindow();
  ASSERT_NE(progress, ui::kNoWindow);
  const ui::WindowState window = *backend.Window(progress);
  EXPECT_TRUE(window.destroyed);
  EXPECT_EQ(window.caption, "Quillon - On Transmission...");
  EXPECT_FALSE(Control(IDC_PROGRESS_CANCEL, progress).enabled);
  const auto bar = Control(IDC_PROGRESS_BAR, progress).posChanges;
  ASSERT_GE(bar.size(), 10u);
  EXPECT_EQ(bar.front().timeMs, flow[0].timeMs);
  for (size_t i = 1; i < bar.size(); ++i) EXPECT_EQ(bar[i].timeMs - bar[i - 1].timeMs, 500) << i;
  Strings captions;
  for (const auto& c : Control(IDC_PROGRESS_GROUP, progress).textChanges) {
    if (captions.empty() || captions.back() != c.text) captions.push_back(c.text);
  }
  ASSERT_GE(captions.size(), 3u);
  EXPECT_EQ(captions[0], "");
  EXPECT_EQ(captions[1], "Switching printer to download...");
  EXPECT_EQ(captions.back(), "Download completed!");
  // The bar runs on by its step between the download's updates: during the
  // switching wait (range 10000, step 1000) it climbs to the top, one step a
  // refresh. (The refresh at the opening may come just before the first
  // status or just after it: one or two refreshes show 0.)
  std::vector<int32_t> climb;
  for (const auto& c : bar) {
    if (c.timeMs - bar.front().timeMs <= 6000) climb.push_back(c.value);
  }
  const auto firstStep = std::find_if(climb.begin(), climb.end(), [](int32_t v) { return v; });
  EXPECT_GE(firstStep - climb.begin(), 1);
  EXPECT_LE(firstStep - climb.begin(), 2);
  ASSERT_GE(climb.end() - firstStep, 10);
  EXPECT_EQ(std::vector<int32_t>(firstStep, firstStep + 10),
            (std::vector<int32_t>{1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000, 10000}));

  // The user-interface thread's own waits: a second before closing the
  // progress window, half a second before ending the worker.
  EXPECT_EQ(clock.Timeline(ui->Id()), (std::vector<int64_t>{1000, 500}));
  EXPECT_GT(end - start, 10000);

  const Leftovers left = Left();
  EXPECT_FALSE(left.printer);
  EXPECT_FALSE(left.thread);
  EXPECT_FALSE(left.progress);
  EXPECT_EQ(left.busy, 0);
  for (const int id :
       {IDC_TYPE_LIST, IDC_PORT_LIST, IDC_BAUD_LIST, IDC_PARITY_LIST, IDC_STOP_LIST, IDC_FILE_BOX,
        IDC_BROWSE, IDC_FLASH_NOW, IDC_EXIT, IDC_SERIAL, IDC_PARALLEL, IDC_USB}) {
    EXPECT_TRUE(Enabled(id)) << id;
  }
  EXPECT_EQ(emulated.printer->Sector(6),
            std::vector<uint8_t>(image.begin(), image.begin() + 65536));
  EXPECT_EQ(emulated.printer->Sector(7), std::vector<uint8_t>(image.begin() + 65536, image.end()));

  ASSERT_TRUE(backend.Click(main, IDC_EXIT));
  EXPECT_EQ(ExitCode(), engine::kSuccess);
}

TEST_F(WriterDownload, EscapeWaitsForTheDownloadToEnd) {
  MakePrinter();
  Start();
  ChooseSerial("US&EU FONT", WriteImage("fonts.bin", ImagePattern(65536)));
  ASSERT_TRUE(backend.Click(main, IDC_FLASH_NOW));
  ASSERT_TRUE(WaitForStatus("Checking communication line status..."));
  ASSERT_TRUE(backend.PressEscape(main));
  ASSERT_TRUE(backend.CloseBox(main));
  ASSERT_TRUE(backend.AltF4(main));
  EXPECT_FALSE(backend.Window(main)->ended);

  ASSERT_TRUE(WaitForEnable());
  EXPECT_FALSE(backend.Window(main)->ended);
  ASSERT_TRUE(backend.PressEscape(main));
  EXPECT_EQ(ExitCode(), engine::kSuccess);
  EXPECT_EQ(BoxTexts(), (Strings{"Download successfully completed!"}));
}

TEST_F(WriterDownload, CancelDuringTheLineCheckEndsWithTheCancelResult) {
  // The loader never answers the line check: Cancel is still usable.
  options.faults.push_back({sim::CommandKind::kLineStatus, 0, /*silent=*/true, 0});
  MakePrinter();
  Start();
  ChooseSerial("MAIN FIRMWARE", WriteImage("fw.mfw", ImagePattern(131072)));
  ASSERT_TRUE(backend.Click(main, IDC_FLASH_NOW));
  ASSERT_TRUE(WaitForStatus("Checking communication line status..."));
  // Time moves on only once the worker waits inside its first attempt: the
  // Cancel is then seen at the second.
  platform::Pause(50);

  const ui::WindowHandle progress = backend.FindDialog(IDD_PROGRESS);
  ASSERT_NE(progress, ui::kNoWindow);
  EXPECT_TRUE(Control(IDC_PROGRESS_CANCEL, progress).enabled);
  ASSERT_TRUE(backend.Click(progress, IDC_PROGRESS_CANCEL));
  const int64_t cancelledAt = clock.NowMs();
  EXPECT_TRUE(OnDialog([](CWriterDlg& d) { return d.download && d.download->StopRequested(); }));
  ASSERT_TRUE(backend.Click(progress, IDC_PROGRESS_CANCEL));  // twice is once
  EXPECT_FALSE(backend.Window(progress)->destroyed);          // the download closes it

  ASSERT_TRUE(WaitForEnable());
  EXPECT_EQ(BoxTexts(), (Strings{"Application was terminated by Cancel button!"}));
  EXPECT_EQ(backend.MessageBoxes()[0].flags, ui::kMbIconError);
  EXPECT_TRUE(backend.Window(progress)->destroyed);
  // The refresh stopped with the Cancel.
  for (const auto& c : Control(IDC_PROGRESS_BAR, progress).posChanges) {
    EXPECT_LE(c.timeMs, cancelledAt);
  }
  // Nothing was erased.
  for (const auto& e : emulated.printer->Transcript()) {
    EXPECT_NE(e.kind, sim::CommandKind::kErase);
  }
  const Leftovers left = Left();
  EXPECT_FALSE(left.printer || left.thread || left.progress);
  ASSERT_TRUE(backend.Click(main, IDC_EXIT));
  EXPECT_EQ(ExitCode(), engine::kCancelled);
}

TEST_F(WriterDownload, AWorkerThatCannotStartReportsFromItsOwnThread) {
  MapCom1((dir / "no-such-port").string());
  const std::string path = WriteImage("fw.mfw", ImagePattern(65536));
  Start();
  ChooseSerial("MAIN FIRMWARE", path);
  ASSERT_TRUE(backend.Click(main, IDC_FLASH_NOW));
  ASSERT_TRUE(WaitForEnable());

  const auto boxes = backend.MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Unable to get serial port handle!");
  EXPECT_EQ(boxes[0].owner, main);
  EXPECT_NE(boxes[0].thread, ui->Id());
  const auto enable = UserMessages().back();
  EXPECT_EQ(enable.message, WM_ENABLE_CONTROLS);
  EXPECT_EQ(enable.delivery, ui::Delivery::kSent);
  EXPECT_EQ(enable.from, boxes[0].thread);
  EXPECT_EQ(ProgressWindow(), ui::kNoWindow);
  EXPECT_EQ(Left().busy, 0);
  for (const int id : {IDC_TYPE_LIST, IDC_PORT_LIST, IDC_FILE_BOX, IDC_BROWSE, IDC_FLASH_NOW,
                       IDC_EXIT, IDC_SERIAL}) {
    EXPECT_TRUE(Enabled(id)) << id;
  }
  EXPECT_EQ(OnDialog([](CWriterDlg& d) { return d.GetLastResult(); }), engine::kSerialHandle);

  // The image vanishes before the next try: the worker finds out.
  std::filesystem::remove(path);
  MakePrinter();
  MapCom1("sim");
  ASSERT_TRUE(backend.Click(main, IDC_FLASH_NOW));
  ASSERT_TRUE(WaitForEnable(2));
  EXPECT_EQ(BoxTexts().back(), "Unable to open file!");
  EXPECT_TRUE(emulated.line->Closed());

  // Then a good try; what the failed launches left is gone by its end.
  ChooseFile("MAIN FIRMWARE", WriteImage("fw2.mfw", ImagePattern(65536)));
  ASSERT_TRUE(backend.Click(main, IDC_FLASH_NOW));
  ASSERT_TRUE(WaitForEnable(3));
  EXPECT_EQ(BoxTexts().back(), "Download successfully completed!");
  const Leftovers left = Left();
  EXPECT_FALSE(left.printer || left.thread);
  ASSERT_TRUE(backend.Click(main, IDC_EXIT));
  EXPECT_EQ(ExitCode(), engine::kSuccess);
}

TEST_F(WriterDownload, AnImageItsSidecarDoesNotNameIsRefusedBeforeThePortOpens) {
  MakePrinter();
  const std::string path = WriteImage("fw.mfw", ImagePattern(65536));
  const auto sidecar = [&](const std::string& hash) {
    const std::string line = hash + "  fw.mfw\n";
    scratch.Write("fw.mfw.sha256", std::vector<uint8_t>(line.begin(), line.end()));
  };
  sidecar(std::string(64, '0'));
  const std::string history = UseHistory();
  Start();
  ChooseSerial("MAIN FIRMWARE", path);
  ASSERT_TRUE(backend.Click(main, IDC_FLASH_NOW));
  ASSERT_TRUE(WaitForEnable());
  EXPECT_EQ(BoxTexts(), (Strings{"Incorrect file selected. Peculiar code not match!"}));
  EXPECT_TRUE(emulated.printer->Transcript().empty());  // nothing reached the printer
  EXPECT_FALSE(Left().thread);

  // With the image's own hash it goes.
  sidecar(*platform::FileSha256(path));
  ASSERT_TRUE(backend.Click(main, IDC_FLASH_NOW));
  ASSERT_TRUE(WaitForEnable(2));
  EXPECT_EQ(BoxTexts().back(), "Download successfully completed!");
  ASSERT_TRUE(backend.Click(main, IDC_EXIT));
  EXPECT_EQ(ExitCode(), engine::kSuccess);

  // Both downloads are in the history, each with its result.
  const std::vector<std::string> records = app::LastHistoryLines(history, 10);
  ASSERT_EQ(records.size(), 2u);
  const std::pair<const char*, const char*> expected[] = {
      {R"("code":1044,)", R"("reached":"nothing")"}, {R"("code":1,)", R"("reached":"completed")"}};
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_NE(records[i].find(expected[i].first), std::string::npos) << records[i];
    EXPECT_NE(records[i].find(expected[i].second), std::string::npos) << records[i];
    EXPECT_NE(records[i].find(R"("port":"COM1")"), std::string::npos) << records[i];
  }
}

TEST_F(WriterDownload, RefusedSettingsAreShownAndEverythingComesBack) {
  Start();
  ASSERT_TRUE(backend.Click(main, IDC_SERIAL));
  ASSERT_TRUE(backend.Click(main, IDC_FLASH_NOW));  // no port chosen
  ASSERT_TRUE(WaitForEnable());
  EXPECT_EQ(BoxTexts(), (Strings{"Illegal COM port set!"}));
  EXPECT_EQ(backend.MessageBoxes()[0].thread, ui->Id());
  EXPECT_EQ(Left().busy, 0);
  for (const int id : {IDC_TYPE_LIST, IDC_PORT_LIST, IDC_BAUD_LIST, IDC_PARITY_LIST, IDC_STOP_LIST,
                       IDC_FILE_BOX, IDC_BROWSE, IDC_FLASH_NOW, IDC_EXIT}) {
    EXPECT_TRUE(Enabled(id)) << id;
  }

  // A port but the placeholder file name.
  ASSERT_TRUE(backend.SelectListItem(main, IDC_PORT_LIST, std::string("COM3")));
  ASSERT_TRUE(backend.SelectListItem(main, IDC_TYPE_LIST, std::string("MAIN FIRMWARE")));
  ASSERT_TRUE(backend.Click(main, IDC_FLASH_NOW));
  ASSERT_TRUE(WaitForEnable(2));
  EXPECT_EQ(BoxTexts().back(), "Invalid binary data file!");
  EXPECT_FALSE(Left().printer);

  ASSERT_TRUE(backend.Click(main, IDC_EXIT));
  EXPECT_EQ(ExitCode(), engine::kInvalidImage);
}

TEST_F(WriterDownload, ARejectedFlashNowIsTheExitCode) {
  Start();
  ASSERT_TRUE(backend.Click(main, IDC_SERIAL));
  ASSERT_TRUE(backend.Click(main, IDC_FLASH_NOW));
  ASSERT_TRUE(WaitForEnable());
  ASSERT_TRUE(backend.Click(main, IDC_EXIT));
  EXPECT_EQ(ExitCode(), engine::kIllegalComPort);
}

TEST_F(WriterDownload, AParallelPortThatDoesNotOpenIsReportedAndLeavesNoThread) {
  // LPT1 leads to a device that is not there.
  ASSERT_TRUE(testing::SetEnvironment("QUILLON_LPT1", (dir / "no-such-parport").string()));
  Start();
  ASSERT_TRUE(backend.Click(main, IDC_PARALLEL));
  ASSERT_TRUE(backend.SelectListItem(main, IDC_PORT_LIST, std::string("LPT1")));
  ChooseFile("IPL FIRMWARE", WriteImage("boot.ipl", ImagePattern(65536)));
  ASSERT_TRUE(backend.Click(main, IDC_FLASH_NOW));
  ASSERT_TRUE(WaitForEnable());
  testing::UnsetEnvironment("QUILLON_LPT1");

  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Unable to set parallel port!"});
  EXPECT_EQ(ProgressWindow(), ui::kNoWindow);
  EXPECT_TRUE(OnDialog([](CWriterDlg& d) { return d.parallelSendThread == nullptr; }));

  const Leftovers left = Left();
  EXPECT_EQ(left.busy, 0);
  for (const int id : {IDC_SERIAL, IDC_PARALLEL, IDC_USB, IDC_TYPE_LIST, IDC_PORT_LIST,
                       IDC_FILE_BOX, IDC_BROWSE, IDC_FLASH_NOW, IDC_EXIT}) {
    EXPECT_TRUE(Enabled(id)) << id;
  }
  for (const int id : {IDC_BAUD_LIST, IDC_PARITY_LIST, IDC_STOP_LIST}) {
    EXPECT_FALSE(Enabled(id)) << id;
  }
  ASSERT_TRUE(backend.PressEscape(main));
  EXPECT_EQ(ExitCode(), engine::kParallelOpen);
}

TEST_F(WriterDownload, NoUsbPrinterFoundIsReportedAndLeavesTheDialogBusy) {
  ASSERT_TRUE(testing::SetEnvironment("QUILLON_USB", (dir / "no-such-lp").string()));
  Start();
  ASSERT_TRUE(backend.Click(main, IDC_SERIAL));
  ASSERT_TRUE(backend.Click(main, IDC_USB));
  ChooseFile("US&EU FONT", WriteImage("fonts.bin", ImagePattern(65536)));
  ASSERT_TRUE(backend.Click(main, IDC_FLASH_NOW));
  ASSERT_TRUE(WaitForEnable());
  testing::UnsetEnvironment("QUILLON_USB");

  const auto boxes = backend.MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text,
            "1.Ensure that the printer is the default printer.\n2.Check that the USB cable is "
            "plugged into the printer and the printer's interface is set to USB!");
  EXPECT_EQ(ProgressWindow(), ui::kNoWindow);
  EXPECT_FALSE(Left().printer);
  EXPECT_TRUE(OnDialog([](CWriterDlg& d) { return d.usbSendThread == nullptr; }));
  for (const int id : {IDC_SERIAL, IDC_PARALLEL, IDC_USB, IDC_TYPE_LIST, IDC_FILE_BOX, IDC_BROWSE,
                       IDC_FLASH_NOW, IDC_EXIT}) {
    EXPECT_TRUE(Enabled(id)) << id;
  }
  for (const int id : {IDC_PORT_LIST, IDC_BAUD_LIST, IDC_PARITY_LIST, IDC_STOP_LIST}) {
    EXPECT_FALSE(Enabled(id)) << id;
  }
  // After a USB launch the dialog stays busy: Escape does nothing, Exit
  // still ends the program.
  EXPECT_EQ(Left().busy, 1);
  ASSERT_TRUE(backend.PressEscape(main));
  EXPECT_FALSE(backend.Window(main)->ended);
  ASSERT_TRUE(backend.Click(main, IDC_EXIT));
  EXPECT_EQ(ExitCode(), engine::kUsbOpen);
}

}  // namespace
}  // namespace quillon::app
