#include "ports/comm_port.h"

#include <algorithm>

#include "platform/clock.h"
#include "platform/text.h"

namespace quillon::ports {

using platform::kInvalidHandle;
using platform::kMaxDword;

int CCommPort::SetReadTimeouts(uint32_t totalMs) {
  platform::GetLineTimeouts(GetHandle(), commTimeouts);
  commTimeouts.ReadIntervalTimeout = kMaxDword;
  commTimeouts.ReadTotalTimeoutMultiplier = kMaxDword;
  commTimeouts.ReadTotalTimeoutConstant = totalMs;
  commTimeouts.WriteTotalTimeoutMultiplier = 250;
  commTimeouts.WriteTotalTimeoutConstant = 3000;
  return platform::SetLineTimeouts(GetHandle(), commTimeouts) ? 1 : 0;
}

int CCommPort::SetWriteTimeouts(uint32_t totalMs) {
  platform::GetLineTimeouts(GetHandle(), commTimeouts);
  commTimeouts.ReadIntervalTimeout = timing::kLineCheckReadPerByteMs;
  commTimeouts.ReadTotalTimeoutMultiplier = timing::kLineCheckReadPerByteMs;
  commTimeouts.ReadTotalTimeoutConstant = timing::kLineCheckReadConstantMs;
  commTimeouts.WriteTotalTimeoutMultiplier = 250;
  commTimeouts.WriteTotalTimeoutConstant = totalMs;
  return platform::SetLineTimeouts(GetHandle(), commTimeouts) ? 1 : 0;
}

int CCommPort::WriteData(const uint8_t* data, int length) {
  return link.WriteLine(data, length) ? 1 : 0;
}

int CCommPort::ReadByte(uint8_t* byte) {
  uint32_t got = 0;
  return platform::ReadDevice(GetHandle(), byte, 1, &got) && got == 1 ? 1 : 0;
}

int CCommPort::ConfigureSerial(uint32_t baud, const std::string& parity, uint8_t byteSize,
                               int stopBits) {
  dcb.DCBlength = 28;
  platform::GetLineState(GetHandle(), dcb);  // on failure dcb keeps what it held

  const char letter = parity.empty() ? '\0' : platform::UpperChar(parity[0]);
  switch (letter) {
    case 'E':
      dcb.Parity = platform::kEvenParity;
      break;
    case 'M':
      dcb.Parity = platform::kMarkParity;
      break;
    case 'O':
      dcb.Parity = platform::kOddParity;
      break;
    case 'S':
      dcb.Parity = platform::kSpaceParity;
      break;
    default:  // 'N', anything else, or no text at all
      dcb.Parity = platform::kNoParity;
      break;
  }

  dcb.BaudRate = baud;
  dcb.fBinary = 1;
  dcb.fParity = 1;
  dcb.fOutxCtsFlow = 0;
  dcb.fOutxDsrFlow = 1;
  dcb.fDtrControl = platform::kDtrControlEnable;
  dcb.fDsrSensitivity = 0;
  dcb.fTXContinueOnXoff = 1;
  dcb.fOutX = 0;
  dcb.fInX = 0;
  dcb.fErrorChar = 0;
  dcb.fNull = 0;
  dcb.fRtsControl = platform::kRtsControlEnable;
  dcb.fAbortOnError = 0;
  dcb.ByteSize = byteSize;
  if (stopBits == 1) {
    dcb.StopBits = platform::kOneStopBit;
  } else if (stopBits == 2) {
    dcb.StopBits = platform::kTwoStopBits;
  }  // any other value keeps what the driver reported

  if (GetHandle() == kInvalidHandle) return 0;
  return platform::SetLineState(GetHandle(), dcb) ? 1 : 0;
}

int CCommPort::OpenPort(const std::string& portName) {
  link.SetHandle(platform::OpenDevice("\\\\.\\" + portName));
  return GetHandle() != kInvalidHandle ? 1 : 0;
}

namespace {

// One negotiation; true when the driver granted exactly `expect`.
bool Negotiate(platform::Handle h, uint16_t readMask, uint16_t writeMask, uint16_t expectRead,
               uint16_t expectWrite) {
  platform::NegotiationMask granted;
  if (!platform::NegotiateDevice(h, {readMask, writeMask}, granted)) return false;
  return granted.usReadMask == expectRead && granted.usWriteMask == expectWrite;
}

}  // namespace

int CCommPort::OpenParallelPort(const std::string& portName) {
  link.SetHandle(platform::OpenParallelDevice("\\\\.\\" + portName));
  return GetHandle() != kInvalidHandle ? 1 : 0;
}

// ECP in both directions, or nothing: there is no fallback.
int CCommPort::SetEcpMode() {
  using platform::kModeEcpHwNoIrq;
  return Negotiate(GetHandle(), kModeEcpHwNoIrq, kModeEcpHwNoIrq, kModeEcpHwNoIrq, kModeEcpHwNoIrq)
             ? 1
             : 0;
}

// Nibble mode reads, compatibility mode writes. A driver that grants
// anything else is taken back to compatibility mode.
int CCommPort::SetNibbleMode() {
  using platform::kModeCompatibility;
  using platform::kModeNibble;
  platform::NegotiationMask granted;
  if (!platform::NegotiateDevice(GetHandle(), {kModeNibble, kModeCompatibility}, granted)) return 0;
  if (granted.usReadMask == kModeNibble && granted.usWriteMask == kModeCompatibility) return 1;
  SetCompatibilityMode();
  return 0;
}

// Forward channel only: the driver answers no read mode.
int CCommPort::SetCompatibilityMode() {
  using platform::kModeCompatibility;
  using platform::kModeNone;
  return Negotiate(GetHandle(), kModeCompatibility, kModeCompatibility, kModeNone,
                   kModeCompatibility)
             ? 1
             : 0;
}

int CCommPort::WriteUsb(const uint8_t* data, int length) {
  return link.WriteUsb(data, length) ? 1 : 0;
}

void CCommPort::WaitSeconds(int seconds) {
  platform::GetClock().WaitSeconds(seconds);
}

}  // namespace quillon::ports
