#include "app/validate_settings.h"

#include <cstdlib>

#include "engine/result_codes.h"
#include "platform/text.h"

namespace quillon::app {

namespace {

// A list's text as the dialog reads it: at most 9 characters, upper case.
std::string ListText(const std::string& text) {
  return platform::ToUpper(text.substr(0, 9));
}

bool IsNumberedName(const std::string& text, const char* prefix, int last) {
  for (int n = 1; n <= last; ++n) {
    if (text == prefix + std::to_string(n)) return true;
  }
  return false;
}

}  // namespace

int ValidateSettings(const DialogSettings& in, const ModelTable& table, ValidatedSettings& out) {
  out.mainProg = out.iplProg = out.fontProg = 0;
  out.interface = in.interface;

  // The port: COM1..COM20 or LPT1..LPT10, or a device path as it stands.
  // USB needs none.
  if (in.interface != Interface::kUsb) {
    const bool serial = in.interface == Interface::kSerial;
    const std::string port = ListText(in.portText);
    if (in.portIsDevice && !in.portText.empty()) {
      out.portName = in.portText;
    } else if (IsNumberedName(port, serial ? "COM" : "LPT", serial ? 20 : 10)) {
      out.portName = port;
    } else {
      return serial ? engine::kIllegalComPort : engine::kIllegalParallelPort;
    }
  }

  const auto row = table.FindRow(in.typeText);
  if (!row) return engine::kUnknownDownloadType;
  out.firstSector = std::atoi(row->first.c_str());
  // A letter that names no type sets no flag, and any extension does.
  const std::optional<DownloadType> type = engine::TypeOfLetter(row->letter);
  if (type == DownloadType::kMain) out.mainProg = 1;
  if (type == DownloadType::kIpl) out.iplProg = 1;
  if (type == DownloadType::kFont) out.fontProg = 1;

  const std::optional<std::string> extension = engine::ExtensionOf(in.fileText);
  if (!extension) return engine::kInvalidImage;
  if (type && *extension != engine::RowOf(*type).extension) return engine::kInvalidImage;

  if (out.interface == Interface::kSerial) {
    const std::string parity = ListText(in.parityText);
    if (parity != "NONE" && parity != "ODD" && parity != "EVEN") return engine::kIllegalParity;
    out.parityText = parity;
    const std::string baud = in.baudText;
    bool known = false;
    for (const char* rate : {"115200", "57600", "38400", "19200", "9600", "4800", "2400", "1200"}) {
      known = known || baud == rate;
    }
    if (!known) return engine::kIllegalBaud;
    out.baudRate = std::atoi(baud.c_str());
    if (in.stopBitsText != "1" && in.stopBitsText != "2") return engine::kIllegalStopBits;
    out.stopBits = std::atoi(in.stopBitsText.c_str());
  }
  return engine::kSuccess;
}

}  // namespace quillon::app
