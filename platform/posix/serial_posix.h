#pragma once
// How the line settings of a serial device (the Win32-shaped Dcb) map onto
// POSIX termios. The POSIX serial backend uses these; they are kept apart so
// that the mapping can be checked without a device.
//
// termios holds: the baud rate (standard rates only), the byte size, the
// parity, the stop bits, parity checking, CTS output flow control and XON/XOFF
// flow control in both directions. Everything else of a Dcb (DSR output flow
// control, the DTR and RTS modes, XonLim, ...) is the backend's business.

#include <termios.h>

#include <cstdint>

#include "platform/serial_types.h"

namespace quillon::platform::posix {

// The termios speed code of a baud rate; false if the rate has none.
bool SpeedOfBaud(uint32_t baud, speed_t& speed);
// The baud rate of a termios speed code; 0 for an unknown code.
uint32_t BaudOfSpeed(speed_t speed);

// Puts the fields of `dcb` that termios can hold into `t`, in raw mode and
// with reads that never wait in the driver (VMIN = VTIME = 0). Returns false,
// leaving `t` as it was, if `dcb` asks for a rate, byte size, parity or
// stop-bit setting that the line cannot do.
bool ApplyDcb(const Dcb& dcb, termios& t);

// Overwrites the fields of `dcb` that termios holds with what `t` says; the
// other fields are left as they are. One-and-a-half stop bits are kept when
// `t` has two (termios cannot tell them apart).
void ReadDcb(const termios& t, Dcb& dcb);

}  // namespace quillon::platform::posix
