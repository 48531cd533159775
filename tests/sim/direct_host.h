#pragma once
// A host talking to the emulator directly, frame by frame, at chosen times.

#include <memory>

#include "sim/frames.h"
#include "sim/printer_emulator.h"

namespace quillon::sim::testing {

class DirectHost {
 public:
  explicit DirectHost(EmulatorOptions options = {})
      : bootMs_(options.bootDelayMs), printer_(std::make_unique<PrinterEmulator>(options)) {}

  PrinterEmulator& printer() { return *printer_; }
  int64_t now = 0;

  // The frame arrives whole at `now`; returns the bytes it is answered with.
  Bytes Send(const Bytes& frame) { return AnswerBytes(printer_->Feed(frame, now)); }
  std::vector<TimedByte> SendTimed(const Bytes& frame) { return printer_->Feed(frame, now); }

  // Switches to download mode and lets the boot delay pass.
  void Ready() {
    Send(kSwitchFrame);
    now += bootMs_;
  }

 private:
  int64_t bootMs_;
  std::unique_ptr<PrinterEmulator> printer_;
};

}  // namespace quillon::sim::testing
