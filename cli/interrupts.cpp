#include "cli/interrupts.h"

#include <string>

#include "platform/clock.h"
#include "ports/port_state.h"

namespace quillon::cli {

namespace {
constexpr int64_t kSecondCtrlCMs = 5000;
}  // namespace

void Interrupts::OnInterrupt() {
  const int phase = phase_;
  if (phase == kStarting) {
    ports::userTerminate = 1;
    view_.Note("quillon-flash: cancelling...");
  } else if (phase == kFlashing) {
    const int64_t now = platform::NowMs();
    if (warnedAtMs_ && now - *warnedAtMs_ <= kSecondCtrlCMs) {
      Stop("stopping the download: the printer's flash is now incomplete");
    } else {
      warnedAtMs_ = now;
      view_.Note(
          "quillon-flash: the printer is being flashed; stopping now may leave it unable to "
          "start. Press Ctrl-C again within 5 s to stop anyway.");
    }
  }
}

void Interrupts::OnTerminate() {
  Stop("terminated: stopping the download");
}

void Interrupts::OnHangUp() {
  if (phase_ == kStarting) OnInterrupt();
}

void Interrupts::Stop(const char* why) {
  forced_ = true;
  ports::userTerminate = 1;
  view_.Note(std::string("quillon-flash: ") + why);
  if (stopped_) stopped_->Set();
}

}  // namespace quillon::cli
