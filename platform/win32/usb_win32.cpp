// The USB printer on Windows: the device interface path found in the registry
// ("\\?\USB#..."), opened for overlapped I/O and shared with other readers
// and writers.
//
// Choices worth knowing:
// - Writes go out in chunks of at most 4096 bytes. Each chunk has its own
//   event ("WriteEvent", manual reset) in the process-wide write OVERLAPPED
//   record; the chunk is waited for, at most 60 s (then it is cancelled and
//   the write reports what went out, as a write time-out does), and the event
//   is closed again.
// - A handle whose device has gone fails with ERROR_INVALID_HANDLE: the write
//   fails with kErrorInvalidHandle and the port layer opens the printer
//   again.
// - A waiting read has its own event ("ReadEvent") in the process-wide read
//   OVERLAPPED record. A read still pending when the wait ends is cancelled
//   and its end waited for, so that no read outlives the call (and the
//   caller's buffer); a cancelled read gives 0 bytes.
// - The device identifier and the status byte are asked for with
//   DeviceIoControl without an OVERLAPPED record, on the overlapped handle.

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/device.h"
#include "platform/win32/printer_win32.h"

namespace quillon::platform {

static_assert(ERROR_INVALID_HANDLE == kErrorInvalidHandle);

namespace {

// The process-wide OVERLAPPED records of the USB printer's writes and reads.
// Each is used by one call at a time.
OVERLAPPED writeRecord{};
std::mutex writeRecordUse;
OVERLAPPED readRecord{};
std::mutex readRecordUse;

class UsbDevice final : public win32::PrinterDevice {
 public:
  using PrinterDevice::PrinterDevice;

  // What has come in already.
  bool Read(uint8_t* data, uint32_t n, uint32_t& got) override { return ReadWait(data, n, got, 0); }

  bool ReadWait(uint8_t* data, uint32_t n, uint32_t& got, uint32_t waitMs) override {
    got = 0;
    std::shared_lock use(use_);
    if (closed_.load()) return FailClosed();
    std::lock_guard record(readRecordUse);
    const HANDLE event = os_.CreateEventA(nullptr, TRUE, FALSE, "ReadEvent");
    if (!event) return FailFromSystem();
    readRecord = OVERLAPPED{};
    readRecord.hEvent = event;
    DWORD count = 0;
    if (os_.ReadFile(handle_, data, n, &count, &readRecord)) {
      os_.CloseHandle(event);
      got = count;
      return true;
    }
    const DWORD error = os_.GetLastError();
    if (error != ERROR_IO_PENDING) {
      os_.CloseHandle(event);
      return Fail(error);
    }
    const DWORD waited = os_.WaitForSingleObject(event, waitMs);
    const DWORD waitError = waited == WAIT_FAILED ? os_.GetLastError() : ERROR_SUCCESS;
    if (waited != WAIT_OBJECT_0) os_.CancelIo(handle_);
    count = 0;
    const BOOL done = os_.GetOverlappedResult(handle_, &readRecord, &count, TRUE);
    const DWORD endError = done ? ERROR_SUCCESS : os_.GetLastError();
    os_.CloseHandle(event);
    if (waitError != ERROR_SUCCESS) return Fail(waitError);
    if (done) {
      got = count;  // it may have ended just before the cancel
      return true;
    }
    // Cancelled: nothing came in time.
    if (waited != WAIT_OBJECT_0 && endError == ERROR_OPERATION_ABORTED) return true;
    return Fail(endError);
  }

  bool Write(const uint8_t* data, uint32_t n, uint32_t& written) override {
    written = 0;
    std::shared_lock use(use_);
    if (closed_.load()) return FailClosed();
    std::lock_guard record(writeRecordUse);
    while (written < n) {
      const DWORD chunk = std::min<DWORD>(n - written, platform::kUsbChunk);
      const HANDLE event = os_.CreateEventA(nullptr, TRUE, FALSE, "WriteEvent");
      if (!event) return FailFromSystem();
      writeRecord = OVERLAPPED{};
      writeRecord.hEvent = event;
      DWORD count = 0;
      if (!os_.WriteFile(handle_, data + written, chunk, &count, &writeRecord)) {
        const DWORD error = os_.GetLastError();
        if (error != ERROR_IO_PENDING) {
          os_.CloseHandle(event);
          return Fail(error);  // ERROR_INVALID_HANDLE: the printer has gone
        }
      }
      // Pending, or done at once: either way the event is set at its end.
      const DWORD waited = os_.WaitForSingleObject(event, win32::kUsbChunkLimitMs);
      const DWORD waitError = waited == WAIT_FAILED ? os_.GetLastError() : ERROR_SUCCESS;
      const bool cancelled = waited != WAIT_OBJECT_0;
      if (cancelled) os_.CancelIo(handle_);
      count = 0;
      const BOOL done = os_.GetOverlappedResult(handle_, &writeRecord, &count, TRUE);
      const DWORD endError = done ? ERROR_SUCCESS : os_.GetLastError();
      os_.CloseHandle(event);
      written += static_cast<uint32_t>(std::min<DWORD>(count, chunk));
      if (waitError != ERROR_SUCCESS) return Fail(waitError);
      if (!done && !(cancelled && endError == ERROR_OPERATION_ABORTED)) return Fail(endError);
      // A chunk that ran out of time, or that the driver took nothing of,
      // ends the write with what went out.
      if (cancelled || count == 0) return true;
    }
    return true;
  }

  bool QueryDeviceId(uint8_t* data, uint32_t size, uint32_t& got) override {
    got = 0;
    std::shared_lock use(use_);
    if (closed_.load()) return FailClosed();
    uint8_t id[win32::kUsbDeviceIdSize] = {};
    DWORD returned = 0;
    if (!os_.DeviceIoControl(handle_, win32::kIoctlUsbPrintGet1284Id, nullptr, 0, id, sizeof id,
                             &returned, nullptr)) {
      return FailFromSystem();
    }
    got = std::min<uint32_t>({returned, static_cast<uint32_t>(sizeof id), size});
    if (got > 0) std::memcpy(data, id, got);
    return true;
  }

  bool QueryStatus(uint8_t& status) override {
    std::shared_lock use(use_);
    if (closed_.load()) return FailClosed();
    uint8_t value = 0;
    DWORD returned = 0;
    if (!os_.DeviceIoControl(handle_, win32::kIoctlUsbPrintGetLptStatus, nullptr, 0, &value,
                             sizeof value, &returned, nullptr)) {
      return FailFromSystem();
    }
    status = value;
    return true;
  }

 private:
  // The seam numbers its errors as Win32 does (ERROR_INVALID_HANDLE is
  // kErrorInvalidHandle).
  static bool Fail(DWORD error) {
    SetLastError(static_cast<int>(error));
    return false;
  }
};

}  // namespace

std::shared_ptr<SerialDevice> OpenOsUsb(const std::string& path) {
  win32::PrinterOs& os = win32::printerOs.Get();
  const HANDLE handle =
      os.CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    SetLastError(static_cast<int>(os.GetLastError()));
    return nullptr;
  }
  return std::make_shared<UsbDevice>(os, handle);
}

}  // namespace quillon::platform
