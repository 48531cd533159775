#include "platform/fake_printer_port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/device.h"
#include "platform/fake_serial.h"
#include "platform/thread.h"
#include "support/virtual_clock.h"

namespace quillon::platform {
namespace {

using Bytes = std::vector<uint8_t>;
using Modes = std::pair<uint16_t, uint16_t>;

constexpr uint32_t M = kMaxDword;

Modes Pair(const NegotiationMask& m) {
  return {m.usReadMask, m.usWriteMask};
}

std::vector<Modes> Asked(const std::vector<NegotiationRecord>& records) {
  std::vector<Modes> out;
  for (const NegotiationRecord& r : records) out.push_back(Pair(r.ask));
  return out;
}

// A printer port of either class over a fake line, opened through the
// device seam.
class PrinterPort : public ::testing::Test {
 protected:
  void TearDown() override {
    for (Handle h : open_) CloseDevice(h);
  }

  Handle Open(DeviceClass cls) {
    const Handle h = RegisterDevice(std::make_shared<FakePrinterPort>(line->Device(), cls, knobs));
    open_.push_back(h);
    return h;
  }
  bool Close(Handle h) {
    std::erase(open_, h);
    return CloseDevice(h);
  }

  // Negotiates; the modes granted, or {0xFFFF, 0xFFFF} when the call failed.
  Modes Negotiate(Handle h, const NegotiationMask& ask) {
    NegotiationMask granted{0xFFFF, 0xFFFF};
    if (!NegotiateDevice(h, ask, granted)) return {0xFFFF, 0xFFFF};
    return Pair(granted);
  }

  bool Write(Handle h, const Bytes& data) {
    uint32_t written = 0;
    const bool ok = WriteDevice(h, data.data(), static_cast<uint32_t>(data.size()), &written);
    EXPECT_EQ(written, ok ? data.size() : 0u);
    return ok;
  }

  VirtualClock clock;
  ScopedClock scope{clock};
  std::shared_ptr<FakeSerialLine> line = std::make_shared<FakeSerialLine>();
  std::shared_ptr<PrinterPortKnobs> knobs = std::make_shared<PrinterPortKnobs>();

 private:
  std::vector<Handle> open_;
};

TEST_F(PrinterPort, ParallelPortNegotiatesLikeTheClassDriver) {
  const Handle h = Open(DeviceClass::kParallel);
  EXPECT_EQ(Pair(knobs->Mode()), Modes(0x0000, 0x0002));  // compatibility when opened

  EXPECT_EQ(Negotiate(h, kAskCompatibility), Modes(0x0000, 0x0002));
  EXPECT_EQ(Pair(knobs->Mode()), Modes(0x0000, 0x0002));
  EXPECT_EQ(Negotiate(h, kAskEcp), Modes(0x0100, 0x0100));
  EXPECT_EQ(Pair(knobs->Mode()), Modes(0x0100, 0x0100));
  EXPECT_EQ(Negotiate(h, kAskNibble), Modes(0x0004, 0x0002));
  EXPECT_EQ(Pair(knobs->Mode()), Modes(0x0004, 0x0002));

  // A record the driver has no answer for.
  EXPECT_EQ(Negotiate(h, {kModeNibble, kModeNibble}), Modes(0xFFFF, 0xFFFF));
  EXPECT_EQ(LastError(), kErrorInvalidParameter);
  EXPECT_EQ(Pair(knobs->Mode()), Modes(0x0004, 0x0002));

  const std::vector<NegotiationRecord> log = knobs->Negotiations();
  EXPECT_EQ(
      Asked(log),
      (std::vector<Modes>{{0x0002, 0x0002}, {0x0100, 0x0100}, {0x0004, 0x0002}, {0x0004, 0x0004}}));
  ASSERT_EQ(log.size(), 4u);
  EXPECT_TRUE(log[0].ok && log[1].ok && log[2].ok);
  EXPECT_FALSE(log[3].ok);
  EXPECT_EQ(Pair(log[1].granted), Modes(0x0100, 0x0100));

  // Reopening the port starts again in compatibility mode.
  EXPECT_TRUE(Close(h));
  Open(DeviceClass::kParallel);
  EXPECT_EQ(Pair(knobs->Mode()), Modes(0x0000, 0x0002));
}

TEST_F(PrinterPort, NegotiationFaultsHitTheNthAskOfTheirMode) {
  knobs->FailNegotiation(kAskNibble, 2);
  knobs->GrantInstead(kAskEcp, 1, {kModeEcpHwNoIrq, kModeCompatibility});  // one direction
  knobs->GrantInstead(kAskNibble, 3, {kModeNibble, kModeNone});
  const Handle h = Open(DeviceClass::kParallel);

  EXPECT_EQ(Negotiate(h, kAskNibble), Modes(0x0004, 0x0002));  // nibble #1
  EXPECT_EQ(Negotiate(h, kAskCompatibility), Modes(0x0000, 0x0002));
  EXPECT_EQ(Negotiate(h, kAskNibble), Modes(0xFFFF, 0xFFFF));  // nibble #2 fails
  EXPECT_EQ(LastError(), kErrorGenFailure);
  EXPECT_EQ(Pair(knobs->Mode()), Modes(0x0000, 0x0002));    // left as it was
  EXPECT_EQ(Negotiate(h, kAskEcp), Modes(0x0100, 0x0002));  // ECP #1, one way
  EXPECT_EQ(Pair(knobs->Mode()), Modes(0x0100, 0x0002));
  EXPECT_EQ(Negotiate(h, kAskEcp), Modes(0x0100, 0x0100));     // ECP #2
  EXPECT_EQ(Negotiate(h, kAskNibble), Modes(0x0004, 0x0000));  // nibble #3, no forward
  EXPECT_EQ(Pair(knobs->Mode()), Modes(0x0004, 0x0000));
  EXPECT_EQ(Negotiate(h, kAskNibble), Modes(0x0004, 0x0002));  // nibble #4

  // The counts run over the life of the knobs, across reopening.
  EXPECT_TRUE(Close(h));
  knobs->FailNegotiation(kAskCompatibility, 0);  // every one from now on
  const Handle again = Open(DeviceClass::kParallel);
  EXPECT_EQ(Negotiate(again, kAskCompatibility), Modes(0xFFFF, 0xFFFF));
  EXPECT_EQ(Negotiate(again, kAskCompatibility), Modes(0xFFFF, 0xFFFF));
  knobs->ClearNegotiationFaults();
  EXPECT_EQ(Negotiate(again, kAskCompatibility), Modes(0x0000, 0x0002));
  EXPECT_EQ(knobs->Negotiations().size(), 10u);
}

TEST_F(PrinterPort, ParallelReadsReturnAtOnceWithWhatCame) {
  const Handle h = Open(DeviceClass::kParallel);
  line->Deliver(Bytes{0x06, 0x23}, 0);
  line->Deliver(Bytes{0x15}, 400);
  Bytes buffer(8, 0);
  uint32_t got = 99;
  ASSERT_TRUE(ReadDevice(h, buffer.data(), 8, &got));
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + got), (Bytes{0x06, 0x23}));
  EXPECT_EQ(clock.NowMs(), 0);
  EXPECT_EQ(line->Timeouts(), (CommTimeouts{M, 0, 0, 0, 0}));

  got = 99;
  ASSERT_TRUE(ReadDevice(h, buffer.data(), 8, &got));  // nothing yet is success
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(clock.NowMs(), 0);

  Pause(400);
  ASSERT_TRUE(ReadDevice(h, buffer.data(), 8, &got));
  ASSERT_EQ(got, 1u);
  EXPECT_EQ(buffer[0], 0x15);
  EXPECT_EQ(clock.NowMs(), 400);
}

TEST_F(PrinterPort, WritesPassThroughAndAreCounted) {
  const Handle parallel = Open(DeviceClass::kParallel);
  EXPECT_TRUE(Write(parallel, {0x1D, 0x01}));
  EXPECT_TRUE(Close(parallel));
  EXPECT_TRUE(line->Closed());  // closing the port closes the line under it
  EXPECT_EQ(knobs->DevicesOpen(), 0);

  const Handle usb = Open(DeviceClass::kUsbPrinter);
  EXPECT_FALSE(line->Closed());
  EXPECT_TRUE(Write(usb, {0x1D, 0x5B, 0x7D}));
  EXPECT_TRUE(Write(usb, Bytes(4096, 0xAA)));
  EXPECT_EQ(line->Written().size(), 2u + 3 + 4096);
  EXPECT_EQ(knobs->WriteCalls(), 3);
  EXPECT_EQ(knobs->WriteCallSizes(), (std::vector<uint32_t>{2, 3, 4096}));
  EXPECT_EQ(knobs->DevicesOpen(), 1);
}

TEST_F(PrinterPort, LineCallsAndTheOtherClassesCallsAreInvalidFunctions) {
  for (DeviceClass cls : {DeviceClass::kParallel, DeviceClass::kUsbPrinter}) {
    SCOPED_TRACE(cls == DeviceClass::kParallel ? "parallel" : "usb");
    const Handle h = Open(cls);
    Dcb dcb;
    CommTimeouts t;
    SetLastError(kErrorSuccess);
    EXPECT_FALSE(GetLineState(h, dcb));
    EXPECT_EQ(LastError(), kErrorInvalidFunction);
    SetLastError(kErrorSuccess);
    EXPECT_FALSE(SetLineState(h, dcb));
    EXPECT_EQ(LastError(), kErrorInvalidFunction);
    SetLastError(kErrorSuccess);
    EXPECT_FALSE(GetLineTimeouts(h, t));
    EXPECT_EQ(LastError(), kErrorInvalidFunction);
    SetLastError(kErrorSuccess);
    EXPECT_FALSE(SetLineTimeouts(h, {1, 2, 3, 4, 5}));
    EXPECT_EQ(LastError(), kErrorInvalidFunction);
    SetLastError(kErrorSuccess);
    EXPECT_FALSE(PurgeDevice(h, kPurgeRxClear));
    EXPECT_EQ(LastError(), kErrorInvalidFunction);
    EXPECT_NE(line->Timeouts(), (CommTimeouts{1, 2, 3, 4, 5}));
    EXPECT_EQ(line->SetStateCalls(), 0);
    EXPECT_TRUE(Close(h));
  }

  const Handle parallel = Open(DeviceClass::kParallel);
  uint8_t id[100];
  uint32_t got = 0;
  uint8_t status = 0;
  EXPECT_FALSE(QueryDeviceId(parallel, id, sizeof id, &got));
  EXPECT_EQ(LastError(), kErrorInvalidFunction);
  EXPECT_FALSE(QueryDeviceStatus(parallel, &status));
  EXPECT_EQ(LastError(), kErrorInvalidFunction);
  EXPECT_FALSE(ReadDeviceWait(parallel, id, 1, &got, 100));
  EXPECT_EQ(LastError(), kErrorInvalidFunction);
  EXPECT_TRUE(Close(parallel));

  const Handle usb = Open(DeviceClass::kUsbPrinter);
  NegotiationMask granted;
  EXPECT_FALSE(NegotiateDevice(usb, kAskCompatibility, granted));
  EXPECT_EQ(LastError(), kErrorInvalidFunction);
  EXPECT_TRUE(knobs->Negotiations().empty());
}

TEST_F(PrinterPort, UsbPrinterAnswersDeviceIdAndStatus) {
  const Handle h = Open(DeviceClass::kUsbPrinter);
  Bytes id(100, 0xEE);
  uint32_t got = 0;
  ASSERT_TRUE(QueryDeviceId(h, id.data(), 100, &got));
  const std::string text = kFakePrinterDeviceId;
  ASSERT_EQ(got, text.size() + 2);
  EXPECT_EQ(id[0] * 256 + id[1], static_cast<int>(got));  // big-endian, counts itself
  EXPECT_EQ(std::string(id.begin() + 2, id.begin() + got), text);
  EXPECT_NE(text.find("CLS:PRINTER;"), std::string::npos);
  EXPECT_EQ(id[got], 0xEE);

  // A short buffer gets the start of the answer.
  Bytes shortBuffer(5, 0);
  ASSERT_TRUE(QueryDeviceId(h, shortBuffer.data(), 5, &got));
  EXPECT_EQ(got, 5u);
  EXPECT_EQ(shortBuffer, (Bytes{0x00, static_cast<uint8_t>(text.size() + 2), 'M', 'F', 'G'}));

  uint8_t status = 0;
  ASSERT_TRUE(QueryDeviceStatus(h, &status));
  EXPECT_EQ(status, 0x18);
  knobs->SetStatus(0x08);
  ASSERT_TRUE(QueryDeviceStatus(h, &status));
  EXPECT_EQ(status, 0x08);

  knobs->SetDeviceIdFails(true);
  EXPECT_FALSE(QueryDeviceId(h, id.data(), 100, &got));
  EXPECT_EQ(LastError(), kErrorGenFailure);
  EXPECT_EQ(got, 0u);
  ASSERT_TRUE(QueryDeviceStatus(h, &status));  // the other request still works
  knobs->SetStatusFails(true);
  EXPECT_FALSE(QueryDeviceStatus(h, &status));
  EXPECT_EQ(LastError(), kErrorGenFailure);
  knobs->SetDeviceIdFails(false);
  knobs->SetStatusFails(false);
  EXPECT_TRUE(QueryDeviceId(h, id.data(), 100, &got));
  EXPECT_TRUE(QueryDeviceStatus(h, &status));
  EXPECT_EQ(knobs->DeviceIdQueries(), 4);
  EXPECT_EQ(knobs->StatusQueries(), 5);
}

TEST_F(PrinterPort, UsbReadWaitEndsOnTheFirstByteOrAfterTheWait) {
  const Handle h = Open(DeviceClass::kUsbPrinter);
  Bytes buffer(8, 0);
  uint32_t got = 99;

  // Nothing comes: 0 bytes after the wait.
  ASSERT_TRUE(ReadDeviceWait(h, buffer.data(), 8, &got, 700));
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(clock.NowMs(), 700);
  EXPECT_EQ(line->Timeouts(), (CommTimeouts{M, M, 700, 0, 0}));

  // The first byte ends the wait; later ones are left for the next read.
  line->Deliver(Bytes{0x06}, 950);
  line->Deliver(Bytes{0x23}, 1200);
  ASSERT_TRUE(ReadDeviceWait(h, buffer.data(), 8, &got, 5000));
  ASSERT_EQ(got, 1u);
  EXPECT_EQ(buffer[0], 0x06);
  EXPECT_EQ(clock.NowMs(), 950);

  // A wait of 0 returns at once, and so does a plain read.
  ASSERT_TRUE(ReadDeviceWait(h, buffer.data(), 8, &got, 0));
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(clock.NowMs(), 950);
  got = 99;
  ASSERT_TRUE(ReadDevice(h, buffer.data(), 8, &got));
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(clock.NowMs(), 950);

  ASSERT_TRUE(ReadDeviceWait(h, buffer.data(), 8, &got, 5000));
  ASSERT_EQ(got, 1u);
  EXPECT_EQ(buffer[0], 0x23);
  EXPECT_EQ(clock.NowMs(), 1200);

  // What is already there comes at once, all of it.
  Pause(100);
  line->Deliver(Bytes{1, 2, 3}, 1250);
  ASSERT_TRUE(ReadDeviceWait(h, buffer.data(), 8, &got, 5000));
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + got), (Bytes{1, 2, 3}));
  EXPECT_EQ(clock.NowMs(), 1300);
}

TEST_F(PrinterPort, UsbPrinterVanishesOnTheNthWrite) {
  knobs->VanishOnWrite(3);
  const Handle h = Open(DeviceClass::kUsbPrinter);
  const Handle probe = Open(DeviceClass::kUsbPrinter);  // a second handle, opened before
  EXPECT_TRUE(Write(h, {1}));
  EXPECT_TRUE(Write(h, {2, 2}));
  SetLastError(kErrorSuccess);
  EXPECT_FALSE(Write(h, {3, 3, 3}));
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
  EXPECT_EQ(line->Written(), (Bytes{1, 2, 2}));

  // Every later call of the devices open at that moment fails the same way.
  for (Handle gone : {h, probe}) {
    Bytes buffer(4);
    uint32_t got = 0;
    uint8_t status = 0;
    SetLastError(kErrorSuccess);
    EXPECT_FALSE(Write(gone, {4}));
    EXPECT_EQ(LastError(), kErrorInvalidHandle);
    SetLastError(kErrorSuccess);
    EXPECT_FALSE(ReadDeviceWait(gone, buffer.data(), 4, &got, 100));
    EXPECT_EQ(LastError(), kErrorInvalidHandle);
    SetLastError(kErrorSuccess);
    EXPECT_FALSE(ReadDevice(gone, buffer.data(), 4, &got));
    EXPECT_EQ(LastError(), kErrorInvalidHandle);
    SetLastError(kErrorSuccess);
    EXPECT_FALSE(QueryDeviceId(gone, buffer.data(), 4, &got));
    EXPECT_EQ(LastError(), kErrorInvalidHandle);
    SetLastError(kErrorSuccess);
    EXPECT_FALSE(QueryDeviceStatus(gone, &status));
    EXPECT_EQ(LastError(), kErrorInvalidHandle);
    CommTimeouts t;
    SetLastError(kErrorSuccess);
    EXPECT_FALSE(GetLineTimeouts(gone, t));
    EXPECT_EQ(LastError(), kErrorInvalidHandle);
  }
  EXPECT_EQ(line->Written(), (Bytes{1, 2, 2}));
  EXPECT_EQ(knobs->WriteCalls(), 5);
  EXPECT_EQ(knobs->WriteCallSizes(), (std::vector<uint32_t>{1, 2, 3, 1, 1}));

  // Closing still works; a device opened afterwards is a new one.
  EXPECT_TRUE(Close(probe));
  EXPECT_TRUE(Close(h));
  EXPECT_TRUE(line->Closed());
  const Handle again = Open(DeviceClass::kUsbPrinter);
  EXPECT_TRUE(Write(again, {3, 3, 3}));
  EXPECT_EQ(line->Written(), (Bytes{1, 2, 2, 3, 3, 3}));
  uint8_t status = 0;
  EXPECT_TRUE(QueryDeviceStatus(again, &status));
}

TEST_F(PrinterPort, ReadWaitingWhenTheDeviceVanishesFails) {
  const Handle reader = Open(DeviceClass::kUsbPrinter);
  const Handle writer = Open(DeviceClass::kUsbPrinter);
  knobs->VanishOnWrite(1);
  line->Deliver(Bytes{0x06}, 500);
  bool ok = true;
  uint32_t got = 99;
  int error = 0;
  Thread thread([&] {
    Bytes buffer(4);
    ok = ReadDeviceWait(reader, buffer.data(), 4, &got, 1000);
    error = LastError();
  });
  Pause(100);
  EXPECT_FALSE(Write(writer, {0x1D}));
  thread.Join();
  EXPECT_EQ(clock.NowMs(), 500);  // the read ended when the byte came
  EXPECT_FALSE(ok);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(error, kErrorInvalidHandle);
}

TEST_F(PrinterPort, KnobsChangeWhileAnotherThreadUsesTheDevice) {
  const Handle h = Open(DeviceClass::kUsbPrinter);
  std::atomic<bool> stop{false};
  std::thread flipper([&] {
    for (int i = 0; !stop; ++i) {
      knobs->SetStatusFails(i % 2 == 1);
      knobs->SetStatus(static_cast<uint8_t>(0x10 | (i % 2 ? 0x08 : 0x00)));
      std::this_thread::yield();
    }
  });
  for (int i = 0; i < 2000; ++i) {
    uint8_t status = 0;
    if (QueryDeviceStatus(h, &status)) {
      EXPECT_TRUE(status == 0x10 || status == 0x18) << int{status};
    } else {
      EXPECT_EQ(LastError(), kErrorGenFailure);
    }
  }
  stop = true;
  flipper.join();
  EXPECT_EQ(knobs->StatusQueries(), 2000);
}

TEST_F(PrinterPort, AsASerialLineOnlyTheWriteKnobsApply) {
  const Handle h = Open(DeviceClass::kSerial);
  knobs->VanishOnWrite(2);
  EXPECT_TRUE(SetLineTimeouts(h, {1, 2, 3, 4, 5}));
  EXPECT_EQ(line->Timeouts(), (CommTimeouts{1, 2, 3, 4, 5}));
  NegotiationMask granted;
  EXPECT_FALSE(NegotiateDevice(h, kAskCompatibility, granted));
  EXPECT_EQ(LastError(), kErrorInvalidFunction);
  EXPECT_TRUE(Write(h, {1}));
  EXPECT_FALSE(Write(h, {2}));
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
}

}  // namespace
}  // namespace quillon::platform
