// Interrupts on Windows: the console's control events, taken by a handler
// that the system runs on a thread of its own. Ctrl-C is an interrupt;
// Ctrl-Break, closing the console, logging off and shutting down ask the
// program to terminate.

#include <io.h>
#include <windows.h>

#include <cstdio>
#include <mutex>

#include "cli/interrupts.h"

namespace quillon::cli {

namespace {

// Events wait here until an Interrupts object takes them, as a blocked
// signal waits on POSIX systems.
struct Routing {
  std::mutex mutex;
  Interrupts* target = nullptr;
  int pendingInterrupts = 0;
  bool pendingTerminate = false;
  bool prepared = false;
};

Routing& Route() {
  static Routing routing;
  return routing;
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  const bool interrupt = event == CTRL_C_EVENT;
  Routing& r = Route();
  std::lock_guard lock(r.mutex);
  if (r.target) {
    if (interrupt) {
      r.target->OnInterrupt();
    } else {
      r.target->OnTerminate();
    }
  } else if (interrupt) {
    ++r.pendingInterrupts;
  } else {
    r.pendingTerminate = true;
  }
  return TRUE;  // handled: the program ends by itself
}

}  // namespace

void PrepareProcess() {
  // The ports are opened as handles, never as C runtime descriptors, so none
  // can take the place of a closed standard stream; and a broken pipe is an
  // ordinary write error. Nothing to do.
}

void PrepareInterrupts() {
  Routing& r = Route();
  std::lock_guard lock(r.mutex);
  if (r.prepared) return;
  r.prepared = true;
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool StderrIsTerminal() {
  return _isatty(_fileno(stderr)) != 0;
}

struct Interrupts::Source {
  explicit Source(Interrupts& owner) {
    Routing& r = Route();
    std::lock_guard lock(r.mutex);
    r.target = &owner;
    for (; r.pendingInterrupts > 0; --r.pendingInterrupts) owner.OnInterrupt();
    if (r.pendingTerminate) owner.OnTerminate();
    r.pendingTerminate = false;
  }
  ~Source() {
    // Waits for a handler that is running to finish with the object.
    Routing& r = Route();
    std::lock_guard lock(r.mutex);
    r.target = nullptr;
  }
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
