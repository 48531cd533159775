// Whole serial downloads against the in-process printer emulator.
#include <gtest/gtest.h>

#include "engine/result_codes.h"
#include "support/download_fixture.h"

namespace quillon::engine {
namespace {

using testing::Pattern;
using Strings = std::vector<std::string>;
using Times = std::vector<int64_t>;

// The fixed pauses of one command: 100 ms after every write call.
void Writes(Times& t, int n) {
  t.insert(t.end(), static_cast<size_t>(n), 100);
}
// Select, its pause, and a data block of `pieces` pieces.
void SelectAndData(Times& t, int pieces) {
  Writes(t, 2);
  t.push_back(1000);
  Writes(t, 5 + pieces);
}

class Serial : public testing::SerialDownload {};

TEST_F(Serial, MainFirmwareErasesTheFirstSectorFirstAndWritesItLast) {
  const auto image = Pattern(131072);
  ASSERT_EQ(Run(WriteImage("fw.mfw", image), 1, 0), kSuccess);
  ExpectMainFirmware(image);

  EXPECT_EQ(
      window.Texts(),
      (Strings{"Switching printer to download...", "Checking communication line status...",
               "Erasing flash sector 1 of 2...", "Erasing flash sector 2 of 2...",
               "Selecting flash sector 2 of 2...", "Downloading data to flash sector 2 of 2...",
               "Calculating checksum", "Selecting flash sector 1 of 2...",
               "Downloading data to flash sector 1 of 2...", "Calculating checksum",
               "Recalculate CRC", "Reseting printer...", "Download completed!"}));

  Times expected = {100, -5, 50, 50, 100};  // switch, wait, reopen, line check
  Writes(expected, 4);                      // erase 6, erase 7
  SelectAndData(expected, 4);
  Writes(expected, 1);  // checksum
  SelectAndData(expected, 4);
  Writes(expected, 1);
  // Recalc and its poll, reset, wait; the worker's before the result.
  expected.insert(expected.end(), {100, 1000, 100, -5, app::kBeforeResultMs});
  EXPECT_EQ(Timeline(), expected);
}

TEST_F(Serial, StatusRecordsCarryTheRangesPositionsAndSteps) {
  ASSERT_EQ(Run(WriteImage("f.bin", Pattern(65536)), 0, 0), kSuccess);
  struct Row {
    std::string text;
    int range, pos, step;
  };
  std::vector<Row> rows;
  for (const auto& s : window.Statuses()) {
    rows.push_back({s.statusText, s.progressRange, s.progressPos, s.progressStep});
  }
  const std::vector<Row> expected = {
      {"Switching printer to download...", 10000, 0, 1000},
      {"Switching printer to download...", 10000, 10000, 1000},
      {"Checking communication line status...", 10000, 0, 167},
      {"Checking communication line status...", 10000, 10000, 167},
      {"Erasing flash sector 1 of 1...", 65536, 0, 16000},
      {"Erasing flash sector 1 of 1...", 65536, 65536, 16000},
      {"Selecting flash sector 1 of 1...", 65536, 0, 21600},
      {"Selecting flash sector 1 of 1...", 65536, 65536, 21600},
      {"Downloading data to flash sector 1 of 1...", 65536, 0, 5600},
      {"Downloading data to flash sector 1 of 1...", 65536, 65536, 5600},
      {"Calculating checksum", 65536, 0, 6400},
      {"Reseting printer...", 65536, 0, 6400},
      {"Download completed!", 65536, 65536, 6400},
  };
  ASSERT_EQ(rows.size(), expected.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].text, expected[i].text) << i;
    EXPECT_EQ(rows[i].range, expected[i].range) << i;
    EXPECT_EQ(rows[i].pos, expected[i].pos) << i;
    EXPECT_EQ(rows[i].step, expected[i].step) << i;
  }
}

TEST_F(Serial, TheMessageFlowAroundTheProcedure) {
  ASSERT_EQ(Run(WriteImage("f.bin", Pattern(8)), 0, 0), kSuccess);
  std::vector<uint32_t> flow;
  for (const auto& m : window.Messages()) {
    if (flow.empty() || flow.back() != m.id) flow.push_back(m.id);
  }
  using namespace platform;
  EXPECT_EQ(flow,
            (std::vector<uint32_t>{WM_OPEN_PROGRESS, WM_PROGRESS_STATUS, WM_DISABLE_PROGRESS,
                                   WM_PROGRESS_STATUS, WM_PROGRESS_AUTOSTEP, WM_PROGRESS_SETPOS,
                                   WM_PROGRESS_AUTOSTEP, WM_PROGRESS_STATUS, WM_CLOSE_PROGRESS}));
  EXPECT_EQ(window.Messages().front().wParam, 1u);  // Cancel usable
}

TEST_F(Serial, FontsFillTheLastSectorWithErasedBytes) {
  const auto image = Pattern(65537);
  ASSERT_EQ(Run(WriteImage("font.bin", image), 0, 0), kSuccess);
  EXPECT_EQ(Commands(), (Strings{"switch", "status", "erase 18", "erase 19", "select 19", "data 19",
                                 "checksum", "select 18", "data 18", "checksum", "reset"}));
  std::vector<uint8_t> last(65536, 0xFF);
  last[0] = image.back();
  EXPECT_EQ(Flash(19), last);
  EXPECT_EQ(Flash(18), std::vector<uint8_t>(image.begin(), image.begin() + 65536));
}

TEST_F(Serial, IplSkipsItsFirst32KiBRestartsAfterSector4AndErasesOnlySector5) {
  auto image = Pattern(131072 - 1);
  ASSERT_EQ(Run(WriteImage("boot.ipl", image), 0, 1), kSuccess);
  EXPECT_EQ(Commands(), (Strings{"switch", "status", "select 4", "data 4", "status", "erase 5",
                                 "select 5", "data 5", "checksum", "reset"}));
  EXPECT_EQ(Flash(4), std::vector<uint8_t>(image.begin() + 32768, image.begin() + 65536));
  image.push_back(0xFF);  // the sector's last byte, not in the image
  EXPECT_EQ(Flash(5), std::vector<uint8_t>(image.begin() + 65536, image.begin() + 131072));

  const Strings texts = window.Texts();
  const Strings head(texts.begin(), texts.begin() + 6);
  EXPECT_EQ(
      head,
      (Strings{"Switching printer to download...", "Checking communication line status...",
               "Selecting flash sector 1 of 2...", "Downloading data to flash sector 1 of 2...",
               "Reseting printer, please wait...", "Checking communication line status..."}));

  Times expected = {100, -5, 50, 50, 100};
  SelectAndData(expected, 2);
  expected.push_back(-9);  // the loader restarts
  Writes(expected, 1);     // line check again
  Writes(expected, 2);     // erase 5
  SelectAndData(expected, 4);
  Writes(expected, 1);
  expected.insert(expected.end(), {100, -5, app::kBeforeResultMs});
  EXPECT_EQ(Timeline(), expected);
}

TEST_F(Serial, IplOfOneByteBeyondTheSkipSendsOneSectorInTwoPieces) {
  const auto image = Pattern(32769);
  ASSERT_EQ(Run(WriteImage("b.ipl", image), 0, 1), kSuccess);
  std::vector<uint8_t> four(32768, 0xFF);
  four[0] = image.back();
  EXPECT_EQ(Flash(4), four);
}

TEST_F(Serial, IplWithinTheSkipOnlySwitchesChecksAndResets) {
  ASSERT_EQ(Run(WriteImage("s.ipl", Pattern(32768)), 0, 1), kSuccess);
  EXPECT_EQ(Commands(), (Strings{"switch", "status", "reset"}));
}

TEST_F(Serial, EmptyOrOversizedImagesAreRefusedBeforeTheFirstByte) {
  MakePrinter();
  const int writes = portCalls->write;
  EXPECT_EQ(Run(WriteImage("empty.mfw", {}), 1, 0), kInvalidImage);
  EXPECT_EQ(Run(WriteImage("empty.bin", {}), 0, 0), kInvalidImage);
  EXPECT_EQ(Run(WriteImage("huge.bin", std::vector<uint8_t>(53 * 65536 + 1)), 0, 0), kInvalidImage);
  EXPECT_EQ(Run(WriteImage("huge.ipl", std::vector<uint8_t>(32768 + 32768 + 66 * 65536 + 1)), 0, 1),
            kInvalidImage);
  // Sector 6 is the main firmware's, which the IPL download never erases.
  EXPECT_EQ(Run(WriteImage("six.ipl", std::vector<uint8_t>(131072 + 1)), 0, 1), kInvalidImage);
  EXPECT_EQ(portCalls->write, writes);
  EXPECT_TRUE(Commands().empty());
}

TEST_F(Serial, TheUsersLineSettingsOnlyServeTheSwitch) {
  MakePrinter();
  ASSERT_EQ(download->OpenSerialPort("sim", 9600, "EVEN", 2), kSuccess);
  EXPECT_EQ(emulated.line->State().BaudRate, 9600u);
  EXPECT_EQ(emulated.line->State().Parity, platform::kEvenParity);
  ASSERT_EQ(download->DownloadSerial(WriteImage("f.bin", Pattern(10)), 18, 0, 0, flashSectorSizes,
                                     SerialSettings{"sim", 9600, "EVEN", 2}),
            kSuccess);
  const platform::Dcb after = emulated.line->State();
  EXPECT_EQ(after.BaudRate, 38400u);
  EXPECT_EQ(after.Parity, platform::kNoParity);
  EXPECT_EQ(after.StopBits, platform::kOneStopBit);
  EXPECT_EQ(after.ByteSize, 8);
  download->EndDownload();
}

}  // namespace
}  // namespace quillon::engine
