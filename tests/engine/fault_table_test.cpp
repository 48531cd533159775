// The engine's failure cases in one table: for each printer fault, the
// result code, how far the download got and whether the printer ever
// answered (as the procedure records them for whoever reports on the
// download afterwards), and how many commands the printer took in.
#include <gtest/gtest.h>

#include <ostream>

#include "engine/result_codes.h"
#include "support/download_fixture.h"

namespace quillon::engine {
namespace {

using sim::CommandKind;
using testing::Pattern;

enum class Via { kSerial, kParallel, kUsb };

struct FaultRow {
  const char* name;
  Via via;
  char type;  // M, I or F
  size_t size;
  std::vector<sim::Fault> faults;
  int code;
  Reached reached;
  bool answered;
  size_t commands;        // taken in by the printer before the download ended
  uint8_t status = 0x23;  // the printer's status byte: the standard model's
};

void PrintTo(const FaultRow& r, std::ostream* os) {
  *os << r.name;
}

// The Nth answer to `kind` (every one: 0) refused, kept back, or `byte`.
std::vector<sim::Fault> Nak(CommandKind kind, int nth) {
  return {{kind, nth, false, sim::kNak}};
}
std::vector<sim::Fault> Silent(CommandKind kind) {
  return {{kind, 0, true, 0}};
}
std::vector<sim::Fault> LineStatus(uint8_t byte, int from = 0, int to = 0) {
  std::vector<sim::Fault> faults;
  for (int n = from; n <= to; ++n) faults.push_back({CommandKind::kLineStatus, n, false, byte});
  return faults;
}
constexpr uint8_t kOtherModel = 0x41;

// A main firmware of two sectors; an IPL image with one sector after the
// skipped 32 KiB and a few bytes into the next.
constexpr size_t kMain = 131072;
constexpr size_t kIplTwoSectors = 0x8000 + 0x8000 + 100;

class EngineFault : public testing::SerialDownload,
                    public ::testing::WithParamInterface<FaultRow> {};

TEST_P(EngineFault, EndsWithItsCodeWhereTheFaultStoppedIt) {
  const FaultRow& r = GetParam();
  options.faults = r.faults;
  options.statusByte = r.status;
  const char* name = r.type == 'M' ? "fw.mfw" : r.type == 'I' ? "boot.ipl" : "fonts.bin";
  const std::string image = WriteImage(name, Pattern(r.size));
  const int mainProg = r.type == 'M' ? 1 : 0;
  const int iplProg = r.type == 'I' ? 1 : 0;
  EXPECT_EQ(download->HowFar(), Reached::kNothing);
  const int code = r.via == Via::kSerial     ? Run(image, mainProg, iplProg)
                   : r.via == Via::kParallel ? RunParallel(image, mainProg, iplProg)
                                             : RunUsb(image, mainProg, iplProg);
  EXPECT_EQ(code, r.code);
  EXPECT_EQ(download->HowFar(), r.reached);
  EXPECT_EQ(download->printer->Answered(), r.answered);
  EXPECT_EQ(Commands().size(), r.commands);
  EXPECT_TRUE(emulated.line->Closed());
}

using enum Reached;
using enum Via;
INSTANTIATE_TEST_SUITE_P(
    Faults, EngineFault,
    ::testing::Values(
        // name, via, type, size, faults, code, reached, answered, commands
        FaultRow{"Completed", kSerial, 'M', kMain, {}, kSuccess, kCompleted, true, 12},
        // The switch and 30 line checks.
        FaultRow{"SilentPrinter", kSerial, 'M', kMain, Silent(CommandKind::kLineStatus),
                 kInterfaceBusy, kLoader, false, 31},
        FaultRow{"RefusedLineChecks", kSerial, 'M', kMain, Nak(CommandKind::kLineStatus, 0),
                 kInterfaceBusy, kLoader, true, 31},
        FaultRow{"AnotherModel",
                 kSerial,
                 'M',
                 kMain,
                 {},
                 kNotStandardModel,
                 kLoader,
                 true,
                 31,
                 kOtherModel},
        // 29 answers of another byte, then a good one: enough.
        FaultRow{"OneGoodLineCheckAnswer", kSerial, 'M', kMain, LineStatus(kOtherModel, 1, 29),
                 kSuccess, kCompleted, true, 41},
        // Fine at first; every line check after the IPL restart answered with
        // another byte: busy.
        FaultRow{"OtherAnswersAfterTheRestart", kSerial, 'I', kMain, LineStatus(kOtherModel, 2, 31),
                 kInterfaceBusy, kChangingFlash, true, 34},
        FaultRow{"FirstEraseRefused", kSerial, 'M', kMain, Nak(CommandKind::kErase, 1),
                 kCannotErase, kChangingFlash, true, 3},
        FaultRow{"FirstEraseOfFontsRefused", kSerial, 'F', kMain, Nak(CommandKind::kErase, 1),
                 kCannotErase, kChangingFlash, true, 3},
        FaultRow{"SecondEraseRefused", kSerial, 'M', kMain, Nak(CommandKind::kErase, 2),
                 kCannotErase, kFirstSectorErased, true, 4},
        FaultRow{"SelectRefused", kSerial, 'M', kMain, Nak(CommandKind::kSelect, 1), kCannotSelect,
                 kFirstSectorErased, true, 5},
        FaultRow{"DataRefused", kSerial, 'M', kMain, Nak(CommandKind::kData, 1), kDataBlockTimeout,
                 kFirstSectorErased, true, 6},
        FaultRow{"FirstChecksumRefused", kSerial, 'M', kMain, Nak(CommandKind::kChecksum, 1),
                 kCannotAcknowledge, kFirstSectorErased, true, 7},
        // The second checksum is the first sector's, written last.
        FaultRow{"LastChecksumRefused", kSerial, 'M', kMain, Nak(CommandKind::kChecksum, 2),
                 kCannotAcknowledge, kAllBlocksSent, true, 10},
        FaultRow{"RecalculationRefused", kSerial, 'M', kMain, Nak(CommandKind::kRecalc, 1),
                 kCannotRecalculateCrc, kAllBlocksSent, true, 11},
        // The first sector is sent before the restart and not checked.
        FaultRow{
            "IplFirstSectorOnly", kSerial, 'I', 0x8000 + 100, {}, kSuccess, kCompleted, true, 6},
        FaultRow{"IplSecondSectorUnchecked", kSerial, 'I', kIplTwoSectors,
                 Nak(CommandKind::kChecksum, 1), kCannotAcknowledge, kAllBlocksSent, true, 9},
        FaultRow{"IplSecondEraseRefused", kSerial, 'I', kIplTwoSectors, Nak(CommandKind::kErase, 1),
                 kCannotErase, kChangingFlash, true, 6},
        FaultRow{"ParallelAnotherModel",
                 kParallel,
                 'F',
                 100,
                 {},
                 kNotStandardModel,
                 kLoader,
                 true,
                 31,
                 kOtherModel},
        FaultRow{"ParallelSilent", kParallel, 'F', 1000, Silent(CommandKind::kLineStatus),
                 kInterfaceBusy, kLoader, false, 31},
        // Erase 18 and 19, then the select of 19 (the last sector goes first).
        FaultRow{"ParallelSecondSelectRefused", kParallel, 'F', 70000, Nak(CommandKind::kSelect, 1),
                 kCannotSelect, kFirstSectorErased, true, 5},
        FaultRow{"UsbSilent", kUsb, 'F', 1000, Silent(CommandKind::kLineStatus), kInterfaceBusy,
                 kLoader, false, 31},
        // Over USB the ACK is enough: the status byte is not looked at.
        FaultRow{
            "UsbAnotherModel", kUsb, 'F', 1000, {}, kSuccess, kCompleted, true, 7, kOtherModel},
        FaultRow{"UsbCompleted", kUsb, 'F', 1000, {}, kSuccess, kCompleted, true, 7}),
    [](const ::testing::TestParamInfo<FaultRow>& info) { return info.param.name; });

// An IPL image of 32 KiB or less has nothing to send: the printer is
// switched, checked and reset, and no sector is touched.
using SmallIpl = testing::SerialDownload;

TEST_F(SmallIpl, AnImageOfNoMoreThan32KiBWritesNothing) {
  for (const size_t size : {size_t{0}, size_t{1000}, size_t{0x8000}}) {
    SCOPED_TRACE(size);
    emulated = {};
    options = {};
    EXPECT_EQ(Run(WriteImage("boot.ipl", Pattern(size)), 0, 1), kSuccess);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"switch", "status", "reset"}));
  }
}

}  // namespace
}  // namespace quillon::engine
