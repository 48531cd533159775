#pragma once
// Ctrl-C during a command-line download. While the printer is being switched
// and its line checked, Ctrl-C cancels as the progress window's Cancel does.
// Once flashing has begun the first Ctrl-C only warns; a second one within
// 5 s stops the download. A request to terminate the program (SIGTERM, or
// Ctrl-Break and closing the console on Windows) stops it at once. A hang-up
// of the terminal (SIGHUP) cancels as Ctrl-C does while the printer is being
// switched, and is ignored once flashing has begun: the download runs to its
// end with its output lost.
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
#include "platform/event.h"

namespace quillon::cli {

// The download's phases as Ctrl-C sees them.
enum Phase { kStarting, kFlashing, kEnded };

// Makes the process safe to run with its standard streams gone: a closed
// descriptor 0, 1 or 2 is opened on the null device (so that no port or file
// opened later takes its place and receives the program's output), and
// writing to a broken pipe fails as an ordinary write error instead of ending
// the program. Output that cannot be written is lost; the download goes on.
// Call first thing in main.
void PrepareProcess();

// Routes interrupts to the program rather than letting them end it. Call once
// at the start, before any other thread is made; interrupts that come before
// an Interrupts object exists are handled by the first one made.
void PrepareInterrupts();

// Whether the standard error stream is a terminal (for the progress bar).
bool StderrIsTerminal();

class Interrupts {
 public:
  // Handles interrupts from now until destruction, following `phase`; a
  // stop goes to the download through `requestStop`. `stopped`, if given,
  // is set when the download is stopped by force.
  Interrupts(const std::atomic<int>& phase, ProgressView& view, std::function<void()> requestStop,
             platform::Event* stopped = nullptr);
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
  void OnHangUp();

 private:
  void Stop(const char* what);

  const std::atomic<int>& phase_;
  ProgressView& view_;
  const std::function<void()> requestStop_;
  platform::Event* const stopped_;
  std::atomic<bool> forced_{false};
  std::mutex reachedMutex_;
  std::function<engine::Reached()> reached_;  // guarded by reachedMutex_
  std::optional<int64_t> warnedAtMs_;

  struct Source;  // the platform part
  std::unique_ptr<Source> source_;
};

}  // namespace quillon::cli
