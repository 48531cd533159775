// The built-in printer reached as a parallel port and as a USB printer.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/device.h"
#include "platform/fake_printer_port.h"
#include "sim/emulated_line.h"
#include "sim/frames.h"
#include "sim/temp_dir.h"
#include "support/virtual_clock.h"

namespace quillon::sim {
namespace {

using platform::DeviceClass;
using platform::Handle;
using platform::kInvalidHandle;
// The frames, hosts and files of the emulator tests (sim/frames.h,
// sim/temp_dir.h, sim/direct_host.h).
using namespace testing;
using ::testing::HasSubstr;

const char* ClassName(DeviceClass cls) {
  switch (cls) {
    case DeviceClass::kSerial:
      return "serial";
    case DeviceClass::kParallel:
      return "parallel";
    case DeviceClass::kUsbPrinter:
      return "usb";
  }
  return "?";
}

Handle OpenAs(DeviceClass cls, const std::string& name) {
  switch (cls) {
    case DeviceClass::kSerial:
      return platform::OpenDevice(name);
    case DeviceClass::kParallel:
      return platform::OpenParallelDevice(name);
    case DeviceClass::kUsbPrinter:
      return platform::OpenUsbDevice(name);
  }
  return kInvalidHandle;
}

bool Write(Handle h, const Bytes& data) {
  uint32_t written = 0;
  return platform::WriteDevice(h, data.data(), static_cast<uint32_t>(data.size()), &written) &&
         written == data.size();
}

// Reads the way the host does on each class: a serial line waits up to a
// total time-out, the parallel reverse channel returns at once, a USB
// printer waits for the first byte.
Bytes Read(DeviceClass cls, Handle h, uint32_t n, uint32_t waitMs = 2000) {
  Bytes data(n);
  uint32_t got = 0;
  bool ok = false;
  switch (cls) {
    case DeviceClass::kSerial: {
      platform::CommTimeouts t;
      t.ReadTotalTimeoutConstant = waitMs;
      EXPECT_TRUE(platform::SetLineTimeouts(h, t));
      ok = platform::ReadDevice(h, data.data(), n, &got);
      break;
    }
    case DeviceClass::kParallel:
      ok = platform::ReadDevice(h, data.data(), n, &got);
      break;
    case DeviceClass::kUsbPrinter:
      ok = platform::ReadDeviceWait(h, data.data(), n, &got, waitMs);
      break;
  }
  EXPECT_TRUE(ok);
  data.resize(got);
  return data;
}

class BuiltInPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallBuiltInPrinterWithKnobs([this](const BuiltInPrinter& made) {
      made_.push_back(made);
      if (onCreated_) onCreated_(made);
    });
  }
  void TearDown() override { platform::SetSimulatorFactory(nullptr); }

  platform::VirtualClock clock_;
  platform::ScopedClock scoped_{clock_};
  std::vector<BuiltInPrinter> made_;
  std::function<void(const BuiltInPrinter&)> onCreated_;
  TempDir dir_;
};

TEST_F(BuiltInPortTest, UsbPrinterAnswersTheLineStatusAfterTheSwitch) {
  const Handle h = platform::OpenUsbDevice("sim:boot-ms=500");
  ASSERT_NE(h, kInvalidHandle);
  ASSERT_EQ(made_.size(), 1u);
  EXPECT_EQ(made_[0].options, "boot-ms=500");

  Bytes id(100);
  uint32_t got = 0;
  ASSERT_TRUE(platform::QueryDeviceId(h, id.data(), 100, &got));
  EXPECT_EQ(std::string(id.begin() + 2, id.begin() + got), platform::kFakePrinterDeviceId);
  uint8_t status = 0;
  ASSERT_TRUE(platform::QueryDeviceStatus(h, &status));
  EXPECT_EQ(status, 0x18);

  ASSERT_TRUE(Write(h, kSwitchFrame));
  ASSERT_TRUE(Write(h, kStatusFrame));  // still booting: no answer
  EXPECT_TRUE(Read(DeviceClass::kUsbPrinter, h, 2, 300).empty());
  EXPECT_EQ(clock_.NowMs(), 300);
  platform::Pause(200);
  ASSERT_TRUE(Write(h, kStatusFrame));
  EXPECT_EQ(Read(DeviceClass::kUsbPrinter, h, 2), (Bytes{kAck, kStandardModel}));
  EXPECT_EQ(clock_.NowMs(), 500);  // the answer came at once
  EXPECT_EQ(made_[0].port->WriteCallSizes(), (std::vector<uint32_t>{3, 2, 2}));

  // The test's handle on the knobs reaches the open device.
  made_[0].port->SetStatusFails(true);
  EXPECT_FALSE(platform::QueryDeviceStatus(h, &status));
  EXPECT_EQ(platform::LastError(), platform::kErrorGenFailure);
  EXPECT_TRUE(platform::CloseDevice(h));
}

TEST_F(BuiltInPortTest, ParallelPortAnswersTheLineStatusOverTheReverseChannel) {
  const Handle h = platform::OpenParallelDevice("sim:boot-ms=0,delay=300");
  ASSERT_NE(h, kInvalidHandle);
  ASSERT_EQ(made_.size(), 1u);
  platform::NegotiationMask granted;
  ASSERT_TRUE(platform::NegotiateDevice(h, platform::kAskCompatibility, granted));
  EXPECT_EQ(granted.usReadMask, 0x0000);
  EXPECT_EQ(granted.usWriteMask, 0x0002);
  ASSERT_TRUE(platform::NegotiateDevice(h, platform::kAskEcp, granted));
  EXPECT_EQ(granted.usReadMask, 0x0100);
  EXPECT_EQ(granted.usWriteMask, 0x0100);

  ASSERT_TRUE(Write(h, Join({kSwitchFrame, kStatusFrame})));
  EXPECT_TRUE(Read(DeviceClass::kParallel, h, 2).empty());  // not yet, and no waiting
  EXPECT_EQ(clock_.NowMs(), 0);
  platform::Pause(300);
  EXPECT_EQ(Read(DeviceClass::kParallel, h, 2), (Bytes{kAck, kStandardModel}));
  EXPECT_EQ(clock_.NowMs(), 300);
  EXPECT_TRUE(platform::SameModes(made_[0].port->Mode(), platform::kGrantedEcp));
  EXPECT_EQ(made_[0].port->Negotiations().size(), 2u);
  EXPECT_TRUE(platform::CloseDevice(h));
}

TEST_F(BuiltInPortTest, KnobsSetWhenThePrinterIsMadeHoldFromTheFirstCall) {
  onCreated_ = [](const BuiltInPrinter& made) {
    made.port->FailNegotiation(platform::kAskEcp, 1);
    made.port->SetDeviceIdFails(true);
  };
  const Handle parallel = platform::OpenParallelDevice("sim:boot-ms=0");
  ASSERT_NE(parallel, kInvalidHandle);
  platform::NegotiationMask granted;
  EXPECT_FALSE(platform::NegotiateDevice(parallel, platform::kAskEcp, granted));
  EXPECT_EQ(platform::LastError(), platform::kErrorGenFailure);
  EXPECT_TRUE(platform::NegotiateDevice(parallel, platform::kAskEcp, granted));
  EXPECT_TRUE(platform::CloseDevice(parallel));

  // The same printer on USB shares the knobs; another option text does not.
  const Handle usb = platform::OpenUsbDevice("sim:boot-ms=0");
  const Handle other = platform::OpenUsbDevice("sim");
  ASSERT_NE(usb, kInvalidHandle);
  ASSERT_NE(other, kInvalidHandle);
  ASSERT_EQ(made_.size(), 2u);
  Bytes id(100);
  uint32_t got = 0;
  EXPECT_FALSE(platform::QueryDeviceId(usb, id.data(), 100, &got));
  EXPECT_EQ(platform::LastError(), platform::kErrorGenFailure);
  made_[1].port->SetDeviceIdFails(false);
  EXPECT_TRUE(platform::QueryDeviceId(other, id.data(), 100, &got));
  made_[0].port->SetDeviceIdFails(false);
  EXPECT_TRUE(platform::QueryDeviceId(usb, id.data(), 100, &got));
  EXPECT_TRUE(platform::CloseDevice(usb));
  EXPECT_TRUE(platform::CloseDevice(other));
}

TEST_F(BuiltInPortTest, FilesAreWrittenAtEveryCloseOnEveryClass) {
  for (DeviceClass cls : {DeviceClass::kSerial, DeviceClass::kParallel, DeviceClass::kUsbPrinter}) {
    SCOPED_TRACE(ClassName(cls));
    const std::string flash = dir_.File(std::string(ClassName(cls)) + ".bin");
    const std::string log = dir_.File(std::string(ClassName(cls)) + ".txt");
    const std::string name = "sim:boot-ms=0,flash=" + flash + ",log=" + log;
    made_.clear();

    // The switch, then a close: both files are there.
    Handle h = OpenAs(cls, name);
    ASSERT_NE(h, kInvalidHandle);
    ASSERT_EQ(made_.size(), 1u);
    const std::shared_ptr<PrinterEmulator> printer = made_[0].printer;
    ASSERT_TRUE(Write(h, Join({kSwitchFrame, kStatusFrame})));
    EXPECT_EQ(Read(cls, h, 2), (Bytes{kAck, kStandardModel}));
    EXPECT_FALSE(std::filesystem::exists(flash));
    ASSERT_TRUE(platform::CloseDevice(h));
    EXPECT_EQ(ReadFileText(log), printer->TranscriptText());
    EXPECT_EQ(ReadFileBytes(flash), printer->Flash());

    // Reopened: a sector; the files follow at the next close.
    const Bytes data = Pattern(3000, 0x5A);
    h = OpenAs(cls, name);
    ASSERT_NE(h, kInvalidHandle);
    ASSERT_TRUE(Write(h, Join({EraseFrame(7), SelectFrame(7), DataFrame(data)})));
    EXPECT_EQ(Read(cls, h, 3), (Bytes{kAck, kAck, kAck}));
    ASSERT_TRUE(platform::CloseDevice(h));
    const Bytes image = ReadFileBytes(flash);
    ASSERT_EQ(image.size(), kFlashSize);
    const size_t at = PrinterEmulator::SectorAddress(7);
    EXPECT_EQ(Bytes(image.begin() + at, image.begin() + at + 3000), data);
    EXPECT_EQ(image[at + 3000], 0xFF);

    // And once more.
    h = OpenAs(cls, name);
    ASSERT_NE(h, kInvalidHandle);
    ASSERT_TRUE(Write(h, kChecksumFrame));
    EXPECT_EQ(Read(cls, h, 3).size(), 3u);
    ASSERT_TRUE(platform::CloseDevice(h));
    EXPECT_EQ(made_.size(), 1u);  // the same printer all along
    EXPECT_EQ(ReadFileText(log), printer->TranscriptText());
    EXPECT_THAT(ReadFileText(log), HasSubstr("checksum"));
    EXPECT_EQ(ReadFileBytes(flash), printer->Flash());
  }
}

TEST_F(BuiltInPortTest, UsbReopenedWithoutClosingWritesTheFilesWhenTheLastCloses) {
  const std::string flash = dir_.File("flash.bin");
  const std::string log = dir_.File("log.txt");
  const std::string name = "sim:boot-ms=0,flash=" + flash + ",log=" + log;
  const Handle first = platform::OpenUsbDevice(name);
  ASSERT_NE(first, kInvalidHandle);
  ASSERT_TRUE(Write(first, Join({kSwitchFrame, kStatusFrame})));
  EXPECT_EQ(Read(DeviceClass::kUsbPrinter, first, 2), (Bytes{kAck, kStandardModel}));

  // The download reconnects without closing the old handle first.
  const Handle second = platform::OpenUsbDevice(name);
  ASSERT_NE(second, kInvalidHandle);
  const Bytes data = Pattern(500, 0x11);
  ASSERT_TRUE(Write(second, Join({SelectFrame(9), DataFrame(data)})));
  EXPECT_EQ(Read(DeviceClass::kUsbPrinter, second, 2), (Bytes{kAck, kAck}));
  ASSERT_TRUE(platform::CloseDevice(second));
  const Bytes image = ReadFileBytes(flash);
  ASSERT_EQ(image.size(), kFlashSize);
  const size_t at = PrinterEmulator::SectorAddress(9);
  EXPECT_EQ(Bytes(image.begin() + at, image.begin() + at + 500), data);
  EXPECT_THAT(ReadFileText(log), HasSubstr("data     500 bytes"));
  EXPECT_TRUE(platform::CloseDevice(first));
  EXPECT_EQ(made_.size(), 1u);
}

TEST_F(BuiltInPortTest, UsbMayBeOpenedTwiceAndAProbeDoesNotDisturb) {
  const std::string name = "sim:boot-ms=0";
  const Handle main = platform::OpenUsbDevice(name);
  ASSERT_NE(main, kInvalidHandle);
  ASSERT_TRUE(Write(main, kSwitchFrame));

  // The USB search opens and closes the device while it is open.
  const Handle probe = platform::OpenUsbDevice(name);
  ASSERT_NE(probe, kInvalidHandle);
  ASSERT_TRUE(platform::CloseDevice(probe));
  ASSERT_TRUE(Write(main, kStatusFrame));
  EXPECT_EQ(Read(DeviceClass::kUsbPrinter, main, 2), (Bytes{kAck, kStandardModel}));

  // Two open handles on one line: what one writes, the other may read.
  const Handle second = platform::OpenUsbDevice(name);
  ASSERT_NE(second, kInvalidHandle);
  uint8_t status = 0;
  EXPECT_TRUE(platform::QueryDeviceStatus(second, &status));
  ASSERT_TRUE(Write(second, kStatusFrame));
  EXPECT_EQ(Read(DeviceClass::kUsbPrinter, main, 2), (Bytes{kAck, kStandardModel}));
  EXPECT_EQ(made_[0].port->DevicesOpen(), 2);
  EXPECT_TRUE(platform::CloseDevice(second));
  EXPECT_TRUE(platform::CloseDevice(main));
  EXPECT_EQ(made_.size(), 1u);
  EXPECT_EQ(made_[0].port->DevicesOpen(), 0);
  EXPECT_EQ(made_[0].printer->State(clock_.NowMs()), LoaderState::kDownload);
}

TEST_F(BuiltInPortTest, EveryOtherOpenHasThePrinterAlone) {
  const std::string name = "sim:boot-ms=0";
  const auto refused = [&](DeviceClass cls) {
    platform::SetLastError(platform::kErrorSuccess);
    const Handle h = OpenAs(cls, name);
    if (h != kInvalidHandle) {
      platform::CloseDevice(h);
      return false;
    }
    return platform::LastError() == platform::kErrorSharingViolation;
  };

  const Handle parallel = platform::OpenParallelDevice(name);
  ASSERT_NE(parallel, kInvalidHandle);
  EXPECT_TRUE(refused(DeviceClass::kParallel));
  EXPECT_TRUE(refused(DeviceClass::kUsbPrinter));
  EXPECT_TRUE(refused(DeviceClass::kSerial));
  ASSERT_TRUE(platform::CloseDevice(parallel));

  const Handle usb = platform::OpenUsbDevice(name);
  ASSERT_NE(usb, kInvalidHandle);
  EXPECT_TRUE(refused(DeviceClass::kParallel));
  EXPECT_TRUE(refused(DeviceClass::kSerial));
  ASSERT_TRUE(platform::CloseDevice(usb));

  const Handle serial = platform::OpenDevice(name);
  ASSERT_NE(serial, kInvalidHandle);
  EXPECT_TRUE(refused(DeviceClass::kUsbPrinter));
  EXPECT_TRUE(refused(DeviceClass::kParallel));
  ASSERT_TRUE(platform::CloseDevice(serial));

  const Handle again = platform::OpenParallelDevice(name);
  EXPECT_NE(again, kInvalidHandle);
  EXPECT_TRUE(platform::CloseDevice(again));
  EXPECT_EQ(made_.size(), 1u);
}

TEST_F(BuiltInPortTest, AVanishedUsbPrinterWorksAgainWhenReopened) {
  onCreated_ = [](const BuiltInPrinter& made) { made.port->VanishOnWrite(2); };
  const std::string name = "sim:boot-ms=0";
  const Handle h = platform::OpenUsbDevice(name);
  ASSERT_NE(h, kInvalidHandle);
  ASSERT_TRUE(Write(h, kSwitchFrame));
  EXPECT_FALSE(Write(h, kStatusFrame));
  EXPECT_EQ(platform::LastError(), platform::kErrorInvalidHandle);
  Bytes buffer(2);
  uint32_t got = 0;
  EXPECT_FALSE(platform::ReadDeviceWait(h, buffer.data(), 2, &got, 100));
  EXPECT_EQ(platform::LastError(), platform::kErrorInvalidHandle);
  ASSERT_TRUE(platform::CloseDevice(h));

  const Handle again = platform::OpenUsbDevice(name);
  ASSERT_NE(again, kInvalidHandle);
  uint8_t status = 0;
  EXPECT_TRUE(platform::QueryDeviceStatus(again, &status));
  ASSERT_TRUE(Write(again, kStatusFrame));  // the printer kept its mode
  EXPECT_EQ(Read(DeviceClass::kUsbPrinter, again, 2), (Bytes{kAck, kStandardModel}));
  EXPECT_EQ(made_[0].port->WriteCallSizes(), (std::vector<uint32_t>{3, 2, 2}));
  EXPECT_TRUE(platform::CloseDevice(again));
}

TEST(BuiltInPrinterCreatedTest, TheEmulatorOnlyCallbackSeesPrintersOfEveryClass) {
  platform::VirtualClock clock;
  platform::ScopedClock scoped(clock);
  std::vector<std::shared_ptr<PrinterEmulator>> printers;
  InstallBuiltInPrinter([&](std::shared_ptr<PrinterEmulator> p) { printers.push_back(p); });
  const Handle parallel = platform::OpenParallelDevice("sim:boot-ms=0");
  const Handle usb = platform::OpenUsbDevice("sim:boot-ms=0,status=41");
  ASSERT_NE(parallel, kInvalidHandle);
  ASSERT_NE(usb, kInvalidHandle);
  ASSERT_EQ(printers.size(), 2u);
  ASSERT_TRUE(Write(usb, Join({kSwitchFrame, kStatusFrame})));
  EXPECT_EQ(Read(DeviceClass::kUsbPrinter, usb, 2), (Bytes{kAck, 0x41}));
  EXPECT_EQ(printers[1]->State(clock.NowMs()), LoaderState::kDownload);
  EXPECT_EQ(printers[0]->State(clock.NowMs()), LoaderState::kNormal);
  EXPECT_TRUE(platform::CloseDevice(parallel));
  EXPECT_TRUE(platform::CloseDevice(usb));
  platform::SetSimulatorFactory(nullptr);
}

}  // namespace
}  // namespace quillon::sim
