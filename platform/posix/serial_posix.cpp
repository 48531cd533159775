#include "platform/device.h"

namespace quillon::platform {

std::shared_ptr<SerialDevice> OpenOsSerial(const std::string&) {
  SetLastError(kErrorNotSupported);
  return nullptr;
}

}  // namespace quillon::platform
