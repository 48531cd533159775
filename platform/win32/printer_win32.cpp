// The Win32 calls of the parallel port and USB printer backends, what their
// devices share, and the search for the USB printer in the registry.
//
// The search walks, for each of the printer's ids in turn, the device
// instances under HKLM\SYSTEM\CurrentControlSet\Enum\USB\Vid_xxxx&Pid_xxxx.
// Each instance's "Device Parameters" key holds the device interface path as
// "SymbolicName" in its kernel form ("\??\USB#..."); with the second
// character made a backslash it is the Win32 path ("\\?\USB#..."). The first
// instance whose path opens is the printer.

#include "platform/win32/printer_win32.h"

#include <cstring>
#include <string>

namespace quillon::platform {

namespace win32 {

namespace {

class SystemCalls final : public PrinterOs {
 public:
  HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                     DWORD disposition, DWORD flags, HANDLE templateFile) override {
    return ::CreateFileA(name, access, share, security, disposition, flags, templateFile);
  }
  BOOL CloseHandle(HANDLE handle) override { return ::CloseHandle(handle); }
  BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                       DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) override {
    return ::DeviceIoControl(device, code, in, inSize, out, outSize, returned, overlapped);
  }
  BOOL ReadFile(HANDLE file, LPVOID data, DWORD n, LPDWORD got, LPOVERLAPPED overlapped) override {
    return ::ReadFile(file, data, n, got, overlapped);
  }
  BOOL WriteFile(HANDLE file, LPCVOID data, DWORD n, LPDWORD written,
                 LPOVERLAPPED overlapped) override {
    return ::WriteFile(file, data, n, written, overlapped);
  }
  HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                      LPCSTR name) override {
    return ::CreateEventA(security, manualReset, initialState, name);
  }
  DWORD WaitForSingleObject(HANDLE handle, DWORD ms) override {
    return ::WaitForSingleObject(handle, ms);
  }
  BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred,
                           BOOL wait) override {
    return ::GetOverlappedResult(file, overlapped, transferred, wait);
  }
  BOOL CancelIo(HANDLE file) override { return ::CancelIo(file); }
  BOOL GetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) override {
    return ::GetCommTimeouts(file, timeouts);
  }
  BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) override {
    return ::SetCommTimeouts(file, timeouts);
  }
  DWORD GetLastError() override { return ::GetLastError(); }
  LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result) override {
    return ::RegOpenKeyExA(key, subKey, options, access, result);
  }
  LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                     LPSTR className, LPDWORD classSize, PFILETIME lastWrite) override {
    return ::RegEnumKeyExA(key, index, name, nameSize, reserved, className, classSize, lastWrite);
  }
  LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                        LPDWORD size) override {
    return ::RegQueryValueExA(key, valueName, reserved, type, data, size);
  }
  LONG RegCloseKey(HKEY key) override { return ::RegCloseKey(key); }
};

// The registry's names are at most 255 characters.
constexpr DWORD kNameSize = 256;

// The Win32 path of a device instance's interface, from its "Device
// Parameters" key. False if the key or the value is missing.
bool InterfacePath(PrinterOs& os, const std::string& instanceKey, std::string& path) {
  HKEY parameters = nullptr;
  const std::string name = instanceKey + "\\Device Parameters";
  if (os.RegOpenKeyExA(HKEY_LOCAL_MACHINE, name.c_str(), 0, KEY_READ, &parameters) !=
      ERROR_SUCCESS) {
    return false;
  }
  char value[kNameSize];
  std::memset(value, 0, sizeof value);
  DWORD size = sizeof value;
  DWORD type = 0;
  const LONG rc = os.RegQueryValueExA(parameters, "SymbolicName", nullptr, &type,
                                      reinterpret_cast<LPBYTE>(value), &size);
  os.RegCloseKey(parameters);
  if (rc != ERROR_SUCCESS) return false;
  path.assign(value, strnlen(value, sizeof value));
  if (path.size() < 2) return false;
  path[1] = '\\';  // "\??\USB#..." -> "\\?\USB#..."
  return true;
}

}  // namespace

PrinterOs& RealPrinterOs() {
  return MadeOnFirstUse<PrinterOs, SystemCalls>();
}

Installed<PrinterOs, RealPrinterOs> printerOs;

void PrinterDevice::Close() {
  if (closed_.exchange(true)) return;
  std::unique_lock use(use_);  // waits for the calls still inside the driver
  os_.CloseHandle(handle_);
}

bool PrinterDevice::FailFromSystem() {
  SetLastError(static_cast<int>(os_.GetLastError()));
  return false;
}

bool PrinterDevice::FailClosed() {
  SetLastError(kErrorInvalidHandle);
  return false;
}

}  // namespace win32

namespace win32 {

void WalkUsbPrinters(PrinterOs& os, const std::function<bool(const UsbInstance&)>& visit) {
  for (size_t id = 0; id < std::size(kUsbPrinterKeys); ++id) {
    const char* idKey = kUsbPrinterKeys[id];
    HKEY instances = nullptr;
    if (os.RegOpenKeyExA(HKEY_LOCAL_MACHINE, idKey, 0, KEY_READ, &instances) != ERROR_SUCCESS) {
      continue;  // no device of this id was ever plugged in
    }
    bool stop = false;
    for (DWORD index = 0; !stop; ++index) {
      char name[kNameSize];
      std::memset(name, 0, sizeof name);
      DWORD nameSize = sizeof name;
      // ERROR_NO_MORE_ITEMS ends the walk; so does any other failure, which
      // would come again for the next index.
      if (os.RegEnumKeyExA(instances, index, name, &nameSize, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS) {
        break;
      }
      UsbInstance instance{kPrinterUsbIds[id], name, {}};
      if (!InterfacePath(os, std::string(idKey) + "\\" + name, instance.path)) continue;
      stop = visit(instance);
    }
    os.RegCloseKey(instances);
    if (stop) return;
  }
}

}  // namespace win32

bool FindOsUsbPrinter(std::string& path, std::string& key) {
  win32::PrinterOs& os = win32::printerOs.Get();
  bool found = false;
  win32::WalkUsbPrinters(os, [&](const win32::UsbInstance& instance) {
    // A device that is not plugged in, or that another program holds, does
    // not open.
    const HANDLE probe =
        os.CreateFileA(instance.path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return false;
    os.CloseHandle(probe);
    path = instance.path;
    key = instance.name;
    found = true;
    return true;
  });
  return found;
}

}  // namespace quillon::platform
