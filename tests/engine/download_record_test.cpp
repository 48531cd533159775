// How far a download got, and whether the printer ever answered, as the
// procedure records them for whoever reports on the download afterwards.
#include <gtest/gtest.h>

#include <ostream>

#include "engine/result_codes.h"
#include "support/download_fixture.h"

namespace quillon::engine {
namespace {

using sim::CommandKind;
using testing::Pattern;

enum class Via { kSerial, kParallel, kUsb };

struct RecordCase {
  const char* name;
  Via via;
  char type;  // M, I or F
  size_t size;
  std::vector<sim::Fault> faults;
  int code;
  Reached reached;
  bool answered;
};

void PrintTo(const RecordCase& c, std::ostream* os) {
  *os << c.name;
}

sim::Fault Nak(CommandKind kind, int nth) {
  return {kind, nth, false, sim::kNak};
}
sim::Fault Silent(CommandKind kind) {
  return {kind, 0, true, 0};
}

// An IPL image with one sector after the skipped 32 KiB, and a few bytes
// into the next.
constexpr size_t kIplTwoSectors = 0x8000 + 0x8000 + 100;

class DownloadRecord : public testing::SerialDownload,
                       public ::testing::WithParamInterface<RecordCase> {};

TEST_P(DownloadRecord, FollowsTheProcedure) {
  const RecordCase& c = GetParam();
  options.faults = c.faults;
  const char* name = c.type == 'M' ? "fw.mfw" : c.type == 'I' ? "boot.ipl" : "fonts.bin";
  const std::string image = WriteImage(name, Pattern(c.size));
  const int mainProg = c.type == 'M' ? 1 : 0;
  const int iplProg = c.type == 'I' ? 1 : 0;
  EXPECT_EQ(download->HowFar(), Reached::kNothing);
  const int code = c.via == Via::kSerial     ? Run(image, mainProg, iplProg)
                   : c.via == Via::kParallel ? RunParallel(image, mainProg, iplProg)
                                             : RunUsb(image, mainProg, iplProg);
  EXPECT_EQ(code, c.code);
  EXPECT_EQ(download->HowFar(), c.reached);
  EXPECT_EQ(download->printer->Answered(), c.answered);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, DownloadRecord,
    ::testing::Values(
        RecordCase{"Completed", Via::kSerial, 'M', 131072, {}, kSuccess, Reached::kCompleted, true},
        RecordCase{"SilentPrinter",
                   Via::kSerial,
                   'M',
                   131072,
                   {Silent(CommandKind::kLineStatus)},
                   kInterfaceBusy,
                   Reached::kLoader,
                   false},
        RecordCase{"RefusedLineChecks",
                   Via::kSerial,
                   'M',
                   131072,
                   {Nak(CommandKind::kLineStatus, 0)},
                   kInterfaceBusy,
                   Reached::kLoader,
                   true},
        RecordCase{"FirstEraseRefused",
                   Via::kSerial,
                   'F',
                   131072,
                   {Nak(CommandKind::kErase, 1)},
                   kCannotErase,
                   Reached::kChangingFlash,
                   true},
        RecordCase{"SecondEraseRefused",
                   Via::kSerial,
                   'M',
                   131072,
                   {Nak(CommandKind::kErase, 2)},
                   kCannotErase,
                   Reached::kFirstSectorErased,
                   true},
        // The second checksum is the first sector's, written last.
        RecordCase{"LastChecksumRefused",
                   Via::kSerial,
                   'M',
                   131072,
                   {Nak(CommandKind::kChecksum, 2)},
                   kCannotAcknowledge,
                   Reached::kAllBlocksSent,
                   true},
        RecordCase{"RecalculationRefused",
                   Via::kSerial,
                   'M',
                   131072,
                   {Nak(CommandKind::kRecalc, 1)},
                   kCannotRecalculateCrc,
                   Reached::kAllBlocksSent,
                   true},
        RecordCase{"IplFirstSectorOnly",
                   Via::kSerial,
                   'I',
                   0x8000 + 100,
                   {},
                   kSuccess,
                   Reached::kCompleted,
                   true},
        RecordCase{"IplSecondSectorUnchecked",
                   Via::kSerial,
                   'I',
                   kIplTwoSectors,
                   {Nak(CommandKind::kChecksum, 1)},
                   kCannotAcknowledge,
                   Reached::kAllBlocksSent,
                   true},
        RecordCase{"IplSecondEraseRefused",
                   Via::kSerial,
                   'I',
                   kIplTwoSectors,
                   {Nak(CommandKind::kErase, 1)},
                   kCannotErase,
                   Reached::kChangingFlash,
                   true},
        RecordCase{"ParallelSilent",
                   Via::kParallel,
                   'F',
                   1000,
                   {Silent(CommandKind::kLineStatus)},
                   kInterfaceBusy,
                   Reached::kLoader,
                   false},
        RecordCase{"ParallelSecondSelectRefused",
                   Via::kParallel,
                   'F',
                   70000,
                   {Nak(CommandKind::kSelect, 1)},
                   kCannotSelect,
                   Reached::kFirstSectorErased,
                   true},
        RecordCase{"UsbSilent",
                   Via::kUsb,
                   'F',
                   1000,
                   {Silent(CommandKind::kLineStatus)},
                   kInterfaceBusy,
                   Reached::kLoader,
                   false},
        RecordCase{"UsbCompleted", Via::kUsb, 'F', 1000, {}, kSuccess, Reached::kCompleted, true}),
    [](const ::testing::TestParamInfo<RecordCase>& info) { return info.param.name; });

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
