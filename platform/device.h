#pragma once
// The devices seam: OS handles and the calls the port layer makes on them,
// shaped like the Win32 calls they stand for. Backends (POSIX, Win32, the
// in-memory fakes) register device objects; the port layer only sees handles.

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
inline constexpr int kErrorInvalidFunction = 1;
inline constexpr int kErrorFileNotFound = 2;
inline constexpr int kErrorAccessDenied = 5;
inline constexpr int kErrorInvalidHandle = 6;
inline constexpr int kErrorNotSupported = 50;
inline constexpr int kErrorInvalidParameter = 87;
inline constexpr int kErrorSharingViolation = 32;
inline constexpr int kErrorGenFailure = 31;
inline constexpr int kErrorNoMoreItems = 259;
inline constexpr int kErrorIoPending = 997;

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

// IEEE 1284 transfer modes of the parallel port class driver, as masks.
inline constexpr uint16_t kModeNone = 0x0000;
inline constexpr uint16_t kModeCompatibility = 0x0002;  // IEEE_COMPATIBILITY
inline constexpr uint16_t kModeNibble = 0x0004;         // NIBBLE
inline constexpr uint16_t kModeEcpHwNoIrq = 0x0100;     // ECP_HW_NOIRQ

// The negotiation record (PARCLASS_NEGOTIATION_MASK): the modes asked for,
// or granted, for the reverse (read) and forward (write) direction.
struct NegotiationMask {
  uint16_t usReadMask = kModeNone;
  uint16_t usWriteMask = kModeNone;
};

// What kind of device a name is opened as.
enum class DeviceClass { kSerial, kParallel, kUsbPrinter };

// A device as the port layer uses it: a serial line, a parallel port or a
// USB printer. Every call returns false on failure and sets the thread's last
// error. The line calls belong to serial lines; the printer-port calls fail
// with kErrorInvalidFunction on a device that has no such request.
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

  // Parallel port: the IEEE 1284 negotiation; `granted` gets the modes the
  // driver reports (on success only).
  virtual bool Negotiate(const NegotiationMask& ask, NegotiationMask& granted);
  // USB printer: the IEEE 1284 device identifier (up to `size` bytes) and
  // the port status byte.
  virtual bool QueryDeviceId(uint8_t* data, uint32_t size, uint32_t& got);
  virtual bool QueryStatus(uint8_t& status);
  // USB printer: reads up to n bytes, waiting at most waitMs for the first
  // one; got 0 means nothing came in time. No read outlives the call: one
  // still pending at the end is cancelled before it returns.
  virtual bool ReadWait(uint8_t* data, uint32_t n, uint32_t& got, uint32_t waitMs);
};

// A parallel port or a USB printer: it has no line settings, time-outs or
// queues to purge, and those calls fail with kErrorInvalidFunction, as the
// communications calls do on such a handle.
class PrinterPortDevice : public SerialDevice {
 public:
  bool GetState(Dcb& dcb) override;
  bool SetState(const Dcb& dcb) override;
  bool GetTimeouts(CommTimeouts& t) override;
  bool SetTimeouts(const CommTimeouts& t) override;
  bool Purge(uint32_t flags) override;
};

// A device that hands every call on to the device it wraps; a wrapper
// overrides the calls it adds something to.
class ForwardingDevice : public SerialDevice {
 public:
  explicit ForwardingDevice(std::shared_ptr<SerialDevice> inner) : inner_(std::move(inner)) {}

  bool GetState(Dcb& dcb) override { return inner_->GetState(dcb); }
  bool SetState(const Dcb& dcb) override { return inner_->SetState(dcb); }
  bool GetTimeouts(CommTimeouts& t) override { return inner_->GetTimeouts(t); }
  bool SetTimeouts(const CommTimeouts& t) override { return inner_->SetTimeouts(t); }
  bool Read(uint8_t* data, uint32_t n, uint32_t& got) override {
    return inner_->Read(data, n, got);
  }
  bool Write(const uint8_t* data, uint32_t n, uint32_t& written) override {
    return inner_->Write(data, n, written);
  }
  bool Purge(uint32_t flags) override { return inner_->Purge(flags); }
  void Close() override { inner_->Close(); }
  bool Negotiate(const NegotiationMask& ask, NegotiationMask& granted) override {
    return inner_->Negotiate(ask, granted);
  }
  bool QueryDeviceId(uint8_t* data, uint32_t size, uint32_t& got) override {
    return inner_->QueryDeviceId(data, size, got);
  }
  bool QueryStatus(uint8_t& status) override { return inner_->QueryStatus(status); }
  bool ReadWait(uint8_t* data, uint32_t n, uint32_t& got, uint32_t waitMs) override {
    return inner_->ReadWait(data, n, got, waitMs);
  }

 private:
  const std::shared_ptr<SerialDevice> inner_;
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

// Opens a parallel port by its name ("\\.\LPT1", "LPT1", a device path,
// "sim[:options]"): LPTn (n = 1..10) is mapped through QUILLON_LPTn if set,
// else to the platform's own port. Returns kInvalidHandle on failure.
Handle OpenParallelDevice(const std::string& name);
// Writes to the USB printer go out in chunks of at most this many bytes.
inline constexpr uint32_t kUsbChunk = 4096;

// Opens a USB printer by the device path that FindUsbPrinterPath gave (or
// "sim[:options]") for overlapped/non-blocking use and shared access.
Handle OpenUsbDevice(const std::string& path);
bool NegotiateDevice(Handle h, const NegotiationMask& ask, NegotiationMask& granted);
bool QueryDeviceId(Handle h, uint8_t* data, uint32_t size, uint32_t* got);
bool QueryDeviceStatus(Handle h, uint8_t* status);
bool ReadDeviceWait(Handle h, void* data, uint32_t n, uint32_t* got, uint32_t waitMs);

// The USB vendor and product ids of the printer, in the order they are
// looked for.
struct UsbId {
  uint16_t vendor;
  uint16_t product;
};
inline constexpr UsbId kPrinterUsbIds[3] = {{0x0f1d, 0xa02b}, {0x0e4b, 0x2207}, {0x2a9c, 0x2207}};

// Finds the printer's USB device: the first device, by kPrinterUsbIds order,
// that can be opened. Gives its device path and the name it was found under
// (Windows: the registry sub-key; Linux: the usbmisc node). The environment
// variable QUILLON_USB, if set, names the device (a path or "sim[:options]")
// and no search is made. False, with the outputs unchanged, when none is
// found.
bool FindUsbPrinterPath(std::string& path, std::string& key);
// Names the USB printer for the whole process, ahead of QUILLON_USB (the
// command line's --port); an empty text takes the name back.
void SetUsbPrinterPath(const std::string& path);

// Registers a device object and gives it a handle (backends and tests).
Handle RegisterDevice(std::shared_ptr<SerialDevice> device);
// The device behind a handle, or null.
std::shared_ptr<SerialDevice> DeviceOf(Handle h);

// What a port name or device path stands for.
struct DeviceTarget {
  enum class Kind { kNone, kPath, kSimulator } kind = Kind::kNone;
  std::string path;     // kPath: the OS device path
  std::string options;  // kSimulator: the text after "sim:"
};
// "COMn" (n = 1..20) is mapped through the environment variable QUILLON_COMn
// if set, else to the platform's own serial device; "LPTn" (n = 1..10) the
// same way through QUILLON_LPTn to the platform's parallel port;
// "sim[:options]" is the built-in printer emulator; anything else is taken as
// a device path. A leading "\\.\" is ignored.
DeviceTarget ResolveDevice(std::string_view nameOrPath);

// The built-in printer emulator, provided by the program that links it, as a
// device of the class asked for.
using SimulatorFactory =
    std::function<std::shared_ptr<SerialDevice>(const std::string& options, DeviceClass cls)>;
void SetSimulatorFactory(SimulatorFactory factory);

// Opens an OS device path (the platform backends).
std::shared_ptr<SerialDevice> OpenOsSerial(const std::string& path);
std::shared_ptr<SerialDevice> OpenOsParallel(const std::string& path);
std::shared_ptr<SerialDevice> OpenOsUsb(const std::string& path);
// The platform's search for the printer's USB device (see FindUsbPrinterPath).
bool FindOsUsbPrinter(std::string& path, std::string& key);

}  // namespace quillon::platform
