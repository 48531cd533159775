// Parallel ports and USB printers on POSIX: not yet wired to ppdev and usblp.
#include "platform/device.h"

namespace quillon::platform {

std::shared_ptr<SerialDevice> OpenOsParallel(const std::string&) {
  SetLastError(kErrorNotSupported);
  return nullptr;
}

std::shared_ptr<SerialDevice> OpenOsUsb(const std::string&) {
  SetLastError(kErrorNotSupported);
  return nullptr;
}

bool FindOsUsbPrinter(std::string&, std::string&) {
  return false;
}

}  // namespace quillon::platform
