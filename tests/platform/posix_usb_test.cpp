// The usblp USB printer backend: the search among the nodes udev gives, and
// the device calls against scripted system calls on the virtual clock.

#include <errno.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/device.h"
#include "platform/posix/printer_posix.h"
#include "posix_fake_printer_os.h"
#include "support/virtual_clock.h"

#if __has_include(<linux/lp.h>)
#include <linux/lp.h>
static_assert(quillon::platform::posix::kLpGetStatus == LPGETSTATUS);
#endif
static_assert(quillon::platform::posix::UsbDeviceIdRequest(1024) == 0x84005001);

namespace quillon::platform {
namespace {

using testing::FakePrinterOs;
using Strings = std::vector<std::string>;

const std::string kNode = "/dev/usb/lp0";

// ---------------------------------------------------------------------------
// Errors

TEST(UsbErrors, AGoneDeviceAndAClosedDescriptorAreInvalidHandles) {
  // The port layer opens the printer again when a write fails like this.
  SetLastErrorFromErrno(ENODEV);
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
  EXPECT_EQ(LastErrorText(), std::strerror(ENODEV));
  SetLastErrorFromErrno(EBADF);
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
  EXPECT_EQ(LastErrorText(), std::strerror(EBADF));
  // A node without a device stays "not found".
  SetLastErrorFromErrno(ENXIO);
  EXPECT_EQ(LastError(), kErrorFileNotFound);
}

// ---------------------------------------------------------------------------
// The search

// The usbmisc nodes as udev gives them: the node's name, the USB device's
// bus position and its id texts as sysfs writes them ("0f1d").
class FakeNodes {
 public:
  std::string Node(const std::string& name) const { return "/dev/usb/" + name; }
  void Add(const std::string& name, const std::string& port, const std::string& vendor,
           const std::string& product) {
    posix::NodeInfo node;
    node.sysname = name;
    node.devnode = Node(name);
    node.vendorId = vendor;
    node.productId = product;
    node.busPath = port;
    nodes.insert(nodes.begin(), node);  // udev's order is not the search's
  }
  std::vector<posix::NodeInfo> nodes;
};

class UsbSearch : public ::testing::Test {
 protected:
  bool Find() { return posix::FindUsbPrinterAmong(tree_.nodes, path_, key_); }
  std::string Open(const std::string& name) const {
    return "open " + tree_.Node(name) + " rw|nonblock|cloexec";
  }

  FakeNodes tree_;
  FakePrinterOs os_;
  posix::ScopedPrinterOs osScope_{os_};
  std::string path_ = "unchanged path";
  std::string key_ = "unchanged key";
};

TEST_F(UsbSearch, TheFirstDeviceOfTheFirstIdThatOpensIsTaken) {
  tree_.Add("lp0", "1-1", "2a9c", "2207");  // the third id: looked for last
  tree_.Add("lp1", "1-2", "0f1d", "a02b");  // in use by another program
  tree_.Add("lp10", "1-3", "0F1D", "A02B");
  tree_.Add("lp2", "1-4", "0f1d", "a02b");
  os_.openErrors[tree_.Node("lp1")] = EBUSY;

  ASSERT_TRUE(Find());
  EXPECT_EQ(path_, tree_.Node("lp2"));
  EXPECT_EQ(key_, "lp2");
  // lp2 comes before lp10; the probe closes what it opened.
  EXPECT_EQ(os_.log, (Strings{Open("lp1"), Open("lp2"), "close 7"}));

  // With lp1 free it is the first in order.
  os_.openErrors.clear();
  os_.log.clear();
  ASSERT_TRUE(Find());
  EXPECT_EQ(key_, "lp1");
  EXPECT_EQ(path_, tree_.Node("lp1"));
  EXPECT_EQ(os_.log, (Strings{Open("lp1"), "close 8"}));
}

TEST_F(UsbSearch, ADeviceOfTheThirdIdIsFoundWhenTheOthersGiveNothing) {
  tree_.Add("hiddev0", "1-1", "0f1d", "a02b");  // not a printer node
  tree_.Add("lp0", "1-2", "0e4b", "2207");      // the second id, but it will not open
  tree_.Add("lp1", "1-3", "04b8", "0005");      // another maker's printer
  tree_.Add("lp2", "1-4", "2A9C", "2207");
  os_.openErrors[tree_.Node("lp0")] = ENODEV;

  ASSERT_TRUE(Find());
  EXPECT_EQ(path_, tree_.Node("lp2"));
  EXPECT_EQ(key_, "lp2");
  EXPECT_EQ(os_.log, (Strings{Open("lp0"), Open("lp2"), "close 7"}));
}

TEST_F(UsbSearch, NothingToOpenLeavesTheOutputsAsTheyWere) {
  // An empty tree.
  EXPECT_FALSE(Find());

  // A matching hiddev entry, another maker's printer, a printer whose device
  // has gone.
  tree_.Add("hiddev0", "1-1", "0f1d", "a02b");
  tree_.Add("lp0", "1-2", "04b8", "0005");
  tree_.Add("lp1", "1-3", "0e4b", "2207");
  os_.openErrors[tree_.Node("lp1")] = ENODEV;
  EXPECT_FALSE(Find());
  EXPECT_EQ(path_, "unchanged path");
  EXPECT_EQ(key_, "unchanged key");
  EXPECT_EQ(os_.log, Strings{Open("lp1")});
}

TEST_F(UsbSearch, APrinterThatRefusesIsGivenWhenNoneOpensSoThatItsOpenSaysWhy) {
  tree_.Add("lp0", "1-1", "0e4b", "2207");  // the second id, held by another program
  tree_.Add("lp1", "1-2", "0f1d", "a02b");  // the first id, not for this user
  tree_.Add("lp2", "1-3", "2a9c", "2207");  // the third id, gone
  os_.openErrors[tree_.Node("lp0")] = EBUSY;
  os_.openErrors[tree_.Node("lp1")] = EACCES;
  os_.openErrors[tree_.Node("lp2")] = ENODEV;
  ASSERT_TRUE(Find());
  EXPECT_EQ(path_, tree_.Node("lp1"));
  EXPECT_EQ(key_, "lp1");

  // One that opens still wins over every refusal.
  os_.openErrors.erase(tree_.Node("lp2"));
  ASSERT_TRUE(Find());
  EXPECT_EQ(key_, "lp2");
}

// ---------------------------------------------------------------------------
// The device

class UsbPrinter : public ::testing::Test {
 protected:
  void OpenPrinter() {
    device_ = OpenOsUsb(kNode);
    ASSERT_NE(device_, nullptr) << LastErrorText();
    os_.log.clear();
  }

  static std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> data(n);
    for (size_t i = 0; i < n; ++i) data[i] = static_cast<uint8_t>(i * 13 + i / 256);
    return data;
  }

  VirtualClock clock_;
  ScopedClock clockScope_{clock_};
  FakePrinterOs os_{&clock_};
  posix::ScopedPrinterOs osScope_{os_};
  std::shared_ptr<SerialDevice> device_;
};

TEST_F(UsbPrinter, OpensTheNodeNonBlockingAndClosesIt) {
  const Handle h = OpenUsbDevice(kNode);
  ASSERT_NE(h, kInvalidHandle) << LastErrorText();
  EXPECT_TRUE(CloseDevice(h));
  EXPECT_EQ(os_.log, (Strings{"open /dev/usb/lp0 rw|nonblock|cloexec", "close 7"}));

  os_.openErrors[kNode] = EBUSY;
  EXPECT_EQ(OpenUsbDevice(kNode), kInvalidHandle);
  EXPECT_EQ(LastError(), kErrorSharingViolation);
  os_.openErrors[kNode] = EACCES;
  EXPECT_EQ(OpenUsbDevice(kNode), kInvalidHandle);
  EXPECT_EQ(LastError(), kErrorAccessDenied);
}

TEST_F(UsbPrinter, TheDeviceIdIsAsLongAsItSaysAndNoLongerThanTheCallerTakes) {
  OpenPrinter();
  const std::string text = "MFG:Quillon;CMD:ESC;";
  os_.deviceId = {0x00, static_cast<uint8_t>(text.size() + 2)};
  os_.deviceId.insert(os_.deviceId.end(), text.begin(), text.end());
  os_.deviceId.resize(64, 0xEE);  // whatever follows does not belong to it

  uint8_t id[100];
  std::memset(id, 0xAA, sizeof id);
  uint32_t got = 0;
  ASSERT_TRUE(device_->QueryDeviceId(id, sizeof id, got)) << LastErrorText();
  ASSERT_EQ(got, text.size() + 2);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(id) + 2, text.size()), text);
  EXPECT_EQ(id[got], 0xAA);

  ASSERT_TRUE(device_->QueryDeviceId(id, 8, got));
  EXPECT_EQ(got, 8u);
  EXPECT_EQ(os_.log, Strings(2, "ioctl 7 device-id"));

  os_.ioctlErrors[posix::UsbDeviceIdRequest(posix::kUsbDeviceIdMax)] = ENODEV;
  EXPECT_FALSE(device_->QueryDeviceId(id, sizeof id, got));
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
}

TEST_F(UsbPrinter, TheStatusIsTheDriversStatusByte) {
  OpenPrinter();
  os_.status = 0x18;  // selected, no error
  uint8_t status = 0;
  ASSERT_TRUE(device_->QueryStatus(status)) << LastErrorText();
  EXPECT_EQ(status, 0x18);
  EXPECT_EQ(os_.log, Strings{"ioctl 7 status"});

  os_.ioctlErrors[posix::kLpGetStatus] = ENODEV;
  EXPECT_FALSE(device_->QueryStatus(status));
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
}

TEST_F(UsbPrinter, WritesGoOutInPiecesOfAtMost4096Bytes) {
  OpenPrinter();
  const std::vector<uint8_t> data = Pattern(10000);
  uint32_t written = 0;
  ASSERT_TRUE(device_->Write(data.data(), 10000, written)) << LastErrorText();
  EXPECT_EQ(written, 10000u);
  EXPECT_EQ(os_.sent, data);
  EXPECT_EQ(os_.log, (Strings{"write 7 4096", "write 7 4096", "write 7 1808"}));
}

TEST_F(UsbPrinter, AWriteTheDriverCannotTakeYetWaitsForItAndGoesOn) {
  OpenPrinter();
  const std::vector<uint8_t> data = Pattern(5000);
  os_.writes = {{4096}, {SIZE_MAX, EAGAIN}, {100}, {SIZE_MAX, EAGAIN}};
  os_.polls = {{}, {FakePrinterOs::PollAnswer::kTimeout}};
  clock_.Advance(250);  // the busy wait ends on the deadline, 10 s from the start
  uint32_t written = 0;
  ASSERT_TRUE(device_->Write(data.data(), 5000, written)) << LastErrorText();
  EXPECT_EQ(os_.log, (Strings{"write 7 4096", "write 7 904", "poll 7 out 10000", "write 7 904",
                              "write 7 804", "poll 7 out 10000"}));
  // The second wait ran out: what went out is reported, as a time-out.
  EXPECT_EQ(written, 4196u);
  EXPECT_EQ(os_.sent, std::vector<uint8_t>(data.begin(), data.begin() + 4196));
  EXPECT_EQ(clock_.NowMs(), 10'250);
}

TEST_F(UsbPrinter, AnUnpluggedPrinterFailsTheWriteWithAnInvalidHandle) {
  OpenPrinter();
  const std::vector<uint8_t> data = Pattern(10000);
  os_.writes = {{}, {SIZE_MAX, ENODEV}};
  uint32_t written = 0;
  EXPECT_FALSE(device_->Write(data.data(), 10000, written));
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
  EXPECT_EQ(written, 4096u);
  EXPECT_EQ(os_.log, (Strings{"write 7 4096", "write 7 4096"}));
}

TEST_F(UsbPrinter, AWaitingReadPollsForItsTimeThenReads) {
  OpenPrinter();
  uint8_t data[16] = {};
  uint32_t got = 99;

  // Nothing comes in time.
  os_.polls = {{FakePrinterOs::PollAnswer::kTimeout}};
  ASSERT_TRUE(device_->ReadWait(data, sizeof data, got, 1500)) << LastErrorText();
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(clock_.NowMs(), 1500);
  EXPECT_EQ(os_.log, Strings{"poll 7 in 1500"});

  // The answer is there.
  os_.log.clear();
  os_.reads = {{{0x06, 0x23, 0x00}}};
  ASSERT_TRUE(device_->ReadWait(data, sizeof data, got, 3000));
  ASSERT_EQ(got, 3u);
  EXPECT_EQ(data[0], 0x06);
  EXPECT_EQ(data[1], 0x23);
  EXPECT_EQ(os_.log, (Strings{"poll 7 in 3000", "read 7 16"}));

  // Ready, but another reader took it: nothing, not a failure.
  os_.log.clear();
  ASSERT_TRUE(device_->ReadWait(data, sizeof data, got, 100));
  EXPECT_EQ(got, 0u);

  // Unplugged.
  os_.reads = {{{}, ENODEV}};
  os_.polls = {{FakePrinterOs::PollAnswer::kReady, POLLERR}};
  EXPECT_FALSE(device_->ReadWait(data, sizeof data, got, 100));
  EXPECT_EQ(LastError(), kErrorInvalidHandle);

  // A plain read takes only what is there.
  os_.log.clear();
  os_.polls = {{FakePrinterOs::PollAnswer::kTimeout}};
  ASSERT_TRUE(device_->Read(data, sizeof data, got));
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(os_.log, Strings{"poll 7 in 0"});
}

TEST_F(UsbPrinter, HasNoNegotiationAndNoLineSettings) {
  OpenPrinter();
  NegotiationMask granted;
  EXPECT_FALSE(device_->Negotiate({kModeNibble, kModeCompatibility}, granted));
  EXPECT_EQ(LastError(), kErrorInvalidFunction);
  Dcb dcb;
  EXPECT_FALSE(device_->GetState(dcb));
  EXPECT_EQ(LastError(), kErrorInvalidFunction);
  EXPECT_EQ(os_.log, Strings{});
}

}  // namespace
}  // namespace quillon::platform
