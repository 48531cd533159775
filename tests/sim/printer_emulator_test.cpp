#include "sim/printer_emulator.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "sim/crc16.h"
#include "sim/direct_host.h"
#include "sim/frames.h"

namespace quillon::sim {
namespace {

// The frames, hosts and files of the emulator tests (sim/frames.h,
// sim/temp_dir.h, sim/direct_host.h).
using namespace testing;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

uint16_t Crc(const Bytes& data) {
  return Crc16(data.data(), data.size());
}

Bytes CrcAnswer(uint16_t crc) {
  return {kAck, static_cast<uint8_t>(crc & 0xFF), static_cast<uint8_t>(crc >> 8)};
}

// ---------------------------------------------------------------------------
// Flash geometry

TEST(FlashGeometryTest, SectorsLieBackToBackFromAddressZero) {
  EXPECT_EQ(PrinterEmulator::SectorAddress(1), 0x0u);
  EXPECT_EQ(PrinterEmulator::SectorAddress(2), 0x4000u);
  EXPECT_EQ(PrinterEmulator::SectorAddress(3), 0x6000u);
  EXPECT_EQ(PrinterEmulator::SectorAddress(4), 0x8000u);
  EXPECT_EQ(PrinterEmulator::SectorAddress(5), 0x10000u);
  EXPECT_EQ(PrinterEmulator::SectorAddress(6), 0x20000u);
  EXPECT_EQ(PrinterEmulator::SectorAddress(70), 0x420000u);
  EXPECT_EQ(PrinterEmulator::SectorSize(1), 16384u);
  EXPECT_EQ(PrinterEmulator::SectorSize(2), 8192u);
  EXPECT_EQ(PrinterEmulator::SectorSize(3), 8192u);
  EXPECT_EQ(PrinterEmulator::SectorSize(4), 32768u);
  for (int s = 5; s <= 70; ++s) EXPECT_EQ(PrinterEmulator::SectorSize(s), 65536u) << s;
  for (int s = 1; s < 70; ++s) {
    EXPECT_EQ(PrinterEmulator::SectorAddress(s) + PrinterEmulator::SectorSize(s),
              PrinterEmulator::SectorAddress(s + 1))
        << s;
  }
  EXPECT_EQ(PrinterEmulator::SectorAddress(70) + PrinterEmulator::SectorSize(70), kFlashSize);
  EXPECT_EQ(kFlashSize, 4'390'912u);
}

TEST(FlashGeometryTest, NumbersOutsideOneToSeventyAreNoSectors) {
  for (int s : {0, 71, -1, 255}) {
    EXPECT_FALSE(PrinterEmulator::ValidSector(s)) << s;
    EXPECT_EQ(PrinterEmulator::SectorSize(s), 0u) << s;
    EXPECT_EQ(PrinterEmulator::SectorAddress(s), kFlashSize) << s;
  }
  PrinterEmulator printer;
  EXPECT_THAT(printer.Sector(0), IsEmpty());
  EXPECT_THAT(printer.Sector(71), IsEmpty());
}

TEST(FlashGeometryTest, FlashStartsErasedAndTakesAnImage) {
  PrinterEmulator printer;
  const Bytes flash = printer.Flash();
  ASSERT_EQ(flash.size(), kFlashSize);
  EXPECT_TRUE(std::all_of(flash.begin(), flash.end(), [](uint8_t b) { return b == 0xFF; }));

  const Bytes image = Pattern(0x4000 + 0x2000 + 10, 3);
  printer.LoadImage(image);
  EXPECT_EQ(printer.Sector(1), Bytes(image.begin(), image.begin() + 0x4000));
  EXPECT_EQ(printer.Sector(2), Bytes(image.begin() + 0x4000, image.begin() + 0x6000));
  const Bytes third = printer.Sector(3);
  EXPECT_EQ(Bytes(third.begin(), third.begin() + 10), Bytes(image.begin() + 0x6000, image.end()));
  EXPECT_EQ(third[10], 0xFF);  // beyond a short image nothing changes
}

// ---------------------------------------------------------------------------
// Framing

TEST(FramingTest, AnyFragmentationGivesTheSameAnswersAndFlash) {
  const Bytes stream = Join(
      {kStatusFrame, EraseFrame(6), SelectFrame(6), DataFrame(Pattern(300, 9)), kChecksumFrame,
       kRecalcFrame, SelectFrame(2), DataFrame(Pattern(0x1D, 0x1D)), kChecksumFrame, kStatusFrame});

  DirectHost whole;
  whole.Ready();
  const Bytes expected = whole.Send(stream);
  ASSERT_EQ(expected.size(), 2u + 1 + 1 + 1 + 3 + 3 + 1 + 1 + 3 + 2);

  for (size_t piece : {size_t{1}, size_t{2}, size_t{5}, size_t{7}, size_t{64}}) {
    DirectHost split;
    split.Ready();
    Bytes got;
    for (size_t i = 0; i < stream.size(); i += piece) {
      const size_t n = std::min(piece, stream.size() - i);
      const auto answer = split.printer().Feed(stream.data() + i, n, split.now);
      const Bytes bytes = AnswerBytes(answer);
      got.insert(got.end(), bytes.begin(), bytes.end());
    }
    EXPECT_EQ(got, expected) << "pieces of " << piece;
    EXPECT_EQ(split.printer().Flash(), whole.printer().Flash()) << "pieces of " << piece;
  }
}

TEST(FramingTest, AnswerComesWhenTheLastByteOfAFrameArrives) {
  DirectHost s;
  s.Ready();
  EXPECT_THAT(s.printer().Feed(Bytes{0x1D}, 1000), IsEmpty());
  EXPECT_THAT(s.printer().Feed(Bytes{0x01}, 1040),
              ElementsAre(TimedByte{kAck, 1040}, TimedByte{kStandardModel, 1040}));
  const Bytes block = DataFrame(Pattern(100, 1));
  const Bytes selectAndHead(block.begin(), block.begin() + 50);
  EXPECT_THAT(s.printer().Feed(Join({SelectFrame(7), selectAndHead}), 1100),
              ElementsAre(TimedByte{kAck, 1100}));
  EXPECT_THAT(s.printer().Feed(block.data() + 50, block.size() - 50, 1200),
              ElementsAre(TimedByte{kAck, 1200}));
}

TEST(FramingTest, BlockDataIsNeverTakenForCommands) {
  DirectHost s;
  s.Ready();
  // A block made of frames: reset, switch, erase 5.
  const Bytes data = Join({kResetFrame, kSwitchFrame, EraseFrame(5), kStatusFrame});
  s.printer().LoadImage(Bytes(kFlashSize, 0x00));
  EXPECT_EQ(s.Send(Join({SelectFrame(3), DataFrame(data), kStatusFrame})),
            (Bytes{kAck, kAck, kAck, kStandardModel}));
  EXPECT_EQ(s.printer().State(s.now), LoaderState::kDownload);
  EXPECT_EQ(s.printer().Sector(5), Bytes(65536, 0x00));
  const Bytes third = s.printer().Sector(3);
  EXPECT_EQ(Bytes(third.begin(), third.begin() + data.size()), data);
}

TEST(FramingTest, StrayBytesAndUnknownCommandsAreLoggedAndSkipped) {
  DirectHost s;
  s.Ready();
  EXPECT_EQ(s.Send({0xAA, 0xBB, 0x1D, 0x7A, 0x1D, 0x01}), (Bytes{kAck, kStandardModel}));
  // A switch cut short, then a whole status frame; a doubled GS.
  EXPECT_EQ(s.Send({0x1D, 0x5B, 0x1D, 0x01, 0x1D, 0x1D, 0x01}),
            (Bytes{kAck, kStandardModel, kAck, kStandardModel}));

  const auto t = s.printer().Transcript();
  ASSERT_EQ(t.size(), 8u);
  EXPECT_EQ(t[1].kind, CommandKind::kStray);
  EXPECT_EQ(t[1].length, 2);
  EXPECT_EQ(t[2].kind, CommandKind::kUnknown);
  EXPECT_EQ(t[2].code, 0x7A);
  EXPECT_EQ(t[3].kind, CommandKind::kLineStatus);
  EXPECT_EQ(t[4].kind, CommandKind::kUnknown);
  EXPECT_EQ(t[4].code, 0x5B);
  EXPECT_EQ(t[5].kind, CommandKind::kLineStatus);
  EXPECT_EQ(t[6].kind, CommandKind::kStray);
  EXPECT_EQ(t[6].length, 1);
  EXPECT_EQ(t[7].kind, CommandKind::kLineStatus);
  for (int i : {1, 2, 4, 6}) EXPECT_EQ(t[i].number, 0) << i;  // not commands
  EXPECT_EQ(t[7].number, 4);
}

// ---------------------------------------------------------------------------
// The commands in download mode

TEST(CommandTest, LineStatusAnswersAckAndTheModelByte) {
  DirectHost s;
  s.Ready();
  EXPECT_EQ(s.Send(kStatusFrame), (Bytes{kAck, 0x23}));
  EXPECT_EQ(s.Send(kStatusFrame), (Bytes{kAck, 0x23}));
}

TEST(CommandTest, SelectAcceptsSectorsOneToSeventyOnly) {
  DirectHost s;
  s.Ready();
  EXPECT_EQ(s.Send(SelectFrame(1)), Bytes{kAck});
  EXPECT_EQ(s.printer().SelectedSector(), 1);
  EXPECT_EQ(s.Send(SelectFrame(70)), Bytes{kAck});
  EXPECT_EQ(s.printer().SelectedSector(), 70);
  EXPECT_EQ(s.Send(SelectFrame(71)), Bytes{kNak});
  EXPECT_EQ(s.printer().SelectedSector(), 0);
  EXPECT_EQ(s.Send(SelectFrame(5)), Bytes{kAck});
  EXPECT_EQ(s.Send(SelectFrame(0)), Bytes{kNak});
  // A failed selection leaves none: the next block is refused.
  EXPECT_EQ(s.Send(DataFrame(Pattern(16, 0))), Bytes{kNak});
  EXPECT_EQ(s.printer().Sector(5), Bytes(65536, 0xFF));
}

TEST(CommandTest, EraseClearsExactlyTheSector) {
  DirectHost s;
  s.printer().LoadImage(Bytes(kFlashSize, 0x5A));
  s.Ready();
  for (int sector : {2, 4, 70}) {
    EXPECT_EQ(s.Send(EraseFrame(sector)), Bytes{kAck}) << sector;
  }
  const Bytes flash = s.printer().Flash();
  for (int sector = 1; sector <= kSectorCount; ++sector) {
    const bool erased = sector == 2 || sector == 4 || sector == 70;
    const auto first = flash.begin() + PrinterEmulator::SectorAddress(sector);
    const auto last = first + PrinterEmulator::SectorSize(sector);
    EXPECT_TRUE(std::all_of(first, last, [&](uint8_t b) { return b == (erased ? 0xFF : 0x5A); }))
        << "sector " << sector;
  }
  EXPECT_EQ(s.Send(EraseFrame(0)), Bytes{kNak});
  EXPECT_EQ(s.Send(EraseFrame(71)), Bytes{kNak});
  EXPECT_EQ(s.printer().Flash(), flash);
}

TEST(CommandTest, DataBlockProgramsTheSelectedSectorFromItsStart) {
  DirectHost s;
  s.printer().LoadImage(Bytes(kFlashSize, 0x00));
  s.Ready();
  const Bytes data = Pattern(1000, 0x40);
  EXPECT_EQ(s.Send(Join({EraseFrame(3), SelectFrame(3), DataFrame(data)})),
            (Bytes{kAck, kAck, kAck}));
  const Bytes flash = s.printer().Flash();
  const size_t at = PrinterEmulator::SectorAddress(3);
  EXPECT_EQ(Bytes(flash.begin() + at, flash.begin() + at + 1000), data);
  // The rest of the erased sector stays erased, the neighbours untouched.
  EXPECT_EQ(Bytes(flash.begin() + at + 1000, flash.begin() + at + 0x2000),
            Bytes(0x2000 - 1000, 0xFF));
  EXPECT_EQ(flash[at - 1], 0x00);
  EXPECT_EQ(flash[at + 0x2000], 0x00);

  // Another block into the same sector starts again at its offset 0.
  const Bytes second = Pattern(10, 0x90);
  EXPECT_EQ(s.Send(DataFrame(second)), Bytes{kAck});
  const Bytes sector = s.printer().Sector(3);
  EXPECT_EQ(Bytes(sector.begin(), sector.begin() + 10), second);
  EXPECT_EQ(Bytes(sector.begin() + 10, sector.begin() + 1000),
            Bytes(data.begin() + 10, data.end()));
}

TEST(CommandTest, DataBlockWithoutASelectedSectorIsRefused) {
  DirectHost s;
  s.Ready();
  EXPECT_EQ(s.Send(DataFrame(Pattern(64, 1))), Bytes{kNak});
  EXPECT_EQ(s.printer().Flash(), Bytes(kFlashSize, 0xFF));
}

TEST(CommandTest, LengthZeroMeansAFullSixtyFourKilobyteBlock) {
  DirectHost s;
  s.Ready();
  const Bytes data = Pattern(65536, 0x11);
  const Bytes frame = DataFrame(data);
  ASSERT_EQ(frame[4], 0x00);
  ASSERT_EQ(frame[5], 0x00);
  EXPECT_EQ(s.Send(Join({SelectFrame(9), frame, kStatusFrame})),
            (Bytes{kAck, kAck, kAck, kStandardModel}));
  EXPECT_EQ(s.printer().Sector(9), data);
  EXPECT_EQ(s.printer().Transcript().back().kind, CommandKind::kLineStatus);
  EXPECT_EQ(s.printer().Transcript()[2].length, 65536);
}

TEST(CommandTest, BlockLongerThanTheSectorProgramsOnlyTheSector) {
  DirectHost s;
  s.Ready();
  const Bytes data = Pattern(0x3000, 0x21);  // sector 2 holds 0x2000
  EXPECT_EQ(s.Send(Join({SelectFrame(2), DataFrame(data)})), (Bytes{kAck, kAck}));
  EXPECT_EQ(s.printer().Sector(2), Bytes(data.begin(), data.begin() + 0x2000));
  EXPECT_EQ(s.printer().Sector(3), Bytes(0x2000, 0xFF));
  const TranscriptEntry block = s.printer().Transcript().back();
  EXPECT_THAT(block.note, HasSubstr("4096 bytes beyond the sector dropped"));
  // The checksum still covers every byte received.
  EXPECT_EQ(s.Send(kChecksumFrame), CrcAnswer(Crc(data)));
}

TEST(CommandTest, ChecksumIsTheCrcOfTheLastBlockReceived) {
  DirectHost s;
  s.Ready();
  EXPECT_EQ(s.Send(kChecksumFrame), CrcAnswer(0));  // no block yet
  const Bytes check = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(s.Send(Join({SelectFrame(5), DataFrame(check), kChecksumFrame})),
            (Bytes{kAck, kAck, kAck, 0x3D, 0xBB}));
  const Bytes other = Pattern(4000, 7);
  EXPECT_EQ(s.Send(Join({SelectFrame(6), DataFrame(other)})), (Bytes{kAck, kAck}));
  EXPECT_EQ(s.Send(kChecksumFrame), CrcAnswer(Crc(other)));
  EXPECT_EQ(s.Send(kChecksumFrame), CrcAnswer(Crc(other)));  // asking again changes nothing
  // A block refused for want of a sector was still received.
  EXPECT_EQ(s.Send(Join({SelectFrame(0), DataFrame(check), kChecksumFrame})),
            (Bytes{kNak, kNak, kAck, 0x3D, 0xBB}));
}

TEST(CommandTest, RecalculateAnswersTheCrcOfTheProgramArea) {
  DirectHost s;
  s.Ready();
  const Bytes erased(kFlashSize - kProgramAreaStart, 0xFF);
  EXPECT_EQ(s.Send(kRecalcFrame), CrcAnswer(Crc(erased)));

  const Bytes data = Pattern(5000, 3);
  s.Send(Join({SelectFrame(5), DataFrame(data)}));
  Bytes area = erased;
  std::copy(data.begin(), data.end(), area.begin());
  EXPECT_EQ(s.Send(kRecalcFrame), CrcAnswer(Crc(area)));
  EXPECT_EQ(s.printer().ProgramAreaCrc(), Crc(area));

  // Sectors 1..4 lie outside it.
  s.Send(Join({SelectFrame(1), DataFrame(data)}));
  EXPECT_EQ(s.Send(kRecalcFrame), CrcAnswer(Crc(area)));
}

TEST(CommandTest, ProgrammingReplacesBytesOrOnlyClearsBits) {
  for (bool clearsOnly : {false, true}) {
    EmulatorOptions options;
    options.programClearsBitsOnly = clearsOnly;
    DirectHost s(options);
    s.printer().LoadImage(Bytes(16, 0xF0));
    s.Ready();
    EXPECT_EQ(s.Send(Join({SelectFrame(1), DataFrame(Bytes(4, 0x3C))})), (Bytes{kAck, kAck}));
    const Bytes sector = s.printer().Sector(1);
    EXPECT_EQ(sector[0], clearsOnly ? 0x30 : 0x3C);
    EXPECT_EQ(sector[4], 0xF0);
  }
}

// ---------------------------------------------------------------------------
// Loader states

TEST(LoaderStateTest, NormalModeIgnoresEverythingButTheSwitch) {
  DirectHost s;
  s.printer().LoadImage(Bytes(kFlashSize, 0x00));
  EXPECT_EQ(s.printer().State(0), LoaderState::kNormal);
  const Bytes all = Join({kStatusFrame, EraseFrame(5), SelectFrame(5), DataFrame(Pattern(8, 1)),
                          kChecksumFrame, kRecalcFrame, kResetFrame});
  EXPECT_THAT(s.Send(all), IsEmpty());
  EXPECT_EQ(s.printer().Flash(), Bytes(kFlashSize, 0x00));
  EXPECT_EQ(s.printer().SelectedSector(), 0);
  for (const TranscriptEntry& e : s.printer().Transcript()) {
    EXPECT_EQ(e.outcome, TranscriptEntry::Outcome::kIgnored) << e.Text();
    EXPECT_EQ(e.number, 0) << e.Text();
    EXPECT_EQ(e.note, "ignored: normal mode") << e.Text();
  }
  EXPECT_EQ(s.printer().Transcript().size(), 7u);
}

TEST(LoaderStateTest, SwitchOpensDownloadModeAfterTheBootDelay) {
  DirectHost s;  // default boot delay: 1000 ms
  s.now = 500;
  EXPECT_THAT(s.Send(kSwitchFrame), IsEmpty());
  EXPECT_EQ(s.printer().State(500), LoaderState::kStarting);
  s.now = 1499;
  EXPECT_THAT(s.Send(kStatusFrame), IsEmpty());
  EXPECT_THAT(s.Send(EraseFrame(5)), IsEmpty());
  EXPECT_EQ(s.printer().State(1499), LoaderState::kStarting);
  EXPECT_EQ(s.printer().State(1500), LoaderState::kDownload);
  s.now = 1500;
  EXPECT_EQ(s.Send(kStatusFrame), (Bytes{kAck, kStandardModel}));
  const auto t = s.printer().Transcript();
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(t[1].note, "ignored: loader starting");
  EXPECT_EQ(t[2].note, "ignored: loader starting");
  EXPECT_EQ(t[3].number, 2);
}

TEST(LoaderStateTest, BootDelayIsConfigurable) {
  EmulatorOptions options;
  options.bootDelayMs = 40;
  DirectHost s(options);
  s.Send(kSwitchFrame);
  s.now = 39;
  EXPECT_THAT(s.Send(kStatusFrame), IsEmpty());
  s.now = 40;
  EXPECT_EQ(s.Send(kStatusFrame), (Bytes{kAck, kStandardModel}));
}

TEST(LoaderStateTest, SwitchInDownloadModeChangesNothing) {
  DirectHost s;
  s.Ready();
  EXPECT_EQ(s.Send(SelectFrame(8)), Bytes{kAck});
  EXPECT_THAT(s.Send(kSwitchFrame), IsEmpty());
  EXPECT_EQ(s.printer().State(s.now), LoaderState::kDownload);  // no second boot delay
  EXPECT_EQ(s.Send(DataFrame(Pattern(4, 1))), Bytes{kAck});     // the selection stays
  EXPECT_EQ(s.printer().Transcript()[2].note, "already in download mode");
}

TEST(LoaderStateTest, ResetReturnsToNormalModeUntilTheNextSwitch) {
  DirectHost s;
  s.Ready();
  EXPECT_EQ(s.Send(SelectFrame(5)), Bytes{kAck});
  EXPECT_THAT(s.Send(kResetFrame), IsEmpty());
  EXPECT_EQ(s.printer().State(s.now), LoaderState::kNormal);
  EXPECT_THAT(s.Send(kStatusFrame), IsEmpty());
  s.Ready();
  EXPECT_EQ(s.Send(kStatusFrame), (Bytes{kAck, kStandardModel}));
  // The loader forgot the selection.
  EXPECT_EQ(s.Send(DataFrame(Pattern(4, 1))), Bytes{kNak});
}

TEST(LoaderStateTest, FirstIplBlockRestartsTheLoader) {
  EmulatorOptions options;
  options.bootDelayMs = 0;
  options.answerDelayMs = 20;
  DirectHost s(options);  // restart time: 3000 ms by default
  s.Ready();
  s.now = 100;
  EXPECT_EQ(s.Send(kStatusFrame), (Bytes{kAck, kStandardModel}));
  s.now = 200;
  EXPECT_THAT(s.SendTimed(Join({SelectFrame(4), DataFrame(Pattern(0x8000, 4))})),
              ElementsAre(TimedByte{kAck, 220}, TimedByte{kAck, 220}));
  EXPECT_EQ(s.printer().Sector(4), Pattern(0x8000, 4));
  // Deaf from the ACK on, for the restart time.
  EXPECT_EQ(s.printer().State(220), LoaderState::kStarting);
  s.now = 3219;
  EXPECT_THAT(s.Send(kStatusFrame), IsEmpty());
  EXPECT_EQ(s.printer().Transcript().back().note, "ignored: loader restarting");
  // Then in download mode again without a new switch, with no sector selected.
  s.now = 3220;
  EXPECT_EQ(s.Send(kStatusFrame), (Bytes{kAck, kStandardModel}));
  EXPECT_EQ(s.printer().SelectedSector(), 0);
  // The restart happens once per switch.
  EXPECT_EQ(s.Send(Join({SelectFrame(4), DataFrame(Pattern(16, 5)), kStatusFrame})),
            (Bytes{kAck, kAck, kAck, kStandardModel}));
}

TEST(LoaderStateTest, RestartTimeIsConfigurable) {
  EmulatorOptions options;
  options.bootDelayMs = 0;
  options.restartMs = 250;
  DirectHost s(options);
  s.Ready();
  s.now = 10;
  s.Send(Join({SelectFrame(4), DataFrame(Pattern(100, 4))}));
  s.now = 259;
  EXPECT_THAT(s.Send(kStatusFrame), IsEmpty());
  s.now = 260;
  EXPECT_EQ(s.Send(kStatusFrame), (Bytes{kAck, kStandardModel}));
}

TEST(LoaderStateTest, NoRestartOnceSomethingWasErasedSinceTheSwitch) {
  EmulatorOptions options;
  options.bootDelayMs = 0;
  DirectHost s(options);
  s.Ready();
  EXPECT_EQ(s.Send(Join({EraseFrame(4), SelectFrame(4), DataFrame(Pattern(100, 4)), kStatusFrame})),
            (Bytes{kAck, kAck, kAck, kAck, kStandardModel}));
  EXPECT_EQ(s.Send(Join({SelectFrame(5), DataFrame(Pattern(100, 4)), kStatusFrame})),
            (Bytes{kAck, kAck, kAck, kStandardModel}));

  // A new switch starts the count again: the next IPL block restarts.
  s.Send(kResetFrame);
  s.Ready();
  EXPECT_EQ(s.Send(Join({SelectFrame(4), DataFrame(Pattern(100, 4)), kStatusFrame})),
            (Bytes{kAck, kAck}));
}

// ---------------------------------------------------------------------------
// Answer timing

TEST(AnswerTimingTest, AnswersWaitForTheAnswerDelayAndKeepTheirByteGap) {
  EmulatorOptions options;
  options.bootDelayMs = 0;
  options.answerDelayMs = 200;
  options.byteGapMs = 15;
  DirectHost s(options);
  s.Ready();
  s.now = 1000;
  EXPECT_THAT(s.SendTimed(kStatusFrame),
              ElementsAre(TimedByte{kAck, 1200}, TimedByte{kStandardModel, 1215}));
  s.now = 2000;
  EXPECT_THAT(s.SendTimed(kChecksumFrame),
              ElementsAre(TimedByte{kAck, 2200}, TimedByte{0, 2215}, TimedByte{0, 2230}));
}

TEST(AnswerTimingTest, AnAnswerNeverOvertakesTheOneBefore) {
  EmulatorOptions options;
  options.bootDelayMs = 0;
  options.answerDelayMs = 100;
  options.byteGapMs = 30;
  DirectHost s(options);
  s.Ready();
  s.now = 1000;
  EXPECT_THAT(s.SendTimed(Join({kStatusFrame, kStatusFrame})),
              ElementsAre(TimedByte{kAck, 1100}, TimedByte{kStandardModel, 1130},
                          TimedByte{kAck, 1160}, TimedByte{kStandardModel, 1190}));
  s.now = 1010;
  EXPECT_THAT(s.SendTimed(SelectFrame(5)), ElementsAre(TimedByte{kAck, 1220}));
  s.now = 5000;
  EXPECT_THAT(s.SendTimed(SelectFrame(5)), ElementsAre(TimedByte{kAck, 5100}));
}

// ---------------------------------------------------------------------------
// Transcript

TEST(TranscriptTest, RecordsEveryFrameWithTimeArgumentAndAnswer) {
  EmulatorOptions options;
  options.bootDelayMs = 100;
  DirectHost s(options);
  s.now = 5;
  s.Send(kStatusFrame);
  s.now = 10;
  s.Send(kSwitchFrame);
  s.now = 110;
  s.Send(kStatusFrame);
  s.now = 120;
  s.Send(EraseFrame(5));
  s.now = 130;
  s.Send(SelectFrame(5));
  s.now = 140;
  s.Send(DataFrame({'1', '2', '3', '4', '5', '6', '7', '8', '9'}));
  s.now = 150;
  s.Send(kChecksumFrame);
  s.now = 160;
  s.Send(kResetFrame);

  const auto t = s.printer().Transcript();
  ASSERT_EQ(t.size(), 8u);
  EXPECT_EQ(t[3].timeMs, 120);
  EXPECT_EQ(t[3].kind, CommandKind::kErase);
  EXPECT_EQ(t[3].number, 3);
  EXPECT_EQ(t[3].sector, 5);
  EXPECT_EQ(t[5].kind, CommandKind::kData);
  EXPECT_EQ(t[5].sector, 5);
  EXPECT_EQ(t[5].length, 9);
  EXPECT_EQ(t[6].answer, (Bytes{kAck, 0x3D, 0xBB}));

  EXPECT_EQ(s.printer().TranscriptText(),
            "       5 ms  -     status                  -> none  (ignored: normal mode)\n"
            "      10 ms  #1    switch                  -> none  (download mode from 110 ms)\n"
            "     110 ms  #2    status                  -> 06 23\n"
            "     120 ms  #3    erase    sector 5       -> 06\n"
            "     130 ms  #4    select   sector 5       -> 06\n"
            "     140 ms  #5    data     9 bytes        -> 06  (CRC BB3D, into sector 5)\n"
            "     150 ms  #6    checksum                -> 06 3D BB\n"
            "     160 ms  #7    reset                   -> none  (back to normal mode)\n");
}

TEST(TranscriptTest, TellsWhyAnAnswerWasMissingOrOdd) {
  EmulatorOptions options;
  options.bootDelayMs = 0;
  options.faults = {{CommandKind::kErase, 1, false, kNak}, {CommandKind::kSelect, 1, true, 0}};
  options.silentFrom = 6;
  DirectHost s(options);
  s.Ready();
  s.Send(Join({EraseFrame(6), SelectFrame(6), SelectFrame(2), DataFrame(Pattern(0x2001, 1)),
               kStatusFrame, kStatusFrame}));
  const auto t = s.printer().Transcript();
  ASSERT_EQ(t.size(), 7u);
  EXPECT_THAT(t[1].Text(), HasSubstr("-> 15  (fault: answered 15, not carried out)"));
  EXPECT_THAT(t[2].Text(), HasSubstr("-> silent  (fault: no answer, not carried out)"));
  EXPECT_THAT(t[4].Text(), HasSubstr("-> 06  (CRC "));
  EXPECT_THAT(t[4].Text(), HasSubstr("into sector 2, 1 bytes beyond the sector dropped)"));
  EXPECT_THAT(t[5].Text(), HasSubstr("-> silent  (silent from #6)"));
  EXPECT_THAT(t[6].Text(), HasSubstr("#7    status"));
}

TEST(TranscriptTest, CanBeReadFromAnyEntryOn) {
  DirectHost s;
  s.Ready();
  s.Send(Join({kStatusFrame, SelectFrame(3)}));
  const auto tail = s.printer().Transcript(1);
  ASSERT_EQ(tail.size(), 2u);
  EXPECT_EQ(tail[0].kind, CommandKind::kLineStatus);
  EXPECT_THAT(s.printer().Transcript(3), IsEmpty());
  EXPECT_THAT(s.printer().Transcript(99), IsEmpty());
}

}  // namespace
}  // namespace quillon::sim
