#pragma once
// One download as the user asked for it: the main dialog and the command
// line both describe it this way.

#include <string>

#include "app/model_table.h"
#include "app/validate_settings.h"

namespace quillon::app {

// One download, its settings checked.
struct DownloadRequest {
  Interface interface = Interface::kSerial;
  DownloadType type = DownloadType::kMain;
  // COMn or LPTn, a device path or "sim[:options]". Empty over USB: the
  // printer is found by platform::FindUsbPrinterPath (the command line
  // names it beforehand with platform::SetUsbPrinterPath).
  std::string portName;
  std::string imagePath;
  int firstSector = 0;
  // The serial line for the switch command (the loader is then spoken to
  // at 38400 baud, 8N1); not used on the other interfaces.
  int baudRate = 38400;
  std::string parityText = "NONE";
  int stopBits = 1;
  // The image's SHA-256 as the user gave it (empty: the sidecar's, if any),
  // and whether an image without either is refused.
  std::string sha256;
  bool requireSha256 = false;

  int MainProg() const { return engine::MainProg(type); }
  int IplProg() const { return engine::IplProg(type); }
  bool operator==(const DownloadRequest&) const = default;
};

// The request of settings that passed ValidateSettings. A download type
// whose row names no kind of image is downloaded as fonts are.
DownloadRequest MakeRequest(const ValidatedSettings& settings, std::string imagePath);

}  // namespace quillon::app
