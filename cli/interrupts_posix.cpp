// Interrupts on POSIX systems: SIGINT, SIGTERM, SIGHUP (and SIGUSR1, which
// only ends the waiting thread) are blocked in every thread and taken by
// sigwait on a thread of their own. SIGPIPE is ignored.

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "cli/interrupts.h"

namespace quillon::cli {

namespace {

sigset_t TakenSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGUSR1);
  return set;
}

bool IsClosed(int fd) {
  return ::fcntl(fd, F_GETFD) == -1 && errno == EBADF;
}

}  // namespace

void PrepareProcess() {
  // In order, so that each open takes the lowest free descriptor: this one.
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (!IsClosed(fd)) continue;
    const int opened = ::open("/dev/null", O_RDWR);
    if (opened >= 0 && opened != fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
  ::signal(SIGPIPE, SIG_IGN);
}

void PrepareInterrupts() {
  // Threads made later inherit the mask.
  const sigset_t set = TakenSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool StderrIsTerminal() {
  return isatty(STDERR_FILENO) != 0;
}

struct Interrupts::Source {
  explicit Source(Interrupts& owner) {
    thread = std::thread([this, &owner] {
      const sigset_t set = TakenSignals();
      for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0) continue;
        if (stopping) return;
        if (signal == SIGTERM) {
          owner.OnTerminate();
        } else if (signal == SIGINT) {
          owner.OnInterrupt();
        } else if (signal == SIGHUP) {
          owner.OnHangUp();
        }
      }
    });
  }
  ~Source() {
    stopping = true;
    pthread_kill(thread.native_handle(), SIGUSR1);
    thread.join();
  }

  std::atomic<bool> stopping{false};
  std::thread thread;
};

Interrupts::Interrupts(const std::atomic<int>& phase, ProgressView& view,
                       std::function<void()> requestStop, platform::Event* stopped)
    : phase_(phase),
      view_(view),
      requestStop_(std::move(requestStop)),
      stopped_(stopped),
      source_(std::make_unique<Source>(*this)) {}

Interrupts::~Interrupts() = default;

}  // namespace quillon::cli
