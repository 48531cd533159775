#pragma once
// Line settings and time-outs of a serial device, field for field as the
// Win32 communications API carries them, so that the port code reads the same
// on every platform.

#include <cstdint>

namespace quillon::platform {

inline constexpr uint32_t kMaxDword = 0xFFFFFFFF;

// Parity codes.
inline constexpr uint8_t kNoParity = 0;
inline constexpr uint8_t kOddParity = 1;
inline constexpr uint8_t kEvenParity = 2;
inline constexpr uint8_t kMarkParity = 3;
inline constexpr uint8_t kSpaceParity = 4;
// Stop-bit codes.
inline constexpr uint8_t kOneStopBit = 0;
inline constexpr uint8_t kOne5StopBits = 1;
inline constexpr uint8_t kTwoStopBits = 2;
// DTR and RTS control.
inline constexpr uint32_t kDtrControlDisable = 0;
inline constexpr uint32_t kDtrControlEnable = 1;
inline constexpr uint32_t kDtrControlHandshake = 2;
inline constexpr uint32_t kRtsControlDisable = 0;
inline constexpr uint32_t kRtsControlEnable = 1;
inline constexpr uint32_t kRtsControlHandshake = 2;
inline constexpr uint32_t kRtsControlToggle = 3;
// Purge flags.
inline constexpr uint32_t kPurgeTxAbort = 0x0001;
inline constexpr uint32_t kPurgeRxAbort = 0x0002;
inline constexpr uint32_t kPurgeTxClear = 0x0004;
inline constexpr uint32_t kPurgeRxClear = 0x0008;

struct Dcb {
  uint32_t DCBlength = 28;
  uint32_t BaudRate = 9600;
  uint32_t fBinary = 1;
  uint32_t fParity = 0;
  uint32_t fOutxCtsFlow = 0;
  uint32_t fOutxDsrFlow = 0;
  uint32_t fDtrControl = kDtrControlEnable;
  uint32_t fDsrSensitivity = 0;
  uint32_t fTXContinueOnXoff = 0;
  uint32_t fOutX = 0;
  uint32_t fInX = 0;
  uint32_t fErrorChar = 0;
  uint32_t fNull = 0;
  uint32_t fRtsControl = kRtsControlEnable;
  uint32_t fAbortOnError = 0;
  uint16_t XonLim = 2048;
  uint16_t XoffLim = 512;
  uint8_t ByteSize = 8;
  uint8_t Parity = kNoParity;
  uint8_t StopBits = kOneStopBit;
  char XonChar = 0x11;
  char XoffChar = 0x13;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;

  bool operator==(const Dcb&) const = default;
};

struct CommTimeouts {
  uint32_t ReadIntervalTimeout = 0;
  uint32_t ReadTotalTimeoutMultiplier = 0;
  uint32_t ReadTotalTimeoutConstant = 0;
  uint32_t WriteTotalTimeoutMultiplier = 0;
  uint32_t WriteTotalTimeoutConstant = 0;

  bool operator==(const CommTimeouts&) const = default;
};

// How a read of n bytes ends under a set of time-outs (the Win32 rules).
struct ReadPlan {
  bool returnAtOnce = false;     // return with what is buffered, never wait
  bool returnOnAnyByte = false;  // return as soon as at least one byte is there
  int64_t totalMs = -1;          // whole read ends after this long; -1: no limit
  int64_t intervalMs = -1;       // gap allowed between bytes after the first; -1: no limit
};
ReadPlan PlanRead(const CommTimeouts& t, uint32_t bytes);

// Total time a write of n bytes may take; -1 means no limit.
int64_t PlanWriteMs(const CommTimeouts& t, uint32_t bytes);

}  // namespace quillon::platform
