#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/device.h"
#include "platform/port_list.h"
#include "platform/posix/udev_posix.h"

namespace quillon::platform {

namespace {

// A device of a numbered kind: its number's digits and its path.
struct Numbered {
  std::string digits;
  std::string path;
};

// Whether `name` is `prefix` followed by digits only; `digits` gets the
// number without its leading zeros.
bool NumberOf(std::string_view name, std::string_view prefix, std::string& digits) {
  if (!name.starts_with(prefix) || name.size() == prefix.size()) return false;
  const std::string_view rest = name.substr(prefix.size());
  if (!std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  const size_t first = rest.find_first_not_of('0');
  digits = first == std::string_view::npos ? "0" : std::string(rest.substr(first));
  return true;
}

// The entries of `folder` named `prefix` and a number, by that number
// (ttyUSB2 before ttyUSB10). Folders are not devices; a folder that cannot
// be read has none.
std::vector<std::string> Devices(const std::string& folder, std::string_view prefix) {
  std::vector<Numbered> found;
  std::error_code error;
  std::filesystem::directory_iterator it(folder, error);
  const std::string base = folder.ends_with('/') ? folder : folder + "/";
  for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    const std::string name = it->path().filename().string();
    std::string digits;
    if (!NumberOf(name, prefix, digits)) continue;
    std::error_code kindError;
    if (it->is_directory(kindError)) continue;
    found.push_back({digits, base + name});
  }
  std::sort(found.begin(), found.end(), [](const Numbered& a, const Numbered& b) {
    if (a.digits.size() != b.digits.size()) return a.digits.size() < b.digits.size();
    if (a.digits != b.digits) return a.digits < b.digits;
    return a.path < b.path;  // the same number written with leading zeros
  });
  std::vector<std::string> paths;
  for (Numbered& n : found) paths.push_back(std::move(n.path));
  return paths;
}

PortEntry EntryOf(PortEntry::Kind kind, const posix::NodeInfo& node) {
  PortEntry entry;
  entry.kind = kind;
  entry.path = node.devnode;
  entry.vendorId = node.vendorId;
  entry.productId = node.productId;
  entry.vendor = node.vendor;
  entry.product = node.product;
  entry.serial = node.serial;
  entry.deviceId = node.deviceId;
  entry.busPath = node.busPath;
  entry.error = DeviceAccess(node.devnode, kind);
  return entry;
}

}  // namespace

std::vector<PortEntry> ListOsPorts() {
  using Kind = PortEntry::Kind;
  std::vector<PortEntry> ports;
  // The 8250 driver makes its ttyS nodes whether or not a UART answers
  // behind them; "type" 0 means none does.
  for (const char* prefix : {"ttyS", "ttyUSB", "ttyACM"}) {
    for (const auto& node : posix::DeviceNodes("tty", {prefix})) {
      if (std::string_view(prefix) == "ttyS" && (node.uartType.empty() || node.uartType == "0")) {
        continue;
      }
      // ttyS1 is not ttyS10's prefix: the name must be the prefix and digits.
      std::string digits;
      if (!NumberOf(node.sysname, prefix, digits)) continue;
      ports.push_back(EntryOf(Kind::kSerial, node));
    }
  }
  for (const auto& node : posix::DeviceNodes("ppdev", {"parport"})) {
    ports.push_back(EntryOf(Kind::kParallel, node));
  }
  for (const auto& node : posix::DeviceNodes("usbmisc", {"lp"})) {
    if (posix::HasPrinterId(node)) ports.push_back(EntryOf(Kind::kUsb, node));
  }
  return ports;
}

int DeviceAccess(const std::string& path, PortEntry::Kind) {
  // The permissions alone: opening a serial port would move its modem lines.
  if (access(path.c_str(), R_OK | W_OK) == 0) return kErrorSuccess;
  const int error = errno;
  SetLastErrorFromErrno(error);
  return LastError();
}

std::vector<std::string> PresentSerialDevices(const std::string& folder) {
  std::vector<std::string> paths = Devices(folder, "ttyUSB");
  std::vector<std::string> modems = Devices(folder, "ttyACM");
  paths.insert(paths.end(), modems.begin(), modems.end());
  return paths;
}

std::vector<std::string> PresentParallelDevices(const std::string& folder) {
  return Devices(folder, "parport");
}

}  // namespace quillon::platform
