#include "platform/device.h"

namespace quillon::platform {

// The Win32 serial backend comes with the Windows program; until then an OS
// device cannot be opened on Windows (the built-in emulator still can).
std::shared_ptr<SerialDevice> OpenOsSerial(const std::string&) {
  SetLastError(kErrorNotSupported);
  return nullptr;
}

}  // namespace quillon::platform
