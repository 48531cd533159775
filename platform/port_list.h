#pragma once
// The ports present on the machine: the serial and parallel devices the
// dialog's port list offers after the numbered ports (COMn, LPTn), and the
// whole list quillon-flash --list shows.

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

// One port present, as --list shows it.
struct PortEntry {
  enum class Kind { kSerial, kParallel, kUsb };
  Kind kind = Kind::kSerial;
  std::string name;     // COMn or LPTn when the port has such a name
  std::string path;     // the device ("sim[:options]" for the built-in printer)
  std::string namedBy;  // the environment variable that names it (QUILLON_COM3)
  // The USB device behind it (a USB printer, a USB serial adapter), when known.
  std::string vendorId, productId;  // four hexadecimal digits each
  std::string vendor, product, serial;
  std::string deviceId;  // a USB printer's IEEE 1284 device ID
  std::string busPath;   // where it is: "1-1.2" (Linux), the device instance (Windows)
  int error = 0;         // 0: it may be opened; else the platform error that forbids it
  bool operator==(const PortEntry&) const = default;
};

// The ports the system has: serial ports, parallel ports, then the USB
// printers with one of the printer's ids (kPrinterUsbIds), each kind in the
// order of its numbers, without looking at the environment. On Linux udev
// tells them (the same list of USB printers the download's search takes);
// on Windows the registry (SERIALCOMM, the USB printers' device instances)
// and the DOS device names (LPTn).
std::vector<PortEntry> ListOsPorts();
// The OS list with the environment applied: a port that QUILLON_COMn,
// QUILLON_LPTn or QUILLON_USB names is given that name and marked as named
// by it, or added when the system does not list it (the built-in printer,
// a pseudo-terminal).
std::vector<PortEntry> ListPorts();
// Windows refuses a port that another program holds with "access denied".
#ifdef _WIN32
inline constexpr bool kDeniedWhenInUse = true;
#else
inline constexpr bool kDeniedWhenInUse = false;
#endif

// Whether the calling user may open the device at `path` without opening it
// (Linux: its permissions; Windows: a probe open): 0 or the platform error.
int DeviceAccess(const std::string& path, PortEntry::Kind kind);

}  // namespace quillon::platform
