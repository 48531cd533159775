// The fault knobs of the emulator: wrong answers, silence, a wrong checksum,
// another model's status byte, leaving the bus.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sim/crc16.h"
#include "sim/direct_host.h"
#include "sim/frames.h"
#include "sim/printer_emulator.h"

namespace quillon::sim {
namespace {

// The frames, hosts and files of the emulator tests (sim/frames.h,
// sim/temp_dir.h, sim/direct_host.h).
using namespace testing;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

EmulatorOptions Quick() {
  EmulatorOptions options;
  options.bootDelayMs = 0;
  return options;
}

TEST(FaultTest, NakForTheNthCommandOfAKindOnly) {
  EmulatorOptions options = Quick();
  options.faults = {{CommandKind::kErase, 2, false, kNak}};
  DirectHost s(options);
  s.printer().LoadImage(Bytes(kFlashSize, 0x00));
  s.Ready();
  EXPECT_EQ(s.Send(EraseFrame(5)), Bytes{kAck});
  EXPECT_EQ(s.Send(kStatusFrame), (Bytes{kAck, kStandardModel}));  // other kinds don't count
  EXPECT_EQ(s.Send(EraseFrame(6)), Bytes{kNak});
  EXPECT_EQ(s.Send(EraseFrame(7)), Bytes{kAck});
  EXPECT_EQ(s.printer().Sector(5), Bytes(65536, 0xFF));
  EXPECT_EQ(s.printer().Sector(6), Bytes(65536, 0x00));  // the refused erase did nothing
  EXPECT_EQ(s.printer().Sector(7), Bytes(65536, 0xFF));
}

TEST(FaultTest, EveryCommandOfAKind) {
  EmulatorOptions options = Quick();
  options.faults = {{CommandKind::kLineStatus, 0, false, kNak}};
  DirectHost s(options);
  s.Ready();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(s.Send(kStatusFrame), Bytes{kNak}) << i;
  EXPECT_EQ(s.Send(SelectFrame(5)), Bytes{kAck});
}

TEST(FaultTest, AnyByteInsteadOfTheAnswer) {
  EmulatorOptions options = Quick();
  options.faults = {{CommandKind::kChecksum, 1, false, 0x00}, {CommandKind::kData, 1, false, 0x41}};
  DirectHost s(options);
  s.Ready();
  const Bytes data = Pattern(300, 1);
  EXPECT_EQ(s.Send(Join({SelectFrame(5), DataFrame(data)})), (Bytes{kAck, 0x41}));
  EXPECT_EQ(s.printer().Sector(5), Bytes(65536, 0xFF));  // not programmed
  EXPECT_EQ(s.Send(kChecksumFrame), Bytes{0x00});
  // The block sent again goes through.
  EXPECT_EQ(s.Send(DataFrame(data)), Bytes{kAck});
  const uint16_t crc = Crc16(data.data(), data.size());
  EXPECT_EQ(s.Send(kChecksumFrame),
            (Bytes{kAck, static_cast<uint8_t>(crc & 0xFF), static_cast<uint8_t>(crc >> 8)}));
}

TEST(FaultTest, SilenceForTheNthCommand) {
  EmulatorOptions options = Quick();
  options.faults = {{CommandKind::kSelect, 1, true, 0}};
  DirectHost s(options);
  s.Ready();
  EXPECT_THAT(s.Send(SelectFrame(5)), IsEmpty());
  EXPECT_EQ(s.printer().SelectedSector(), 0);
  EXPECT_EQ(s.Send(SelectFrame(5)), Bytes{kAck});
  EXPECT_EQ(s.printer().SelectedSector(), 5);
  EXPECT_EQ(s.printer().Transcript()[1].outcome, TranscriptEntry::Outcome::kSilent);
}

TEST(FaultTest, LostSwitchAndResetLeaveTheModeAlone) {
  EmulatorOptions options = Quick();
  options.faults = {{CommandKind::kSwitch, 1, true, 0}, {CommandKind::kReset, 1, true, 0}};
  DirectHost s(options);
  s.Send(kSwitchFrame);
  EXPECT_EQ(s.printer().State(s.now), LoaderState::kNormal);
  EXPECT_THAT(s.Send(kStatusFrame), IsEmpty());
  s.Send(kSwitchFrame);
  EXPECT_EQ(s.Send(kStatusFrame), (Bytes{kAck, kStandardModel}));
  s.Send(kResetFrame);
  EXPECT_EQ(s.printer().State(s.now), LoaderState::kDownload);
  s.Send(kResetFrame);
  EXPECT_EQ(s.printer().State(s.now), LoaderState::kNormal);
}

TEST(FaultTest, SilenceFromTheNthCommandOn) {
  EmulatorOptions options = Quick();
  options.silentFrom = 4;
  DirectHost s(options);
  s.printer().LoadImage(Bytes(kFlashSize, 0x00));
  s.Ready();                                                       // #1
  EXPECT_EQ(s.Send(kStatusFrame), (Bytes{kAck, kStandardModel}));  // #2
  EXPECT_EQ(s.Send(EraseFrame(5)), Bytes{kAck});                   // #3
  EXPECT_THAT(s.Send(EraseFrame(6)), IsEmpty());                   // #4
  EXPECT_THAT(s.Send(Join({kStatusFrame, kChecksumFrame, kRecalcFrame})), IsEmpty());
  EXPECT_THAT(s.Send(kResetFrame), IsEmpty());
  EXPECT_EQ(s.printer().State(s.now), LoaderState::kDownload);  // a dead printer stays put
  EXPECT_EQ(s.printer().Sector(6), Bytes(65536, 0x00));
}

TEST(FaultTest, CommandsAreCountedOnlyWhenTheLoaderTakesThemIn) {
  EmulatorOptions options;  // boot delay 1000 ms
  options.faults = {{CommandKind::kLineStatus, 1, false, kNak}};
  options.silentFrom = 4;
  DirectHost s(options);
  EXPECT_THAT(s.Send(kStatusFrame), IsEmpty());  // normal mode: not counted
  s.Send(kSwitchFrame);                          // #1
  s.now = 500;
  EXPECT_THAT(s.Send(kStatusFrame), IsEmpty());  // starting: not counted
  s.now = 1000;
  EXPECT_EQ(s.Send(kStatusFrame), Bytes{kNak});                    // #2, first status
  EXPECT_EQ(s.Send(kStatusFrame), (Bytes{kAck, kStandardModel}));  // #3
  EXPECT_THAT(s.Send(kStatusFrame), IsEmpty());                    // #4
}

TEST(FaultTest, WrongChecksumAfterABlockIntoTheChosenSector) {
  EmulatorOptions options = Quick();
  options.badCrcSectors = {7};
  DirectHost s(options);
  s.Ready();
  const Bytes data = Pattern(1000, 2);
  const uint16_t crc = Crc16(data.data(), data.size());
  const Bytes right = {kAck, static_cast<uint8_t>(crc & 0xFF), static_cast<uint8_t>(crc >> 8)};

  EXPECT_EQ(s.Send(Join({SelectFrame(6), DataFrame(data)})), (Bytes{kAck, kAck}));
  EXPECT_EQ(s.Send(kChecksumFrame), right);
  EXPECT_EQ(s.Send(Join({SelectFrame(7), DataFrame(data)})), (Bytes{kAck, kAck}));
  const Bytes wrong = s.Send(kChecksumFrame);
  ASSERT_EQ(wrong.size(), 3u);
  EXPECT_EQ(wrong[0], kAck);
  EXPECT_NE(wrong, right);
  EXPECT_EQ(s.printer().Sector(7), s.printer().Sector(6));  // the data itself went in
  EXPECT_EQ(s.Send(Join({SelectFrame(8), DataFrame(data), kChecksumFrame})),
            Join({{kAck, kAck}, right}));
}

TEST(FaultTest, AnotherModelAnswersItsOwnStatusByte) {
  EmulatorOptions options = Quick();
  options.statusByte = 0x41;
  DirectHost s(options);
  s.Ready();
  EXPECT_EQ(s.Send(kStatusFrame), (Bytes{kAck, 0x41}));
}

TEST(FaultTest, LeavingTheBusAfterACommandOrAsABlockBegins) {
  EmulatorOptions options = Quick();
  options.replugs = {{CommandKind::kSelect, 1, false}, {CommandKind::kData, 2, true}};
  PrinterEmulator p(options);
  std::vector<BusAbsence> told;
  p.SetBusListener([&told](const BusAbsence& a) { told.push_back(a); });
  p.Feed(kSwitchFrame, 0);
  // The select is answered; the printer goes 2 s after its answer, for 3 s.
  EXPECT_EQ(AnswerBytes(p.Feed(SelectFrame(5), 100)), Bytes{kAck});
  EXPECT_THAT(told, ElementsAre(BusAbsence{2100, 5100}));
  // A frame begun before it goes is lost; nothing is taken in while away.
  EXPECT_THAT(p.Feed(Bytes{0x1D, 0x02}, 2000), IsEmpty());
  EXPECT_THAT(p.Feed(kStatusFrame, 3000), IsEmpty());
  // Back, with the loader as it was: sector 5 is still selected.
  const Bytes first = Pattern(100, 1);
  EXPECT_EQ(AnswerBytes(p.Feed(DataFrame(first), 5100)), Bytes{kAck});
  // The second block is lost as it comes in, and the printer goes with it.
  EXPECT_THAT(p.Feed(DataFrame(Pattern(100, 2)), 6000), IsEmpty());
  EXPECT_EQ(told.back(), (BusAbsence{6000, 9000}));
  const Bytes sector = p.Sector(5);
  EXPECT_EQ(Bytes(sector.begin(), sector.begin() + 100), first);
  EXPECT_EQ(p.LastAbsence(), told.back());

  // For good: it never answers again.
  options.replugs = {{CommandKind::kSwitch, 0, false}};
  options.replugGoneMs = kGoneForGood;
  PrinterEmulator gone(options);
  gone.Feed(kSwitchFrame, 0);
  EXPECT_EQ(gone.LastAbsence(), (BusAbsence{2000, kGoneForGood}));
  EXPECT_THAT(gone.Feed(kStatusFrame, 1'000'000'000), IsEmpty());
}

}  // namespace
}  // namespace quillon::sim
