#pragma once
// The devices seam: OS handles and the calls the port layer makes on them,
// shaped like the Win32 calls they stand for. Backends (POSIX, Win32, the
// in-memory fakes) register device objects; the port layer only sees handles.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/serial_types.h"

namespace quillon::platform {

// An OS handle. "No handle" (0) and "invalid handle" (-1) are distinct
// states, as they are for Win32 handles.
using Handle = std::intptr_t;
inline constexpr Handle kNoHandle = 0;
inline constexpr Handle kInvalidHandle = -1;

// Error codes kept per thread after a failed call (Win32 numbering, so the
// messages of both platforms agree on what went wrong).
inline constexpr int kErrorSuccess = 0;
inline constexpr int kErrorFileNotFound = 2;
inline constexpr int kErrorAccessDenied = 5;
inline constexpr int kErrorInvalidHandle = 6;
inline constexpr int kErrorNotSupported = 50;
inline constexpr int kErrorInvalidParameter = 87;
inline constexpr int kErrorSharingViolation = 32;
inline constexpr int kErrorGenFailure = 31;

int LastError();
void SetLastError(int code);
// The platform's own text for the thread's last error: the system message on
// Windows, the C library's text of the underlying errno on POSIX. Empty if
// there is none.
std::string LastErrorText();
#ifndef _WIN32
// Records a failed POSIX call: keeps errno for LastErrorText and sets the
// matching Win32-numbered code.
void SetLastErrorFromErrno(int err);
#endif

// A serial line as the port layer uses it. Every call returns false on
// failure and sets the thread's last error.
class SerialDevice {
 public:
  virtual ~SerialDevice() = default;
  virtual bool GetState(Dcb& dcb) = 0;
  virtual bool SetState(const Dcb& dcb) = 0;
  virtual bool GetTimeouts(CommTimeouts& t) = 0;
  virtual bool SetTimeouts(const CommTimeouts& t) = 0;
  // Reads up to n bytes within the time-outs in force; a time-out is success
  // with fewer bytes.
  virtual bool Read(uint8_t* data, uint32_t n, uint32_t& got) = 0;
  // Writes up to n bytes within the write time-outs; a time-out is success
  // with fewer bytes written.
  virtual bool Write(const uint8_t* data, uint32_t n, uint32_t& written) = 0;
  virtual bool Purge(uint32_t flags) = 0;
  // Releases the OS resource; called once, when the handle is closed.
  virtual void Close() = 0;
};

// Opens a device by its path ("\\.\COM3", a POSIX path, "sim..."), for
// reading and writing, exclusively. Returns kInvalidHandle on failure.
Handle OpenDevice(const std::string& path);
bool CloseDevice(Handle h);
bool GetLineState(Handle h, Dcb& dcb);
bool SetLineState(Handle h, const Dcb& dcb);
bool GetLineTimeouts(Handle h, CommTimeouts& t);
bool SetLineTimeouts(Handle h, const CommTimeouts& t);
bool ReadDevice(Handle h, void* data, uint32_t n, uint32_t* got);
bool WriteDevice(Handle h, const void* data, uint32_t n, uint32_t* written);
bool PurgeDevice(Handle h, uint32_t flags);

// Registers a device object and gives it a handle (backends and tests).
Handle RegisterDevice(std::shared_ptr<SerialDevice> device);
// The device behind a handle, or null.
std::shared_ptr<SerialDevice> DeviceOf(Handle h);

// Counts of the seam's calls, for tests that must show a call was not made.
struct DeviceCallCounts {
  std::atomic<int> open{0}, close{0}, getState{0}, setState{0}, getTimeouts{0}, setTimeouts{0},
      read{0}, write{0}, purge{0};
};
DeviceCallCounts& CallCounts();

// What a port name or device path stands for.
struct DeviceTarget {
  enum class Kind { kNone, kPath, kSimulator } kind = Kind::kNone;
  std::string path;     // kPath: the OS device path
  std::string options;  // kSimulator: the text after "sim:"
};
// "COMn" (n = 1..20) is mapped through the environment variable QUILLON_COMn
// if set, else to the platform's own serial device; "sim[:options]" is the
// built-in printer emulator; anything else is taken as a device path. A
// leading "\\.\" is ignored.
DeviceTarget ResolveDevice(std::string_view nameOrPath);

// The built-in printer emulator, provided by the program that links it.
using SimulatorFactory = std::function<std::shared_ptr<SerialDevice>(const std::string& options)>;
void SetSimulatorFactory(SimulatorFactory factory);

// Opens an OS device path (the platform backend).
std::shared_ptr<SerialDevice> OpenOsSerial(const std::string& path);

}  // namespace quillon::platform
