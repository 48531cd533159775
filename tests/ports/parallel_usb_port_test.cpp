// The port's parallel and USB operations: opening the parallel port, its
// IEEE 1284 modes, and USB writes in chunks with the reconnection of a
// printer that has gone, on fake printer ports.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/device.h"
#include "platform/fake_printer_port.h"
#include "platform/fake_serial.h"
#include "ports/comm_port.h"
#include "ports/port_state.h"
#include "ports/port_window.h"
#include "support/scripted_peer.h"
#include "support/virtual_clock.h"

namespace quillon::ports {
namespace {

using Bytes = std::vector<uint8_t>;
using Sizes = std::vector<uint32_t>;
using platform::kAskCompatibility;
using platform::kAskEcp;
using platform::kAskNibble;
using platform::kInvalidHandle;
using platform::kModeCompatibility;
using platform::kModeEcpHwNoIrq;
using platform::kModeNibble;
using platform::kModeNone;
using platform::NegotiationMask;

// A main window whose reconnection of the USB printer the test decides.
class ReconnectingWindow final : public PortWindow {
 public:
  intptr_t Send(uint32_t, uintptr_t, intptr_t) override { return 0; }
  bool Post(uint32_t, uintptr_t, intptr_t) override { return true; }
  void StopUsbReceive() override {}
  void StopParallelReceive() override {}
  bool ReopenUsbPrinter() override {
    ++reopens;
    reopenedAtMs.push_back(platform::NowMs());
    // A write that keeps reconnecting fails its test instead of hanging it.
    if (reopens > 3) return false;
    return reopen ? reopen() : false;
  }

  int reopens = 0;
  std::vector<int64_t> reopenedAtMs;
  std::function<bool()> reopen;
};

Bytes Pattern(size_t size) {
  Bytes data(size);
  uint32_t x = 12345;
  for (auto& b : data) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return data;
}

class ParallelUsbPort : public ::testing::Test {
 protected:
  platform::VirtualClock clock;
  platform::ScopedClock scope{clock};
  // The printer's end; every device of the test is opened on it.
  std::shared_ptr<platform::FakeSerialLine> line = std::make_shared<platform::FakeSerialLine>();
  std::shared_ptr<platform::PrinterPortKnobs> knobs =
      std::make_shared<platform::PrinterPortKnobs>();
  ReconnectingWindow window;
  CCommPort port;
  std::vector<platform::DeviceClass> opened;  // the classes the built-in printer was asked for
  std::string options;                        // the option text it was last given

  void SetUp() override {
    useUsb = 0;
    useParallel = 0;
    userTerminate = 0;
    usbHandle = platform::kNoHandle;
    parallelHandle = kInvalidHandle;
    mainWindow = nullptr;
    platform::SetSimulatorFactory(nullptr);
  }
  void TearDown() override {
    userTerminate = 0;
    const platform::Handle usb = usbHandle.exchange(platform::kNoHandle);
    if (usb != platform::kNoHandle && usb != kInvalidHandle) platform::CloseDevice(usb);
    useUsb = 0;
    port.ClosePort();
    useParallel = 0;
    parallelHandle = kInvalidHandle;
    mainWindow = nullptr;
    platform::SetSimulatorFactory(nullptr);
  }

  // Makes "sim" a printer port on the test's line, of the class asked for.
  void InstallPrinter() {
    platform::SetSimulatorFactory(
        [this](const std::string& text,
               platform::DeviceClass cls) -> std::shared_ptr<platform::SerialDevice> {
          opened.push_back(cls);
          options = text;
          return std::make_shared<platform::FakePrinterPort>(line->Device(), cls, knobs);
        });
  }
  // A USB printer on the line, in usbHandle.
  platform::Handle ConnectUsb() {
    usbHandle = platform::RegisterDevice(std::make_shared<platform::FakePrinterPort>(
        line->Device(), platform::DeviceClass::kUsbPrinter, knobs));
    return usbHandle;
  }
  // What the main window's reconnection does: close the printer, open it
  // again.
  bool Reconnect() {
    platform::CloseDevice(usbHandle.exchange(kInvalidHandle));
    ConnectUsb();
    return true;
  }
  // The negotiations asked, as letters: C compatibility, N nibble, E ECP.
  std::string Asked() {
    std::string out;
    for (const auto& n : knobs->Negotiations()) {
      if (platform::SameModes(n.ask, kAskCompatibility)) out += 'C';
      if (platform::SameModes(n.ask, kAskNibble)) out += 'N';
      if (platform::SameModes(n.ask, kAskEcp)) out += 'E';
    }
    return out;
  }
  std::vector<int64_t> Pauses() { return clock.Timeline(std::this_thread::get_id()); }
};

TEST_F(ParallelUsbPort, AParallelPortThatDoesNotExistIsNotOpened) {
  parallelHandle = 0x5678;  // left from an earlier port
  EXPECT_EQ(port.OpenParallelPort("/nonexistent/quillon-lpt"), 0);
  EXPECT_EQ(port.hPort, kInvalidHandle);
  EXPECT_EQ(parallelHandle.load(), kInvalidHandle);

  // Without a built-in printer "sim" names nothing either.
  parallelHandle = 0x5678;
  EXPECT_EQ(port.OpenParallelPort("sim"), 0);
  EXPECT_EQ(parallelHandle.load(), kInvalidHandle);
}

TEST_F(ParallelUsbPort, AnOpenedParallelPortIsSharedWithTheReceiveThread) {
  InstallPrinter();
  ASSERT_EQ(port.OpenParallelPort("sim:status=41"), 1);
  EXPECT_EQ(opened, (std::vector<platform::DeviceClass>{platform::DeviceClass::kParallel}));
  EXPECT_EQ(options, "status=41");
  EXPECT_NE(port.hPort, kInvalidHandle);
  EXPECT_EQ(parallelHandle.load(), port.hPort);
  EXPECT_TRUE(platform::SameModes(knobs->Mode(), platform::kGrantedCompatibility));
  EXPECT_TRUE(knobs->Negotiations().empty());  // opening negotiates nothing

  // Closing the port leaves the copy as it was.
  const platform::Handle h = port.hPort;
  port.ClosePort();
  EXPECT_EQ(port.hPort, kInvalidHandle);
  EXPECT_EQ(parallelHandle.load(), h);
  EXPECT_EQ(knobs->DevicesOpen(), 0);
}

TEST_F(ParallelUsbPort, NibbleModeFallsBackToCompatibilityWhenTheDriverGrantsAnythingElse) {
  InstallPrinter();
  ASSERT_EQ(port.OpenParallelPort("sim"), 1);
  EXPECT_EQ(port.SetNibbleMode(), 1);
  EXPECT_EQ(Asked(), "N");
  EXPECT_TRUE(platform::SameModes(knobs->Mode(), platform::kGrantedNibble));

  // Nibble for reading, but another forward mode.
  knobs->GrantInstead(kAskNibble, 2, NegotiationMask{kModeNibble, kModeNone});
  EXPECT_EQ(port.SetNibbleMode(), 0);
  EXPECT_EQ(Asked(), "NNC");
  EXPECT_TRUE(platform::SameModes(knobs->Mode(), platform::kGrantedCompatibility));

  // The forward mode, but no reverse channel.
  knobs->GrantInstead(kAskNibble, 3, NegotiationMask{kModeNone, kModeCompatibility});
  EXPECT_EQ(port.SetNibbleMode(), 0);
  EXPECT_EQ(Asked(), "NNCNC");
  EXPECT_TRUE(platform::SameModes(knobs->Mode(), platform::kGrantedCompatibility));

  // A negotiation the driver refuses outright is not followed by another.
  knobs->FailNegotiation(kAskNibble, 4);
  EXPECT_EQ(port.SetNibbleMode(), 0);
  EXPECT_EQ(Asked(), "NNCNCN");
}

TEST_F(ParallelUsbPort, EcpModeIsBothDirectionsOrNothing) {
  InstallPrinter();
  ASSERT_EQ(port.OpenParallelPort("sim"), 1);
  EXPECT_EQ(port.SetEcpMode(), 1);
  EXPECT_TRUE(platform::SameModes(knobs->Mode(), platform::kGrantedEcp));

  const NegotiationMask readOnly{kModeEcpHwNoIrq, kModeCompatibility};
  knobs->GrantInstead(kAskEcp, 2, readOnly);
  EXPECT_EQ(port.SetEcpMode(), 0);
  EXPECT_TRUE(platform::SameModes(knobs->Mode(), readOnly));  // left as the driver put it

  const NegotiationMask writeOnly{kModeNone, kModeEcpHwNoIrq};
  knobs->GrantInstead(kAskEcp, 3, writeOnly);
  EXPECT_EQ(port.SetEcpMode(), 0);
  EXPECT_TRUE(platform::SameModes(knobs->Mode(), writeOnly));

  knobs->FailNegotiation(kAskEcp, 4);
  EXPECT_EQ(port.SetEcpMode(), 0);
  EXPECT_EQ(Asked(), "EEEE");  // no fallback to another mode
}

TEST_F(ParallelUsbPort, CompatibilityModeSucceedsOnlyWithoutAReverseChannel) {
  InstallPrinter();
  ASSERT_EQ(port.OpenParallelPort("sim"), 1);
  EXPECT_EQ(port.SetCompatibilityMode(), 1);  // granted (0, 2)

  int nth = 1;
  for (const NegotiationMask granted :
       {NegotiationMask{kModeCompatibility, kModeCompatibility},
        NegotiationMask{kModeNone, kModeNone}, NegotiationMask{kModeNibble, kModeCompatibility},
        NegotiationMask{kModeNone, kModeEcpHwNoIrq}}) {
    knobs->GrantInstead(kAskCompatibility, ++nth, granted);
    EXPECT_EQ(port.SetCompatibilityMode(), 0) << granted.usReadMask << '/' << granted.usWriteMask;
  }
  knobs->FailNegotiation(kAskCompatibility, ++nth);
  EXPECT_EQ(port.SetCompatibilityMode(), 0);
  EXPECT_EQ(Asked(), "CCCCCC");

  // A port that is not open negotiates nothing.
  port.ClosePort();
  EXPECT_EQ(port.SetCompatibilityMode(), 0);
  EXPECT_EQ(port.SetNibbleMode(), 0);
  EXPECT_EQ(port.SetEcpMode(), 0);
  EXPECT_EQ(knobs->Negotiations().size(), 6u);
}

TEST_F(ParallelUsbPort, UsbWritesGoOutInChunksOfAtMost4096Bytes) {
  ConnectUsb();
  const Bytes data = Pattern(10000);
  EXPECT_EQ(port.WriteUsb(data.data(), 10000), 1);
  EXPECT_EQ(knobs->WriteCallSizes(), (Sizes{4096, 4096, 1808}));
  EXPECT_EQ(line->Written(), data);
  EXPECT_EQ(port.usbWriteDone, 1);
  EXPECT_TRUE(Pauses().empty());  // no pacing on USB

  const Bytes block = Pattern(4096);
  EXPECT_EQ(port.WriteUsb(block.data(), 4096), 1);
  EXPECT_EQ(knobs->WriteCallSizes(), (Sizes{4096, 4096, 1808, 4096}));

  // A driver that takes less than it was given: the rest follows from where
  // it stopped.
  line->SetWriteLimit(3000);
  EXPECT_EQ(port.WriteUsb(data.data(), 10000), 1);
  EXPECT_EQ(knobs->WriteCallSizes(), (Sizes{4096, 4096, 1808, 4096, 4096, 4096, 4000, 1000}));
  const Bytes written = line->Written();
  ASSERT_EQ(written.size(), 10000u + 4096u + 10000u);
  EXPECT_EQ(Bytes(written.end() - 10000, written.end()), data);
}

TEST_F(ParallelUsbPort, UsbWritesUseTheUsbHandleWhateverTheInterface) {
  auto other = std::make_shared<platform::FakeSerialLine>();
  port.hPort = other->Open();
  ConnectUsb();
  const Bytes data = Pattern(100);
  for (int usb : {0, 1}) {
    useUsb = usb;
    EXPECT_EQ(port.WriteUsb(data.data(), 100), 1);
  }
  EXPECT_TRUE(other->Written().empty());
  EXPECT_EQ(line->Written().size(), 200u);
}

TEST_F(ParallelUsbPort, AUsbPrinterThatHasGoneIsReconnectedAndOnlyTheFailedChunkRewritten) {
  const platform::Handle first = ConnectUsb();
  mainWindow = &window;
  window.reopen = [this] { return Reconnect(); };
  knobs->VanishOnWrite(2);
  const Bytes data = Pattern(10000);
  EXPECT_EQ(port.WriteUsb(data.data(), 10000), 1);
  EXPECT_EQ(window.reopens, 1);
  EXPECT_EQ(window.reopenedAtMs, (std::vector<int64_t>{0}));
  EXPECT_EQ(Pauses(), (std::vector<int64_t>{1000}));  // after the reconnection
  EXPECT_EQ(knobs->WriteCallSizes(), (Sizes{4096, 4096, 4096, 1808}));
  EXPECT_EQ(line->Written(), data);  // nothing lost, nothing twice
  EXPECT_NE(usbHandle.load(), first);
  EXPECT_EQ(knobs->DevicesOpen(), 1);
  EXPECT_EQ(port.usbWriteDone, 1);

  // A printer that was never connected (or has been closed) is connected
  // the same way.
  platform::CloseDevice(usbHandle.exchange(kInvalidHandle));
  EXPECT_EQ(port.WriteUsb(data.data(), 100), 1);
  EXPECT_EQ(window.reopens, 2);
  EXPECT_EQ(line->Written().size(), 10100u);
}

TEST_F(ParallelUsbPort, AUsbWriteFailsWhenTheReconnectionFails) {
  ConnectUsb();
  mainWindow = &window;
  window.reopen = [] { return false; };
  knobs->VanishOnWrite(2);
  const Bytes data = Pattern(10000);
  EXPECT_EQ(port.WriteUsb(data.data(), 10000), 0);
  EXPECT_EQ(window.reopens, 1);
  EXPECT_EQ(knobs->WriteCallSizes(), (Sizes{4096, 4096}));
  EXPECT_EQ(line->Written(), Bytes(data.begin(), data.begin() + 4096));
  EXPECT_TRUE(Pauses().empty());
  EXPECT_EQ(port.usbWriteDone, 0);

  // Without a main window there is nobody to reconnect.
  mainWindow = nullptr;
  EXPECT_EQ(port.WriteUsb(data.data(), 10000), 0);
  EXPECT_EQ(window.reopens, 1);
  EXPECT_EQ(knobs->WriteCallSizes().size(), 3u);
}

TEST_F(ParallelUsbPort, AUsbWriteFailingWithAnotherErrorIsNotRetried) {
  ConnectUsb();
  mainWindow = &window;
  window.reopen = [this] { return Reconnect(); };
  line->SetWriteFails(true);
  const Bytes data = Pattern(10000);
  EXPECT_EQ(port.WriteUsb(data.data(), 10000), 0);
  EXPECT_EQ(window.reopens, 0);
  EXPECT_EQ(knobs->WriteCallSizes(), (Sizes{4096}));
  EXPECT_TRUE(Pauses().empty());
  EXPECT_EQ(port.usbWriteDone, 0);
}

TEST_F(ParallelUsbPort, AStopRequestEndsAUsbWriteBetweenChunks) {
  ConnectUsb();
  const Bytes data = Pattern(10000);
  userTerminate = 1;
  EXPECT_EQ(port.WriteUsb(data.data(), 10000), 0);
  EXPECT_TRUE(knobs->WriteCallSizes().empty());

  // Cancelled while the first chunk goes out: the rest stays behind.
  userTerminate = 0;
  line->SetPeer(
      std::make_shared<testing::ScriptedPeer>([](const Bytes&, int64_t) { userTerminate = 1; }));
  EXPECT_EQ(port.WriteUsb(data.data(), 10000), 0);
  EXPECT_EQ(knobs->WriteCallSizes(), (Sizes{4096}));
  EXPECT_EQ(line->Written(), Bytes(data.begin(), data.begin() + 4096));
  EXPECT_EQ(port.usbWriteDone, 0);
}

TEST_F(ParallelUsbPort, WithUsbSelectedTheHandleAndTheCloseAreTheUsbPrinters) {
  InstallPrinter();
  ASSERT_EQ(port.OpenParallelPort("sim"), 1);
  const platform::Handle parallel = port.hPort;
  const platform::Handle usb = ConnectUsb();
  EXPECT_EQ(knobs->DevicesOpen(), 2);

  useUsb = 1;
  EXPECT_EQ(port.GetHandle(), usb);
  port.ClosePort();
  EXPECT_EQ(usbHandle.load(), kInvalidHandle);
  EXPECT_EQ(platform::DeviceOf(usb), nullptr);
  EXPECT_EQ(port.hPort, parallel);  // the other port stays open
  EXPECT_NE(platform::DeviceOf(parallel), nullptr);
  EXPECT_EQ(knobs->DevicesOpen(), 1);
  EXPECT_EQ(port.GetHandle(), kInvalidHandle);
  // Nothing left to close: no call is made (a close of the invalid handle
  // would leave kErrorInvalidHandle), and the parallel port stays open.
  platform::SetLastError(platform::kErrorSuccess);
  port.ClosePort();
  EXPECT_EQ(platform::LastError(), platform::kErrorSuccess);
  EXPECT_EQ(knobs->DevicesOpen(), 1);

  useUsb = 0;
  EXPECT_EQ(port.GetHandle(), parallel);
  port.ClosePort();
  EXPECT_EQ(port.hPort, kInvalidHandle);
  EXPECT_EQ(knobs->DevicesOpen(), 0);
  EXPECT_EQ(usbHandle.load(), kInvalidHandle);
}

}  // namespace
}  // namespace quillon::ports
