#pragma once
// Makes "sim" as a port name lead to one line of the test's: opened as a
// serial line it is the line itself; as a parallel port or a USB printer it
// is reached through a fake printer port on `knobs`.

#include <memory>
#include <string>

#include "platform/device.h"
#include "platform/fake_printer_port.h"
#include "platform/fake_serial.h"

namespace quillon::testing {

inline void ServeAsSimulator(std::shared_ptr<platform::FakeSerialLine> line,
                             std::shared_ptr<platform::PrinterPortKnobs> knobs) {
  platform::SetSimulatorFactory(
      [line, knobs](const std::string&,
                    platform::DeviceClass cls) -> std::shared_ptr<platform::SerialDevice> {
        if (cls == platform::DeviceClass::kSerial) return line->Device();
        return std::make_shared<platform::FakePrinterPort>(line->Device(), cls, knobs);
      });
}

}  // namespace quillon::testing
