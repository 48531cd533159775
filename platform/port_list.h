#pragma once
// The serial and parallel devices present on the machine besides the
// numbered ports (COMn, LPTn), which the port list offers after those.

#include <string>
#include <vector>

namespace quillon::platform {

// Where the devices are looked for: the device folder on Linux. On Windows,
// where COMn and LPTn name every port, nothing is listed.
#ifdef _WIN32
inline constexpr const char* kDeviceFolder = "";
#else
inline constexpr const char* kDeviceFolder = "/dev";
#endif

// The USB serial adapters (ttyUSB<n>), then the modem-class serial devices
// (ttyACM<n>) found in `folder`, each kind in the order of its numbers, as
// paths. Empty on Windows.
std::vector<std::string> PresentSerialDevices(const std::string& folder = kDeviceFolder);
// The parallel ports (parport<n>) found in `folder`, in the order of their
// numbers, as paths. Empty on Windows.
std::vector<std::string> PresentParallelDevices(const std::string& folder = kDeviceFolder);

}  // namespace quillon::platform
