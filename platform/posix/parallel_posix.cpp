// The parallel port on Linux: a ppdev node (/dev/parportN), claimed for this
// process alone.
//
// Choices worth knowing:
// - The port is claimed exclusively (PPEXCL, then PPCLAIM). The claim fails
//   with ENXIO while another driver, usually lp, holds the port: that is
//   reported as a port in use (EBUSY).
// - The node is opened non-blocking: a blocking read of the reverse channel
//   spins in the kernel until data or a signal comes. A read that finds
//   nothing is success with 0 bytes.
// - poll() on ppdev needs the port's interrupt line and does not mean "data
//   available", so it is not used. A write that would block is tried again
//   every 10 ms on the process clock, for at most 10 s in all; then it
//   reports what went out, as a write time-out does on Windows (success with
//   fewer bytes).
// - PPNEGOT says only whether the peripheral accepted the one mode asked for.
//   On success the device reports the modes the Windows parallel class driver
//   reports for that mode, so the port layer sees the same answers on both
//   systems.
// - Close releases the port (PPRELEASE); closing the node would too, and
//   takes the port back to compatibility mode.

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "platform/clock.h"
#include "platform/device.h"
#include "platform/posix/fail.h"
#include "platform/posix/printer_posix.h"

namespace quillon::platform {

namespace posix {

bool PpdevModeOf(const NegotiationMask& ask, int& mode, NegotiationMask& granted) {
  if (ask.usReadMask == kModeEcpHwNoIrq && ask.usWriteMask == kModeEcpHwNoIrq) {
    mode = kIeee1284ModeEcp;
    granted = {kModeEcpHwNoIrq, kModeEcpHwNoIrq};
    return true;
  }
  if (ask.usReadMask == kModeNibble && ask.usWriteMask == kModeCompatibility) {
    mode = kIeee1284ModeNibble;
    granted = {kModeNibble, kModeCompatibility};
    return true;
  }
  if (ask.usReadMask == kModeCompatibility && ask.usWriteMask == kModeCompatibility) {
    // The forward channel only: the class driver reports no read mode.
    mode = kIeee1284ModeCompat;
    granted = {kModeNone, kModeCompatibility};
    return true;
  }
  return false;
}

}  // namespace posix

namespace {

constexpr int64_t kWriteRetryMs = 10;
constexpr int64_t kWriteLimitMs = 10'000;

using posix::Fail;
using posix::FailClosed;

class ParallelDevice final : public posix::PrinterDevice {
 public:
  using PrinterDevice::PrinterDevice;
  ~ParallelDevice() override { Close(); }

  bool Read(uint8_t* data, uint32_t n, uint32_t& got) override {
    got = 0;
    std::shared_lock use(use_);
    if (closed_.load()) return FailClosed();
    for (;;) {
      const ssize_t r = os_.Read(fd_, data, n);
      if (r >= 0) {
        got = static_cast<uint32_t>(r);
        return true;
      }
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return true;  // nothing there
      return Fail(errno);
    }
  }

  bool Write(const uint8_t* data, uint32_t n, uint32_t& written) override {
    written = 0;
    std::shared_lock use(use_);
    if (closed_.load()) return FailClosed();
    Clock& clock = GetClock();
    const int64_t deadline = clock.NowMs() + kWriteLimitMs;
    while (written < n) {
      const ssize_t r = os_.Write(fd_, data + written, n - written);
      if (r > 0) {
        written += static_cast<uint32_t>(r);
        continue;
      }
      if (r < 0 && errno == EINTR) continue;
      if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return Fail(errno);
      // The printer takes nothing for now.
      const int64_t now = clock.NowMs();
      if (now >= deadline) return true;
      clock.Pause(static_cast<uint32_t>(std::min(kWriteRetryMs, deadline - now)));
    }
    return true;
  }

  bool Negotiate(const NegotiationMask& ask, NegotiationMask& granted) override {
    std::shared_lock use(use_);
    if (closed_.load()) return FailClosed();
    int mode = 0;
    NegotiationMask reported;
    if (!posix::PpdevModeOf(ask, mode, reported)) {
      SetLastError(kErrorInvalidParameter);
      return false;
    }
    // EIO: no IEEE 1284 peripheral answered; ENXIO: it refused the mode.
    while (os_.Ioctl(fd_, posix::kPpNegotiate, &mode) != 0) {
      if (errno != EINTR) return Fail(errno);
    }
    granted = reported;
    return true;
  }

  void Close() override {
    if (closed_.exchange(true)) return;
    std::unique_lock use(use_);  // waits for the calls still using the port
    (void)os_.Ioctl(fd_, posix::kPpRelease, nullptr);
    (void)os_.Close(fd_);
  }
};

}  // namespace

std::shared_ptr<SerialDevice> OpenOsParallel(const std::string& path) {
  posix::PrinterOs& os = posix::printerOs.Get();
  // EACCES: the user is not in the group that owns the port (usually lp).
  const int fd = os.Open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    Fail(errno);
    return nullptr;
  }
  for (const unsigned long request : {posix::kPpExclusive, posix::kPpClaim}) {
    while (os.Ioctl(fd, request, nullptr) != 0) {
      if (errno == EINTR) continue;
      int err = errno;
      if (request == posix::kPpClaim && err == ENXIO) err = EBUSY;  // another driver has it
      (void)os.Close(fd);
      Fail(err);
      return nullptr;
    }
  }
  return std::make_shared<ParallelDevice>(os, fd);
}

}  // namespace quillon::platform
