#include "app/download_request.h"

#include <utility>

namespace quillon::app {

DownloadRequest MakeRequest(const ValidatedSettings& settings, std::string imagePath) {
  DownloadRequest request;
  request.interface = settings.interface;
  request.type = engine::TypeOfFlags(settings.mainProg, settings.iplProg);
  if (settings.interface != Interface::kUsb) request.portName = settings.portName;
  request.imagePath = std::move(imagePath);
  request.firstSector = settings.firstSector;
  if (settings.interface == Interface::kSerial) {
    request.baudRate = settings.baudRate;
    request.parityText = settings.parityText;
    request.stopBits = settings.stopBits;
  }
  return request;
}

}  // namespace quillon::app
