#pragma once
// How the seam's line settings, time-outs and purge flags map onto the Win32
// communications structures. The Win32 serial backend uses these; they are
// kept apart so that the mapping can be checked field by field without a
// port.

#include <windows.h>

#include <cstdint>

#include "platform/serial_types.h"

namespace quillon::platform::win32 {

// Copies every field of `in` into `out` (which is cleared first). Returns
// false if a flag does not fit its bit field (a one-bit flag above 1, the DTR
// or RTS mode above 3); `out` is then unspecified.
bool ToWin32Dcb(const Dcb& in, DCB& out);
// Copies every field of `in` into `out`.
void FromWin32Dcb(const DCB& in, Dcb& out);

void ToWin32Timeouts(const CommTimeouts& in, COMMTIMEOUTS& out);
void FromWin32Timeouts(const COMMTIMEOUTS& in, CommTimeouts& out);

// The PURGE_* flags of the seam's kPurge* flags.
uint32_t ToWin32PurgeFlags(uint32_t flags);

}  // namespace quillon::platform::win32
