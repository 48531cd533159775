// The receive threads of the parallel port and USB, on the virtual clock
// against fake printer ports whose answer bytes the tests queue.
#include "ports/receive_threads.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/device.h"
#include "platform/fake_printer_port.h"
#include "platform/fake_serial.h"
#include "ports/link.h"
#include "support/counting_device.h"
#include "support/virtual_clock.h"

namespace quillon::ports {
namespace {

using Bytes = std::vector<uint8_t>;
using Times = std::vector<int64_t>;

class ReceiveThreadTest : public ::testing::Test {
 protected:
  platform::VirtualClock clock;
  platform::ScopedClock scope{clock};
  std::shared_ptr<platform::PrinterPortKnobs> knobs =
      std::make_shared<platform::PrinterPortKnobs>();
  // The far ends: what the printer sends is queued on these lines.
  std::shared_ptr<platform::FakeSerialLine> usbLine = std::make_shared<platform::FakeSerialLine>();
  std::shared_ptr<platform::FakeSerialLine> parallelLine =
      std::make_shared<platform::FakeSerialLine>();
  // Every read of the two devices.
  std::shared_ptr<testing::DeviceCalls> usbReads = std::make_shared<testing::DeviceCalls>();
  std::shared_ptr<testing::DeviceCalls> parallelReads = std::make_shared<testing::DeviceCalls>();
  std::shared_ptr<platform::SerialDevice> usb =
      testing::Counted(std::make_shared<platform::FakePrinterPort>(
                           usbLine->Device(), platform::DeviceClass::kUsbPrinter, knobs),
                       usbReads);
  std::shared_ptr<platform::SerialDevice> parallel =
      testing::Counted(std::make_shared<platform::FakePrinterPort>(
                           parallelLine->Device(), platform::DeviceClass::kParallel, knobs),
                       parallelReads);
  Link usbLink{Interface::kUsb};
  Link parallelLink{Interface::kParallel};

  void SetUp() override {
    usbLink.SetHandle(platform::RegisterDevice(usb));
    parallelLink.SetHandle(platform::RegisterDevice(parallel));
  }
  void TearDown() override {
    usbLink.Close();
    parallelLink.Close();
  }

  // The first n bytes of the answer buffers.
  static Bytes Answer(Link& link, int n) {
    Bytes out;
    for (int i = 0; i < n; ++i) out.push_back(link.AnswerByte(i));
    return out;
  }
  Bytes UsbAnswer(int n) { return Answer(usbLink, n); }
  Bytes ParallelAnswer(int n) { return Answer(parallelLink, n); }
  Times Pauses() { return clock.Timeline(std::this_thread::get_id()); }
};

TEST_F(ReceiveThreadTest, AUsbAnswerInTwoPiecesIsCompleteBeforeTheEventIsSet) {
  usbLine->Deliver({0x06}, 120);
  usbLine->Deliver({0x3D, 0xBB}, 400);
  auto thread = std::make_unique<CReceiveUSBThread>(3, usbLink);

  platform::Pause(300);
  EXPECT_EQ(UsbAnswer(3), (Bytes{0x06, 0x00, 0x00}));  // the first byte is in
  EXPECT_FALSE(usbLink.AnswerEvent().IsSet());

  ASSERT_TRUE(usbLink.AnswerEvent().Wait(5000));
  EXPECT_GE(clock.NowMs(), 400);
  EXPECT_LE(clock.NowMs(), 450);  // seen within one read's wait of its arrival
  EXPECT_EQ(UsbAnswer(3), (Bytes{0x06, 0x3D, 0xBB}));

  // The first read came after the 50 ms start pause; the bytes came in two
  // reads.
  const auto reads = usbReads->Reads();
  ASSERT_FALSE(reads.empty());
  EXPECT_EQ(reads.front().atMs, 50);
  EXPECT_EQ(std::count_if(reads.begin(), reads.end(), [](const auto& r) { return r.got > 0; }), 2);

  // With the answer in, it reads no more.
  const size_t done = usbReads->Reads().size();
  platform::Pause(100);
  EXPECT_EQ(usbReads->Reads().size(), done);
  thread.reset();
  EXPECT_FALSE(parallelLink.AnswerEvent().IsSet());
}

TEST_F(ReceiveThreadTest, AStopEndsAPendingUsbReadWithinFiftyMsWithoutTheEvent) {
  {
    auto thread = std::make_unique<CReceiveUSBThread>(1, usbLink);
    platform::Pause(525);  // a read is out, since 500
    ASSERT_FALSE(usbReads->Reads().empty());
    thread->Stop();
    EXPECT_LE(clock.NowMs() - 525, 50);
    EXPECT_FALSE(usbLink.AnswerEvent().IsSet());
    const size_t reads = usbReads->Reads().size();

    // Nothing is read after the stop: a byte that comes now stays on the
    // line for whoever reads next.
    usbLine->Deliver({0x06}, clock.NowMs());
    platform::Pause(1000);
    EXPECT_EQ(usbReads->Reads().size(), reads);
    EXPECT_FALSE(usbLink.AnswerEvent().IsSet());
    EXPECT_EQ(UsbAnswer(1), (Bytes{0x00}));
    thread.reset();
    uint8_t byte = 0;
    uint32_t got = 0;
    ASSERT_TRUE(platform::ReadDeviceWait(usbLink.Handle(), &byte, 1, &got, 0));
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(byte, 0x06);
  }

  // An answer cut short is no answer.
  {
    auto thread = std::make_unique<CReceiveUSBThread>(3, usbLink);
    usbLine->Deliver({0x06}, clock.NowMs() + 100);
    platform::Pause(1010);
    const int64_t t0 = clock.NowMs();
    thread->Stop();
    EXPECT_LE(clock.NowMs() - t0, 50);
    EXPECT_EQ(UsbAnswer(3), (Bytes{0x06, 0x00, 0x00}));
    EXPECT_FALSE(usbLink.AnswerEvent().IsSet());
  }
}

// A USB driver whose reads complete at once with nothing, however long they
// may wait. It gives up after kLimit reads, so that a reader that does not
// pause ends instead of holding the clock for ever.
class InstantEmptyReads final : public platform::ForwardingDevice {
 public:
  static constexpr int kLimit = 200;
  using ForwardingDevice::ForwardingDevice;

  bool ReadWait(uint8_t* data, uint32_t n, uint32_t& got, uint32_t) override {
    got = 0;
    if (++reads_ > kLimit) {
      platform::SetLastError(platform::kErrorGenFailure);
      return false;
    }
    return ForwardingDevice::ReadWait(data, n, got, 0);
  }
  // The wrapped device belongs to its own handle.
  void Close() override {}

 private:
  std::atomic<int> reads_{0};
};

TEST_F(ReceiveThreadTest, UsbReadsThatCompleteAtOnceWithNothingComeEvery50Ms) {
  // `usb` notes each read the wrapper hands on.
  const platform::Handle own = usbLink.Handle();
  usbLink.SetHandle(platform::RegisterDevice(std::make_shared<InstantEmptyReads>(usb)));
  auto thread = std::make_unique<CReceiveUSBThread>(2, usbLink);
  platform::Pause(1000);

  Times firstSecond;
  for (int64_t at : usbReads->Starts()) {
    if (at < 1000) firstSecond.push_back(at);
  }
  Times expected;
  for (int64_t at = 50; at < 1000; at += 50) expected.push_back(at);
  EXPECT_EQ(firstSecond, expected);  // 19 reads: the start pause, then one per 50 ms

  const int64_t t0 = clock.NowMs();
  thread->Stop();
  EXPECT_LE(clock.NowMs() - t0, 50);
  EXPECT_FALSE(usbLink.AnswerEvent().IsSet());
  thread.reset();
  usbLink.Close();
  usbLink.SetHandle(own);
}

TEST_F(ReceiveThreadTest, AnEmptyParallelReadIsRetriedEvery750MsUntilTheStop) {
  auto thread = std::make_unique<CReceiveParallelThread>(parallelLink, 2);
  platform::Pause(2000);
  EXPECT_EQ(parallelReads->Starts(), (Times{0, 750, 1500}));

  thread->Stop();
  EXPECT_EQ(clock.NowMs(), 2000);  // the wait between reads ends at the stop
  platform::Pause(3000);
  EXPECT_EQ(parallelReads->Starts().size(), 3u);
  EXPECT_FALSE(parallelLink.AnswerEvent().IsSet());
  thread.reset();
  EXPECT_EQ(usbReads->Reads().size(), 0u);
}

TEST_F(ReceiveThreadTest, AParallelAnswerIsSignalled750MsAfterTheReadThatCompletesIt) {
  parallelLine->Deliver({0x06}, 100);
  parallelLine->Deliver({0x3D, 0xBB}, 900);
  auto thread = std::make_unique<CReceiveParallelThread>(parallelLink, 3);

  platform::Pause(1400);
  EXPECT_EQ(ParallelAnswer(3), (Bytes{0x06, 0x00, 0x00}));
  EXPECT_FALSE(parallelLink.AnswerEvent().IsSet());

  ASSERT_TRUE(parallelLink.AnswerEvent().Wait(10000));
  const auto reads = parallelReads->Reads();
  ASSERT_EQ(reads.size(), 3u);
  EXPECT_EQ(reads[0].got, 0u);
  EXPECT_EQ(reads[1].got, 1u);
  EXPECT_EQ(reads[2].got, 2u);
  EXPECT_EQ(reads[1].atMs, 750);
  EXPECT_EQ(reads[2].atMs, 1500);  // 750 ms after the read that took a byte, too
  EXPECT_EQ(clock.NowMs(), reads[2].atMs + 750);
  EXPECT_EQ(ParallelAnswer(3), (Bytes{0x06, 0x3D, 0xBB}));
  thread.reset();
}

TEST_F(ReceiveThreadTest, DeletingAThreadReturnsOnceItHasEnded) {
  // Still reading: deletion stops it.
  auto usbThread = std::make_unique<CReceiveUSBThread>(1, usbLink);
  auto parallelThread = std::make_unique<CReceiveParallelThread>(parallelLink, 1);
  platform::Pause(1025);
  usbThread.reset();
  EXPECT_LE(clock.NowMs() - 1025, 50);
  const int64_t t0 = clock.NowMs();
  parallelThread.reset();
  EXPECT_EQ(clock.NowMs(), t0);
  const size_t usbSoFar = usbReads->Reads().size();
  const size_t parallelSoFar = parallelReads->Reads().size();
  platform::Pause(2000);
  EXPECT_EQ(usbReads->Reads().size(), usbSoFar);
  EXPECT_EQ(parallelReads->Reads().size(), parallelSoFar);

  // Done with its work: deletion returns at once.
  usbLine->Deliver({0x06}, clock.NowMs());
  usbThread = std::make_unique<CReceiveUSBThread>(1, usbLink);
  ASSERT_TRUE(usbLink.AnswerEvent().Wait(1000));
  platform::Pause(100);
  const int64_t t1 = clock.NowMs();
  usbThread.reset();
  EXPECT_EQ(clock.NowMs(), t1);
}

TEST_F(ReceiveThreadTest, ACountAboveTheLocalBufferIsCutDown) {
  CReceiveParallelThread big(parallelLink, 301);
  EXPECT_EQ(big.bytes2BeReceived, 300);
  CReceiveParallelThread some(parallelLink, 3);
  EXPECT_EQ(some.bytes2BeReceived, 3);
}

// The property that keeps a stale thread from taking the next command's
// answer: once a stop has returned, the thread reads nothing more, and the
// bytes are there for the next thread.
TEST_F(ReceiveThreadTest, AStoppedThreadLeavesLaterBytesToTheNextOne) {
  auto usbThread = std::make_unique<CReceiveUSBThread>(1, usbLink);
  auto parallelThread = std::make_unique<CReceiveParallelThread>(parallelLink, 3);
  platform::Pause(230);
  usbThread->Stop();
  parallelThread->Stop();
  usbLine->Deliver({0x06}, clock.NowMs());
  parallelLine->Deliver({0x06, 0x3D, 0xBB}, clock.NowMs());
  platform::Pause(3000);
  EXPECT_FALSE(usbLink.AnswerEvent().IsSet());
  EXPECT_FALSE(parallelLink.AnswerEvent().IsSet());
  EXPECT_EQ(UsbAnswer(1), (Bytes{0x00}));
  EXPECT_EQ(ParallelAnswer(3), (Bytes{0x00, 0x00, 0x00}));

  usbThread = std::make_unique<CReceiveUSBThread>(1, usbLink);
  parallelThread = std::make_unique<CReceiveParallelThread>(parallelLink, 3);
  ASSERT_TRUE(usbLink.AnswerEvent().Wait(1000));
  ASSERT_TRUE(parallelLink.AnswerEvent().Wait(2000));
  EXPECT_EQ(UsbAnswer(1), (Bytes{0x06}));
  EXPECT_EQ(ParallelAnswer(3), (Bytes{0x06, 0x3D, 0xBB}));
}

}  // namespace
}  // namespace quillon::ports
