// The serial line on Windows: a COM port opened with CreateFileA and driven
// by the communications API itself. Every call is the Win32 call it stands
// for; the driver carries out the line settings and the time-outs.
//
// Choices worth knowing:
// - The port is opened for synchronous I/O (no FILE_FLAG_OVERLAPPED) and
//   without sharing: a second open, in this process or another, fails with
//   ERROR_ACCESS_DENIED, which is what Windows reports for a COM port in use.
// - The DCB bit fields are one or two bits wide. A value that does not fit
//   its field is refused (ERROR_INVALID_PARAMETER), as the POSIX backend
//   refuses it, instead of being cut down to a different setting.
// - Close() may come while another thread is inside a call: the handle is
//   closed once that call has returned, so a handle value is never used after
//   it has been given back to the system. A read then ends by its time-outs.

#include "platform/win32/serial_win32.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <shared_mutex>

#include "platform/device.h"

namespace quillon::platform {

namespace win32 {

namespace {

bool Fits(uint32_t value, uint32_t bits) {
  return value < (uint32_t{1} << bits);
}

// The fields our Dcb shares with the system's DCB, either way.
template <class From, class To>
void CopyDcb(const From& in, To& out) {
  out.DCBlength = in.DCBlength;
  out.BaudRate = in.BaudRate;
  out.fBinary = in.fBinary;
  out.fParity = in.fParity;
  out.fOutxCtsFlow = in.fOutxCtsFlow;
  out.fOutxDsrFlow = in.fOutxDsrFlow;
  out.fDtrControl = in.fDtrControl;
  out.fDsrSensitivity = in.fDsrSensitivity;
  out.fTXContinueOnXoff = in.fTXContinueOnXoff;
  out.fOutX = in.fOutX;
  out.fInX = in.fInX;
  out.fErrorChar = in.fErrorChar;
  out.fNull = in.fNull;
  out.fRtsControl = in.fRtsControl;
  out.fAbortOnError = in.fAbortOnError;
  out.XonLim = in.XonLim;
  out.XoffLim = in.XoffLim;
  out.ByteSize = in.ByteSize;
  out.Parity = in.Parity;
  out.StopBits = in.StopBits;
  out.XonChar = in.XonChar;
  out.XoffChar = in.XoffChar;
  out.ErrorChar = in.ErrorChar;
  out.EofChar = in.EofChar;
  out.EvtChar = in.EvtChar;
}

template <class From, class To>
void CopyTimeouts(const From& in, To& out) {
  out.ReadIntervalTimeout = in.ReadIntervalTimeout;
  out.ReadTotalTimeoutMultiplier = in.ReadTotalTimeoutMultiplier;
  out.ReadTotalTimeoutConstant = in.ReadTotalTimeoutConstant;
  out.WriteTotalTimeoutMultiplier = in.WriteTotalTimeoutMultiplier;
  out.WriteTotalTimeoutConstant = in.WriteTotalTimeoutConstant;
}

}  // namespace

bool ToWin32Dcb(const Dcb& in, DCB& out) {
  const bool fits = Fits(in.fBinary, 1) && Fits(in.fParity, 1) && Fits(in.fOutxCtsFlow, 1) &&
                    Fits(in.fOutxDsrFlow, 1) && Fits(in.fDtrControl, 2) &&
                    Fits(in.fDsrSensitivity, 1) && Fits(in.fTXContinueOnXoff, 1) &&
                    Fits(in.fOutX, 1) && Fits(in.fInX, 1) && Fits(in.fErrorChar, 1) &&
                    Fits(in.fNull, 1) && Fits(in.fRtsControl, 2) && Fits(in.fAbortOnError, 1);
  if (!fits) return false;
  out = DCB{};
  CopyDcb(in, out);
  return true;
}

void FromWin32Dcb(const DCB& in, Dcb& out) {
  CopyDcb(in, out);
}

void ToWin32Timeouts(const CommTimeouts& in, COMMTIMEOUTS& out) {
  CopyTimeouts(in, out);
}

void FromWin32Timeouts(const COMMTIMEOUTS& in, CommTimeouts& out) {
  CopyTimeouts(in, out);
}

uint32_t ToWin32PurgeFlags(uint32_t flags) {
  uint32_t out = 0;
  if (flags & kPurgeTxAbort) out |= PURGE_TXABORT;
  if (flags & kPurgeRxAbort) out |= PURGE_RXABORT;
  if (flags & kPurgeTxClear) out |= PURGE_TXCLEAR;
  if (flags & kPurgeRxClear) out |= PURGE_RXCLEAR;
  return out;
}

}  // namespace win32

namespace {

// Hands the system's error of the call that just failed to the seam's
// per-thread last error, so that LastErrorText() finds the system's message.
bool FailFromSystem() {
  SetLastError(static_cast<int>(::GetLastError()));
  return false;
}

bool FailClosed() {
  SetLastError(kErrorInvalidHandle);
  return false;
}

class Win32SerialDevice final : public SerialDevice {
 public:
  explicit Win32SerialDevice(HANDLE handle) : handle_(handle) {}
  ~Win32SerialDevice() override { Close(); }
  Win32SerialDevice(const Win32SerialDevice&) = delete;
  Win32SerialDevice& operator=(const Win32SerialDevice&) = delete;

  bool GetState(Dcb& dcb) override {
    std::shared_lock use(use_);
    if (closed_.load()) return FailClosed();
    DCB state{};
    state.DCBlength = sizeof state;
    if (!::GetCommState(handle_, &state)) return FailFromSystem();
    win32::FromWin32Dcb(state, dcb);
    return true;
  }

  bool SetState(const Dcb& dcb) override {
    std::shared_lock use(use_);
    if (closed_.load()) return FailClosed();
    DCB state{};
    if (!win32::ToWin32Dcb(dcb, state)) {
      SetLastError(kErrorInvalidParameter);
      return false;
    }
    if (!::SetCommState(handle_, &state)) return FailFromSystem();
    return true;
  }

  bool GetTimeouts(CommTimeouts& t) override {
    std::shared_lock use(use_);
    if (closed_.load()) return FailClosed();
    COMMTIMEOUTS timeouts{};
    if (!::GetCommTimeouts(handle_, &timeouts)) return FailFromSystem();
    win32::FromWin32Timeouts(timeouts, t);
    return true;
  }

  bool SetTimeouts(const CommTimeouts& t) override {
    std::shared_lock use(use_);
    if (closed_.load()) return FailClosed();
    COMMTIMEOUTS timeouts{};
    win32::ToWin32Timeouts(t, timeouts);
    if (!::SetCommTimeouts(handle_, &timeouts)) return FailFromSystem();
    return true;
  }

  bool Read(uint8_t* data, uint32_t n, uint32_t& got) override {
    got = 0;
    std::shared_lock use(use_);
    if (closed_.load()) return FailClosed();
    DWORD count = 0;
    const BOOL ok = ::ReadFile(handle_, data, n, &count, nullptr);
    got = count;
    return ok ? true : FailFromSystem();
  }

  bool Write(const uint8_t* data, uint32_t n, uint32_t& written) override {
    written = 0;
    std::shared_lock use(use_);
    if (closed_.load()) return FailClosed();
    DWORD count = 0;
    const BOOL ok = ::WriteFile(handle_, data, n, &count, nullptr);
    written = count;
    return ok ? true : FailFromSystem();
  }

  bool Purge(uint32_t flags) override {
    std::shared_lock use(use_);
    if (closed_.load()) return FailClosed();
    if (!::PurgeComm(handle_, win32::ToWin32PurgeFlags(flags))) return FailFromSystem();
    return true;
  }

  void Close() override {
    if (closed_.exchange(true)) return;
    std::unique_lock use(use_);  // waits for calls still inside the driver
    ::CloseHandle(handle_);
  }

 private:
  const HANDLE handle_;
  std::atomic<bool> closed_{false};
  // Held shared by every call that uses the handle, exclusively by Close.
  std::shared_mutex use_;
};

}  // namespace

std::shared_ptr<SerialDevice> OpenOsSerial(const std::string& path) {
  const HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    FailFromSystem();  // ERROR_ACCESS_DENIED: another program has the port
    return nullptr;
  }
  return std::make_shared<Win32SerialDevice>(handle);
}

}  // namespace quillon::platform
