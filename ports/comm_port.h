#pragma once
// CCommPort: the program's one handle on the printer's communication line.

#include <cstdint>
#include <string>

#include "platform/device.h"
#include "platform/serial_types.h"

namespace quillon::ports {

class CCommPort {
 public:
  CCommPort() = default;
  CCommPort(const CCommPort&) = delete;
  CCommPort& operator=(const CCommPort&) = delete;

  // The port operations. Each returns 1 for success and 0 for failure.
  virtual platform::Handle GetHandle();
  virtual int SetReadTimeouts(uint32_t totalMs);
  virtual int SetWriteTimeouts(uint32_t totalMs);
  virtual int GetPortStatus();
  virtual int WriteData(const uint8_t* data, int length);
  virtual int ReadByte(uint8_t* byte);
  virtual int PurgeReceive();
  virtual void ClosePort();
  virtual int ConfigureSerial(const std::string& portName, uint32_t baud, const std::string& parity,
                              uint8_t byteSize, int stopBits);
  virtual int OpenPort(const std::string& portName);
  virtual int SetEcpMode();
  virtual void SetPortKind(int kind);
  virtual void SetSectorFlag(int flag);
  virtual int WriteUsb(const uint8_t* data, int length);
  // Releases the object only; the owner closes the port first.
  virtual ~CCommPort() = default;

  // The parallel port: opens "\\.\<name>" (the handle also goes to
  // parallelHandle, valid or not) and negotiates its IEEE 1284 modes.
  int OpenParallelPort(const std::string& portName);
  int SetNibbleMode();
  int SetCompatibilityMode();

  // Blocks for the whole seconds of the wall clock: returns once the current
  // second is later than now + seconds.
  void WaitSeconds(int seconds);

  // The serial port or the parallel port (USB has usbHandle instead).
  platform::Handle hPort = platform::kInvalidHandle;
  platform::CommTimeouts commTimeouts{};
  platform::Dcb dcb{};
  // Kept for the port's callers but read by no one here: the status
  // GetPortStatus gives, the kind of port (0 serial, 1 parallel), the flag
  // SetSectorFlag sets, and whether a USB write has completed.
  int portStatus = 0;
  int portKind = 0;
  int sectorFlag = 0;
  int usbWriteDone = 0;
};

}  // namespace quillon::ports
