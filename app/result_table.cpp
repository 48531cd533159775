#include "app/result_table.h"

#include "engine/result_codes.h"
#include "platform/device.h"
#include "platform/udev_rule.h"

namespace quillon::app {

namespace {

constexpr const char* kUsbText =
    "1.Ensure that the printer is the default printer.\n2.Check that the USB cable is plugged "
    "into the printer and the printer's interface is set to USB!";

struct Row {
  int code;
  const char* text;
};

constexpr Row kRows[] = {
    {1, "Download successfully completed!"},
    {1001, "Cannot erase a sector!"},
    {1002, "Cannot select a sector!"},
    {1003, "Timeout while sending data block!"},
    {1004, "Cannot acknowledge printer!"},
    {1005, "Different CRC detected!"},
    {1006, "Cannot recalculate CRC!"},
    {1007, "Unable to open file!"},
    {1008, "Insufficient memory for data buffer!"},
    {1009, "Communication interface busy!"},
    {1010, "Cannot switch printer to flash download mode!"},
    {1011, "Cannot reset printer!"},
    {1012, "Unrecognized download type set!"},
    {1013, "Illegal COM port set!"},
    {1014, "Illegal parity set!"},
    {1015, "Illegal baud rate set!"},
    {1016, "Illegal stop bit set!"},
    {1017, "Unable to get serial port handle!"},
    {1018, "Unable to set serial port properties!"},
    {1019, "Too few / many command line parameters!"},
    {1020, "Invalid binary data file!"},
    {1021, "/? detected!"},
    {1022, "Unable to update window text!"},
    {1023, "Unable to show progress bar!"},
    {1024, "Data file error!"},
    {1025, "Insufficient memory!"},
    {1026, "Unrecognized product model set!"},
    {1027, "Application was terminated by Cancel button!"},
    {1028, "Unable to get printer actual baud rate!"},
    {1029, "Mismatch between download type and file selected!"},
    {1030, "Unable to get printer model number!"},
    {1033, "Invalid parallel port selection !"},
    {1034, "Unable to set parallel port!"},
    {1035, "Could not set ECP mode!"},
    {1036, "Illegal communication port set!"},
    {1037, "LPT1 is in use. Please check the properties of all installed printers!"},
    {1038, kUsbText},
    {1039, nullptr},  // the platform's text for the last error
    {1040, kUsbText},
    {1041, "Printer is not Standard Model!"},
    {1042, "Error Setting Nibble Mode!"},
    {1043, "Error getting IPL firmware version!"},
    {1044, "Incorrect file selected. Peculiar code not match!"},
};

}  // namespace

std::optional<ResultMessage> LookupResult(int code) {
  for (const Row& row : kRows) {
    if (row.code != code) continue;
    const ResultIcon icon = code == 1 ? ResultIcon::kInformation : ResultIcon::kError;
    return ResultMessage{row.text ? std::string(row.text) : platform::LastErrorText(), icon};
  }
  return std::nullopt;
}

std::string PermissionHint(int code, bool udevRuleMissing) {
  if (code != engine::kSerialHandle && code != engine::kParallelOpen && code != engine::kUsbOpen) {
    return {};
  }
  const std::string group = code == engine::kSerialHandle ? "dialout" : "lp";
  std::string hint =
      "permission denied: this user is not in the group that owns the device (usually " + group +
      "); ask for it with: sudo usermod -aG " + group + " $USER, then log in again";
  if (code == engine::kUsbOpen && udevRuleMissing) {
    hint += std::string("; or install the udev rule ") + platform::kUdevRuleName +
            " (Quillon's package puts it in /usr/lib/udev/rules.d), which gives the desktop "
            "user access to the printer without the group";
  }
  return hint;
}

std::string PermissionHint(int code) {
  return PermissionHint(code, platform::UdevRuleMissing());
}

}  // namespace quillon::app
