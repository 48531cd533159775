#include "soak/deadlines.h"

namespace quillon::soak {

namespace {

// ---- The procedure's own waits.
constexpr int64_t kLineCheckAttempts = 30;
constexpr int64_t kAfterWriteMs = 100;  // each write call on the serial line and parallel port
constexpr int64_t kBeforeResultMs = 500;
constexpr int64_t kAfterSelectMs = 1000;  // serial line and USB
constexpr int64_t kIplRestartSeconds = 9;
constexpr int64_t kAfterResetSeconds = 5;

// ---- Serial line.
constexpr int64_t kSerialLoaderStartSeconds = 5;
constexpr int64_t kReopenPauseMs = 50;
constexpr int64_t kReopenRetryMs = 1000;
constexpr int64_t kReopenAttempts = 40;
// A one-byte read: during the line check 2000 x 1 + 3000 (the time-outs set
// with the write time-out), in the sector loop 60000, after the IPL restart
// 1000, while the CRC is recalculated 2000.
constexpr int64_t kLineCheckReadMs = 2000 + 3000;
constexpr int64_t kSectorReadMs = 60000;
constexpr int64_t kRestartReadMs = 1000;
constexpr int64_t kRecalcReadMs = 2000;
constexpr int64_t kRecalcPolls = 101;
constexpr int64_t kRecalcPollPauseMs = 1000;

// ---- Parallel port and USB: the answer waits of the receive threads, in
// whole seconds of the wall clock (N seconds last less than N + 1).
constexpr int64_t kLineStatusSeconds = 4;
constexpr int64_t kAckSeconds = 30;
constexpr int64_t kChecksumSeconds = 50;
constexpr int64_t kRecalcSeconds = 80;
// A parallel receive thread pauses 750 ms after each read that found bytes;
// a stop waits for that pause.
constexpr int64_t kParallelReadPauseMs = 750;
constexpr int64_t kParallelStartMs = 1000;  // the send thread's first pause
constexpr int64_t kParallelLoaderStartMs = 7000;
constexpr int64_t kParallelModePauseMs = 1000;
constexpr int64_t kParallelAfterRestartMs = 10000;
// A USB receive thread replaced by the next one costs 1000 ms; it reads in
// waits of 50 ms with 50 ms pauses, which a stop waits for.
constexpr int64_t kUsbReplaceMs = 1000;
constexpr int64_t kUsbReadStepMs = 50 + 50;
constexpr int64_t kUsbAfterOpenMs = 1000;  // the launch
constexpr int64_t kUsbStartMs = 2000;      // the send thread's first pause
constexpr int64_t kUsbEndMs = 1000;        // between its result and its end message
constexpr int64_t kUsbLoaderStartMs = 8000;
constexpr int64_t kUsbChecksumSettleMs = 10000;
constexpr int64_t kUsbBeforeRecalcMs = 1000;
constexpr int64_t kUsbRecalcSettleMs = 50 * 1000;
constexpr int64_t kUsbAfterRestartMs = 5000;
constexpr int64_t kUsbReconnectPauseMs = 1000;  // after a write found the printer gone

// A whole-second wait of n seconds.
constexpr int64_t Seconds(int64_t n) {
  return (n + 1) * 1000;
}

// What one plan position costs at most on an interface.
struct Costs {
  int64_t fixed = 0;      // launch, thread pauses, switch and loader start, end
  int64_t lineCheck = 0;  // one attempt
  int64_t erase = 0;
  int64_t select = 0;
  int64_t dataBase = 0;  // the data block without its pieces
  int64_t perPiece = 0;
  int64_t checksum = 0;
  int64_t restart = 0;       // the IPL restart before its line check
  int64_t restartCheck = 0;  // one attempt of that line check
  int64_t recalc = 0;
  int64_t reset = 0;
};

Costs SerialCosts() {
  Costs c;
  const int64_t w = kAfterWriteMs;
  c.fixed = w + Seconds(kSerialLoaderStartSeconds) + kReopenPauseMs +
            kReopenAttempts * (kReopenPauseMs + kReopenRetryMs) + kBeforeResultMs;
  c.lineCheck = w + 2 * kLineCheckReadMs;
  c.erase = 2 * w + kSectorReadMs;
  c.select = 2 * w + kSectorReadMs + kAfterSelectMs;
  c.dataBase = 5 * w + kSectorReadMs;
  c.perPiece = w;
  c.checksum = w + 3 * kSectorReadMs;
  c.restart = Seconds(kIplRestartSeconds);
  c.restartCheck = w + 2 * kRestartReadMs;
  c.recalc = w + kRecalcPolls * (kRecalcPollPauseMs + kRecalcReadMs) + 2 * kRecalcReadMs;
  c.reset = w;
  return c;
}

Costs ParallelCosts() {
  const auto await = [](int64_t seconds) { return Seconds(seconds) + kParallelReadPauseMs; };
  Costs c;
  const int64_t w = kAfterWriteMs;
  c.fixed = kParallelStartMs + w + kParallelLoaderStartMs + kBeforeResultMs;
  c.lineCheck = w + await(kLineStatusSeconds);
  c.erase = 2 * w + await(kAckSeconds);
  c.select = 2 * w + await(kAckSeconds);
  c.dataBase = 5 * w + await(kAckSeconds);
  c.perPiece = w;
  c.checksum = w + await(kChecksumSeconds);
  c.restart = Seconds(kIplRestartSeconds) + 2 * kParallelModePauseMs + kParallelAfterRestartMs;
  c.restartCheck = w + await(kLineStatusSeconds);
  c.recalc = w + await(kRecalcSeconds);
  c.reset = w;
  return c;
}

Costs UsbCosts() {
  const auto await = [](int64_t seconds) {
    return kUsbReplaceMs + Seconds(seconds) + kUsbReadStepMs;
  };
  Costs c;
  c.fixed = kUsbAfterOpenMs + kUsbStartMs + kUsbLoaderStartMs + kBeforeResultMs + kUsbEndMs;
  c.lineCheck = await(kLineStatusSeconds);
  c.erase = await(kAckSeconds);
  c.select = await(kAckSeconds) + kAfterSelectMs;
  c.dataBase = await(kAckSeconds);
  c.checksum = kUsbChecksumSettleMs + 2 * await(kChecksumSeconds);
  c.restart = Seconds(kIplRestartSeconds) + kUsbAfterRestartMs;
  c.restartCheck = await(kLineStatusSeconds);
  c.recalc = kUsbBeforeRecalcMs + kUsbRecalcSettleMs + 2 * await(kRecalcSeconds);
  return c;
}

}  // namespace

int64_t DurationBoundMs(const Scenario& s) {
  const Costs c = s.iface == Interface::kSerial     ? SerialCosts()
                  : s.iface == Interface::kParallel ? ParallelCosts()
                                                    : UsbCosts();
  int64_t total = c.fixed + kLineCheckAttempts * c.lineCheck;
  const bool ipl = s.type == app::DownloadType::kIpl;
  for (size_t p = 0; p < s.plan.size(); ++p) {
    const auto size = static_cast<int64_t>(sim::PrinterEmulator::SectorSize(s.plan[p]));
    const int64_t pieces = size / (size >= 16384 ? 16384 : 8192);
    total += c.select + c.dataBase + pieces * c.perPiece;
    if (ipl && p == 0) {
      total += c.restart + kLineCheckAttempts * c.restartCheck;
    } else {
      total += c.erase + c.checksum;
    }
  }
  if (s.type == app::DownloadType::kMain) total += c.recalc;
  total += c.reset + Seconds(kAfterResetSeconds);
  // Each time the printer vanishes a write reconnects and pauses: once for
  // the vanishing device, once per time the printer leaves the bus (at
  // most after every command taken in).
  if (s.iface == Interface::kUsb && s.vanishOnWrite > 0) total += kUsbReconnectPauseMs;
  for (const sim::Replug& r : s.emulator.replugs) {
    const int64_t times =
        r.nth != 0 ? 1 : 2 * kLineCheckAttempts + 4 * static_cast<int64_t>(s.plan.size()) + 4;
    total += times * kUsbReconnectPauseMs;
  }
  return total;
}

}  // namespace quillon::soak
