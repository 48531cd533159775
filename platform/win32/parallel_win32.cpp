// The parallel port on Windows: "\\.\LPTn" opened through the parallel port
// class driver, for synchronous I/O and without sharing. The IEEE 1284 modes
// are negotiated with the driver (IOCTL_IEEE1284_NEGOTIATE), which reports
// the modes it granted; reads take the reverse channel, writes the forward
// channel, both as the driver carries them out. The port's time-outs are
// handed to the driver with the communications calls, as on a serial port.

#include <memory>

#include "platform/device.h"
#include "platform/win32/printer_win32.h"
#include "platform/win32/serial_win32.h"

namespace quillon::platform {

namespace {

class ParallelDevice final : public win32::PrinterDevice {
 public:
  using PrinterDevice::PrinterDevice;

  bool Read(uint8_t* data, uint32_t n, uint32_t& got) override {
    got = 0;
    std::shared_lock use(use_);
    if (closed_.load()) return FailClosed();
    DWORD count = 0;
    const BOOL ok = os_.ReadFile(handle_, data, n, &count, nullptr);
    if (!ok) return FailFromSystem();
    got = count;
    return true;
  }

  bool Write(const uint8_t* data, uint32_t n, uint32_t& written) override {
    written = 0;
    std::shared_lock use(use_);
    if (closed_.load()) return FailClosed();
    DWORD count = 0;
    const BOOL ok = os_.WriteFile(handle_, data, n, &count, nullptr);
    written = count;
    return ok ? true : FailFromSystem();
  }

  bool GetTimeouts(CommTimeouts& t) override {
    std::shared_lock use(use_);
    if (closed_.load()) return FailClosed();
    COMMTIMEOUTS timeouts{};
    if (!os_.GetCommTimeouts(handle_, &timeouts)) return FailFromSystem();
    win32::FromWin32Timeouts(timeouts, t);
    return true;
  }

  bool SetTimeouts(const CommTimeouts& t) override {
    std::shared_lock use(use_);
    if (closed_.load()) return FailClosed();
    COMMTIMEOUTS timeouts{};
    win32::ToWin32Timeouts(t, timeouts);
    return os_.SetCommTimeouts(handle_, &timeouts) ? true : FailFromSystem();
  }

  bool Negotiate(const NegotiationMask& ask, NegotiationMask& granted) override {
    std::shared_lock use(use_);
    if (closed_.load()) return FailClosed();
    win32::ParclassNegotiationMask in{ask.usReadMask, ask.usWriteMask};
    win32::ParclassNegotiationMask out{};
    DWORD returned = 0;
    if (!os_.DeviceIoControl(handle_, win32::kIoctlIeee1284Negotiate, &in, sizeof in, &out,
                             sizeof out, &returned, nullptr)) {
      return FailFromSystem();
    }
    granted = {out.usReadMask, out.usWriteMask};
    return true;
  }
};

}  // namespace

std::shared_ptr<SerialDevice> OpenOsParallel(const std::string& path) {
  win32::PrinterOs& os = win32::printerOs.Get();
  const HANDLE handle = os.CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    SetLastError(static_cast<int>(os.GetLastError()));  // ERROR_ACCESS_DENIED: in use
    return nullptr;
  }
  return std::make_shared<ParallelDevice>(os, handle);
}

}  // namespace quillon::platform
