// The progress stream on POSIX systems: a pipe of the program's own whose
// writing end does not block, and a thread that passes what comes out of it
// on to the real descriptor. Only that thread ever waits for a reader.

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <thread>

#include "cli/progress_output.h"

namespace quillon::cli {

namespace {
constexpr int kDrainMs = 1000;
}  // namespace

struct ProgressOutput::Forwarder {
  int from = -1;
  int to = -1;
  // Closed by the thread when all is passed on. Nothing else is shared with
  // it: a thread still stuck in a write at the program's end touches nothing
  // that the end destroys.
  int doneRead = -1;
  int doneWrite = -1;

  void Run() {
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(from, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      for (ssize_t done = 0; done < n;) {
        const ssize_t w = ::write(to, buffer + done, static_cast<size_t>(n - done));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) break;  // output that cannot be written is lost
        done += w;
      }
    }
    ::close(from);
    ::close(doneWrite);
  }
};

ProgressOutput::ProgressOutput(std::FILE* to) : stream_(to) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return;
  int done[2];
  if (::pipe2(done, O_CLOEXEC) != 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return;
  }
  std::FILE* stream = nullptr;
  if (::fcntl(fds[1], F_SETFL, O_NONBLOCK) == 0) stream = ::fdopen(fds[1], "w");
  if (!stream) {
    for (const int fd : {fds[0], fds[1], done[0], done[1]}) ::close(fd);
    return;
  }
  std::fflush(to);
  auto forwarder = std::make_shared<Forwarder>();
  forwarder->from = fds[0];
  forwarder->to = ::fileno(to);
  forwarder->doneRead = done[0];
  forwarder->doneWrite = done[1];
  try {
    // Detached: a thread stuck in a write must not keep the program from
    // ending.
    std::thread([forwarder] { forwarder->Run(); }).detach();
  } catch (const std::system_error&) {
    std::fclose(stream);
    for (const int fd : {fds[0], done[0], done[1]}) ::close(fd);
    return;
  }
  forwarder_ = std::move(forwarder);
  stream_ = stream;
}

ProgressOutput::~ProgressOutput() {
  if (!forwarder_) return;
  std::fclose(stream_);  // the forwarder reads the end of it
  pollfd done{forwarder_->doneRead, POLLIN, 0};
  while (::poll(&done, 1, kDrainMs) < 0 && errno == EINTR) {
  }
  ::close(forwarder_->doneRead);
}

}  // namespace quillon::cli
