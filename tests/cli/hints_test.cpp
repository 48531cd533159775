// What quillon-flash says after the result: why an image was refused, what
// an IPL image held, and what state the printer may be in.

#include "cli/hints.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/result_table.h"
#include "engine/result_codes.h"
#include "sim/temp_dir.h"

namespace quillon::cli {
namespace {

using engine::Reached;
using Lines = std::vector<std::string>;

using engine::DownloadType;
constexpr DownloadType kMain = DownloadType::kMain;
constexpr DownloadType kIpl = DownloadType::kIpl;
constexpr DownloadType kFont = DownloadType::kFont;

class HintsTest : public ::testing::Test {
 protected:
  // A file of `size` bytes (sparse: nothing is written).
  std::string File(const std::string& name, uintmax_t size) {
    const std::string path = dir_.File(name);
    sim::testing::WriteFileBytes(path, {});
    std::filesystem::resize_file(path, size);
    return path;
  }
  std::string Folder(const std::string& name) {
    const std::string path = dir_.File(name);
    std::filesystem::create_directory(path);
    return path;
  }
  sim::testing::TempDir dir_;
};

TEST_F(HintsTest, AnImageProblemIsNamed) {
  struct Case {
    std::string image;
    DownloadType kind;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {dir_.File("missing.mfw"), kMain, "no such file"},
      {Folder("folder.bin"), kFont, "not a regular file"},
      {File("empty.mfw", 0), kMain, "the file is empty"},
      {File("fonts.bin", 10), kMain,
       "its name does not end in .mfw, as a main firmware image's must"},
      {File("boot.mfw", 10), kIpl,
       "its name does not end in .ipl, as an IPL firmware image's must"},
      {File("noname", 10), kFont, "its name does not end in .bin, as a font image's must"},
      {File("long.binxy", 10), kFont, "its name does not end in .bin, as a font image's must"},
      {File("four.BIN1", 10), kFont, ""},
      // Sectors 6 to 70 hold 65 x 64 KiB; an IPL image is laid out from
      // address 0 and must end before the main firmware's sector 6.
      {File("fits.mfw", 4259840), kMain, ""},
      {File("big.mfw", 4259841), kMain,
       "too large: 4259841 bytes, and at most 4259840 fit from sector 6 on"},
      {File("fits.ipl", 131072), kIpl, ""},
      {File("big.ipl", 131073), kIpl,
       "too large: 131073 bytes, and at most 131072 fit from sector 4 on"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ImageProblem(c.image, c.kind), c.reason) << c.image;
  }
}

TEST_F(HintsTest, AfterTheResult) {
  const std::string fonts = File("fonts.bin", 70000);
  const std::string smallIpl = File("small.ipl", 0x8000);
  const std::string ipl = File("boot.ipl", 0x8001);
  const std::string device = "/dev/ttyS0";
  const std::string loader =
      "quillon-flash: the printer may still be in its flash loader: switch it off and on, then "
      "flash again";
  const std::string erased =
      "quillon-flash: the printer may still be in its flash loader and its first sector is "
      "erased: switch it off and on, then flash again";
  const std::string mayBeErased =
      "quillon-flash: the printer may still be in its flash loader and its first sector may be "
      "erased: switch it off and on, then flash again";
  const std::string silent =
      "quillon-flash: nothing answered on /dev/ttyS0: check the cable, the printer's power and "
      "the port";
  const std::string nothingWritten =
      "quillon-flash: " + smallIpl +
      " has nothing past its first 32 KiB, the only part of an IPL image that is written: "
      "nothing was written";
  const std::string ecp =
      "quillon-flash: /dev/ttyS0 could not be set to IEEE 1284 ECP mode: check that the printer "
      "is on and set to its parallel interface, that the cable is an IEEE 1284 one, and that the "
      "port is set to ECP in the computer's firmware setup";
  const std::string portGone =
      "quillon-flash: /dev/ttyS0 no longer exists: the printer left the USB bus and has not come "
      "back under that name; without --port quillon-flash finds it by its USB ids";
  const std::string printerGone =
      "quillon-flash: the USB printer is no longer on the bus: check its cable and that it is "
      "switched on";
  struct Case {
    std::string image;
    std::optional<DownloadType> kind;
    int code;
    Reached reached;
    bool answered;
    Lines hints;
    bool portGone = false;  // over USB, after the download
    bool printerGone = false;
  };
  const std::vector<Case> cases = {
      {fonts, kFont, engine::kSuccess, Reached::kCompleted, true, {}},
      {fonts, kFont, engine::kCannotSwitch, Reached::kNothing, false, {}},
      {fonts, kFont, engine::kCancelled, Reached::kNothing, false, {}},
      {fonts, kFont, engine::kIllegalComPort, Reached::kNothing, false, {}},
      {fonts, kFont, engine::kCannotErase, Reached::kLoader, true, {loader}},
      {fonts, kFont, engine::kCannotSelect, Reached::kFirstSectorErased, true, {erased}},
      {fonts, kFont, engine::kCannotErase, Reached::kChangingFlash, true, {mayBeErased}},
      {ipl, kIpl, engine::kCannotErase, Reached::kChangingFlash, true, {loader}},
      {ipl, kIpl, engine::kInterfaceBusy, Reached::kChangingFlash, true, {loader}},
      {fonts, kFont, engine::kCancelled, Reached::kFirstSectorErased, true, {erased}},
      {fonts, kFont, engine::kDifferentCrc, Reached::kAllBlocksSent, true, {loader}},
      {fonts, kFont, engine::kCannotReset, Reached::kAllBlocksSent, true, {loader}},
      {fonts, kFont, engine::kSerialHandle, Reached::kLoader, false, {loader}},
      {fonts, kFont, engine::kInterfaceBusy, Reached::kLoader, true, {loader}},
      {fonts, kFont, engine::kInterfaceBusy, Reached::kLoader, false, {silent}},
      {fonts, kFont, engine::kNotStandardModel, Reached::kLoader, true, {loader}},
      {dir_.File("gone.bin"),
       kFont,
       engine::kUnableToOpenFile,
       Reached::kNothing,
       false,
       {"quillon-flash: " + dir_.File("gone.bin") + ": no such file"}},
      {dir_.File("gone.bin"),
       std::nullopt,
       engine::kUnableToOpenFile,
       Reached::kNothing,
       false,
       {}},
      {fonts,
       kMain,
       engine::kInvalidImage,
       Reached::kNothing,
       false,
       {"quillon-flash: " + fonts +
        ": its name does not end in .mfw, as a main firmware image's must"}},
      {smallIpl, kIpl, engine::kSuccess, Reached::kCompleted, true, {nothingWritten}},
      {smallIpl, kIpl, engine::kCannotReset, Reached::kLoader, true, {nothingWritten, loader}},
      {smallIpl, kIpl, engine::kIllegalBaud, Reached::kNothing, false, {}},
      {ipl, kIpl, engine::kSuccess, Reached::kCompleted, true, {}},
      {fonts, kFont, engine::kEcpMode, Reached::kNothing, false, {ecp}},
      {fonts, kFont, engine::kUsbOpen, Reached::kLoader, true, {portGone, loader}, true},
      {fonts,
       kFont,
       engine::kDataBlockTimeout,
       Reached::kLoader,
       true,
       {printerGone, loader},
       false,
       true},
      {fonts, kFont, engine::kSuccess, Reached::kCompleted, true, {}, true, true},
  };
  for (const Case& c : cases) {
    const Lines hints = Hints(
        c.image, c.kind, {c.code, c.reached, c.answered, device, c.portGone, c.printerGone, {}});
    EXPECT_EQ(hints, c.hints) << c.image << " " << c.code << " " << static_cast<int>(c.reached);
  }
}

// The advice after "cannot open DEVICE:" when the port refused for lack of
// permission: the group to join, and for the USB printer, while the udev
// rule is not installed, that rule as the other way.
TEST(PermissionHint, NamesTheGroupAndForUsbTheMissingUdevRule) {
  const auto join = [](const std::string& group) {
    return "permission denied: this user is not in the group that owns the device (usually " +
           group + "); ask for it with: sudo usermod -aG " + group + " $USER, then log in again";
  };
  const std::string rule =
      "; or install the udev rule 70-quillon.rules (Quillon's package puts it in "
      "/usr/lib/udev/rules.d), which gives the desktop user access to the printer without the "
      "group";
  struct Case {
    int code;
    bool ruleMissing;
    std::string hint;
  };
  const Case cases[] = {
      {engine::kSerialHandle, false, join("dialout")},
      {engine::kSerialHandle, true, join("dialout")},
      {engine::kParallelOpen, false, join("lp")},
      {engine::kParallelOpen, true, join("lp")},
      {engine::kUsbOpen, false, join("lp")},
      {engine::kUsbOpen, true, join("lp") + rule},
      {engine::kUsbStatus, true, ""},
      {engine::kInterfaceBusy, true, ""},
      {engine::kSuccess, true, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(app::PermissionHint(c.code, c.ruleMissing), c.hint) << c.code << " " << c.ruleMissing;
  }
}

}  // namespace
}  // namespace quillon::cli
