// How each command is cut into writes, what it reads and what counts as
// success, against a scripted far end.
#include <gtest/gtest.h>

#include <thread>

#include "ports/link.h"
#include "protocol/flash_printer.h"
#include "protocol/frames.h"
#include "support/counting_device.h"
#include "support/recording_window.h"
#include "support/scripted_peer.h"
#include "support/virtual_clock.h"

namespace quillon::protocol {
namespace {

using Bytes = std::vector<uint8_t>;
using platform::WM_PROGRESS_AUTOSTEP;
using platform::WM_PROGRESS_SETPOS;
using Msg = testing::RecordingWindow::Message;

class Framing : public ::testing::Test {
 protected:
  platform::VirtualClock clock;
  platform::ScopedClock scope{clock};
  Bytes answer;        // what the far end says after the next complete frame
  size_t answerAfter;  // ...once this many bytes have been written in all
  size_t total = 0;
  platform::FakeSerialLine* raw = nullptr;
  std::shared_ptr<platform::FakeSerialLine> line =
      testing::ScriptedLine([this](const Bytes& chunk, int64_t now) {
        total += chunk.size();
        if (!answer.empty() && total == answerAfter) raw->Deliver(answer, now + 5);
      });
  // The calls that reach the printer's port.
  std::shared_ptr<testing::DeviceCalls> portCalls = std::make_shared<testing::DeviceCalls>();
  CFlashPrinter printer{ports::Interface::kSerial};

  void SetUp() override {
    raw = line.get();
    printer.link.SetHandle(platform::RegisterDevice(testing::Counted(line->Device(), portCalls)));
    printer.SetReadTimeouts(1500);
  }
  void TearDown() override { printer.ClosePort(); }
  void AnswerAfter(size_t bytes, Bytes a) {
    answer = std::move(a);
    answerAfter = total + bytes;
  }
};

TEST_F(Framing, SelectAndEraseWriteThePrefixThenTheSectorByte) {
  AnswerAfter(3, {kAck});
  EXPECT_EQ(printer.EraseFlashSector(kEraseSectorPrefix, 2, 7), 1);
  AnswerAfter(3, {kAck});
  EXPECT_EQ(printer.SelectFlashSector(kSelectSectorPrefix, 2, 70), 1);
  EXPECT_EQ(line->WriteCallSizes(), (std::vector<uint32_t>{2, 1, 2, 1}));
  EXPECT_EQ(line->Written(), (Bytes{0x1D, 0x10, 7, 0x1D, 0x02, 70}));
  // Each write call is followed by its 100 ms pause.
  EXPECT_EQ(clock.Timeline(std::this_thread::get_id()), (std::vector<int64_t>{100, 100, 100, 100}));
}

TEST_F(Framing, SelectAndEraseAcceptOnlyAck) {
  for (uint8_t reply : {kNak, uint8_t{0x23}, uint8_t{0x00}}) {
    AnswerAfter(3, {reply});
    EXPECT_EQ(printer.SelectFlashSector(kSelectSectorPrefix, 2, 5), 0) << int(reply);
    AnswerAfter(3, {reply});
    EXPECT_EQ(printer.EraseFlashSector(kEraseSectorPrefix, 2, 5), 0) << int(reply);
  }
  answer.clear();
  EXPECT_EQ(printer.SelectFlashSector(kSelectSectorPrefix, 2, 5), 0);  // silence
}

TEST_F(Framing, TheCallersPrefixIsNotChanged) {
  uint8_t prefix[2] = {0x1D, 0x10};
  AnswerAfter(3, {kAck});
  printer.EraseFlashSector(prefix, 2, 9);
  EXPECT_EQ(prefix[0], 0x1D);
  EXPECT_EQ(prefix[1], 0x10);
}

TEST_F(Framing, DataBlockHeaderPiecesCrcAndProgress) {
  struct Case {
    uint32_t blockLength;
    int pieceLength;
    int pieces;
    uint8_t ll, hh;
  };
  for (const Case c : {Case{65536, 16384, 4, 0x00, 0x00}, Case{32768, 16384, 2, 0x00, 0x80},
                       Case{16384, 16384, 1, 0x00, 0x40}, Case{8192, 8192, 1, 0x00, 0x20}}) {
    std::vector<Bytes> storage(static_cast<size_t>(c.pieces));
    uint8_t* pieces[4] = {};
    Bytes all;
    for (int j = 0; j < c.pieces; ++j) {
      storage[static_cast<size_t>(j)].resize(static_cast<size_t>(c.pieceLength));
      for (int i = 0; i < c.pieceLength; ++i) {
        storage[static_cast<size_t>(j)][static_cast<size_t>(i)] = static_cast<uint8_t>(i * 7 + j);
      }
      pieces[j] = storage[static_cast<size_t>(j)].data();
      all.insert(all.end(), storage[static_cast<size_t>(j)].begin(),
                 storage[static_cast<size_t>(j)].end());
    }
    testing::RecordingWindow window;
    const size_t before = line->Written().size();
    const size_t callsBefore = line->WriteCallSizes().size();
    AnswerAfter(6 + all.size(), {kAck});
    ASSERT_EQ(printer.SendDataBlock(kDataBlockPrefix, 2, 0, c.blockLength, c.pieceLength, pieces,
                                    &window),
              1);

    const Bytes written = line->Written();
    const Bytes header(written.begin() + static_cast<long>(before),
                       written.begin() + static_cast<long>(before) + 6);
    EXPECT_EQ(header, (Bytes{0x1D, 0x11, 0x00, 0x00, c.ll, c.hh})) << c.blockLength;
    EXPECT_EQ(Bytes(written.begin() + static_cast<long>(before) + 6, written.end()), all);

    std::vector<uint32_t> calls = line->WriteCallSizes();
    calls.erase(calls.begin(), calls.begin() + static_cast<long>(callsBefore));
    std::vector<uint32_t> expected = {2, 1, 1, 1, 1};
    for (int j = 0; j < c.pieces; ++j) expected.push_back(static_cast<uint32_t>(c.pieceLength));
    EXPECT_EQ(calls, expected);

    EXPECT_EQ(printer.GetDataCrc(), CrcRegister::Of(all.data(), all.size()));

    std::vector<Msg> progress = {{WM_PROGRESS_AUTOSTEP, 0, 0, false}};
    for (int j = 0; j < c.pieces; ++j) {
      progress.push_back({WM_PROGRESS_SETPOS, c.blockLength, (j + 1) * c.pieceLength, false});
    }
    progress.push_back({WM_PROGRESS_AUTOSTEP, 0, 1, false});
    EXPECT_EQ(window.Messages(), progress);
  }
}

TEST_F(Framing, DataBlockWithoutPiecesSendsOnlyTheHeaderAndStillWaits) {
  uint8_t* pieces[4] = {};
  testing::RecordingWindow window;
  AnswerAfter(6, {kAck});
  EXPECT_EQ(printer.SendDataBlock(kDataBlockPrefix, 2, 0x1234, 0x10000, 16384, pieces, &window), 1);
  EXPECT_EQ(line->Written(), (Bytes{0x1D, 0x11, 0x34, 0x12, 0x00, 0x00}));
  EXPECT_EQ(printer.GetDataCrc(), 0);
  EXPECT_EQ(window.Messages(), (std::vector<Msg>{{WM_PROGRESS_AUTOSTEP, 0, 0, false},
                                                 {WM_PROGRESS_AUTOSTEP, 0, 1, false}}));
}

TEST_F(Framing, SerialDataBlockAcceptsAnyAnswerButNak) {
  Bytes piece(8192, 0xA5);
  uint8_t* pieces[4] = {piece.data(), nullptr, nullptr, nullptr};
  AnswerAfter(6 + 8192, {0x41});
  EXPECT_EQ(printer.SendDataBlock(kDataBlockPrefix, 2, 0, 8192, 8192, pieces, nullptr), 1);
  AnswerAfter(6 + 8192, {kNak});
  EXPECT_EQ(printer.SendDataBlock(kDataBlockPrefix, 2, 0, 8192, 8192, pieces, nullptr), 0);
  answer.clear();
  EXPECT_EQ(printer.SendDataBlock(kDataBlockPrefix, 2, 0, 8192, 8192, pieces, nullptr), 0);
}

TEST_F(Framing, AFailedWriteEndsTheCommandBeforeAnyRead) {
  line->SetWriteFails(true);
  const int reads = portCalls->read;
  int stdModel = 5;
  uint16_t value = 9;
  EXPECT_EQ(printer.CheckLineStatus(kLineStatusFrame, 2, stdModel), 0);
  EXPECT_EQ(printer.EraseFlashSector(kEraseSectorPrefix, 2, 6), 0);
  EXPECT_EQ(printer.AcknowledgeChecksum(kAckChecksumFrame, 2, value), 0);
  EXPECT_EQ(printer.RecalculateCrc(kRecalculateCrcFrame, 2, value), 0);
  EXPECT_EQ(printer.SwitchToDownloadMode(kSwitchToDownloadFrame, 3), 0);
  EXPECT_EQ(printer.ResetPrinter(kResetPrinterFrame, 2), 0);
  EXPECT_EQ(portCalls->read, reads);
  EXPECT_EQ(stdModel, 5);
  EXPECT_EQ(value, 9);
}

TEST_F(Framing, SwitchAndResetWaitForNothing) {
  EXPECT_EQ(printer.SwitchToDownloadMode(kSwitchToDownloadFrame, 3), 1);
  EXPECT_EQ(printer.ResetPrinter(kResetPrinterFrame, 2), 1);
  EXPECT_EQ(line->Written(), (Bytes{0x1D, 0x5B, 0x7D, 0x1D, 0xFF}));
  EXPECT_EQ(clock.NowMs(), 200);  // two write calls, two pauses, no read
}

}  // namespace
}  // namespace quillon::protocol
