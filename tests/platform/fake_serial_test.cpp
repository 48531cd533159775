#include "platform/fake_serial.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/device.h"
#include "support/environment.h"
#include "support/virtual_clock.h"

namespace quillon::platform {
namespace {

constexpr uint32_t M = kMaxDword;

TEST(ReadPlan, FollowsTheWin32Rules) {
  ReadPlan p = PlanRead({M, 0, 0, 0, 0}, 10);
  EXPECT_TRUE(p.returnAtOnce);

  p = PlanRead({M, M, 1500, 250, 3000}, 1);
  EXPECT_FALSE(p.returnAtOnce);
  EXPECT_TRUE(p.returnOnAnyByte);
  EXPECT_EQ(p.totalMs, 1500);

  p = PlanRead({2000, 2000, 3000, 250, 1000}, 1);
  EXPECT_FALSE(p.returnOnAnyByte);
  EXPECT_EQ(p.totalMs, 5000);
  EXPECT_EQ(p.intervalMs, 2000);

  p = PlanRead({2000, 2000, 3000, 0, 0}, 3);
  EXPECT_EQ(p.totalMs, 9000);

  p = PlanRead({0, 0, 0, 0, 0}, 3);  // no time-outs at all: wait for every byte
  EXPECT_EQ(p.totalMs, -1);
  EXPECT_EQ(p.intervalMs, -1);

  p = PlanRead({M, M, 0, 0, 0}, 1);  // not the short-circuit form
  EXPECT_FALSE(p.returnOnAnyByte);

  EXPECT_EQ(PlanWriteMs({0, 0, 0, 250, 3000}, 4), 4000);
  EXPECT_EQ(PlanWriteMs({0, 0, 0, 0, 0}, 4), -1);
}

class FakeLine : public ::testing::Test {
 protected:
  VirtualClock clock;
  ScopedClock scope{clock};
  std::shared_ptr<FakeSerialLine> line = std::make_shared<FakeSerialLine>();
  Handle h = line->Open();

  void SetTimeouts(CommTimeouts t) { ASSERT_TRUE(SetLineTimeouts(h, t)); }
  uint32_t Read(uint8_t* buf, uint32_t n) {
    uint32_t got = 99;
    EXPECT_TRUE(ReadDevice(h, buf, n, &got));
    return got;
  }
  void TearDown() override { CloseDevice(h); }
};

TEST_F(FakeLine, ShortCircuitReadWaitsForTheFirstByteOrTheConstant) {
  SetTimeouts({M, M, 1500, 250, 3000});
  uint8_t b = 0;
  EXPECT_EQ(Read(&b, 1), 0u);
  EXPECT_EQ(clock.NowMs(), 1500);

  line->Deliver({0x06}, clock.NowMs() + 200);
  EXPECT_EQ(Read(&b, 1), 1u);
  EXPECT_EQ(b, 0x06);
  EXPECT_EQ(clock.NowMs(), 1700);

  // Already there: at once; several bytes asked: returns with what there is.
  line->Deliver({1, 2}, clock.NowMs());
  uint8_t buf[5] = {};
  EXPECT_EQ(Read(buf, 5), 2u);
  EXPECT_EQ(clock.NowMs(), 1700);
}

TEST_F(FakeLine, TotalAndIntervalTimeouts) {
  SetTimeouts({2000, 2000, 3000, 250, 1000});
  uint8_t b = 0;
  EXPECT_EQ(Read(&b, 1), 0u);
  EXPECT_EQ(clock.NowMs(), 5000);

  SetTimeouts({50, 0, 0, 0, 0});  // interval only: waits for the first byte without limit
  const int64_t t0 = clock.NowMs();
  line->Deliver({1}, t0 + 10);
  line->Deliver({2}, t0 + 30);
  line->Deliver({3}, t0 + 200);
  uint8_t buf[5] = {};
  EXPECT_EQ(Read(buf, 5), 2u);
  EXPECT_EQ(clock.NowMs(), t0 + 80);

  SetTimeouts({M, 0, 0, 0, 0});  // return at once
  EXPECT_EQ(Read(buf, 5), 0u);
  EXPECT_EQ(clock.NowMs(), t0 + 80);
}

TEST_F(FakeLine, PartialWriteWaitsForTheWriteTimeout) {
  SetTimeouts({0, 0, 0, 250, 1000});
  line->SetWriteLimit(2);
  const uint8_t data[4] = {1, 2, 3, 4};
  uint32_t written = 0;
  EXPECT_TRUE(WriteDevice(h, data, 4, &written));
  EXPECT_EQ(written, 2u);
  EXPECT_EQ(clock.NowMs(), 2000);
  EXPECT_EQ(line->Written(), (std::vector<uint8_t>{1, 2}));
}

TEST_F(FakeLine, PurgeDropsOnlyWhatHasArrived) {
  SetTimeouts({M, M, 1000, 0, 0});
  line->Deliver({1}, clock.NowMs());
  line->Deliver({2}, clock.NowMs() + 100);
  EXPECT_TRUE(PurgeDevice(h, kPurgeRxClear));
  uint8_t b = 0;
  EXPECT_EQ(Read(&b, 1), 1u);
  EXPECT_EQ(b, 2);
}

TEST(Handles, NoHandleAndInvalidHandleAreDistinctAndClosedHandlesFail) {
  EXPECT_NE(kNoHandle, kInvalidHandle);
  EXPECT_FALSE(CloseDevice(kNoHandle));
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
  auto line = std::make_shared<FakeSerialLine>();
  const Handle h = line->Open();
  EXPECT_NE(h, kNoHandle);
  EXPECT_NE(h, kInvalidHandle);
  EXPECT_TRUE(CloseDevice(h));
  EXPECT_TRUE(line->Closed());
  EXPECT_FALSE(CloseDevice(h));
  uint32_t n = 0;
  uint8_t b = 0;
  EXPECT_FALSE(ReadDevice(h, &b, 1, &n));
}

TEST(PortNames, ComNamesDevicePathsAndTheEmulator) {
  using testing::SetEnvironment;
  using testing::UnsetEnvironment;
  UnsetEnvironment("QUILLON_COM3");
  DeviceTarget t = ResolveDevice("COM1");
  EXPECT_EQ(t.kind, DeviceTarget::Kind::kPath);
#ifdef _WIN32
  EXPECT_EQ(t.path, "\\\\.\\COM1");
  EXPECT_EQ(ResolveDevice("\\\\.\\com20").path, "\\\\.\\COM20");
#else
  EXPECT_EQ(t.path, "/dev/ttyS0");
  EXPECT_EQ(ResolveDevice("\\\\.\\com20").path, "/dev/ttyS19");
#endif
  EXPECT_EQ(ResolveDevice("COM21").path, "COM21");  // not a port name: taken as a path
  EXPECT_EQ(ResolveDevice("COM01").path, "COM01");
  EXPECT_EQ(ResolveDevice("/dev/ttyUSB0").path, "/dev/ttyUSB0");
  EXPECT_EQ(ResolveDevice("").kind, DeviceTarget::Kind::kNone);

  ASSERT_TRUE(SetEnvironment("QUILLON_COM3", "/dev/pts/7"));
  EXPECT_EQ(ResolveDevice("\\\\.\\COM3").path, "/dev/pts/7");
  ASSERT_TRUE(SetEnvironment("QUILLON_COM3", "sim:flash=/tmp/f.bin"));
  t = ResolveDevice("COM3");
  EXPECT_EQ(t.kind, DeviceTarget::Kind::kSimulator);
  EXPECT_EQ(t.options, "flash=/tmp/f.bin");
  UnsetEnvironment("QUILLON_COM3");
  EXPECT_EQ(ResolveDevice("sim").kind, DeviceTarget::Kind::kSimulator);
}

TEST(PortNames, TheEmulatorOpensOnlyWhereAFactoryIsInstalled) {
  SetSimulatorFactory(nullptr);
  EXPECT_EQ(OpenDevice("\\\\.\\sim"), kInvalidHandle);
  auto line = std::make_shared<FakeSerialLine>();
  std::string seen;
  SetSimulatorFactory([&](const std::string& options, DeviceClass) {
    seen = options;
    return line->Device();
  });
  const Handle h = OpenDevice("\\\\.\\sim:log=x");
  EXPECT_NE(h, kInvalidHandle);
  EXPECT_EQ(seen, "log=x");
  EXPECT_TRUE(CloseDevice(h));
  SetSimulatorFactory(nullptr);
}

}  // namespace
}  // namespace quillon::platform
