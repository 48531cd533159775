#pragma once
// A scripted stand-in for the system calls of the parallel port and USB
// printer backends: each call is logged in a short text form ("open
// /dev/parport0 rw|nonblock|cloexec", "ioctl 7 claim", "write 7 4096", ...),
// and answers come from queues the test fills. An empty queue gives the
// everyday answer: reads find nothing (EAGAIN), writes take everything, poll
// reports the device ready.

#include <errno.h>
#include <fcntl.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/posix/printer_posix.h"
#include "support/virtual_clock.h"

namespace quillon::platform::testing {

class FakePrinterOs final : public posix::PrinterOs {
 public:
  // One answer of read: bytes, or a failure with `err`.
  struct ReadAnswer {
    std::vector<uint8_t> bytes;
    int err = 0;
  };
  // One answer of write: take at most `take` bytes, or fail with `err`.
  struct WriteAnswer {
    size_t take = SIZE_MAX;
    int err = 0;
  };
  // One answer of poll: ready (with the events asked for, or `revents` if
  // set), a time-out (which moves the virtual clock on by the time-out), or a
  // failure with `err`.
  struct PollAnswer {
    enum Kind { kReady, kTimeout, kFail } kind = kReady;
    short revents = 0;
    int err = 0;
  };

  explicit FakePrinterOs(VirtualClock* clock = nullptr) : clock_(clock) {}

  std::vector<std::string> log;
  std::map<std::string, int> openErrors;     // path -> errno
  std::map<unsigned long, int> ioctlErrors;  // request -> errno
  std::deque<ReadAnswer> reads;
  std::deque<WriteAnswer> writes;
  std::deque<PollAnswer> polls;
  std::vector<uint8_t> deviceId;  // what the device id request fills in
  int status = 0;                 // what the status request fills in
  std::vector<uint8_t> sent;      // every byte a write took
  int openCount = 0;
  int closeCount = 0;

  int Open(const char* path, int flags) override {
    log.push_back("open " + std::string(path) + " " + Flags(flags));
    if (auto it = openErrors.find(path); it != openErrors.end() && it->second != 0) {
      errno = it->second;
      return -1;
    }
    ++openCount;
    return nextFd_++;
  }

  int Close(int fd) override {
    log.push_back("close " + std::to_string(fd));
    ++closeCount;
    return 0;
  }

  ssize_t Read(int fd, void* data, size_t n) override {
    log.push_back("read " + std::to_string(fd) + " " + std::to_string(n));
    if (reads.empty()) return Failure(EAGAIN);
    ReadAnswer answer = reads.front();
    reads.pop_front();
    if (answer.err != 0) return Failure(answer.err);
    const size_t count = std::min(n, answer.bytes.size());
    if (count > 0) std::memcpy(data, answer.bytes.data(), count);
    return static_cast<ssize_t>(count);
  }

  ssize_t Write(int fd, const void* data, size_t n) override {
    log.push_back("write " + std::to_string(fd) + " " + std::to_string(n));
    WriteAnswer answer;
    if (!writes.empty()) {
      answer = writes.front();
      writes.pop_front();
    }
    if (answer.err != 0) return Failure(answer.err);
    const size_t count = std::min(n, answer.take);
    const auto* bytes = static_cast<const uint8_t*>(data);
    sent.insert(sent.end(), bytes, bytes + count);
    return static_cast<ssize_t>(count);
  }

  int Ioctl(int fd, unsigned long request, void* arg) override {
    std::string line = "ioctl " + std::to_string(fd) + " " + RequestName(request);
    if (request == posix::kPpNegotiate) line += " mode=" + std::to_string(*static_cast<int*>(arg));
    log.push_back(line);
    if (auto it = ioctlErrors.find(request); it != ioctlErrors.end() && it->second != 0) {
      return Failure(it->second);
    }
    if (request == posix::kLpGetStatus) *static_cast<int*>(arg) = status;
    if (request == posix::UsbDeviceIdRequest(posix::kUsbDeviceIdMax)) {
      std::memcpy(arg, deviceId.data(), std::min<size_t>(deviceId.size(), posix::kUsbDeviceIdMax));
    }
    return 0;
  }

  int Poll(pollfd* fds, nfds_t n, int timeoutMs) override {
    std::string line = "poll";
    for (nfds_t i = 0; i < n; ++i) {
      line += ' ';
      line += std::to_string(fds[i].fd);
      if (fds[i].events & POLLIN) line += " in";
      if (fds[i].events & POLLOUT) line += " out";
    }
    log.push_back(line + " " + std::to_string(timeoutMs));
    PollAnswer answer;
    if (!polls.empty()) {
      answer = polls.front();
      polls.pop_front();
    }
    switch (answer.kind) {
      case PollAnswer::kReady:
        for (nfds_t i = 0; i < n; ++i)
          fds[i].revents = answer.revents ? answer.revents : fds[i].events;
        return static_cast<int>(n);
      case PollAnswer::kTimeout:
        if (clock_ && timeoutMs > 0) clock_->Advance(timeoutMs);
        for (nfds_t i = 0; i < n; ++i) fds[i].revents = 0;
        return 0;
      case PollAnswer::kFail:
        return Failure(answer.err);
    }
    return 0;
  }

  // The log entries that start with `prefix`.
  std::vector<std::string> Calls(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& line : log) {
      if (line.starts_with(prefix)) out.push_back(line);
    }
    return out;
  }

  static std::string RequestName(unsigned long request) {
    switch (request) {
      case posix::kPpClaim:
        return "claim";
      case posix::kPpRelease:
        return "release";
      case posix::kPpExclusive:
        return "exclusive";
      case posix::kPpNegotiate:
        return "negotiate";
      case posix::kLpGetStatus:
        return "status";
      default:
        break;
    }
    if (request == posix::UsbDeviceIdRequest(posix::kUsbDeviceIdMax)) return "device-id";
    return std::to_string(request);
  }

 private:
  static int Failure(int err) {
    errno = err;
    return -1;
  }

  static std::string Flags(int flags) {
    std::string out = (flags & O_ACCMODE) == O_RDWR ? "rw" : "not-rw";
    if (flags & O_NONBLOCK) out += "|nonblock";
    if (flags & O_CLOEXEC) out += "|cloexec";
    return out;
  }

  VirtualClock* clock_;
  int nextFd_ = 7;
};

}  // namespace quillon::platform::testing
