#include "platform/port_list.h"

namespace quillon::platform {

// COMn and LPTn name every port Windows has.

std::vector<std::string> PresentSerialDevices(const std::string&) {
  return {};
}

std::vector<std::string> PresentParallelDevices(const std::string&) {
  return {};
}

}  // namespace quillon::platform
