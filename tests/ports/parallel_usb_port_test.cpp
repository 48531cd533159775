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
#include "ports/link.h"
#include "support/scripted_peer.h"
#include "support/sim_factory.h"
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

// The reconnection of the USB printer, as the test decides it.
struct Reconnector {
  int reopens = 0;
  std::vector<int64_t> reopenedAtMs;
  std::function<bool()> reopen;
  bool operator()() {
    ++reopens;
    reopenedAtMs.push_back(platform::NowMs());
    // A write that keeps reconnecting fails its test instead of hanging it.
    if (reopens > 3) return false;
    return reopen ? reopen() : false;
  }
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
  Reconnector window;
  // USB writes and the parallel port's operations go through the same port
  // here: neither depends on the link's interface.
  CCommPort port{Interface::kUsb};
  std::vector<platform::DeviceClass> opened;  // the classes the built-in printer was asked for
  std::string options;                        // the option text it was last given

  void SetUp() override {
    platform::SetSimulatorFactory(nullptr);
    port.link.SetReconnect([this] { return window(); });
  }
  void TearDown() override {
    if (port.GetHandle() != platform::kNoHandle) port.ClosePort();
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
  // A USB printer on the line, as the port's device.
  platform::Handle ConnectUsb() {
    port.link.SetHandle(platform::RegisterDevice(std::make_shared<platform::FakePrinterPort>(
        line->Device(), platform::DeviceClass::kUsbPrinter, knobs)));
    return port.GetHandle();
  }
  // What the download's reconnection does: close the printer, open it
  // again.
  bool Reconnect() {
    port.ClosePort();
    ConnectUsb();
    return true;
  }
  std::string Asked() { return testing::ModeLetters(*knobs); }
  std::vector<int64_t> Pauses() { return clock.Timeline(std::this_thread::get_id()); }
};

TEST_F(ParallelUsbPort, AParallelPortThatDoesNotExistIsNotOpened) {
  EXPECT_EQ(port.OpenParallelPort("/nonexistent/quillon-lpt"), 0);
  EXPECT_EQ(port.GetHandle(), kInvalidHandle);

  // Without a built-in printer "sim" names nothing either.
  EXPECT_EQ(port.OpenParallelPort("sim"), 0);
  EXPECT_EQ(port.GetHandle(), kInvalidHandle);
}

TEST_F(ParallelUsbPort, AnOpenedParallelPortIsSharedWithTheReceiveThread) {
  InstallPrinter();
  ASSERT_EQ(port.OpenParallelPort("sim:status=41"), 1);
  EXPECT_EQ(opened, (std::vector<platform::DeviceClass>{platform::DeviceClass::kParallel}));
  EXPECT_EQ(options, "status=41");
  EXPECT_NE(port.GetHandle(), kInvalidHandle);
  EXPECT_TRUE(platform::SameModes(knobs->Mode(), platform::kGrantedCompatibility));
  EXPECT_TRUE(knobs->Negotiations().empty());  // opening negotiates nothing

  port.ClosePort();
  EXPECT_EQ(port.GetHandle(), kInvalidHandle);
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

TEST_F(ParallelUsbPort, AUsbPrinterThatHasGoneIsReconnectedAndOnlyTheFailedChunkRewritten) {
  const platform::Handle first = ConnectUsb();
  window.reopen = [this] { return Reconnect(); };
  knobs->VanishOnWrite(2);
  const Bytes data = Pattern(10000);
  EXPECT_EQ(port.WriteUsb(data.data(), 10000), 1);
  EXPECT_EQ(window.reopens, 1);
  EXPECT_EQ(window.reopenedAtMs, (std::vector<int64_t>{0}));
  EXPECT_EQ(Pauses(), (std::vector<int64_t>{1000}));  // after the reconnection
  EXPECT_EQ(knobs->WriteCallSizes(), (Sizes{4096, 4096, 4096, 1808}));
  EXPECT_EQ(line->Written(), data);  // nothing lost, nothing twice
  EXPECT_NE(port.GetHandle(), first);
  EXPECT_EQ(knobs->DevicesOpen(), 1);

  // A printer that was never connected (or has been closed) is connected
  // the same way.
  port.ClosePort();
  EXPECT_EQ(port.WriteUsb(data.data(), 100), 1);
  EXPECT_EQ(window.reopens, 2);
  EXPECT_EQ(line->Written().size(), 10100u);
}

TEST_F(ParallelUsbPort, AUsbWriteFailsWhenTheReconnectionFails) {
  ConnectUsb();
  window.reopen = [] { return false; };
  knobs->VanishOnWrite(2);
  const Bytes data = Pattern(10000);
  EXPECT_EQ(port.WriteUsb(data.data(), 10000), 0);
  EXPECT_EQ(window.reopens, 1);
  EXPECT_EQ(knobs->WriteCallSizes(), (Sizes{4096, 4096}));
  EXPECT_EQ(line->Written(), Bytes(data.begin(), data.begin() + 4096));
  EXPECT_TRUE(Pauses().empty());

  // Without a reconnection nothing is tried.
  port.link.SetReconnect(nullptr);
  EXPECT_EQ(port.WriteUsb(data.data(), 10000), 0);
  EXPECT_EQ(window.reopens, 1);
  EXPECT_EQ(knobs->WriteCallSizes().size(), 3u);
}

TEST_F(ParallelUsbPort, AUsbWriteFailingWithAnotherErrorIsNotRetried) {
  ConnectUsb();
  window.reopen = [this] { return Reconnect(); };
  line->SetWriteFails(true);
  const Bytes data = Pattern(10000);
  EXPECT_EQ(port.WriteUsb(data.data(), 10000), 0);
  EXPECT_EQ(window.reopens, 0);
  EXPECT_EQ(knobs->WriteCallSizes(), (Sizes{4096}));
  EXPECT_TRUE(Pauses().empty());
}

TEST_F(ParallelUsbPort, AStopRequestEndsAUsbWriteBetweenChunks) {
  ConnectUsb();
  const Bytes data = Pattern(10000);
  port.link.RequestStop();
  EXPECT_EQ(port.WriteUsb(data.data(), 10000), 0);
  EXPECT_TRUE(knobs->WriteCallSizes().empty());

  // Cancelled while the first chunk goes out: the rest stays behind.
  port.link.ClearStop();
  line->SetPeer(std::make_shared<testing::ScriptedPeer>(
      [this](const Bytes&, int64_t) { port.link.RequestStop(); }));
  EXPECT_EQ(port.WriteUsb(data.data(), 10000), 0);
  EXPECT_EQ(knobs->WriteCallSizes(), (Sizes{4096}));
  EXPECT_EQ(line->Written(), Bytes(data.begin(), data.begin() + 4096));
}

}  // namespace
}  // namespace quillon::ports
