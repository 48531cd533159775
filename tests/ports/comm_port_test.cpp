#include "ports/comm_port.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/fake_serial.h"
#include "platform/thread.h"
#include "ports/link.h"
#include "support/virtual_clock.h"

namespace quillon::ports {
namespace {

using platform::kInvalidHandle;
using platform::kMaxDword;

class CommPort : public ::testing::Test {
 protected:
  platform::VirtualClock clock;
  platform::ScopedClock scope{clock};
  std::shared_ptr<platform::FakeSerialLine> line = std::make_shared<platform::FakeSerialLine>();
  CCommPort port{Interface::kSerial};

  void SetUp() override { port.link.SetHandle(line->Open()); }
  void TearDown() override { port.ClosePort(); }
  std::vector<int64_t> Pauses() { return clock.Timeline(std::this_thread::get_id()); }
};

TEST_F(CommPort, ParityLettersMapOnTheFirstCharacterIgnoringCase) {
  struct Case {
    const char* text;
    uint8_t parity;
  };
  for (const Case c : {Case{"e", platform::kEvenParity}, Case{"Even", platform::kEvenParity},
                       Case{"E", platform::kEvenParity}, Case{"odd", platform::kOddParity},
                       Case{"MARK", platform::kMarkParity}, Case{"space", platform::kSpaceParity},
                       Case{"NONE", platform::kNoParity}, Case{"", platform::kNoParity},
                       Case{"X", platform::kNoParity}, Case{"1", platform::kNoParity}}) {
    ASSERT_EQ(port.ConfigureSerial(38400, c.text, 8, 1), 1) << c.text;
    EXPECT_EQ(line->State().Parity, c.parity) << '"' << c.text << '"';
  }
}

TEST_F(CommPort, ConfigureSerialSetsEveryFlagOfTheLine) {
  platform::Dcb odd;
  odd.fOutX = 1;
  odd.fInX = 1;
  odd.fOutxCtsFlow = 1;
  odd.fAbortOnError = 1;
  odd.fDtrControl = platform::kDtrControlHandshake;
  odd.fRtsControl = platform::kRtsControlToggle;
  odd.XonChar = 0x51;
  odd.EofChar = 0x1A;
  ASSERT_TRUE(platform::SetLineState(port.GetHandle(), odd));

  ASSERT_EQ(port.ConfigureSerial(12345, "N", 7, 2), 1);
  const platform::Dcb d = line->State();
  EXPECT_EQ(d.DCBlength, 28u);
  EXPECT_EQ(d.BaudRate, 12345u);  // no table of rates here
  EXPECT_EQ(d.ByteSize, 7);
  EXPECT_EQ(d.StopBits, platform::kTwoStopBits);
  EXPECT_EQ(d.fBinary, 1u);
  EXPECT_EQ(d.fParity, 1u);
  EXPECT_EQ(d.fOutxCtsFlow, 0u);
  EXPECT_EQ(d.fOutxDsrFlow, 1u);
  EXPECT_EQ(d.fDtrControl, platform::kDtrControlEnable);
  EXPECT_EQ(d.fDsrSensitivity, 0u);
  EXPECT_EQ(d.fTXContinueOnXoff, 1u);
  EXPECT_EQ(d.fOutX, 0u);
  EXPECT_EQ(d.fInX, 0u);
  EXPECT_EQ(d.fErrorChar, 0u);
  EXPECT_EQ(d.fNull, 0u);
  EXPECT_EQ(d.fRtsControl, platform::kRtsControlEnable);
  EXPECT_EQ(d.fAbortOnError, 0u);
  // Characters and limits keep what the driver reported.
  EXPECT_EQ(d.XonChar, 0x51);
  EXPECT_EQ(d.EofChar, 0x1A);
}

TEST_F(CommPort, StopBitsOtherThanOneOrTwoKeepTheDriversValue) {
  platform::Dcb initial;
  initial.StopBits = platform::kOne5StopBits;
  ASSERT_TRUE(platform::SetLineState(port.GetHandle(), initial));
  for (int stopBits : {3, 0}) {
    ASSERT_EQ(port.ConfigureSerial(9600, "N", 8, stopBits), 1);
    EXPECT_EQ(line->State().StopBits, platform::kOne5StopBits) << stopBits;
  }
  ASSERT_EQ(port.ConfigureSerial(9600, "N", 8, 1), 1);
  EXPECT_EQ(line->State().StopBits, platform::kOneStopBit);
}

TEST_F(CommPort, AnUnopenedPortIsNeverConfigured) {
  CCommPort closed{Interface::kSerial};
  EXPECT_EQ(closed.ConfigureSerial(38400, "E", 8, 1), 0);
  EXPECT_EQ(closed.dcb.Parity, platform::kEvenParity);  // the record is still filled in
}

TEST_F(CommPort, AFailedSetStateFailsTheConfiguration) {
  line->SetStateFails(true);
  EXPECT_EQ(port.ConfigureSerial(38400, "N", 8, 1), 0);
}

TEST_F(CommPort, ReadAndWriteTimeoutTables) {
  ASSERT_EQ(port.SetReadTimeouts(1500), 1);
  EXPECT_EQ(line->Timeouts(), (platform::CommTimeouts{kMaxDword, kMaxDword, 1500, 250, 3000}));
  EXPECT_EQ(port.commTimeouts, line->Timeouts());
  ASSERT_EQ(port.SetWriteTimeouts(1000), 1);
  EXPECT_EQ(line->Timeouts(), (platform::CommTimeouts{2000, 2000, 3000, 250, 1000}));

  CCommPort closed{Interface::kSerial};
  EXPECT_EQ(closed.SetReadTimeouts(1000), 0);
  EXPECT_EQ(closed.SetWriteTimeouts(1000), 0);
}

TEST_F(CommPort, ReadByteTakesOneByteOrTimesOut) {
  port.SetReadTimeouts(1500);
  uint8_t b = 0;
  EXPECT_EQ(port.ReadByte(&b), 0);
  EXPECT_EQ(clock.NowMs(), 1500);
  line->Deliver({0x06, 0x23}, clock.NowMs() + 20);
  EXPECT_EQ(port.ReadByte(&b), 1);
  EXPECT_EQ(b, 0x06);
  EXPECT_EQ(port.ReadByte(&b), 1);
  EXPECT_EQ(b, 0x23);
  // After the write-time-out table a silent line takes 2000 x 1 + 3000 ms.
  port.SetWriteTimeouts(1000);
  const int64_t t0 = clock.NowMs();
  EXPECT_EQ(port.ReadByte(&b), 0);
  EXPECT_EQ(clock.NowMs() - t0, 5000);
}

TEST_F(CommPort, WriteDataOfNothingMakesOneCallAndPauses) {
  EXPECT_EQ(port.WriteData(nullptr, 0), 1);
  EXPECT_EQ(line->WriteCallSizes(), (std::vector<uint32_t>{0}));
  EXPECT_EQ(Pauses(), (std::vector<int64_t>{100}));
}

TEST_F(CommPort, WriteDataPacesEveryCallAndGivesUpOnTheThird) {
  const uint8_t frame[6] = {0x1D, 0x11, 0, 0, 0, 0x40};
  EXPECT_EQ(port.WriteData(frame, 6), 1);
  EXPECT_EQ(line->WriteCallSizes(), (std::vector<uint32_t>{6}));

  line->SetWriteLimit(4);  // needs a second call
  EXPECT_EQ(port.WriteData(frame, 6), 1);
  EXPECT_EQ(line->WriteCallSizes(), (std::vector<uint32_t>{6, 6, 2}));

  line->SetWriteLimit(2);  // needs a third call: fails although it all went out
  EXPECT_EQ(port.WriteData(frame, 6), 0);
  EXPECT_EQ(line->WriteCallSizes(), (std::vector<uint32_t>{6, 6, 2, 6, 4, 2}));
  EXPECT_EQ(Pauses(), (std::vector<int64_t>{100, 100, 100, 100, 100}));

  const auto w = line->Written();
  EXPECT_EQ(std::vector<uint8_t>(w.end() - 6, w.end()), std::vector<uint8_t>(frame, frame + 6));
}

TEST_F(CommPort, WriteDataStopsAfterItsFirstCallWhenCancelled) {
  port.link.RequestStop();
  const uint8_t frame[3] = {0x1D, 0x5B, 0x7D};
  EXPECT_EQ(port.WriteData(frame, 3), 0);
  EXPECT_EQ(line->Written(), (std::vector<uint8_t>{0x1D, 0x5B, 0x7D}));  // already on its way
  EXPECT_TRUE(Pauses().empty());
}

TEST_F(CommPort, WriteDataFailsWhenTheDriverFails) {
  line->SetWriteFails(true);
  const uint8_t b = 1;
  EXPECT_EQ(port.WriteData(&b, 1), 0);
  CCommPort closed{Interface::kSerial};
  EXPECT_EQ(closed.WriteData(&b, 1), 0);
}

TEST_F(CommPort, ThePortMutexIsFreeDuringThePause) {
  std::atomic<bool> lockedDuringPause{false};
  platform::Thread other([&] {
    platform::Pause(50);  // the writer is in its 100 ms pause by now
    if (port.link.DeviceMutex().try_lock()) {
      lockedDuringPause = true;
      port.link.DeviceMutex().unlock();
    }
  });
  const uint8_t b = 1;
  EXPECT_EQ(port.WriteData(&b, 1), 1);
  other.Join();
  EXPECT_TRUE(lockedDuringPause.load());
}

TEST_F(CommPort, HandleSelectionAndClosing) {
  // A USB port has no printer until one is looked for; the others start
  // closed.
  EXPECT_EQ(CCommPort(Interface::kUsb).GetHandle(), platform::kNoHandle);
  EXPECT_EQ(CCommPort(Interface::kParallel).GetHandle(), kInvalidHandle);

  port.ClosePort();
  EXPECT_EQ(port.GetHandle(), kInvalidHandle);
  EXPECT_TRUE(line->Closed());
  // Closed already: the second close makes no call (one on the old or the
  // invalid handle would leave kErrorInvalidHandle).
  platform::SetLastError(platform::kErrorSuccess);
  port.ClosePort();
  EXPECT_EQ(platform::LastError(), platform::kErrorSuccess);
  EXPECT_EQ(port.GetHandle(), kInvalidHandle);
}

TEST_F(CommPort, OpenPortFormsTheDevicePath) {
  CCommPort other{Interface::kSerial};
  std::string seen;
  auto simLine = std::make_shared<platform::FakeSerialLine>();
  platform::SetSimulatorFactory([&](const std::string& options, platform::DeviceClass) {
    seen = options;
    return simLine->Device();
  });
  EXPECT_EQ(other.OpenPort("sim:log=t.txt"), 1);
  EXPECT_EQ(seen, "log=t.txt");
  other.ClosePort();
  platform::SetSimulatorFactory(nullptr);

  EXPECT_EQ(other.OpenPort("/nonexistent/quillon-port"), 0);
  EXPECT_EQ(other.GetHandle(), kInvalidHandle);
  EXPECT_EQ(other.GetHandle(), kInvalidHandle);
}

}  // namespace
}  // namespace quillon::ports
