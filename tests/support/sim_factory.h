#pragma once
// Makes "sim" as a port name lead to one line of the test's: opened as a
// serial line it is the line itself; as a parallel port or a USB printer it
// is reached through a fake printer port on `knobs`. With `calls`, every
// device handed out counts the calls that reach it there.

#include <memory>
#include <string>

#include "platform/device.h"
#include "platform/fake_printer_port.h"
#include "platform/fake_serial.h"
#include "sim/emulated_line.h"
#include "support/counting_device.h"

namespace quillon::testing {

inline void ServeAsSimulator(std::shared_ptr<platform::FakeSerialLine> line,
                             std::shared_ptr<platform::PrinterPortKnobs> knobs,
                             std::shared_ptr<DeviceCalls> calls = nullptr) {
  platform::SetSimulatorFactory(
      [line, knobs, calls](const std::string&,
                           platform::DeviceClass cls) -> std::shared_ptr<platform::SerialDevice> {
        std::shared_ptr<platform::SerialDevice> device = sim::OpenPrinterDevice(*line, cls, knobs);
        if (!device) return nullptr;
        return calls ? Counted(std::move(device), calls) : device;
      });
}

// The negotiations asked on `knobs`' ports, as letters: C compatibility,
// N nibble, E ECP.
inline std::string ModeLetters(platform::PrinterPortKnobs& knobs) {
  std::string out;
  for (const auto& n : knobs.Negotiations()) {
    if (platform::SameModes(n.ask, platform::kAskCompatibility)) out += 'C';
    if (platform::SameModes(n.ask, platform::kAskNibble)) out += 'N';
    if (platform::SameModes(n.ask, platform::kAskEcp)) out += 'E';
  }
  return out;
}

}  // namespace quillon::testing
