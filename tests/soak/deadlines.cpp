#include "soak/deadlines.h"

#include "app/launch.h"
#include "app/send_threads.h"
#include "app/serial_worker.h"
#include "engine/procedure_timing.h"
#include "ports/link.h"
#include "protocol/answer_timing.h"

namespace quillon::soak {

namespace {

// The product's own waits, attempts and time-outs; the bound below is made
// of them by a formula of its own.
using namespace engine::timing;
using namespace protocol::timing;
using namespace ports::timing;

constexpr int64_t kAfterWriteMs =
    kAfterWriteCallMs;  // each write call, serial line and parallel port
constexpr int64_t kBeforeResultMs = app::kBeforeResultMs;
// A one-byte read: during the line check per byte x 1 + constant (the
// time-outs set with the write time-out), in the sector loop kSectorReadMs,
// after the IPL restart kRestartReadMs, while the CRC is recalculated
// kSerialRecalcReadMs.
constexpr int64_t kLineCheckReadMs = kLineCheckReadPerByteMs + kLineCheckReadConstantMs;
constexpr int64_t kRecalcReadMs = kSerialRecalcReadMs;
constexpr int64_t kRecalcPolls = kSerialRecalcPolls;
constexpr int64_t kRecalcPollPauseMs = kSerialRecalcPollPauseMs;
// A parallel receive thread pauses after each read that found bytes; a stop
// waits for that pause.
constexpr int64_t kParallelStartMs = app::kParallelSendStartMs;
// A USB receive thread reads in waits of kUsbReadPaceMs with pauses as long,
// which a stop waits for.
constexpr int64_t kUsbReadStepMs = 2 * kUsbReadPaceMs;
constexpr int64_t kUsbAfterOpenMs = app::kAfterUsbOpenMs;  // the launch
constexpr int64_t kUsbStartMs = app::kUsbSendStartMs;
constexpr int64_t kUsbEndMs = app::kUsbSendEndMs;  // between its result and its end message
constexpr int64_t kUsbBeforeRecalcMs = kUsbBeforeRecalculateMs;
constexpr int64_t kUsbRecalcSettleMs = int64_t{kUsbRecalcSettlePauses} * kUsbRecalcSettlePauseMs;
constexpr int64_t kUsbReconnectPauseMs = kAfterReconnectMs;  // after a write found the printer gone

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
  const auto await = [](int64_t seconds) { return Seconds(seconds) + kUsbReadStepMs; };
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
