// Interrupts on POSIX systems: SIGINT, SIGTERM (and SIGUSR1, which only ends
// the waiting thread) are blocked in every thread and taken by sigwait on a
// thread of their own.

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

#include "cli/interrupts.h"

namespace quillon::cli {

namespace {

sigset_t TakenSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGUSR1);
  return set;
}

}  // namespace

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

Interrupts::Interrupts(const std::atomic<int>& phase, ProgressView& view)
    : phase_(phase), view_(view), source_(std::make_unique<Source>(*this)) {}

Interrupts::~Interrupts() = default;

}  // namespace quillon::cli
