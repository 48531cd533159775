// The USB printer on Linux: a usblp node (/dev/usb/lpN), found through udev
// by the printer's vendor and product ids.
//
// Choices worth knowing:
// - The node is opened non-blocking. usblp supports poll(): a waiting read
//   polls for input up to its time-out, then reads; a write that the driver
//   cannot take yet (EAGAIN while a chunk is pending) polls for output and
//   goes on, for at most 10 s in all, then reports what went out (success
//   with fewer bytes).
// - Writes go out in pieces of at most 4096 bytes, as on Windows.
// - A printer that has been unplugged fails every call with ENODEV, which is
//   reported as an invalid handle: the port layer then opens the printer
//   again.
// - usblp lets one program at a time open a node (EBUSY for the next), so
//   the search asks udev first and opens only the nodes of the printer's
//   ids.

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/clock.h"
#include "platform/device.h"
#include "platform/posix/fail.h"
#include "platform/posix/printer_posix.h"
#include "platform/posix/udev_posix.h"

namespace quillon::platform {

namespace {

constexpr int64_t kWriteLimitMs = 10'000;
constexpr int kOpenFlags = O_RDWR | O_NONBLOCK | O_CLOEXEC;

using posix::Fail;
using posix::FailClosed;

// The poll() time-out that ends at `deadline`.
int PollTimeout(int64_t deadline, int64_t now) {
  constexpr int64_t kLongest = 1 << 30;
  return static_cast<int>(std::clamp<int64_t>(deadline - now, 0, kLongest));
}

class UsbDevice final : public posix::PrinterDevice {
 public:
  using PrinterDevice::PrinterDevice;
  ~UsbDevice() override { Close(); }

  // What has come in already.
  bool Read(uint8_t* data, uint32_t n, uint32_t& got) override { return ReadWait(data, n, got, 0); }

  bool ReadWait(uint8_t* data, uint32_t n, uint32_t& got, uint32_t waitMs) override {
    got = 0;
    std::shared_lock use(use_);
    if (closed_.load()) return FailClosed();
    Clock& clock = GetClock();
    const int64_t deadline = clock.NowMs() + waitMs;
    for (;;) {
      pollfd input{fd_, POLLIN, 0};
      const int rc = os_.Poll(&input, 1, PollTimeout(deadline, clock.NowMs()));
      if (rc < 0) {
        if (errno == EINTR) continue;
        return Fail(errno);
      }
      if (rc == 0) return true;  // nothing came in time
      if (input.revents & POLLNVAL) return Fail(EBADF);
      break;  // data, or an error that the read reports
    }
    for (;;) {
      const ssize_t r = os_.Read(fd_, data, n);
      if (r >= 0) {
        got = static_cast<uint32_t>(r);
        return true;
      }
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
      return Fail(errno);  // ENODEV: unplugged
    }
  }

  bool Write(const uint8_t* data, uint32_t n, uint32_t& written) override {
    written = 0;
    std::shared_lock use(use_);
    if (closed_.load()) return FailClosed();
    Clock& clock = GetClock();
    const int64_t deadline = clock.NowMs() + kWriteLimitMs;
    while (written < n) {
      const uint32_t chunk = std::min(n - written, kUsbChunk);
      const ssize_t r = os_.Write(fd_, data + written, chunk);
      if (r > 0) {
        written += static_cast<uint32_t>(r);
        continue;
      }
      if (r < 0 && errno == EINTR) continue;
      if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return Fail(errno);  // ENODEV
      // The driver still has a chunk to send: wait until it can take more.
      const int64_t now = clock.NowMs();
      if (now >= deadline) return true;
      pollfd output{fd_, POLLOUT, 0};
      const int rc = os_.Poll(&output, 1, PollTimeout(deadline, now));
      if (rc < 0) {
        if (errno == EINTR) continue;
        return Fail(errno);
      }
      if (rc == 0) return true;  // the deadline passed
      if (output.revents & POLLNVAL) return Fail(EBADF);
    }
    return true;
  }

  bool QueryDeviceId(uint8_t* data, uint32_t size, uint32_t& got) override {
    got = 0;
    std::shared_lock use(use_);
    if (closed_.load()) return FailClosed();
    uint8_t id[posix::kUsbDeviceIdMax] = {};
    while (os_.Ioctl(fd_, posix::UsbDeviceIdRequest(sizeof id), id) != 0) {
      if (errno != EINTR) return Fail(errno);
    }
    // The driver returns no count: the identifier's own length says it.
    const uint32_t length = std::min<uint32_t>((uint32_t{id[0]} << 8) | id[1], sizeof id);
    got = std::min(length, size);
    if (got > 0) std::memcpy(data, id, got);
    return true;
  }

  bool QueryStatus(uint8_t& status) override {
    std::shared_lock use(use_);
    if (closed_.load()) return FailClosed();
    int value = 0;
    while (os_.Ioctl(fd_, posix::kLpGetStatus, &value) != 0) {
      if (errno != EINTR) return Fail(errno);
    }
    status = static_cast<uint8_t>(value);
    return true;
  }

  void Close() override {
    if (closed_.exchange(true)) return;
    std::unique_lock use(use_);  // waits for the calls still using the node
    (void)os_.Close(fd_);
  }
};

}  // namespace

namespace posix {

bool FindUsbPrinterAmong(std::vector<NodeInfo> nodes, std::string& path, std::string& key) {
  PrinterOs& os = printerOs.Get();
  SortByNumber(nodes);
  // The first printer that refused to open, for when none opens: it is
  // there, and opening it again tells the user why it cannot be used.
  std::string refusedNode;
  std::string refusedName;
  for (const UsbId& id : kPrinterUsbIds) {
    for (const NodeInfo& entry : nodes) {
      if (!entry.sysname.starts_with("lp") || !HasUsbId(entry, id)) continue;
      const std::string& node = entry.devnode;
      const std::string& name = entry.sysname;
      // Open and close again: a node that some program holds (EBUSY) or that
      // may not be opened (EACCES) is passed over for one that opens; one
      // that has lost its device (ENODEV, ENOENT) is not there.
      const int fd = os.Open(node.c_str(), kOpenFlags);
      if (fd < 0) {
        if ((errno == EACCES || errno == EPERM || errno == EBUSY) && refusedNode.empty()) {
          refusedNode = node;
          refusedName = name;
        }
        continue;
      }
      (void)os.Close(fd);
      path = node;
      key = name;
      return true;
    }
  }
  if (refusedNode.empty()) return false;
  path = refusedNode;
  key = refusedName;
  return true;
}

}  // namespace posix

std::shared_ptr<SerialDevice> OpenOsUsb(const std::string& path) {
  posix::PrinterOs& os = posix::printerOs.Get();
  // EACCES: the user is not in the group that owns the node (usually lp).
  const int fd = os.Open(path.c_str(), kOpenFlags);
  if (fd < 0) {
    Fail(errno);
    return nullptr;
  }
  return std::make_shared<UsbDevice>(os, fd);
}

bool FindOsUsbPrinter(std::string& path, std::string& key) {
  return posix::FindUsbPrinterAmong(posix::DeviceNodes("usbmisc", {"lp"}), path, key);
}

}  // namespace quillon::platform
