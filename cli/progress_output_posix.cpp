// The progress stream on POSIX systems: a pipe of the program's own whose
// writing end does not block, and a thread that passes what comes out of it
// on to the real descriptor. Only that thread ever waits for a reader.

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <thread>

#include "cli/progress_output.h"
#include "platform/event.h"

namespace quillon::cli {

namespace {
constexpr uint32_t kDrainMs = 1000;
}  // namespace

struct ProgressOutput::Forwarder {
  int from = -1;
  int to = -1;
  platform::Event drained{true};

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
    drained.Set();
  }
};

ProgressOutput::ProgressOutput(std::FILE* to) : stream_(to) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return;
  std::FILE* stream = nullptr;
  if (::fcntl(fds[1], F_SETFL, O_NONBLOCK) == 0) stream = ::fdopen(fds[1], "w");
  if (!stream) {
    ::close(fds[0]);
    ::close(fds[1]);
    return;
  }
  std::fflush(to);
  auto forwarder = std::make_shared<Forwarder>();
  forwarder->from = fds[0];
  forwarder->to = ::fileno(to);
  try {
    // Detached: a thread stuck in a write must not keep the program from
    // ending.
    std::thread([forwarder] { forwarder->Run(); }).detach();
  } catch (const std::system_error&) {
    std::fclose(stream);
    ::close(fds[0]);
    return;
  }
  forwarder_ = std::move(forwarder);
  stream_ = stream;
}

ProgressOutput::~ProgressOutput() {
  if (!forwarder_) return;
  std::fclose(stream_);  // the forwarder reads the end of it
  forwarder_->drained.Wait(kDrainMs);
}

}  // namespace quillon::cli
