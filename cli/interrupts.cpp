#include "cli/interrupts.h"

#include <string>

#include "platform/clock.h"

namespace quillon::cli {

namespace {

constexpr int64_t kSecondCtrlCMs = 5000;

// What a download stopped now leaves behind.
const char* WhatAStopLeaves(engine::Reached reached) {
  switch (reached) {
    case engine::Reached::kNothing:
    case engine::Reached::kLoader:
      return "nothing has been erased";
    case engine::Reached::kChangingFlash:
    case engine::Reached::kFirstSectorErased:
      return "the printer's flash is now incomplete";
    case engine::Reached::kAllBlocksSent:
      return "every block has been written; only the final checks are skipped";
    case engine::Reached::kCompleted:
      return "the download had already completed";
  }
  return "";
}

}  // namespace

void Interrupts::OnInterrupt() {
  const int phase = phase_;
  if (phase == kStarting) {
    if (requestStop_) requestStop_();
    view_.Note("quillon-flash: cancelling...");
  } else if (phase == kFlashing) {
    const int64_t now = platform::NowMs();
    if (warnedAtMs_ && now - *warnedAtMs_ <= kSecondCtrlCMs) {
      Stop("stopping the download");
    } else {
      warnedAtMs_ = now;
      view_.Note(
          "quillon-flash: the printer is being flashed; stopping now may leave it unable to "
          "start. Press Ctrl-C again within 5 s to stop anyway.");
    }
  }
}

void Interrupts::Follow(std::function<engine::Reached()> reached) {
  std::lock_guard lock(reachedMutex_);
  reached_ = std::move(reached);
}

void Interrupts::OnTerminate() {
  Stop("terminated: stopping the download");
}

void Interrupts::OnHangUp() {
  if (phase_ == kStarting) OnInterrupt();
}

void Interrupts::Stop(const char* what) {
  forced_ = true;
  if (requestStop_) requestStop_();
  std::function<engine::Reached()> howFar;
  {
    std::lock_guard lock(reachedMutex_);
    howFar = reached_;
  }
  const engine::Reached reached = howFar ? howFar() : engine::Reached::kNothing;
  view_.Stopped(std::string("quillon-flash: ") + what + ": " + WhatAStopLeaves(reached));
  if (stopped_) stopped_->Set();
}

}  // namespace quillon::cli
