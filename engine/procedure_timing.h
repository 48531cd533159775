#pragma once
// The download procedure's fixed waits, attempts and port time-outs: what
// the procedure does and what a bound on a download's duration is made of.

#include <cstdint>

namespace quillon::engine::timing {

// The printer's flash loader, once switched to, needs time to start: whole
// seconds on the serial line (the port is then reopened), fixed pauses over
// the parallel port and USB.
inline constexpr int kSerialLoaderStartSeconds = 5;
inline constexpr uint32_t kParallelLoaderStartMs = 7000;
inline constexpr uint32_t kUsbLoaderStartMs = 8000;
// The serial loader speaks 38400 baud, 8N1, whatever the user chose.
inline constexpr int kLoaderBaud = 38400;
// Reopening the serial port after the switch: 50 ms before and after each
// open, 1000 ms more after a failed one, at most 40 opens.
inline constexpr uint32_t kReopenPauseMs = 50;
inline constexpr uint32_t kReopenRetryMs = 1000;
inline constexpr int kReopenAttempts = 40;

// The line check: at most 30 attempts. The parallel port's modes are set
// again after the second silent attempt, the USB printer reconnected after
// the fourth.
inline constexpr int kLineCheckAttempts = 30;
inline constexpr int kParallelModeRecoveryAttempt = 2;
inline constexpr int kUsbReconnectAttempt = 4;

// Read and write time-outs (the total of one call).
inline constexpr uint32_t kSwitchReadMs = 1500;
inline constexpr uint32_t kLineCheckWriteMs = 1000;
inline constexpr uint32_t kSectorReadMs = 60000;
inline constexpr uint32_t kRestartReadMs = 1000;

// Over the serial line and USB the printer gets a second between selecting
// a sector and its data.
inline constexpr uint32_t kAfterSelectMs = 1000;

// The IPL restart after the first IPL sector: whole seconds, then the
// interface's own recovery before the line is checked again.
inline constexpr int kIplRestartSeconds = 9;
inline constexpr uint32_t kParallelModePauseMs = 1000;      // before each of the two modes
inline constexpr uint32_t kParallelAfterRestartMs = 10000;  // then before the line check
inline constexpr uint32_t kUsbAfterRestartMs = 5000;        // then the printer is reconnected

// Over USB, a second before the CRC recalculation.
inline constexpr uint32_t kUsbBeforeRecalculateMs = 1000;
// After the reset, before the download counts as done.
inline constexpr int kAfterResetSeconds = 5;

}  // namespace quillon::engine::timing
