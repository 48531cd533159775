#pragma once
// The parallel port (ppdev) and USB printer (usblp) backends on Linux: the OS
// calls they make, behind one replaceable interface, and the pieces of their
// logic that can be checked on their own (the IEEE 1284 mode mapping, the
// choice among the printer's usbmisc nodes).
//
// Every system call of the two backends goes through PrinterOs. The real one
// is installed unless a test puts a fake in its place; a device keeps the
// PrinterOs it was opened with until it is closed.

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "platform/device.h"
#include "platform/installed.h"
#include "platform/posix/udev_posix.h"

namespace quillon::platform::posix {

// ppdev requests and IEEE 1284 modes (<linux/ppdev.h>, <linux/parport.h>).
inline constexpr unsigned long kPpClaim = 0x708B;
inline constexpr unsigned long kPpRelease = 0x708C;
inline constexpr unsigned long kPpExclusive = 0x708F;
inline constexpr unsigned long kPpNegotiate = 0x40047091;  // takes an int mode
inline constexpr int kIeee1284ModeNibble = 0x000;
inline constexpr int kIeee1284ModeEcp = 0x010;
inline constexpr int kIeee1284ModeCompat = 0x100;

// usblp requests. The device identifier request carries the buffer length in
// its code; the driver fills the buffer with the identifier, whose first two
// bytes are its length (big-endian, counting themselves).
constexpr unsigned long UsbDeviceIdRequest(uint32_t length) {
  return _IOC(_IOC_READ, 'P', 1, length);
}
inline constexpr uint32_t kUsbDeviceIdMax = 1024;      // the driver keeps no more
inline constexpr unsigned long kLpGetStatus = 0x060B;  // fills an int

// The calls the two backends make, with the meaning and the error reporting
// (-1 and errno) of the system calls of the same names.
class PrinterOs {
 public:
  virtual ~PrinterOs() = default;
  virtual int Open(const char* path, int flags) = 0;
  virtual int Close(int fd) = 0;
  virtual ssize_t Read(int fd, void* data, size_t n) = 0;
  virtual ssize_t Write(int fd, const void* data, size_t n) = 0;
  // `arg` is null for requests that take no argument.
  virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;
  virtual int Poll(pollfd* fds, nfds_t n, int timeoutMs) = 0;
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

// The ppdev mode that stands for the modes asked in `ask`, and the modes the
// Windows parallel class driver reports once that mode is granted:
//   ECP both ways                          -> ECP,           granted ECP / ECP
//   nibble reads, compatibility writes     -> nibble,        granted nibble / compatibility
//   compatibility both ways                -> compatibility, granted none / compatibility
// False for any other request.
bool PpdevModeOf(const NegotiationMask& ask, int& mode, NegotiationMask& granted);

// The printer's USB device among the usbmisc nodes udev gives (DeviceNodes):
// for each id of kPrinterUsbIds in turn, every lp* node in the order of their
// numbers whose USB device has that vendor and product id. The first whose
// node opens is taken: `path` gets the node, `key` the entry's name. If none
// opens, the first that refused for lack of permission or because another
// program holds it is given all the same, so that its open fails with the
// reason. False, with the outputs unchanged, if none is there.
bool FindUsbPrinterAmong(std::vector<NodeInfo> nodes, std::string& path, std::string& key);

// What the parallel port and the USB printer devices have in common: an open
// descriptor, the calls it was opened with, and no serial line settings.
// Every call that uses the descriptor holds `use_` shared; Close takes it
// exclusively, so the descriptor is closed only after those calls have
// returned (each of them is bounded in time).
class PrinterDevice : public PrinterPortDevice {
 public:
  PrinterDevice(PrinterOs& os, int fd) : os_(os), fd_(fd) {}
  PrinterDevice(const PrinterDevice&) = delete;
  PrinterDevice& operator=(const PrinterDevice&) = delete;

 protected:
  PrinterOs& os_;
  const int fd_;
  std::atomic<bool> closed_{false};
  std::shared_mutex use_;
};

}  // namespace quillon::platform::posix
