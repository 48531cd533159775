#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/port_list.h"
#include "platform/win32/printer_win32.h"

namespace quillon::platform {

namespace {

// The number that ends a port's name (COM12: 12), for the order of the list.
int NumberOf(const std::string& name) {
  const size_t digits = name.find_first_of("0123456789");
  return digits == std::string::npos ? 0 : std::atoi(name.c_str() + digits);
}

// The COM ports the serial drivers have made: the values of
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM name them ("COM3").
std::vector<std::string> SerialPortNames() {
  std::vector<std::string> names;
  HKEY map = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &map) !=
      ERROR_SUCCESS) {
    return names;
  }
  for (DWORD index = 0;; ++index) {
    char value[256];
    char data[256];
    DWORD valueSize = sizeof value;
    DWORD dataSize = sizeof data - 1;
    DWORD type = 0;
    std::memset(data, 0, sizeof data);
    if (RegEnumValueA(map, index, value, &valueSize, nullptr, &type, reinterpret_cast<LPBYTE>(data),
                      &dataSize) != ERROR_SUCCESS) {
      break;
    }
    if (type == REG_SZ && data[0] != '\0') names.emplace_back(data);
  }
  RegCloseKey(map);
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return NumberOf(a) != NumberOf(b) ? NumberOf(a) < NumberOf(b) : a < b;
  });
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

std::string Hex4(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", value);
  return text;
}

}  // namespace

std::vector<PortEntry> ListOsPorts() {
  std::vector<PortEntry> ports;
  const auto named = [&ports](PortEntry::Kind kind, const std::string& name) {
    PortEntry entry;
    entry.kind = kind;
    entry.name = name;
    entry.path = "\\\\.\\" + name;
    entry.error = DeviceAccess(entry.path, kind);
    ports.push_back(entry);
  };
  for (const std::string& name : SerialPortNames()) named(PortEntry::Kind::kSerial, name);
  // A parallel port has a DOS device name of its own.
  for (int n = 1; n <= 10; ++n) {
    const std::string name = "LPT" + std::to_string(n);
    char target[512];
    if (QueryDosDeviceA(name.c_str(), target, sizeof target) != 0) {
      named(PortEntry::Kind::kParallel, name);
    }
  }
  win32::WalkUsbPrinters(win32::printerOs.Get(), [&ports](const win32::UsbInstance& instance) {
    PortEntry entry;
    entry.kind = PortEntry::Kind::kUsb;
    entry.path = instance.path;
    entry.vendorId = Hex4(instance.id.vendor);
    entry.productId = Hex4(instance.id.product);
    entry.busPath = instance.name;
    entry.error = DeviceAccess(entry.path, entry.kind);
    ports.push_back(entry);
    return false;
  });
  return ports;
}

int DeviceAccess(const std::string& path, PortEntry::Kind kind) {
  // Opened and closed again, as the download's search does: a serial or
  // parallel port that another program holds refuses with access denied.
  const DWORD share = kind == PortEntry::Kind::kUsb ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
  const HANDLE probe = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
  CloseHandle(probe);
  return kErrorSuccess;
}

// COMn and LPTn name every port Windows has.

std::vector<std::string> PresentSerialDevices(const std::string&) {
  return {};
}

std::vector<std::string> PresentParallelDevices(const std::string&) {
  return {};
}

}  // namespace quillon::platform
