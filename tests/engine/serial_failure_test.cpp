// Every way a serial download can fail, and where it stops.
#include <gtest/gtest.h>

#include "engine/result_codes.h"
#include "support/download_fixture.h"

namespace quillon::engine {
namespace {

using sim::CommandKind;
using testing::Pattern;
using Strings = std::vector<std::string>;

class SerialFailure : public testing::SerialDownload {
 protected:
  void Fault(CommandKind kind, int nth, uint8_t byte = sim::kNak, bool silent = false) {
    options.faults.push_back({kind, nth, silent, byte});
  }
  // Runs `onStatus` when the status text first reads `text`.
  void OnStatus(const std::string& text, std::function<void()> action) {
    window.onSend = [text, action, done = false](uint32_t id, intptr_t lParam) mutable {
      if (done || id != platform::WM_PROGRESS_STATUS) return;
      if (reinterpret_cast<const StatusRecord*>(lParam)->statusText == text) {
        done = true;
        action();
      }
    };
  }
  std::string Main(size_t size = 131072) { return WriteImage("fw.mfw", Pattern(size)); }
};

TEST_F(SerialFailure, AWrongChecksumStopsBeforeTheNextSector) {
  options.badCrcSectors = {7};
  ASSERT_EQ(Run(Main(3 * 65536), 1, 0), kDifferentCrc);
  const Strings commands = Commands();
  EXPECT_EQ(commands.back(), "checksum");
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "select 8"), 0);
}

TEST_F(SerialFailure, ASilentCrcRecalculationIsPolled101Times) {
  Fault(CommandKind::kRecalc, 0, 0, /*silent=*/true);
  ASSERT_EQ(Run(WriteImage("fw.mfw", Pattern(100)), 1, 0), kCannotRecalculateCrc);
  const auto t = Timeline();
  ASSERT_GE(t.size(), 102u);
  EXPECT_EQ(t.back(), app::kBeforeResultMs);  // the worker's, after the procedure
  EXPECT_EQ(std::count(t.end() - 102, t.end() - 1, 1000), 101);
  EXPECT_EQ(emulated.line->Timeouts().ReadTotalTimeoutConstant, 2000u);
}

TEST_F(SerialFailure, AFailedSwitchOrResetWrite) {
  MakePrinter();
  ASSERT_EQ(download->OpenSerialPort("sim", 38400, "NONE", 1), kSuccess);
  emulated.line->SetWriteFails(true);
  EXPECT_EQ(download->DownloadSerial(Main(), 6, 1, 0, flashSectorSizes, {"sim"}), kCannotSwitch);
  download->EndDownload();

  engine::CFlashDownload second(ports::Interface::kSerial);
  second.SetWindow(&window);
  emulated.line->SetWriteFails(false);
  auto line = emulated.line;
  OnStatus("Reseting printer...", [line] { line->SetWriteFails(true); });
  ASSERT_EQ(second.OpenSerialPort("sim", 38400, "NONE", 1), kSuccess);
  EXPECT_EQ(second.DownloadSerial(Main(), 6, 1, 0, flashSectorSizes, {"sim"}), kCannotReset);
  second.EndDownload();
}

TEST_F(SerialFailure, CancelBeforeTheSwitchOrDuringTheWait) {
  MakePrinter();
  download->RequestStop();
  EXPECT_EQ(Run(Main(), 1, 0), kCancelled);
  EXPECT_TRUE(Commands().empty() || Commands() == Strings{"switch"});

  engine::CFlashDownload second(ports::Interface::kSerial);
  second.SetWindow(&window);
  OnStatus("Checking communication line status...", [&second] { second.RequestStop(); });
  ASSERT_EQ(second.OpenSerialPort("sim", 38400, "NONE", 1), kSuccess);
  EXPECT_EQ(second.DownloadSerial(Main(), 6, 1, 0, flashSectorSizes, {"sim"}), kCancelled);
  second.EndDownload();
  const Strings commands = Commands();
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "status"), 0);
}

TEST_F(SerialFailure, PortsThatCannotBeOpenedOrConfigured) {
  MakePrinter();
  EXPECT_EQ(download->OpenSerialPort("/nonexistent/quillon", 38400, "NONE", 1), kSerialHandle);
  emulated.line->SetStateFails(true);
  EXPECT_EQ(download->OpenSerialPort("sim", 38400, "NONE", 1), kSerialProperties);
  download->ClosePrinterPort();
}

TEST_F(SerialFailure, APortThatDoesNotComeBackAfterTheSwitch) {
  MakePrinter();
  ASSERT_EQ(download->OpenSerialPort("sim", 38400, "NONE", 1), kSuccess);
  OnStatus("Switching printer to download...", [] {
    platform::SetSimulatorFactory(
        [](const std::string&, platform::DeviceClass) { return nullptr; });
  });
  EXPECT_EQ(download->DownloadSerial(Main(), 6, 1, 0, flashSectorSizes, {"sim"}), kSerialHandle);
  // 40 attempts: open, 50 ms, and 1000 ms before the next.
  const auto t = Timeline();
  ASSERT_GE(t.size(), 81u);
  EXPECT_EQ(std::vector<int64_t>(t.end() - 4, t.end()), (std::vector<int64_t>{50, 1000, 50, 1000}));
  EXPECT_EQ(std::count(t.begin(), t.end(), 1000), 40);
  download->EndDownload();
}

TEST_F(SerialFailure, AMissingImageClosesThePort) {
  MakePrinter();
  ASSERT_EQ(download->OpenSerialPort("sim", 38400, "NONE", 1), kSuccess);
  EXPECT_EQ(download->CheckImageFile((dir / "missing.mfw").string()), kUnableToOpenFile);
  EXPECT_TRUE(emulated.line->Closed());
  EXPECT_EQ(
      download->DownloadSerial((dir / "missing.mfw").string(), 6, 1, 0, flashSectorSizes, {"sim"}),
      kUnableToOpenFile);
  EXPECT_EQ(download->CheckImageFile(dir.string()), kUnableToOpenFile);  // a folder is no image
  EXPECT_EQ(download->CheckImageFile(Main()), kSuccess);
}

TEST_F(SerialFailure, AnImageCutShortDuringTheDownloadStopsBeforeItsNextBlock) {
  const auto image = Pattern(3 * 65536);
  const std::string path = WriteImage("fw.mfw", image);
  MakePrinter();
  // Flash that no command touches keeps this.
  emulated.printer->LoadImage(std::vector<uint8_t>(sim::kFlashSize, 0x5A));
  // Emptied once the first sector's block has gone.
  OnStatus("Calculating checksum", [&] { std::filesystem::resize_file(path, 0); });

  ASSERT_EQ(download->OpenSerialPort("sim", 38400, "NONE", 1), kSuccess);
  EXPECT_EQ(download->DownloadSerial(path, 6, 1, 0, flashSectorSizes, {"sim"}), kDataFileError);
  download->EndDownload();
  EXPECT_EQ(Commands(),
            (Strings{"switch", "status", "erase 6", "erase 7", "select 7", "data 7", "checksum"}));
  EXPECT_EQ(Flash(7), std::vector<uint8_t>(image.begin() + 65536, image.begin() + 131072));
  EXPECT_EQ(Flash(8), std::vector<uint8_t>(65536, 0x5A));
}

TEST_F(SerialFailure, EndDownloadFreesWhatAFailureLeft) {
  Fault(CommandKind::kData, 1);
  MakePrinter();
  ASSERT_EQ(download->OpenSerialPort("sim", 38400, "NONE", 1), kSuccess);
  ASSERT_EQ(download->DownloadSerial(Main(), 6, 1, 0, flashSectorSizes, {"sim"}),
            kDataBlockTimeout);
  download->EndDownload();
  EXPECT_TRUE(emulated.line->Closed());
  EXPECT_EQ(window.Messages().back().id, platform::WM_CLOSE_PROGRESS);
}

}  // namespace
}  // namespace quillon::engine
