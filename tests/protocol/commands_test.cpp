// Every printer command against the emulated printer: what each answer means
// to the command, and answers that come late, in pieces or not at all.
#include <gtest/gtest.h>

#include "ports/link.h"
#include "protocol/flash_printer.h"
#include "protocol/frames.h"
#include "sim/emulated_line.h"
#include "support/virtual_clock.h"

namespace quillon::protocol {
namespace {

using sim::CommandKind;

class Commands : public ::testing::Test {
 protected:
  platform::VirtualClock clock;
  platform::ScopedClock scope{clock};
  sim::EmulatorOptions options;
  sim::EmulatedLine printerLine;
  CFlashPrinter printer{ports::Interface::kSerial};

  void SetUp() override {}
  void TearDown() override { printer.ClosePort(); }

  // Connects to a printer that is already in download mode.
  void Connect() {
    options.bootDelayMs = 0;
    printerLine = sim::MakeEmulatedLine(options);
    printer.link.SetHandle(printerLine.line->Open());
    printer.SetReadTimeouts(1500);
    ASSERT_EQ(printer.SwitchToDownloadMode(kSwitchToDownloadFrame, 3), 1);
  }
  void Fault(CommandKind kind, int nth, uint8_t byte, bool silent = false) {
    options.faults.push_back({kind, nth, silent, byte});
  }
  int Erase(int sector) {
    return printer.EraseFlashSector(kEraseSectorPrefix, 2, static_cast<uint8_t>(sector));
  }
  int Select(int sector) {
    return printer.SelectFlashSector(kSelectSectorPrefix, 2, static_cast<uint8_t>(sector));
  }
  int Block(std::vector<uint8_t>& data) {
    uint8_t* pieces[4] = {data.data(), nullptr, nullptr, nullptr};
    return printer.SendDataBlock(kDataBlockPrefix, 2, 0, static_cast<uint32_t>(data.size()),
                                 static_cast<int>(data.size()), pieces, nullptr);
  }
};

TEST_F(Commands, AWholeSectorRoundTrip) {
  Connect();
  int stdModel = -1;
  EXPECT_EQ(printer.CheckLineStatus(kLineStatusFrame, 2, stdModel), 1);
  EXPECT_EQ(stdModel, 1);
  EXPECT_EQ(Erase(2), 1);
  EXPECT_EQ(Select(2), 1);
  std::vector<uint8_t> data(8192);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i ^ (i >> 8));
  EXPECT_EQ(Block(data), 1);
  uint16_t crc = 0;
  EXPECT_EQ(printer.AcknowledgeChecksum(kAckChecksumFrame, 2, crc), 1);
  EXPECT_EQ(crc, printer.GetDataCrc());
  EXPECT_EQ(printerLine.printer->Sector(2), data);
  uint16_t value = 0;
  EXPECT_EQ(printer.RecalculateCrc(kRecalculateCrcFrame, 2, value), 1);
  EXPECT_EQ(value, printerLine.printer->ProgramAreaCrc());
  EXPECT_EQ(printer.ResetPrinter(kResetPrinterFrame, 2), 1);
}

TEST_F(Commands, LineStatusAnswers) {
  options.statusByte = 0x41;
  Fault(CommandKind::kLineStatus, 2, kNak);
  Fault(CommandKind::kLineStatus, 3, 0x00, /*silent=*/true);
  Connect();
  int stdModel = 7;
  EXPECT_EQ(printer.CheckLineStatus(kLineStatusFrame, 2, stdModel), 0);  // 06 41
  EXPECT_EQ(stdModel, 0);
  stdModel = 7;
  EXPECT_EQ(printer.CheckLineStatus(kLineStatusFrame, 2, stdModel), 0);  // 15
  EXPECT_EQ(stdModel, 7);
  EXPECT_EQ(printer.CheckLineStatus(kLineStatusFrame, 2, stdModel), 0);  // nothing
  EXPECT_EQ(stdModel, 7);
}

TEST_F(Commands, SelectEraseAndDataAnswers) {
  Fault(CommandKind::kSelect, 1, kNak);
  Fault(CommandKind::kSelect, 2, 0x23);
  Fault(CommandKind::kErase, 1, 0x00, /*silent=*/true);
  Fault(CommandKind::kData, 1, 0x41);
  Fault(CommandKind::kData, 2, kNak);
  Connect();
  EXPECT_EQ(Select(5), 0);
  EXPECT_EQ(Select(5), 0);
  EXPECT_EQ(Select(5), 1);
  const int64_t start = clock.NowMs();
  EXPECT_EQ(Erase(5), 0);
  EXPECT_EQ(clock.NowMs() - start, 100 + 100 + 1500);  // two writes, then the read time-out
  std::vector<uint8_t> data(16384, 0x5A);
  EXPECT_EQ(Block(data), 1);  // over the serial line any answer but NAK is taken
  EXPECT_EQ(Block(data), 0);
}

TEST_F(Commands, ValueAnswers) {
  Fault(CommandKind::kChecksum, 1, kNak);
  Fault(CommandKind::kRecalc, 1, kNak);
  Connect();
  uint16_t value = 0x1234;
  EXPECT_EQ(printer.AcknowledgeChecksum(kAckChecksumFrame, 2, value), 0);
  EXPECT_EQ(value, 0x1234);
  EXPECT_EQ(printer.RecalculateCrc(kRecalculateCrcFrame, 2, value), 0);
  EXPECT_EQ(value, 0x1234);
  EXPECT_EQ(printer.AcknowledgeChecksum(kAckChecksumFrame, 2, value), 1);
  EXPECT_EQ(value, printerLine.printer->AcknowledgedCrc());
}

TEST_F(Commands, SlowAnswersInSingleBytesStillArrive) {
  options.answerDelayMs = 900;
  options.byteGapMs = 400;
  Connect();
  int stdModel = 0;
  EXPECT_EQ(printer.CheckLineStatus(kLineStatusFrame, 2, stdModel), 1);
  uint16_t value = 0;
  EXPECT_EQ(printer.AcknowledgeChecksum(kAckChecksumFrame, 2, value), 1);
  EXPECT_EQ(value, 0);  // nothing sent yet: the CRC of no data
}

TEST_F(Commands, AnAnswerLaterThanTheReadTimeoutIsMissed) {
  options.answerDelayMs = 1700;  // the read starts 100 ms after the frame, for 1500 ms
  Connect();
  EXPECT_EQ(Select(9), 0);
}

TEST_F(Commands, ASilentPrinterIsPolled101TimesForItsCrc) {
  options.silentFrom = 1;
  Connect();
  const int64_t start = clock.NowMs();
  uint16_t value = 0;
  EXPECT_EQ(printer.RecalculateCrc(kRecalculateCrcFrame, 2, value), 0);
  // The frame's write, then 101 x (1 s pause + 2 s read).
  EXPECT_EQ(clock.NowMs() - start, 100 + 101 * (1000 + 2000));
}

TEST_F(Commands, APrinterInNormalModeIgnoresFlashCommands) {
  options.bootDelayMs = 0;
  printerLine = sim::MakeEmulatedLine(options);
  printer.link.SetHandle(printerLine.line->Open());
  printer.SetReadTimeouts(1000);
  int stdModel = 0;
  EXPECT_EQ(printer.CheckLineStatus(kLineStatusFrame, 2, stdModel), 0);
  EXPECT_EQ(Erase(7), 0);
}

}  // namespace
}  // namespace quillon::protocol
