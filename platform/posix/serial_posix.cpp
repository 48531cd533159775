// The serial line on POSIX systems: a tty device driven through termios, with
// the Win32 read and write time-outs carried out with poll() on the process
// clock.
//
// Choices worth knowing:
// - Exclusive use: flock(LOCK_EX | LOCK_NB) on the open device. A second
//   open, in this process or another that takes the same care, fails with a
//   sharing violation. The lock goes with the descriptor, so a program that
//   is killed leaves nothing behind. TIOCEXCL is not used: the tty keeps that
//   flag for as long as any other descriptor holds it open, so a killed
//   program would leave the line closed to every other user (root aside).
// - Lines without modem lines (a pseudo-terminal) fail the modem ioctls with
//   ENOTTY (older kernels: EINVAL). That is taken as "no modem lines": raising
//   DTR or RTS is then a no-op and DSR output flow control lets data through.
// - DSR output flow control does not exist in termios: before each chunk of a
//   write DSR is looked at, and while it is low the write waits in steps of
//   10 ms, bounded by the write time-out.
// - Hang-up (the other end of a pseudo-terminal closed, a USB adapter pulled):
//   poll() reports POLLHUP/POLLERR and read() gives 0 or EIO. A read then
//   fails with EIO rather than waiting for its time-out; bytes it had already
//   received are returned first, and the next read reports the failure.
// - Close() may come while another thread is inside Read or Write: a wake-up
//   pipe ends their waits, and the descriptor is closed only after they have
//   left, so it is never reused under them.
// - The line's termios settings as they were found at open are put back on
//   close, so that a terminal used as a port is not left in raw mode.
// - The program's own terminal is never taken as a port: raw mode on it would
//   take Ctrl-C away from the user and garble the screen. The controlling
//   terminal (whatever name it is opened by, /dev/tty included) and any
//   terminal on the standard descriptors fail to open as "in use".

#include "platform/posix/serial_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <mutex>
#include <shared_mutex>

#include "platform/clock.h"
#include "platform/device.h"
#include "platform/posix/fail.h"

namespace quillon::platform {

namespace posix {

namespace {

struct BaudCode {
  uint32_t baud;
  speed_t speed;
};

constexpr BaudCode kBaudCodes[] = {
    {50, B50},           {75, B75},     {110, B110},   {134, B134},     {150, B150},
    {200, B200},         {300, B300},   {600, B600},   {1200, B1200},   {1800, B1800},
    {2400, B2400},       {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400},
#ifdef B57600
    {57600, B57600},
#endif
#ifdef B115200
    {115200, B115200},
#endif
#ifdef B230400
    {230400, B230400},
#endif
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B3500000
    {3500000, B3500000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

}  // namespace

bool SpeedOfBaud(uint32_t baud, speed_t& speed) {
  for (const BaudCode& code : kBaudCodes) {
    if (code.baud == baud) {
      speed = code.speed;
      return true;
    }
  }
  return false;
}

uint32_t BaudOfSpeed(speed_t speed) {
  for (const BaudCode& code : kBaudCodes) {
    if (code.speed == speed) return code.baud;
  }
  return 0;
}

bool ApplyDcb(const Dcb& dcb, termios& t) {
  speed_t speed = 0;
  if (!SpeedOfBaud(dcb.BaudRate, speed)) return false;

  tcflag_t size = 0;
  switch (dcb.ByteSize) {
    case 5:
      size = CS5;
      break;
    case 6:
      size = CS6;
      break;
    case 7:
      size = CS7;
      break;
    case 8:
      size = CS8;
      break;
    default:
      return false;
  }

  tcflag_t parity = 0;
  switch (dcb.Parity) {
    case kNoParity:
      break;
    case kOddParity:
      parity = PARENB | PARODD;
      break;
    case kEvenParity:
      parity = PARENB;
      break;
#ifdef CMSPAR
    case kMarkParity:
      parity = PARENB | CMSPAR | PARODD;
      break;
    case kSpaceParity:
      parity = PARENB | CMSPAR;
      break;
#endif
    default:
      return false;
  }

  tcflag_t stop = 0;
  switch (dcb.StopBits) {
    case kOneStopBit:
      break;
    case kOne5StopBits:
    case kTwoStopBits:
      stop = CSTOPB;
      break;
    default:
      return false;
  }

  termios n = t;
  cfmakeraw(&n);
  tcflag_t clear = CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS;
#ifdef CMSPAR
  clear |= CMSPAR;
#endif
  n.c_cflag &= ~clear;
  n.c_cflag |= CLOCAL | CREAD | size | parity | stop;
  if (dcb.fOutxCtsFlow) n.c_cflag |= CRTSCTS;

  n.c_iflag &= ~(IXON | IXOFF | IXANY | IGNPAR | PARMRK | INPCK | ISTRIP);
  if (dcb.fParity) n.c_iflag |= INPCK;
  if (dcb.fOutX) n.c_iflag |= IXON;
  if (dcb.fInX) n.c_iflag |= IXOFF;
  n.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
  n.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
  n.c_cc[VMIN] = 0;
  n.c_cc[VTIME] = 0;

  if (cfsetispeed(&n, speed) != 0 || cfsetospeed(&n, speed) != 0) return false;
  t = n;
  return true;
}

void ReadDcb(const termios& t, Dcb& dcb) {
  if (const uint32_t baud = BaudOfSpeed(cfgetospeed(&t)); baud != 0) dcb.BaudRate = baud;
  switch (t.c_cflag & CSIZE) {
    case CS5:
      dcb.ByteSize = 5;
      break;
    case CS6:
      dcb.ByteSize = 6;
      break;
    case CS7:
      dcb.ByteSize = 7;
      break;
    default:
      dcb.ByteSize = 8;
      break;
  }
  const bool odd = (t.c_cflag & PARODD) != 0;
#ifdef CMSPAR
  const bool stick = (t.c_cflag & CMSPAR) != 0;
#else
  const bool stick = false;
#endif
  if (!(t.c_cflag & PARENB)) {
    dcb.Parity = kNoParity;
  } else if (stick) {
    dcb.Parity = odd ? kMarkParity : kSpaceParity;
  } else {
    dcb.Parity = odd ? kOddParity : kEvenParity;
  }
  if (!(t.c_cflag & CSTOPB)) {
    dcb.StopBits = kOneStopBit;
  } else if (dcb.StopBits != kOne5StopBits) {
    dcb.StopBits = kTwoStopBits;
  }
  dcb.fBinary = 1;
  dcb.fParity = (t.c_iflag & INPCK) ? 1 : 0;
  dcb.fOutxCtsFlow = (t.c_cflag & CRTSCTS) ? 1 : 0;
  dcb.fOutX = (t.c_iflag & IXON) ? 1 : 0;
  dcb.fInX = (t.c_iflag & IXOFF) ? 1 : 0;
  dcb.XonChar = static_cast<char>(t.c_cc[VSTART]);
  dcb.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
}

}  // namespace posix

namespace {

// While DSR output flow control is on, a write goes out in chunks of at most
// this many bytes, DSR being looked at before each.
constexpr uint32_t kDsrChunk = 256;
// How often DSR is looked at while it is low.
constexpr int64_t kDsrPollMs = 10;

using posix::Fail;
using posix::FailClosed;

// The modem-line ioctls fail like this on a line that has none.
bool NoModemLines(int err) {
  return err == ENOTTY || err == EINVAL;
}

// Raises (`on`) or lowers the modem lines `bits`. A line without modem lines
// counts as done. Returns 0 or the errno of the failure.
int SetModemLines(int fd, int bits, bool on) {
  for (;;) {
    if (::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0) return 0;
    if (errno == EINTR) continue;
    return NoModemLines(errno) ? 0 : errno;
  }
}

int TcSetAttr(int fd, const termios& t) {
  for (;;) {
    if (::tcsetattr(fd, TCSANOW, &t) == 0) return 0;
    if (errno != EINTR) return errno;
  }
}

// The poll() time-out that ends at `deadline` (kForever: none).
int PollTimeout(int64_t deadline, int64_t now) {
  if (deadline == kForever) return -1;
  constexpr int64_t kLongest = 1 << 30;
  return static_cast<int>(std::clamp<int64_t>(deadline - now, 0, kLongest));
}

class PosixSerialDevice final : public SerialDevice {
 public:
  PosixSerialDevice(int fd, int wakeRead, int wakeWrite, const termios& original)
      : fd_(fd), wakeRead_(wakeRead), wakeWrite_(wakeWrite), original_(original) {}
  ~PosixSerialDevice() override { Close(); }
  PosixSerialDevice(const PosixSerialDevice&) = delete;
  PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

  bool GetState(Dcb& dcb) override;
  bool SetState(const Dcb& dcb) override;
  bool GetTimeouts(CommTimeouts& t) override;
  bool SetTimeouts(const CommTimeouts& t) override;
  bool Read(uint8_t* data, uint32_t n, uint32_t& got) override;
  bool Write(const uint8_t* data, uint32_t n, uint32_t& written) override;
  bool Purge(uint32_t flags) override;
  void Close() override;

 private:
  enum class Wait { kReady, kTimedOut, kClosed, kFailed };

  // Waits until the device reports `events` (or a hang-up or error), the
  // monotonic deadline passes or the device is closed. On kReady `revents`
  // holds what poll() reported; on kFailed `err` holds the errno.
  Wait WaitFor(short events, int64_t deadline, short& revents, int& err);
  // Sleeps for `ms`, or less if the device is closed meanwhile.
  Wait Sleep(int64_t ms);
  // Waits until DSR is high (kReady), the line turns out to have no modem
  // lines (also kReady, with `noLines` set), or the deadline passes.
  Wait WaitForDsr(int64_t deadline, bool& noLines, int& err);

  const int fd_;
  const int wakeRead_;
  const int wakeWrite_;
  const termios original_;  // the settings found at open, put back on close
  std::atomic<bool> closed_{false};
  // Held shared by every call that uses fd_, exclusively by Close.
  std::shared_mutex io_;
  // Guards the settings below and orders the termios calls.
  std::mutex settings_;
  Dcb dcb_;
  CommTimeouts timeouts_;
};

PosixSerialDevice::Wait PosixSerialDevice::WaitFor(short events, int64_t deadline, short& revents,
                                                   int& err) {
  Clock& clock = GetClock();
  for (;;) {
    const int64_t now = clock.NowMs();
    if (now >= deadline) return Wait::kTimedOut;
    pollfd fds[2] = {{fd_, events, 0}, {wakeRead_, POLLIN, 0}};
    const int rc = ::poll(fds, 2, PollTimeout(deadline, now));
    if (rc < 0) {
      if (errno == EINTR) continue;
      err = errno;
      return Wait::kFailed;
    }
    if (fds[1].revents != 0) return Wait::kClosed;
    if (rc == 0) continue;  // look at the clock again
    revents = fds[0].revents;
    return Wait::kReady;
  }
}

PosixSerialDevice::Wait PosixSerialDevice::Sleep(int64_t ms) {
  pollfd wake{wakeRead_, POLLIN, 0};
  const int rc = ::poll(&wake, 1, PollTimeout(ms, 0));
  return rc > 0 ? Wait::kClosed : Wait::kReady;  // EINTR: the caller looks again
}

PosixSerialDevice::Wait PosixSerialDevice::WaitForDsr(int64_t deadline, bool& noLines, int& err) {
  Clock& clock = GetClock();
  for (;;) {
    int status = 0;
    if (::ioctl(fd_, TIOCMGET, &status) < 0) {
      if (errno == EINTR) continue;
      if (NoModemLines(errno)) {
        noLines = true;
        return Wait::kReady;
      }
      err = errno;
      return Wait::kFailed;
    }
    if (status & TIOCM_DSR) return Wait::kReady;
    const int64_t now = clock.NowMs();
    if (now >= deadline) return Wait::kTimedOut;
    if (Sleep(std::min(kDsrPollMs, deadline - now)) == Wait::kClosed) return Wait::kClosed;
  }
}

bool PosixSerialDevice::GetState(Dcb& dcb) {
  std::shared_lock io(io_);
  if (closed_.load()) return FailClosed();
  std::lock_guard lock(settings_);
  termios t{};
  if (::tcgetattr(fd_, &t) != 0) return Fail(errno);
  Dcb state = dcb_;
  posix::ReadDcb(t, state);
  dcb = state;
  return true;
}

bool PosixSerialDevice::SetState(const Dcb& dcb) {
  std::shared_lock io(io_);
  if (closed_.load()) return FailClosed();
  if (dcb.fDtrControl > kDtrControlHandshake || dcb.fRtsControl > kRtsControlToggle) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  std::lock_guard lock(settings_);
  termios t{};
  if (::tcgetattr(fd_, &t) != 0) return Fail(errno);
  if (!posix::ApplyDcb(dcb, t)) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  if (const int err = TcSetAttr(fd_, t); err != 0) return Fail(err);
  // termios has no DTR or RTS handshake (beyond CRTSCTS) and no RTS toggle:
  // those modes leave the line raised.
  if (const int err = SetModemLines(fd_, TIOCM_DTR, dcb.fDtrControl != kDtrControlDisable)) {
    return Fail(err);
  }
  if (const int err = SetModemLines(fd_, TIOCM_RTS, dcb.fRtsControl != kRtsControlDisable)) {
    return Fail(err);
  }
  dcb_ = dcb;
  return true;
}

bool PosixSerialDevice::GetTimeouts(CommTimeouts& t) {
  if (closed_.load()) return FailClosed();
  std::lock_guard lock(settings_);
  t = timeouts_;
  return true;
}

bool PosixSerialDevice::SetTimeouts(const CommTimeouts& t) {
  if (closed_.load()) return FailClosed();
  std::lock_guard lock(settings_);
  timeouts_ = t;
  return true;
}

bool PosixSerialDevice::Read(uint8_t* data, uint32_t n, uint32_t& got) {
  got = 0;
  std::shared_lock io(io_);
  if (closed_.load()) return FailClosed();
  CommTimeouts timeouts;
  {
    std::lock_guard lock(settings_);
    timeouts = timeouts_;
  }
  const ReadPlan plan = PlanRead(timeouts, n);
  Clock& clock = GetClock();
  const int64_t start = clock.NowMs();
  int64_t lastByteAt = start;
  bool hungUp = false;  // the last wait reported a hang-up or an error
  for (;;) {
    // Take everything that is there. With VMIN = VTIME = 0 an empty tty
    // reads 0 bytes (or EAGAIN); after a hang-up it reads 0 or fails.
    while (got < n) {
      const ssize_t r = ::read(fd_, data + got, n - got);
      if (r > 0) {
        got += static_cast<uint32_t>(r);
        lastByteAt = clock.NowMs();
        continue;
      }
      if (r < 0 && errno == EINTR) continue;
      if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        if (got > 0) return true;  // the next read reports it
        return Fail(errno);
      }
      if (hungUp) {
        if (got > 0) return true;
        return Fail(EIO);
      }
      break;
    }
    if (got == n || plan.returnAtOnce || (plan.returnOnAnyByte && got > 0)) return true;
    int64_t deadline = plan.totalMs >= 0 ? start + plan.totalMs : kForever;
    if (plan.intervalMs >= 0 && got > 0) {
      deadline = std::min(deadline, lastByteAt + plan.intervalMs);
    }
    short revents = 0;
    int err = 0;
    switch (WaitFor(POLLIN, deadline, revents, err)) {
      case Wait::kReady:
        hungUp = (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
        break;
      case Wait::kTimedOut:
        return true;
      case Wait::kClosed:
        return FailClosed();
      case Wait::kFailed:
        return Fail(err);
    }
  }
}

bool PosixSerialDevice::Write(const uint8_t* data, uint32_t n, uint32_t& written) {
  written = 0;
  std::shared_lock io(io_);
  if (closed_.load()) return FailClosed();
  CommTimeouts timeouts;
  bool dsrFlow = false;
  {
    std::lock_guard lock(settings_);
    timeouts = timeouts_;
    dsrFlow = dcb_.fOutxDsrFlow != 0;
  }
  Clock& clock = GetClock();
  const int64_t limit = PlanWriteMs(timeouts, n);
  const int64_t deadline = limit < 0 ? kForever : clock.NowMs() + limit;
  bool hungUp = false;  // the last wait reported a hang-up or an error
  while (written < n) {
    uint32_t chunk = n - written;
    if (dsrFlow) {
      bool noLines = false;
      int err = 0;
      switch (WaitForDsr(deadline, noLines, err)) {
        case Wait::kReady:
          break;
        case Wait::kTimedOut:
          return true;
        case Wait::kClosed:
          return FailClosed();
        case Wait::kFailed:
          return Fail(err);
      }
      if (noLines) {
        dsrFlow = false;  // nothing to wait for on this line
      } else {
        chunk = std::min(chunk, kDsrChunk);
      }
    }
    const ssize_t r = ::write(fd_, data + written, chunk);
    if (r > 0) {
      written += static_cast<uint32_t>(r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return Fail(errno);
    if (hungUp) return Fail(EIO);
    short revents = 0;
    int err = 0;
    switch (WaitFor(POLLOUT, deadline, revents, err)) {
      case Wait::kReady:
        hungUp = (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
        break;
      case Wait::kTimedOut:
        return true;  // success with fewer bytes, as Win32 has it
      case Wait::kClosed:
        return FailClosed();
      case Wait::kFailed:
        return Fail(err);
    }
  }
  return true;
}

bool PosixSerialDevice::Purge(uint32_t flags) {
  std::shared_lock io(io_);
  if (closed_.load()) return FailClosed();
  // Reads and writes are synchronous: there is nothing to abort, only the
  // driver's queues to empty.
  const bool rx = (flags & kPurgeRxClear) != 0;
  const bool tx = (flags & kPurgeTxClear) != 0;
  if (!rx && !tx) return true;
  const int queue = rx && tx ? TCIOFLUSH : rx ? TCIFLUSH : TCOFLUSH;
  if (::tcflush(fd_, queue) != 0) return Fail(errno);
  return true;
}

void PosixSerialDevice::Close() {
  if (closed_.exchange(true)) return;
  // Wake the calls waiting on the line, then wait for them to leave.
  const uint8_t byte = 1;
  const ssize_t woken = ::write(wakeWrite_, &byte, 1);
  (void)woken;  // the pipe is empty: the byte always fits
  std::unique_lock io(io_);
  (void)TcSetAttr(fd_, original_);  // a line that has hung up refuses: nothing to keep
  ::close(fd_);                     // also releases the lock
  ::close(wakeRead_);
  ::close(wakeWrite_);
}

// Opens the wake-up pipe of a device; returns 0 or the errno.
int OpenWakePipe(int fds[2]) {
  if (::pipe(fds) != 0) return errno;
  for (int i = 0; i < 2; ++i) {
    if (::fcntl(fds[i], F_SETFD, FD_CLOEXEC) != 0 ||
        ::fcntl(fds[i], F_SETFL, ::fcntl(fds[i], F_GETFL) | O_NONBLOCK) != 0) {
      const int err = errno;
      ::close(fds[0]);
      ::close(fds[1]);
      return err;
    }
  }
  return 0;
}

// Whether `fd` is the terminal the program runs on: the controlling terminal
// of its session, or a terminal on one of the standard descriptors.
bool IsOwnTerminal(int fd) {
  const pid_t session = ::getsid(0);
  if (session >= 0 && ::tcgetsid(fd) == session) return true;
  struct stat port {};
  if (::fstat(fd, &port) != 0 || !S_ISCHR(port.st_mode)) return false;
  for (int standard = STDIN_FILENO; standard <= STDERR_FILENO; ++standard) {
    struct stat st {};
    if (::isatty(standard) && ::fstat(standard, &st) == 0 && S_ISCHR(st.st_mode) &&
        st.st_rdev == port.st_rdev) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::shared_ptr<SerialDevice> OpenOsSerial(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    SetLastErrorFromErrno(errno);  // EBUSY: another program has the line exclusively (TIOCEXCL)
    return nullptr;
  }
  termios original{};
  bool changed = false;  // the settings are no longer `original`
  auto fail = [&](int err) -> std::shared_ptr<SerialDevice> {
    if (changed) (void)TcSetAttr(fd, original);
    ::close(fd);
    SetLastErrorFromErrno(err);
    return nullptr;
  };
  if (!::isatty(fd)) return fail(ENOTTY);
  if (IsOwnTerminal(fd)) return fail(EBUSY);
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    return fail(err == EWOULDBLOCK ? EBUSY : err);
  }

  if (::tcgetattr(fd, &original) != 0) return fail(errno);
  termios t = original;
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  changed = true;
  if (const int err = TcSetAttr(fd, t); err != 0) return fail(err);
  if (const int err = SetModemLines(fd, TIOCM_DTR | TIOCM_RTS, true); err != 0) return fail(err);

  int wake[2];
  if (const int err = OpenWakePipe(wake); err != 0) return fail(err);
  return std::make_shared<PosixSerialDevice>(fd, wake[0], wake[1], original);
}

}  // namespace quillon::platform
