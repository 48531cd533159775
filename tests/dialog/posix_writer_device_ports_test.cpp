// The main dialog on Linux: the serial and parallel devices present, offered
// after the numbered ports and used as they stand, and the advice shown with
// a port that would not open for lack of permission.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "engine/result_codes.h"
#include "platform/udev_rule.h"
#include "support/process.h"
#include "support/writer_fixture.h"

namespace quillon::app {
namespace {

namespace fs = std::filesystem;
using namespace platform;  // the message names
using Strings = std::vector<std::string>;

class WriterDevicePorts : public testing::WriterFixture {
 protected:
  bool WaitForEnable(size_t n) {
    return backend.WaitFor([&] {
      size_t seen = 0;
      for (const auto& m : UserMessages()) seen += m.message == WM_ENABLE_CONTROLS;
      return seen >= n;
    });
  }
  // A device in the test's device folder: an empty file, or a link to `to`.
  std::string MakeDevice(const std::string& name, const std::string& to = "") {
    const fs::path path = Devices() / name;
    if (to.empty()) {
      std::ofstream(path) << "";
    } else {
      fs::create_symlink(to, path);
    }
    return path.string();
  }
  static Strings Numbered(const std::string& prefix, int last, const Strings& after) {
    Strings items;
    for (int n = 1; n <= last; ++n) items.push_back(prefix + std::to_string(n));
    items.insert(items.end(), after.begin(), after.end());
    return items;
  }
};

TEST_F(WriterDevicePorts, ThePortListsOfferTheDevicesPresentAfterTheNumberedPorts) {
  Start();
  for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyS3", "parport1", "foo"}) {
    MakeDevice(name);
  }
  const std::string dev = Devices().string() + "/";
  ASSERT_TRUE(backend.Click(main, IDC_SERIAL));
  EXPECT_EQ(Control(IDC_PORT_LIST).items,
            Numbered("COM", 20, {dev + "ttyUSB2", dev + "ttyUSB10", dev + "ttyACM0"}));
  EXPECT_EQ(Control(IDC_PORT_LIST).selection, ui::kListNone);
  ASSERT_TRUE(backend.Click(main, IDC_PARALLEL));
  EXPECT_EQ(Control(IDC_PORT_LIST).items, Numbered("LPT", 10, {dev + "parport1"}));

  // The devices are looked for again at each choice of the interface.
  MakeDevice("ttyUSB0");
  fs::remove(Devices() / "ttyUSB10");
  ASSERT_TRUE(backend.Click(main, IDC_SERIAL));
  EXPECT_EQ(Control(IDC_PORT_LIST).items,
            Numbered("COM", 20, {dev + "ttyUSB0", dev + "ttyUSB2", dev + "ttyACM0"}));
  ASSERT_TRUE(backend.Click(main, IDC_EXIT));
  ExitCode();
}

// A device chosen in the list passes the check as it stands (a path longer
// than nine characters, in lower case) and is the port the download opens:
// a serial line into the printer emulator on its pseudo-terminal, and
// devices that are present but not what their interface needs.
TEST_F(WriterDevicePorts, AListedDeviceIsThePortTheDownloadOpens) {
  const fs::path flash = dir / "flash.bin";
  testing::SimProcess sim;
  const std::string pty = sim.Start({"--boot-ms", "0", "--flash-out", flash.string()});
  ASSERT_FALSE(pty.empty());
  const std::string line = MakeDevice("ttyUSB0", pty);
  const std::string notAPort = MakeDevice("parport0");
  const std::string gone = MakeDevice("ttyACM7");
  const auto image = testing::ImagePattern(65536);
  Start();

  struct Case {
    int radio;
    std::string device;
    bool removeBeforeFlashing;
    int code;
    std::string text;
  };
  const Case cases[] = {
      {IDC_SERIAL, line, false, engine::kSuccess, "Download successfully completed!"},
      {IDC_PARALLEL, notAPort, false, engine::kParallelOpen, "Unable to set parallel port!"},
      {IDC_SERIAL, gone, true, engine::kSerialHandle, "Unable to get serial port handle!"},
  };
  size_t shown = 0;
  for (const Case& c : cases) {
    ASSERT_TRUE(backend.Click(main, c.radio));
    ASSERT_TRUE(backend.SelectListItem(main, IDC_PORT_LIST, c.device)) << c.device;
    ChooseFile("US&EU FONT", WriteImage("fonts.bin", image));
    if (c.removeBeforeFlashing) fs::remove(c.device);
    ASSERT_TRUE(backend.Click(main, IDC_FLASH_NOW));
    ASSERT_TRUE(WaitForEnable(++shown)) << c.device;
    ASSERT_EQ(BoxTexts().size(), shown) << c.device;
    EXPECT_EQ(BoxTexts().back(), c.text) << c.device;
    EXPECT_EQ(OnDialog([](CWriterDlg& d) { return d.GetLastResult(); }), c.code) << c.device;
    EXPECT_EQ(OnDialog([](CWriterDlg& d) { return d.request.portName; }), c.device);
    // The validated port keeps its text, and selecting it again finds its
    // own entry.
    EXPECT_EQ(OnDialog([](CWriterDlg& d) {
                d.ListSetSelection(IDC_PORT_LIST, 0);
                d.ListSelectText(IDC_PORT_LIST, d.portName);
                return d.ControlText(IDC_PORT_LIST);
              }),
              c.device);
  }
  ASSERT_TRUE(backend.Click(main, IDC_EXIT));
  ExitCode();

  // The image went into sector 18 of the emulator behind the line.
  ASSERT_EQ(sim.Stop(), 0);
  std::ifstream in(flash, std::ios::binary);
  const std::vector<char> dump{std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>()};
  const size_t sector18 = 0x10000 * 14;  // sectors 1-4 fill the first 64 KiB
  ASSERT_GE(dump.size(), sector18 + image.size());
  EXPECT_TRUE(std::equal(image.begin(), image.end(), dump.begin() + sector18,
                         [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); }));
}

// A port that refuses to open for lack of permission: the result's message
// gets the advice after a blank line, with the group of the interface's
// devices (and over USB, where the udev rule is not installed, the rule).
// Another reason for the refusal gets no advice. The result code stays the
// open's.
TEST_F(WriterDevicePorts, APortRefusedForLackOfPermissionSaysWhichGroupToJoin) {
  auto refusal = std::make_shared<std::atomic<int>>(kErrorSuccess);
  SetSimulatorFactory([refusal](const std::string&, DeviceClass) -> std::shared_ptr<SerialDevice> {
    SetLastError(refusal->load());
    return nullptr;
  });
  MapPrinterPorts();
  Start();

  const std::string usb =
      "1.Ensure that the printer is the default printer.\n2.Check that the USB cable is plugged "
      "into the printer and the printer's interface is set to USB!";
  const auto advice = [](const std::string& group) {
    return "\n\npermission denied: this user is not in the group that owns the device (usually " +
           group + "); ask for it with: sudo usermod -aG " + group + " $USER, then log in again";
  };
  // Over USB, on a machine without the udev rule, the rule as the other way.
  const std::string rule =
      UdevRuleMissing() ? "; or install the udev rule 70-quillon.rules (Quillon's package puts it "
                          "in /usr/lib/udev/rules.d), which gives the desktop user access to the "
                          "printer without the group"
                        : "";
  struct Case {
    int radio;
    const char* port;  // in the list; none for USB
    int error;
    int code;
    std::string text;
  };
  const Case cases[] = {
      {IDC_SERIAL, "COM1", kErrorAccessDenied, engine::kSerialHandle,
       "Unable to get serial port handle!" + advice("dialout")},
      {IDC_PARALLEL, "LPT1", kErrorAccessDenied, engine::kParallelOpen,
       "Unable to set parallel port!" + advice("lp")},
      {IDC_USB, nullptr, kErrorAccessDenied, engine::kUsbOpen, usb + advice("lp") + rule},
      {IDC_SERIAL, "COM1", kErrorFileNotFound, engine::kSerialHandle,
       "Unable to get serial port handle!"},
      {IDC_PARALLEL, "LPT1", kErrorFileNotFound, engine::kParallelOpen,
       "Unable to set parallel port!"},
      {IDC_USB, nullptr, kErrorFileNotFound, engine::kUsbOpen, usb},
      {IDC_SERIAL, "COM1", kErrorSharingViolation, engine::kSerialHandle,
       "Unable to get serial port handle!"},
  };
  const std::string image = WriteImage("fonts.bin", testing::ImagePattern(100));
  size_t shown = 0;
  for (const Case& c : cases) {
    refusal->store(c.error);
    ASSERT_TRUE(backend.Click(main, c.radio));
    if (c.port) {
      ASSERT_TRUE(backend.SelectListItem(main, IDC_PORT_LIST, std::string(c.port)));
    }
    ChooseFile("US&EU FONT", image);
    ASSERT_TRUE(backend.Click(main, IDC_FLASH_NOW));
    ASSERT_TRUE(WaitForEnable(++shown)) << c.code << " " << c.error;
    const auto boxes = backend.MessageBoxes();
    ASSERT_EQ(boxes.size(), shown);
    EXPECT_EQ(boxes.back().text, c.text) << c.code << " " << c.error;
    EXPECT_EQ(boxes.back().flags, ui::kMbIconError);
    EXPECT_EQ(OnDialog([](CWriterDlg& d) { return d.GetLastResult(); }), c.code);
  }
  ASSERT_TRUE(backend.Click(main, IDC_EXIT));
  EXPECT_EQ(ExitCode(), engine::kSerialHandle);  // the last result shown
}

}  // namespace
}  // namespace quillon::app
