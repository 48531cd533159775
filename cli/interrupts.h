#pragma once
// Ctrl-C during a command-line download. While the printer is being switched
// and its line checked, Ctrl-C cancels as the progress window's Cancel does.
// Once flashing has begun the first Ctrl-C only warns; a second one within
// 5 s stops the download. A request to terminate the program (SIGTERM, or
// Ctrl-Break and closing the console on Windows) stops it at once.
//
// The rules are portable (interrupts.cpp); how the requests arrive is not:
// interrupts_posix.cpp takes the signals on a thread of their own,
// interrupts_win32.cpp takes the console's control events.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "cli/progress_view.h"
#include "engine/flash_download.h"

namespace quillon::cli {

// The download's phases as Ctrl-C sees them.
enum Phase { kStarting, kFlashing, kEnded };

// Routes interrupts to the program rather than letting them end it. Call once
// at the start, before any other thread is made; interrupts that come before
// an Interrupts object exists are handled by the first one made.
void PrepareInterrupts();

// Whether the standard error stream is a terminal (for the progress bar).
bool StderrIsTerminal();

class Interrupts {
 public:
  // Handles interrupts from now until destruction, following `phase`.
  Interrupts(const std::atomic<int>& phase, ProgressView& view);
  ~Interrupts();
  Interrupts(const Interrupts&) = delete;
  Interrupts& operator=(const Interrupts&) = delete;

  // Whether the user stopped the download while it was flashing, or the
  // program was asked to terminate.
  bool Forced() const { return forced_; }

  // How far the download got (engine::CFlashDownload::HowFar), for a stop
  // to say what has been done; until it is given, nothing is taken as done.
  void Follow(std::function<engine::Reached()> reached);

  // One Ctrl-C, and one request to terminate, as the platform part delivers
  // them (from one thread at a time).
  void OnInterrupt();
  void OnTerminate();

 private:
  void Stop(const char* what);

  const std::atomic<int>& phase_;
  ProgressView& view_;
  std::atomic<bool> forced_{false};
  std::mutex reachedMutex_;
  std::function<engine::Reached()> reached_;  // guarded by reachedMutex_
  std::optional<int64_t> warnedAtMs_;

  struct Source;  // the platform part
  std::unique_ptr<Source> source_;
};

}  // namespace quillon::cli
