#pragma once
// The printer emulator on an in-memory serial line: the peer that feeds it
// what the host writes and delivers its answers at their times, a line and
// printer pair, and the built-in "sim" device of the program.

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/device.h"
#include "platform/fake_printer_port.h"
#include "platform/fake_serial.h"
#include "sim/printer_emulator.h"
#include "sim/sim_options.h"

namespace quillon::sim {

// Connects a PrinterEmulator to a FakeSerialLine, and optionally writes the
// flash image and the transcript to files when the host closes the line. If
// the line is never closed after the last bytes came, the files are written
// when the peer goes away (at the latest when the program ends).
class EmulatorPeer final : public platform::SerialPeer {
 public:
  EmulatorPeer(std::shared_ptr<PrinterEmulator> printer,
               std::weak_ptr<platform::FakeSerialLine> line, std::string flashOut = {},
               std::string logOut = {});
  ~EmulatorPeer() override;
  EmulatorPeer(const EmulatorPeer&) = delete;
  EmulatorPeer& operator=(const EmulatorPeer&) = delete;

  void OnHostBytes(const uint8_t* data, size_t n, int64_t nowMs) override;
  void OnHostClosed() override;

  const std::shared_ptr<PrinterEmulator>& Printer() const { return printer_; }

 private:
  void WriteFiles();

  std::shared_ptr<PrinterEmulator> printer_;
  std::weak_ptr<platform::FakeSerialLine> line_;
  const std::string flashOut_;
  const std::string logOut_;
  std::mutex mutex_;
  bool filesCurrent_ = false;          // guarded by mutex_
  std::vector<std::string> reported_;  // guarded by mutex_: each problem is told once
};

// Writes the printer's flash to `flashOut` and its transcript to `logOut`,
// each if named. Gives a line for each file that could not be written,
// with its path and the reason.
std::vector<std::string> WritePrinterFiles(const PrinterEmulator& printer,
                                           const std::string& flashOut, const std::string& logOut);

// A fresh line with an emulator attached; open it with line->Open().
struct EmulatedLine {
  std::shared_ptr<platform::FakeSerialLine> line;
  std::shared_ptr<PrinterEmulator> printer;
};
EmulatedLine MakeEmulatedLine(const EmulatorOptions& options = {});

// A device backed by a fresh emulator set up from an option text (see
// sim_options.h). Returns null, with a message, for bad options or an image
// that cannot be read.
std::shared_ptr<platform::SerialDevice> OpenBuiltInPrinter(
    const std::string& options, std::string* error = nullptr,
    std::shared_ptr<PrinterEmulator>* printer = nullptr);

// Makes the printer's absences from the bus (its replug options) those of
// the USB printer devices opened on `knobs`: they vanish when it leaves, and
// none opens until it is back (platform::PrinterPortKnobs::LeaveBus).
void ConnectBus(PrinterEmulator& printer, std::shared_ptr<platform::PrinterPortKnobs> knobs);

// The device through which the printer on `line` is reached as a device of
// class `cls`: the line's own device for a serial line, else that device
// behind a platform::FakePrinterPort on `knobs`. Null, with the last error
// kErrorFileNotFound, for a USB printer that is off the bus.
std::shared_ptr<platform::SerialDevice> OpenPrinterDevice(
    platform::FakeSerialLine& line, platform::DeviceClass cls,
    const std::shared_ptr<platform::PrinterPortKnobs>& knobs);

// What the built-in device made for one option text: the printer, its line,
// and the knobs of the parallel port or USB printer it is reached through.
struct BuiltInPrinter {
  std::string options;
  std::shared_ptr<PrinterEmulator> printer;
  std::shared_ptr<platform::FakeSerialLine> line;
  std::shared_ptr<platform::PrinterPortKnobs> port;
};

// Makes "sim[:options]" open a built-in printer, as a serial line
// (platform::OpenDevice), a parallel port (OpenParallelDevice) or a USB
// printer (OpenUsbDevice): one printer per option text, which keeps its
// state when the port is closed and opened again. Over a parallel port or USB
// the printer's line is wrapped in a platform::FakePrinterPort; all devices
// of one printer share one PrinterPortKnobs.
//
// Only one opener at a time has the printer (a second open fails with
// kErrorSharingViolation), except that a USB printer, which is opened shared,
// may be opened again while it is open as a USB printer; both devices then
// work on the same line. A USB printer off the bus (replug-after,
// replug-during) does not open: kErrorFileNotFound.
//
// The flash= and log= files are written each time a device of the printer is
// closed, and when the printer goes away if bytes came after the last close.
//
// A bad option text fails the open with kErrorInvalidParameter, an
// unreadable image with kErrorFileNotFound. `created`, if given, sees each
// printer made, before the first device is handed out.
void InstallBuiltInPrinter();
// Where the built-in printers tell that a flash= or log= file could not be
// written (a line naming the path and the reason, once per problem):
// process-wide, nowhere unless set. Pass nullptr to stop.
void SetBuiltInPrinterReport(std::function<void(const std::string&)> report);
// Why the last built-in printer this thread asked for could not be made (an
// unknown or malformed option, an unreadable image); empty if it was made.
std::string BuiltInPrinterProblem();
void InstallBuiltInPrinter(std::function<void(std::shared_ptr<PrinterEmulator>)> created);
void InstallBuiltInPrinterWithKnobs(std::function<void(const BuiltInPrinter&)> created);

}  // namespace quillon::sim
