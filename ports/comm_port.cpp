#include "ports/comm_port.h"

#include <algorithm>

#include "platform/clock.h"
#include "platform/text.h"
#include "ports/port_state.h"
#include "ports/port_window.h"

namespace quillon::ports {

using platform::kInvalidHandle;
using platform::kMaxDword;

constexpr int kUsbChunk = 4096;

platform::Handle CCommPort::GetHandle() {
  return useUsb ? usbHandle.load() : hPort;
}

int CCommPort::SetReadTimeouts(uint32_t totalMs) {
  platform::GetLineTimeouts(hPort, commTimeouts);
  commTimeouts.ReadIntervalTimeout = kMaxDword;
  commTimeouts.ReadTotalTimeoutMultiplier = kMaxDword;
  commTimeouts.ReadTotalTimeoutConstant = totalMs;
  commTimeouts.WriteTotalTimeoutMultiplier = 250;
  commTimeouts.WriteTotalTimeoutConstant = 3000;
  return platform::SetLineTimeouts(hPort, commTimeouts) ? 1 : 0;
}

int CCommPort::SetWriteTimeouts(uint32_t totalMs) {
  platform::GetLineTimeouts(hPort, commTimeouts);
  commTimeouts.ReadIntervalTimeout = 2000;
  commTimeouts.ReadTotalTimeoutMultiplier = 2000;
  commTimeouts.ReadTotalTimeoutConstant = 3000;
  commTimeouts.WriteTotalTimeoutMultiplier = 250;
  commTimeouts.WriteTotalTimeoutConstant = totalMs;
  return platform::SetLineTimeouts(hPort, commTimeouts) ? 1 : 0;
}

int CCommPort::GetPortStatus() {
  return portStatus;
}

int CCommPort::WriteData(const uint8_t* data, int length) {
  // At most three write calls, each followed by a 100 ms pause; a buffer that
  // needs a third call has failed.
  int offset = 0;
  int remaining = length;
  for (int call = 1;; ++call) {
    uint32_t written = 0;
    bool ok;
    {
      std::lock_guard lock(portMutex);
      ok = platform::WriteDevice(hPort, data + offset, static_cast<uint32_t>(remaining), &written);
    }
    if (!ok) return 0;
    if (userTerminate) return 0;
    offset += static_cast<int>(written);
    remaining -= static_cast<int>(written);
    if (call == 3) return 0;
    platform::Pause(100);
    if (remaining <= 0) return 1;
  }
}

int CCommPort::ReadByte(uint8_t* byte) {
  uint32_t got = 0;
  return platform::ReadDevice(hPort, byte, 1, &got) && got == 1 ? 1 : 0;
}

int CCommPort::PurgeReceive() {
  return platform::PurgeDevice(hPort, platform::kPurgeRxClear) ? 1 : 0;
}

void CCommPort::ClosePort() {
  if (useUsb) {
    const platform::Handle h = usbHandle.exchange(kInvalidHandle);
    if (h != kInvalidHandle) platform::CloseDevice(h);
  } else if (hPort != kInvalidHandle) {
    platform::CloseDevice(hPort);
    hPort = kInvalidHandle;
  }
}

int CCommPort::ConfigureSerial(const std::string& /*portName*/, uint32_t baud,
                               const std::string& parity, uint8_t byteSize, int stopBits) {
  dcb.DCBlength = 28;
  platform::GetLineState(hPort, dcb);  // on failure dcb keeps what it held

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

  if (hPort == kInvalidHandle) return 0;
  return platform::SetLineState(hPort, dcb) ? 1 : 0;
}

int CCommPort::OpenPort(const std::string& portName) {
  hPort = platform::OpenDevice("\\\\.\\" + portName);
  return hPort != kInvalidHandle ? 1 : 0;
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
  hPort = platform::OpenParallelDevice("\\\\.\\" + portName);
  parallelHandle = hPort;
  return hPort != kInvalidHandle ? 1 : 0;
}

// ECP in both directions, or nothing: there is no fallback.
int CCommPort::SetEcpMode() {
  using platform::kModeEcpHwNoIrq;
  return Negotiate(hPort, kModeEcpHwNoIrq, kModeEcpHwNoIrq, kModeEcpHwNoIrq, kModeEcpHwNoIrq) ? 1
                                                                                              : 0;
}

// Nibble mode reads, compatibility mode writes. A driver that grants
// anything else is taken back to compatibility mode.
int CCommPort::SetNibbleMode() {
  using platform::kModeCompatibility;
  using platform::kModeNibble;
  platform::NegotiationMask granted;
  if (!platform::NegotiateDevice(hPort, {kModeNibble, kModeCompatibility}, granted)) return 0;
  if (granted.usReadMask == kModeNibble && granted.usWriteMask == kModeCompatibility) return 1;
  SetCompatibilityMode();
  return 0;
}

// Forward channel only: the driver answers no read mode.
int CCommPort::SetCompatibilityMode() {
  using platform::kModeCompatibility;
  using platform::kModeNone;
  return Negotiate(hPort, kModeCompatibility, kModeCompatibility, kModeNone, kModeCompatibility)
             ? 1
             : 0;
}

void CCommPort::SetPortKind(int kind) {
  portKind = kind;
}

void CCommPort::SetSectorFlag(int flag) {
  sectorFlag = flag;
}

int CCommPort::WriteUsb(const uint8_t* data, int length) {
  // Chunks of at most 4096 bytes. A device that has gone (an invalid handle)
  // is reconnected through the main window, and the chunk that failed is
  // written again on the new handle.
  int offset = 0;
  int remaining = length;
  while (remaining > 0) {
    // A stop request ends the write as it ends a serial one (the dialog's
    // USB download cannot be cancelled; the command line can stop one).
    if (userTerminate) return 0;
    const uint32_t chunk = static_cast<uint32_t>(std::min(remaining, kUsbChunk));
    uint32_t written = 0;
    if (platform::WriteDevice(usbHandle.load(), data + offset, chunk, &written)) {
      // A write that takes nothing would never end.
      if (written == 0) return 0;
      offset += static_cast<int>(written);
      remaining -= static_cast<int>(written);
      continue;
    }
    if (platform::LastError() != platform::kErrorInvalidHandle) return 0;
    PortWindow* window = mainWindow.load();
    if (!window || !window->ReopenUsbPrinter()) return 0;
    platform::Pause(1000);
  }
  usbWriteDone = 1;
  return 1;
}

void CCommPort::WaitSeconds(int seconds) {
  platform::GetClock().WaitSeconds(seconds);
}

}  // namespace quillon::ports
