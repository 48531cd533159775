// The ppdev parallel port backend against scripted system calls: the claim,
// the IEEE 1284 negotiation, the reverse channel reads and the retried
// writes. The virtual clock carries the write retries.

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/device.h"
#include "platform/posix/printer_posix.h"
#include "posix_fake_printer_os.h"
#include "support/virtual_clock.h"

#if __has_include(<linux/ppdev.h>) && __has_include(<linux/parport.h>)
#include <linux/parport.h>
#include <linux/ppdev.h>
// The values the backend spells out are the kernel's.
static_assert(quillon::platform::posix::kPpClaim == PPCLAIM);
static_assert(quillon::platform::posix::kPpRelease == PPRELEASE);
static_assert(quillon::platform::posix::kPpExclusive == PPEXCL);
static_assert(quillon::platform::posix::kPpNegotiate == PPNEGOT);
static_assert(quillon::platform::posix::kIeee1284ModeEcp == IEEE1284_MODE_ECP);
static_assert(quillon::platform::posix::kIeee1284ModeNibble == IEEE1284_MODE_NIBBLE);
static_assert(quillon::platform::posix::kIeee1284ModeCompat == IEEE1284_MODE_COMPAT);
#endif

namespace quillon::platform {
namespace {

using testing::FakePrinterOs;
using Strings = std::vector<std::string>;

const std::string kPort = "/dev/parport0";

// A parallel port opened on scripted calls, on the virtual clock.
class ParallelPort : public ::testing::Test {
 protected:
  void OpenPort() {
    device_ = OpenOsParallel(kPort);
    ASSERT_NE(device_, nullptr) << LastErrorText();
    os_.log.clear();
  }

  VirtualClock clock_;
  ScopedClock clockScope_{clock_};
  FakePrinterOs os_{&clock_};
  posix::ScopedPrinterOs osScope_{os_};
  std::shared_ptr<SerialDevice> device_;
};

// ---------------------------------------------------------------------------
// Opening and closing

TEST_F(ParallelPort, AnLptNameOpensItsPpdevNodeAndClaimsItAloneUntilClosed) {
  ::unsetenv("QUILLON_LPT2");
  const Handle h = OpenParallelDevice("\\\\.\\LPT2");
  ASSERT_NE(h, kInvalidHandle) << LastErrorText();
  EXPECT_EQ(os_.log, (Strings{"open /dev/parport1 rw|nonblock|cloexec", "ioctl 7 exclusive",
                              "ioctl 7 claim"}));
  os_.log.clear();
  EXPECT_TRUE(CloseDevice(h));
  EXPECT_EQ(os_.log, (Strings{"ioctl 7 release", "close 7"}));
}

TEST_F(ParallelPort, RefusedOpensSayWhyAndLeaveNothingOpen) {
  // Not in the group that owns the port.
  os_.openErrors[kPort] = EACCES;
  EXPECT_EQ(OpenOsParallel(kPort), nullptr);
  EXPECT_EQ(LastError(), kErrorAccessDenied);
  EXPECT_EQ(LastErrorText(), std::strerror(EACCES));
  EXPECT_EQ(os_.Calls("ioctl"), Strings{});

  // No such port.
  os_.openErrors[kPort] = ENOENT;
  EXPECT_EQ(OpenOsParallel(kPort), nullptr);
  EXPECT_EQ(LastError(), kErrorFileNotFound);

  // Another driver (lp) has the port: the claim fails with ENXIO.
  os_.openErrors.clear();
  os_.log.clear();
  os_.ioctlErrors[posix::kPpClaim] = ENXIO;
  EXPECT_EQ(OpenOsParallel(kPort), nullptr);
  EXPECT_EQ(LastError(), kErrorSharingViolation);
  EXPECT_EQ(os_.log, (Strings{"open /dev/parport0 rw|nonblock|cloexec", "ioctl 7 exclusive",
                              "ioctl 7 claim", "close 7"}));

  // The exclusive request refused: no claim is tried.
  os_.ioctlErrors.clear();
  os_.log.clear();
  os_.ioctlErrors[posix::kPpExclusive] = EINVAL;
  EXPECT_EQ(OpenOsParallel(kPort), nullptr);
  EXPECT_EQ(LastError(), kErrorInvalidParameter);
  EXPECT_EQ(os_.log,
            (Strings{"open /dev/parport0 rw|nonblock|cloexec", "ioctl 8 exclusive", "close 8"}));
  EXPECT_EQ(os_.openCount, os_.closeCount);
}

TEST_F(ParallelPort, AClosedPortRefusesEveryCallAndIsReleasedOnce) {
  OpenPort();
  device_->Close();
  device_->Close();
  EXPECT_EQ(os_.log, (Strings{"ioctl 7 release", "close 7"}));
  os_.log.clear();

  uint8_t byte = 0x1D;
  uint32_t count = 99;
  NegotiationMask granted;
  EXPECT_FALSE(device_->Write(&byte, 1, count));
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
  EXPECT_EQ(count, 0u);
  EXPECT_FALSE(device_->Read(&byte, 1, count));
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
  EXPECT_FALSE(device_->Negotiate({kModeNibble, kModeCompatibility}, granted));
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
  EXPECT_EQ(os_.log, Strings{});
}

TEST_F(ParallelPort, HasNoSerialLineSettings) {
  OpenPort();
  Dcb dcb;
  CommTimeouts timeouts;
  EXPECT_FALSE(device_->GetState(dcb));
  EXPECT_EQ(LastError(), kErrorInvalidFunction);
  EXPECT_FALSE(device_->SetState(dcb));
  EXPECT_EQ(LastError(), kErrorInvalidFunction);
  EXPECT_FALSE(device_->GetTimeouts(timeouts));
  EXPECT_EQ(LastError(), kErrorInvalidFunction);
  EXPECT_FALSE(device_->SetTimeouts(timeouts));
  EXPECT_EQ(LastError(), kErrorInvalidFunction);
  EXPECT_FALSE(device_->Purge(kPurgeRxClear));
  EXPECT_EQ(LastError(), kErrorInvalidFunction);
  uint8_t status = 0;
  EXPECT_FALSE(device_->QueryStatus(status));
  EXPECT_EQ(LastError(), kErrorInvalidFunction);
  EXPECT_EQ(os_.log, Strings{});
}

// ---------------------------------------------------------------------------
// IEEE 1284 negotiation

struct Mapping {
  NegotiationMask ask;
  int mode;
  NegotiationMask granted;
};

TEST_F(ParallelPort, EachRequestNegotiatesItsPpdevModeAndReportsWhatWindowsReports) {
  const Mapping mappings[] = {
      {{kModeEcpHwNoIrq, kModeEcpHwNoIrq}, 0x10, {kModeEcpHwNoIrq, kModeEcpHwNoIrq}},
      {{kModeNibble, kModeCompatibility}, 0x00, {kModeNibble, kModeCompatibility}},
      {{kModeCompatibility, kModeCompatibility}, 0x100, {kModeNone, kModeCompatibility}},
  };
  OpenPort();
  const Handle h = RegisterDevice(device_);
  for (const Mapping& m : mappings) {
    SCOPED_TRACE(::testing::Message() << "ask " << m.ask.usReadMask << "/" << m.ask.usWriteMask);
    os_.log.clear();
    NegotiationMask granted{0xFFFF, 0xFFFF};
    ASSERT_TRUE(NegotiateDevice(h, m.ask, granted)) << LastErrorText();
    EXPECT_EQ(os_.log, Strings{"ioctl 7 negotiate mode=" + std::to_string(m.mode)});
    EXPECT_EQ(granted.usReadMask, m.granted.usReadMask);
    EXPECT_EQ(granted.usWriteMask, m.granted.usWriteMask);

    int mode = -1;
    NegotiationMask reported;
    ASSERT_TRUE(posix::PpdevModeOf(m.ask, mode, reported));
    EXPECT_EQ(mode, m.mode);
  }
  EXPECT_TRUE(CloseDevice(h));
}

TEST_F(ParallelPort, ARefusedNegotiationFailsAndGrantsNothing) {
  OpenPort();
  for (const int err : {EIO, ENXIO}) {
    SCOPED_TRACE(std::strerror(err));
    os_.ioctlErrors[posix::kPpNegotiate] = err;
    NegotiationMask granted{0x1234, 0x5678};
    EXPECT_FALSE(device_->Negotiate({kModeEcpHwNoIrq, kModeEcpHwNoIrq}, granted));
    EXPECT_NE(LastError(), kErrorSuccess);
    EXPECT_EQ(LastErrorText(), std::strerror(err));
    EXPECT_EQ(granted.usReadMask, 0x1234);
    EXPECT_EQ(granted.usWriteMask, 0x5678);
  }
}

TEST_F(ParallelPort, RequestsWithoutAPpdevModeAreRefusedWithoutTouchingThePort) {
  const NegotiationMask others[] = {
      {kModeNone, kModeNone},
      {kModeNibble, kModeNibble},
      {kModeEcpHwNoIrq, kModeCompatibility},
      {kModeCompatibility, kModeEcpHwNoIrq},
      {kModeNone, kModeCompatibility},
      {kModeNibble | kModeEcpHwNoIrq, kModeCompatibility},
  };
  OpenPort();
  for (const NegotiationMask& ask : others) {
    SCOPED_TRACE(::testing::Message() << "ask " << ask.usReadMask << "/" << ask.usWriteMask);
    NegotiationMask granted{0x1234, 0x5678};
    EXPECT_FALSE(device_->Negotiate(ask, granted));
    EXPECT_EQ(LastError(), kErrorInvalidParameter);
    EXPECT_EQ(granted.usReadMask, 0x1234);
    EXPECT_EQ(granted.usWriteMask, 0x5678);
  }
  EXPECT_EQ(os_.log, Strings{});
}

// ---------------------------------------------------------------------------
// Reads and writes

TEST_F(ParallelPort, ReadsTakeWhatTheReverseChannelHasWithoutWaiting) {
  OpenPort();
  uint8_t data[8] = {};
  uint32_t got = 99;

  // Nothing there: success with nothing, at once.
  EXPECT_TRUE(device_->Read(data, sizeof data, got)) << LastErrorText();
  EXPECT_EQ(got, 0u);

  os_.reads.push_back({{0x06, 0x23}});
  EXPECT_TRUE(device_->Read(data, sizeof data, got));
  ASSERT_EQ(got, 2u);
  EXPECT_EQ(data[0], 0x06);
  EXPECT_EQ(data[1], 0x23);

  // A signal, then the byte.
  os_.reads.push_back({{}, EINTR});
  os_.reads.push_back({{0x15}});
  EXPECT_TRUE(device_->Read(data, sizeof data, got));
  ASSERT_EQ(got, 1u);
  EXPECT_EQ(data[0], 0x15);

  os_.reads.push_back({{}, EIO});
  EXPECT_FALSE(device_->Read(data, sizeof data, got));
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(LastErrorText(), std::strerror(EIO));

  EXPECT_EQ(os_.Calls("read"), Strings(5, "read 7 8"));
  EXPECT_EQ(clock_.NowMs(), 0);
}

TEST_F(ParallelPort, AWriteThatWouldBlockIsTriedAgainEveryTenMilliseconds) {
  OpenPort();
  std::vector<uint8_t> data(300);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  os_.writes = {{100}, {SIZE_MAX, EAGAIN}, {SIZE_MAX, EAGAIN}, {SIZE_MAX, EINTR}, {50}};
  uint32_t written = 0;
  ASSERT_TRUE(device_->Write(data.data(), 300, written)) << LastErrorText();
  EXPECT_EQ(written, 300u);
  EXPECT_EQ(os_.sent, data);
  EXPECT_EQ(os_.Calls("write"), (Strings{"write 7 300", "write 7 200", "write 7 200", "write 7 200",
                                         "write 7 200", "write 7 150"}));
  EXPECT_EQ(clock_.Timeline(std::this_thread::get_id()), (std::vector<int64_t>{10, 10}));
  EXPECT_EQ(os_.Calls("poll"), Strings{});
}

TEST_F(ParallelPort, APrinterThatTakesNothingEndsTheWriteAfterTenSecondsWithWhatWentOut) {
  OpenPort();
  std::vector<uint8_t> data(64, 0x55);
  os_.writes.push_back({16});
  for (int i = 0; i < 2000; ++i) os_.writes.push_back({SIZE_MAX, EAGAIN});
  uint32_t written = 0;
  EXPECT_TRUE(device_->Write(data.data(), 64, written)) << LastErrorText();
  EXPECT_EQ(written, 16u);
  EXPECT_EQ(clock_.NowMs(), 10'000);
  EXPECT_EQ(os_.Calls("write").size(), 1u + 1000u + 1u);
}

TEST_F(ParallelPort, AFailedWriteReportsTheSystemError) {
  OpenPort();
  const uint8_t data[4] = {1, 2, 3, 4};
  os_.writes = {{2}, {SIZE_MAX, EIO}};
  uint32_t written = 99;
  EXPECT_FALSE(device_->Write(data, 4, written));
  EXPECT_EQ(LastErrorText(), std::strerror(EIO));
  EXPECT_EQ(written, 2u);
}

}  // namespace
}  // namespace quillon::platform
