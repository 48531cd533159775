#pragma once
// The parallel port and USB printer backends on Windows: the Win32 calls they
// make, behind one replaceable interface, so that their logic can be checked
// against scripted answers (neither a parallel port nor a USB printer is at
// hand where the tests run).
//
// Every Win32 call of the two backends, and of the search for the USB
// printer in the registry, goes through PrinterOs. The real calls are
// installed unless a test puts a fake in their place; a device keeps the
// PrinterOs it was opened with until it is closed.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <iterator>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "platform/device.h"
#include "platform/installed.h"

namespace quillon::platform::win32 {

// Requests of the parallel port class driver (ntddpar.h) and the USB printer
// driver (usbprint.h).
inline constexpr DWORD kIoctlIeee1284Negotiate = 0x00160018;
inline constexpr DWORD kIoctlUsbPrintGetLptStatus = 0x00220030;
inline constexpr DWORD kIoctlUsbPrintGet1284Id = 0x00220034;

// The negotiation record of IOCTL_IEEE1284_NEGOTIATE (PARCLASS_NEGOTIATION_MASK).
struct ParclassNegotiationMask {
  USHORT usReadMask;
  USHORT usWriteMask;
};
static_assert(sizeof(ParclassNegotiationMask) == 4);

// The size of the buffer the device identifier is asked into.
inline constexpr DWORD kUsbDeviceIdSize = 100;
// How long one chunk may take before it is cancelled.
inline constexpr DWORD kUsbChunkLimitMs = 60'000;

// The registry keys of the printer's USB ids (kPrinterUsbIds), in the order
// they are searched; each has one sub-key per device instance.
inline constexpr const char* kUsbPrinterKeys[] = {
    "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_0f1d&Pid_a02B",
    "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_0E4B&Pid_2207",
    "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_2A9C&Pid_2207",
};
static_assert(std::size(kUsbPrinterKeys) == std::size(kPrinterUsbIds));

// The Win32 calls of the backends, with the meaning of the functions of the
// same names; a failed call leaves its error for GetLastError (the registry
// calls return theirs).
class PrinterOs {
 public:
  virtual ~PrinterOs() = default;
  virtual HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                             DWORD disposition, DWORD flags, HANDLE templateFile) = 0;
  virtual BOOL CloseHandle(HANDLE handle) = 0;
  virtual BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                               DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) = 0;
  virtual BOOL ReadFile(HANDLE file, LPVOID data, DWORD n, LPDWORD got,
                        LPOVERLAPPED overlapped) = 0;
  virtual BOOL WriteFile(HANDLE file, LPCVOID data, DWORD n, LPDWORD written,
                         LPOVERLAPPED overlapped) = 0;
  virtual HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                              LPCSTR name) = 0;
  virtual DWORD WaitForSingleObject(HANDLE handle, DWORD ms) = 0;
  virtual BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred,
                                   BOOL wait) = 0;
  virtual BOOL CancelIo(HANDLE file) = 0;
  virtual BOOL GetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) = 0;
  virtual BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) = 0;
  virtual DWORD GetLastError() = 0;
  virtual LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access,
                             PHKEY result) = 0;
  virtual LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                             LPSTR className, LPDWORD classSize, PFILETIME lastWrite) = 0;
  virtual LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                                LPBYTE data, LPDWORD size) = 0;
  virtual LONG RegCloseKey(HKEY key) = 0;
};

// The calls themselves.
PrinterOs& RealPrinterOs();
// The calls in force for the whole process: the real ones unless others are
// installed (printerOs.Set; nullptr restores the real calls).
extern Installed<PrinterOs, RealPrinterOs> printerOs;
inline void SetPrinterOs(PrinterOs* os) {
  printerOs.Set(os);
}
// Installs calls for the lifetime of the object.
using ScopedPrinterOs = Scoped<PrinterOs, SetPrinterOs>;

// A device instance of one of the printer's USB ids, as the registry holds
// it: the id, the instance's sub-key name, and its device interface path.
struct UsbInstance {
  UsbId id;
  std::string name;
  std::string path;
};
// Every instance with an interface path, for each id of kUsbPrinterKeys in
// turn, in the registry's order, until `visit` gives true. The download's
// search and the port list both walk this way.
void WalkUsbPrinters(PrinterOs& os, const std::function<bool(const UsbInstance&)>& visit);

// What the parallel port and the USB printer devices have in common: an open
// handle, the calls it was opened with, and no serial line settings. Every
// call that uses the handle holds `use_` shared; Close takes it exclusively,
// so the handle is closed only after those calls have returned.
class PrinterDevice : public PrinterPortDevice {
 public:
  PrinterDevice(PrinterOs& os, HANDLE handle) : os_(os), handle_(handle) {}
  ~PrinterDevice() override { Close(); }
  PrinterDevice(const PrinterDevice&) = delete;
  PrinterDevice& operator=(const PrinterDevice&) = delete;

  void Close() override;

 protected:
  // Hands the error of the call that just failed to the seam's last error.
  bool FailFromSystem();
  static bool FailClosed();

  PrinterOs& os_;
  const HANDLE handle_;
  std::atomic<bool> closed_{false};
  std::shared_mutex use_;
};

}  // namespace quillon::platform::win32
