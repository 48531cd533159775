#pragma once
// How long the printer commands wait for their answers, and the printer's
// time for its computations over USB and the serial line.

#include <cstdint>

namespace quillon::protocol::timing {

// How long an answer over USB or the parallel port may take, in whole
// seconds of the wall clock.
inline constexpr int kAckSeconds = 30;
inline constexpr int kLineStatusSeconds = 4;
inline constexpr int kChecksumSeconds = 50;
inline constexpr int kRecalcSeconds = 80;

// Over USB the printer is not asked for a checksum until it has had 10 s to
// compute it...
inline constexpr uint32_t kUsbChecksumSettleMs = 10000;
// ...nor for the CRC of the whole flash until it has had 50 s, waited as
// 50 pauses of one second.
inline constexpr int kUsbRecalcSettlePauses = 50;
inline constexpr uint32_t kUsbRecalcSettlePauseMs = 1000;

// On the serial line the CRC recalculation's first answer byte is polled
// for: a pause of one second before each read of up to 2 s, at most 101
// times (the printer takes well over a minute).
inline constexpr int kSerialRecalcPolls = 101;
inline constexpr uint32_t kSerialRecalcPollPauseMs = 1000;
inline constexpr uint32_t kSerialRecalcReadMs = 2000;

}  // namespace quillon::protocol::timing
