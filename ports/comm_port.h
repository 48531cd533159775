#pragma once
// CCommPort: the program's one handle on the printer's communication line.

#include <cstdint>
#include <string>

#include "platform/device.h"
#include "platform/serial_types.h"
#include "ports/link.h"

namespace quillon::ports {

class CCommPort {
 public:
  // A port of the given interface; nothing is open yet.
  explicit CCommPort(Interface iface) : link(iface) {}
  CCommPort(const CCommPort&) = delete;
  CCommPort& operator=(const CCommPort&) = delete;
  // Releases the object; an open device is closed with the link.
  virtual ~CCommPort() = default;

  // The port operations. Each returns 1 for success and 0 for failure.
  platform::Handle GetHandle() const { return link.Handle(); }
  int SetReadTimeouts(uint32_t totalMs);
  int SetWriteTimeouts(uint32_t totalMs);
  int WriteData(const uint8_t* data, int length);
  virtual int ReadByte(uint8_t* byte);
  void ClosePort() { link.Close(); }
  int ConfigureSerial(uint32_t baud, const std::string& parity, uint8_t byteSize, int stopBits);
  int OpenPort(const std::string& portName);
  int SetEcpMode();
  int WriteUsb(const uint8_t* data, int length);

  // The parallel port: opens "\\.\<name>" and negotiates its IEEE 1284
  // modes.
  int OpenParallelPort(const std::string& portName);
  int SetNibbleMode();
  int SetCompatibilityMode();

  // Blocks for the whole seconds of the wall clock: returns once the current
  // second is later than now + seconds.
  void WaitSeconds(int seconds);

  // The device, the answers and the stop request of the port's interface.
  Link link;
  platform::CommTimeouts commTimeouts{};
  platform::Dcb dcb{};
};

}  // namespace quillon::ports
