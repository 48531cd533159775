// The receive threads of the parallel port and USB, and the main window's
// handling of them, on the virtual clock against fake printer ports whose
// answer bytes the tests queue.
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
#include "platform/window_messages.h"
#include "ports/port_state.h"
#include "support/recording_window.h"
#include "support/virtual_clock.h"

namespace quillon::ports {
namespace {

using Bytes = std::vector<uint8_t>;
using Times = std::vector<int64_t>;
using platform::WM_PARALLEL_RECEIVE_ENDED;
using platform::WM_USB_RECEIVE_ENDED;
using Msg = testing::RecordingWindow::Message;

// A device that notes every read call once it has returned (when it began
// and how many bytes it gave) and passes all calls on to the device it wraps.
class ReadLog final : public platform::ForwardingDevice {
 public:
  struct Call {
    int64_t atMs;
    uint32_t got;
  };
  using ForwardingDevice::ForwardingDevice;

  bool Read(uint8_t* data, uint32_t n, uint32_t& got) override {
    const int64_t at = platform::NowMs();
    const bool ok = ForwardingDevice::Read(data, n, got);
    Note(at, got);
    return ok;
  }
  bool ReadWait(uint8_t* data, uint32_t n, uint32_t& got, uint32_t waitMs) override {
    const int64_t at = platform::NowMs();
    const bool ok = ForwardingDevice::ReadWait(data, n, got, waitMs);
    Note(at, got);
    return ok;
  }

  std::vector<Call> Reads() {
    std::lock_guard lock(mutex_);
    return reads_;
  }
  // When each read began.
  Times Starts() {
    Times out;
    for (const Call& r : Reads()) out.push_back(r.atMs);
    return out;
  }

 private:
  void Note(int64_t at, uint32_t got) {
    std::lock_guard lock(mutex_);
    reads_.push_back({at, got});
  }

  std::mutex mutex_;
  std::vector<Call> reads_;  // guarded by mutex_
};

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
  std::shared_ptr<ReadLog> usb =
      std::make_shared<ReadLog>(std::make_shared<platform::FakePrinterPort>(
          usbLine->Device(), platform::DeviceClass::kUsbPrinter, knobs));
  std::shared_ptr<ReadLog> parallel =
      std::make_shared<ReadLog>(std::make_shared<platform::FakePrinterPort>(
          parallelLine->Device(), platform::DeviceClass::kParallel, knobs));
  testing::RecordingWindow window;

  void SetUp() override {
    usbHandle = platform::RegisterDevice(usb);
    parallelHandle = platform::RegisterDevice(parallel);
    std::lock_guard lock(answerMutex);
    std::memset(receivedBuffer, 0, sizeof receivedBuffer);
    std::memset(parallelAnswer, 0, sizeof parallelAnswer);
  }
  void TearDown() override {
    platform::CloseDevice(usbHandle.exchange(platform::kNoHandle));
    platform::CloseDevice(parallelHandle.exchange(platform::kInvalidHandle));
  }

  // The first n bytes of the answer buffers.
  static Bytes UsbAnswer(int n) {
    std::lock_guard lock(answerMutex);
    return Bytes(receivedBuffer, receivedBuffer + n);
  }
  static Bytes ParallelAnswer(int n) {
    std::lock_guard lock(answerMutex);
    return Bytes(parallelAnswer, parallelAnswer + n);
  }
  // How often `id` was posted to the window.
  int Posted(uint32_t id) {
    const auto m = window.Messages();
    return static_cast<int>(
        std::count_if(m.begin(), m.end(), [id](const Msg& x) { return x.posted && x.id == id; }));
  }
  Times Pauses() { return clock.Timeline(std::this_thread::get_id()); }
};

TEST_F(ReceiveThreadTest, AUsbAnswerInTwoPiecesIsCompleteBeforeTheEventIsSet) {
  usbLine->Deliver({0x06}, 120);
  usbLine->Deliver({0x3D, 0xBB}, 400);
  auto thread = std::make_unique<CReceiveUSBThread>(3, &window);

  platform::Pause(300);
  EXPECT_EQ(UsbAnswer(3), (Bytes{0x06, 0x00, 0x00}));  // the first byte is in
  EXPECT_FALSE(window.usbAnswerEvent.IsSet());

  ASSERT_TRUE(window.usbAnswerEvent.Wait(5000));
  EXPECT_GE(clock.NowMs(), 400);
  EXPECT_LE(clock.NowMs(), 450);  // seen within one read's wait of its arrival
  EXPECT_EQ(UsbAnswer(3), (Bytes{0x06, 0x3D, 0xBB}));

  // The first read came after the 50 ms start pause; the bytes came in two
  // reads.
  const auto reads = usb->Reads();
  ASSERT_FALSE(reads.empty());
  EXPECT_EQ(reads.front().atMs, 50);
  EXPECT_EQ(std::count_if(reads.begin(), reads.end(), [](const auto& r) { return r.got > 0; }), 2);

  thread.reset();
  EXPECT_EQ(window.Messages(), (std::vector<Msg>{{WM_USB_RECEIVE_ENDED, 0, 0, true}}));
  EXPECT_FALSE(window.parallelAnswerEvent.IsSet());
}

TEST_F(ReceiveThreadTest, AStopEndsAPendingUsbReadWithinFiftyMsWithoutTheEvent) {
  {
    auto thread = std::make_unique<CReceiveUSBThread>(1, &window);
    platform::Pause(525);  // a read is out, since 500
    ASSERT_FALSE(usb->Reads().empty());
    thread->Stop();
    EXPECT_LE(clock.NowMs() - 525, 50);
    EXPECT_FALSE(window.usbAnswerEvent.IsSet());
    const size_t reads = usb->Reads().size();

    // Nothing is read after the stop: a byte that comes now stays on the
    // line for whoever reads next.
    usbLine->Deliver({0x06}, clock.NowMs());
    platform::Pause(1000);
    EXPECT_EQ(usb->Reads().size(), reads);
    EXPECT_FALSE(window.usbAnswerEvent.IsSet());
    EXPECT_EQ(UsbAnswer(1), (Bytes{0x00}));
    thread.reset();
    uint8_t byte = 0;
    uint32_t got = 0;
    ASSERT_TRUE(platform::ReadDeviceWait(usbHandle, &byte, 1, &got, 0));
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(byte, 0x06);
  }
  EXPECT_EQ(Posted(WM_USB_RECEIVE_ENDED), 1);

  // An answer cut short is no answer.
  {
    auto thread = std::make_unique<CReceiveUSBThread>(3, &window);
    usbLine->Deliver({0x06}, clock.NowMs() + 100);
    platform::Pause(1010);
    const int64_t t0 = clock.NowMs();
    thread->Stop();
    EXPECT_LE(clock.NowMs() - t0, 50);
    EXPECT_EQ(UsbAnswer(3), (Bytes{0x06, 0x00, 0x00}));
    EXPECT_FALSE(window.usbAnswerEvent.IsSet());
  }
  EXPECT_EQ(Posted(WM_USB_RECEIVE_ENDED), 2);
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
  const platform::Handle own =
      usbHandle.exchange(platform::RegisterDevice(std::make_shared<InstantEmptyReads>(usb)));
  auto thread = std::make_unique<CReceiveUSBThread>(2, &window);
  platform::Pause(1000);

  Times firstSecond;
  for (int64_t at : usb->Starts()) {
    if (at < 1000) firstSecond.push_back(at);
  }
  Times expected;
  for (int64_t at = 50; at < 1000; at += 50) expected.push_back(at);
  EXPECT_EQ(firstSecond, expected);  // 19 reads: the start pause, then one per 50 ms

  const int64_t t0 = clock.NowMs();
  thread->Stop();
  EXPECT_LE(clock.NowMs() - t0, 50);
  EXPECT_FALSE(window.usbAnswerEvent.IsSet());
  thread.reset();
  platform::CloseDevice(usbHandle.exchange(own));
}

TEST_F(ReceiveThreadTest, AnEmptyParallelReadIsRetriedEvery750MsUntilTheStop) {
  auto thread = std::make_unique<CReceiveParallelThread>(&window, 2);
  platform::Pause(2000);
  EXPECT_EQ(parallel->Starts(), (Times{0, 750, 1500}));

  thread->Stop();
  EXPECT_EQ(clock.NowMs(), 2000);  // the wait between reads ends at the stop
  platform::Pause(3000);
  EXPECT_EQ(parallel->Starts().size(), 3u);
  EXPECT_FALSE(window.parallelAnswerEvent.IsSet());
  thread.reset();
  EXPECT_EQ(window.Messages(), (std::vector<Msg>{{WM_PARALLEL_RECEIVE_ENDED, 0, 0, true}}));
  EXPECT_EQ(usb->Reads().size(), 0u);
}

TEST_F(ReceiveThreadTest, AParallelAnswerIsSignalled750MsAfterTheReadThatCompletesIt) {
  parallelLine->Deliver({0x06}, 100);
  parallelLine->Deliver({0x3D, 0xBB}, 900);
  auto thread = std::make_unique<CReceiveParallelThread>(&window, 3);

  platform::Pause(1400);
  EXPECT_EQ(ParallelAnswer(3), (Bytes{0x06, 0x00, 0x00}));
  EXPECT_FALSE(window.parallelAnswerEvent.IsSet());

  ASSERT_TRUE(window.parallelAnswerEvent.Wait(10000));
  const auto reads = parallel->Reads();
  ASSERT_EQ(reads.size(), 3u);
  EXPECT_EQ(reads[0].got, 0u);
  EXPECT_EQ(reads[1].got, 1u);
  EXPECT_EQ(reads[2].got, 2u);
  EXPECT_EQ(reads[1].atMs, 750);
  EXPECT_EQ(reads[2].atMs, 1500);  // 750 ms after the read that took a byte, too
  EXPECT_EQ(clock.NowMs(), reads[2].atMs + 750);
  EXPECT_EQ(ParallelAnswer(3), (Bytes{0x06, 0x3D, 0xBB}));
  thread.reset();
  EXPECT_EQ(Posted(WM_PARALLEL_RECEIVE_ENDED), 1);
}

TEST_F(ReceiveThreadTest, DeletingAThreadReturnsOnceItHasEnded) {
  // Still reading: deletion stops it.
  auto usbThread = std::make_unique<CReceiveUSBThread>(1, &window);
  auto parallelThread = std::make_unique<CReceiveParallelThread>(&window, 1);
  platform::Pause(1025);
  usbThread.reset();
  EXPECT_LE(clock.NowMs() - 1025, 50);
  EXPECT_EQ(Posted(WM_USB_RECEIVE_ENDED), 1);
  const int64_t t0 = clock.NowMs();
  parallelThread.reset();
  EXPECT_EQ(clock.NowMs(), t0);
  EXPECT_EQ(Posted(WM_PARALLEL_RECEIVE_ENDED), 1);
  const size_t usbReads = usb->Reads().size();
  const size_t parallelReads = parallel->Reads().size();
  platform::Pause(2000);
  EXPECT_EQ(usb->Reads().size(), usbReads);
  EXPECT_EQ(parallel->Reads().size(), parallelReads);

  // Done with its work: deletion returns at once.
  usbLine->Deliver({0x06}, clock.NowMs());
  usbThread = std::make_unique<CReceiveUSBThread>(1, &window);
  ASSERT_TRUE(window.usbAnswerEvent.Wait(1000));
  platform::Pause(100);
  EXPECT_TRUE(usbThread->Ended());
  const int64_t t1 = clock.NowMs();
  usbThread.reset();
  EXPECT_EQ(clock.NowMs(), t1);
  EXPECT_EQ(Posted(WM_USB_RECEIVE_ENDED), 2);
}

TEST_F(ReceiveThreadTest, ACountAboveTheLocalBufferIsCutDown) {
  CReceiveParallelThread big(&window, 301);
  EXPECT_EQ(big.bytes2BeReceived, 300);
  CReceiveParallelThread some(&window, 3);
  EXPECT_EQ(some.bytes2BeReceived, 3);
  EXPECT_EQ(some.notifyWindow, &window);
}

TEST_F(ReceiveThreadTest, StartUsbReplacesTheHeldThreadAfterASecondStartParallelAtOnce) {
  ReceiveThreads threads(window);
  EXPECT_FALSE(threads.HoldsUsb());
  threads.StartUsb(1);
  EXPECT_TRUE(threads.HoldsUsb());
  EXPECT_TRUE(Pauses().empty());  // nothing to replace: no pause
  EXPECT_EQ(clock.NowMs(), 0);

  platform::Pause(225);
  clock.ClearRecords();
  int64_t t0 = clock.NowMs();
  threads.StartUsb(1);
  EXPECT_EQ(Pauses(), (Times{1000}));
  EXPECT_LE(clock.NowMs() - t0, 1000 + 50);
  EXPECT_EQ(Posted(WM_USB_RECEIVE_ENDED), 1);  // the one it replaced has gone
  EXPECT_TRUE(threads.HoldsUsb());
  // The new one reads.
  usbLine->Deliver({0x15}, clock.NowMs() + 10);
  ASSERT_TRUE(window.usbAnswerEvent.Wait(1000));
  EXPECT_EQ(UsbAnswer(1), (Bytes{0x15}));

  threads.StartParallel(1);
  EXPECT_TRUE(threads.HoldsParallel());
  platform::Pause(1000);
  clock.ClearRecords();
  t0 = clock.NowMs();
  threads.StartParallel(1);
  EXPECT_TRUE(Pauses().empty());
  EXPECT_EQ(clock.NowMs(), t0);
  EXPECT_EQ(Posted(WM_PARALLEL_RECEIVE_ENDED), 1);
  parallelLine->Deliver({0x06}, clock.NowMs() + 10);
  ASSERT_TRUE(window.parallelAnswerEvent.Wait(2000));
  EXPECT_EQ(ParallelAnswer(1), (Bytes{0x06}));
}

TEST_F(ReceiveThreadTest, ALateUsbEndMessageLeavesTheNewerThreadAlone) {
  ReceiveThreads threads(window);
  usbLine->Deliver({0x06}, 0);
  threads.StartUsb(1);
  ASSERT_TRUE(window.usbAnswerEvent.Wait(1000));
  window.usbAnswerEvent.Reset();
  // The next command's thread comes before the first one's end message has
  // been handled.
  threads.StartUsb(1);
  threads.UsbEnded();
  EXPECT_TRUE(threads.HoldsUsb());
  usbLine->Deliver({0x15}, clock.NowMs() + 10);
  ASSERT_TRUE(window.usbAnswerEvent.Wait(1000));
  EXPECT_EQ(UsbAnswer(1), (Bytes{0x15}));

  // Its own end message, once it has ended, deletes it.
  platform::Pause(1);
  EXPECT_EQ(Posted(WM_USB_RECEIVE_ENDED), 2);
  threads.UsbEnded();
  EXPECT_FALSE(threads.HoldsUsb());
  // The second delivery of that message and a stop find nothing.
  threads.UsbEnded();
  threads.StopUsb();
  EXPECT_FALSE(threads.HoldsUsb());
}

TEST_F(ReceiveThreadTest, ALateParallelEndMessageLeavesTheNewerThreadAlone) {
  ReceiveThreads threads(window);
  parallelLine->Deliver({0x06}, 0);
  threads.StartParallel(1);
  ASSERT_TRUE(window.parallelAnswerEvent.Wait(2000));
  window.parallelAnswerEvent.Reset();
  threads.StartParallel(1);
  threads.ParallelEnded();
  EXPECT_TRUE(threads.HoldsParallel());
  parallelLine->Deliver({0x15}, clock.NowMs() + 10);
  ASSERT_TRUE(window.parallelAnswerEvent.Wait(2000));
  EXPECT_EQ(ParallelAnswer(1), (Bytes{0x15}));

  platform::Pause(1);
  EXPECT_EQ(Posted(WM_PARALLEL_RECEIVE_ENDED), 2);
  threads.ParallelEnded();
  EXPECT_FALSE(threads.HoldsParallel());
  threads.ParallelEnded();
  threads.StopParallel();
  EXPECT_FALSE(threads.HoldsParallel());
}

TEST_F(ReceiveThreadTest, StopsAndEndMessagesAreHarmlessWithNothingToStop) {
  ReceiveThreads threads(window);
  threads.StopUsb();
  threads.StopParallel();
  threads.UsbEnded();
  threads.ParallelEnded();
  EXPECT_FALSE(threads.HoldsUsb());
  EXPECT_FALSE(threads.HoldsParallel());
  EXPECT_EQ(clock.NowMs(), 0);

  // A stop keeps the thread held; stopping it again, or once it has ended,
  // returns at once.
  threads.StartUsb(1);
  threads.StartParallel(1);
  platform::Pause(100);
  threads.StopUsb();
  threads.StopParallel();
  EXPECT_TRUE(threads.HoldsUsb());
  EXPECT_TRUE(threads.HoldsParallel());
  platform::Pause(1);
  const int64_t t0 = clock.NowMs();
  threads.StopUsb();
  threads.StopParallel();
  EXPECT_EQ(clock.NowMs(), t0);
  threads.UsbEnded();
  threads.ParallelEnded();
  EXPECT_FALSE(threads.HoldsUsb());
  EXPECT_FALSE(threads.HoldsParallel());
  threads.StopUsb();
  threads.StopParallel();
  EXPECT_EQ(Posted(WM_USB_RECEIVE_ENDED), 1);
  EXPECT_EQ(Posted(WM_PARALLEL_RECEIVE_ENDED), 1);
  EXPECT_FALSE(window.usbAnswerEvent.IsSet());
  EXPECT_FALSE(window.parallelAnswerEvent.IsSet());
}

TEST_F(ReceiveThreadTest, TheWindowsEndStopsTheThreadsItHolds) {
  auto threads = std::make_unique<ReceiveThreads>(window);
  threads->StartUsb(1);
  threads->StartParallel(1);
  platform::Pause(310);
  threads.reset();
  EXPECT_LE(clock.NowMs(), 310 + 50);
  EXPECT_EQ(Posted(WM_USB_RECEIVE_ENDED), 1);
  EXPECT_EQ(Posted(WM_PARALLEL_RECEIVE_ENDED), 1);
  const size_t reads = usb->Reads().size() + parallel->Reads().size();
  platform::Pause(2000);
  EXPECT_EQ(usb->Reads().size() + parallel->Reads().size(), reads);
}

// The property that keeps a stale thread from taking the next command's
// answer: once a stop has returned, the thread reads nothing more, and the
// bytes are there for the next thread.
TEST_F(ReceiveThreadTest, AStoppedThreadLeavesLaterBytesToTheNextOne) {
  ReceiveThreads threads(window);
  threads.StartUsb(1);
  threads.StartParallel(3);
  platform::Pause(230);
  threads.StopUsb();
  threads.StopParallel();
  usbLine->Deliver({0x06}, clock.NowMs());
  parallelLine->Deliver({0x06, 0x3D, 0xBB}, clock.NowMs());
  platform::Pause(3000);
  EXPECT_FALSE(window.usbAnswerEvent.IsSet());
  EXPECT_FALSE(window.parallelAnswerEvent.IsSet());
  EXPECT_EQ(UsbAnswer(1), (Bytes{0x00}));
  EXPECT_EQ(ParallelAnswer(3), (Bytes{0x00, 0x00, 0x00}));

  threads.StartUsb(1);
  threads.StartParallel(3);
  ASSERT_TRUE(window.usbAnswerEvent.Wait(1000));
  ASSERT_TRUE(window.parallelAnswerEvent.Wait(2000));
  EXPECT_EQ(UsbAnswer(1), (Bytes{0x06}));
  EXPECT_EQ(ParallelAnswer(3), (Bytes{0x06, 0x3D, 0xBB}));
}

}  // namespace
}  // namespace quillon::ports
