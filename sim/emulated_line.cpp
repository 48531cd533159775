#include "sim/emulated_line.h"

#include <map>
#include <mutex>
#include <utility>

namespace quillon::sim {

EmulatorPeer::EmulatorPeer(std::shared_ptr<PrinterEmulator> printer,
                           std::weak_ptr<platform::FakeSerialLine> line, std::string flashOut,
                           std::string logOut)
    : printer_(std::move(printer)),
      line_(std::move(line)),
      flashOut_(std::move(flashOut)),
      logOut_(std::move(logOut)) {}

EmulatorPeer::~EmulatorPeer() {
  std::lock_guard lock(mutex_);
  if (!filesCurrent_) WriteFiles();
}

void EmulatorPeer::OnHostBytes(const uint8_t* data, size_t n, int64_t nowMs) {
  {
    std::lock_guard lock(mutex_);
    filesCurrent_ = false;
  }
  const std::vector<TimedByte> answer = printer_->Feed(data, n, nowMs);
  const std::shared_ptr<platform::FakeSerialLine> line = line_.lock();
  if (!line) return;
  // Bytes due at the same moment go to the line together.
  std::vector<uint8_t> run;
  for (size_t i = 0; i < answer.size(); ++i) {
    run.push_back(answer[i].byte);
    if (i + 1 == answer.size() || answer[i + 1].atMs != answer[i].atMs) {
      line->Deliver(run, answer[i].atMs);
      run.clear();
    }
  }
}

void EmulatorPeer::OnHostClosed() {
  std::lock_guard lock(mutex_);
  WriteFiles();
  filesCurrent_ = true;
}

void EmulatorPeer::WriteFiles() {
  // Nobody to tell if this fails: the host has gone, or the program is ending.
  if (!flashOut_.empty()) printer_->WriteFlashFile(flashOut_);
  if (!logOut_.empty()) printer_->WriteTranscriptFile(logOut_);
}

EmulatedLine MakeEmulatedLine(const EmulatorOptions& options) {
  EmulatedLine pair;
  pair.line = std::make_shared<platform::FakeSerialLine>();
  pair.printer = std::make_shared<PrinterEmulator>(options);
  pair.line->SetPeer(std::make_shared<EmulatorPeer>(pair.printer, pair.line));
  return pair;
}

namespace {

// A printer made from an option text, on a line of its own; an empty line on
// failure.
EmulatedLine MakeBuiltInPrinter(const std::string& options, std::string* error, int* code) {
  SimConfig config;
  if (!ParseSimOptions(options, config, error)) {
    *code = platform::kErrorInvalidParameter;
    return {};
  }
  auto printer = std::make_shared<PrinterEmulator>(config.emulator);
  if (!config.image.empty() && !printer->LoadImageFile(config.image, error)) {
    *code = platform::kErrorFileNotFound;
    return {};
  }
  auto line = std::make_shared<platform::FakeSerialLine>();
  line->SetPeer(std::make_shared<EmulatorPeer>(printer, line, config.flashOut, config.logOut));
  return {line, printer};
}

}  // namespace

std::shared_ptr<platform::SerialDevice> OpenBuiltInPrinter(
    const std::string& options, std::string* error, std::shared_ptr<PrinterEmulator>* printer) {
  int code = 0;
  const EmulatedLine made = MakeBuiltInPrinter(options, error, &code);
  if (!made.line) return nullptr;
  if (printer) *printer = made.printer;
  return made.line->Device();
}

namespace {

// A device of the built-in printer as handed to the host: everything goes to
// the device underneath; closing it also tells the printer's table that this
// opener has gone.
class OpenerDevice final : public platform::ForwardingDevice {
 public:
  OpenerDevice(std::shared_ptr<platform::SerialDevice> inner, std::function<void()> closed)
      : ForwardingDevice(std::move(inner)), closed_(std::move(closed)) {}

  void Close() override {
    ForwardingDevice::Close();
    if (closed_) std::exchange(closed_, nullptr)();
  }

 private:
  std::function<void()> closed_;  // called once, by the closing thread
};

// The built-in printers, by option text.
struct BuiltInPrinters {
  struct Entry {
    BuiltInPrinter made;
    int openers = 0;  // devices handed out and not closed yet
    platform::DeviceClass openedAs = platform::DeviceClass::kSerial;  // theirs
  };
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<Entry>> byOptions;  // guarded by mutex
};

void Install(std::function<void(const BuiltInPrinter&)> created) {
  // Like a printer on a real port, the printer behind one option text stays
  // the same across closing and reopening the port (the download reopens it
  // after the switch and, on USB, to reconnect).
  auto printers = std::make_shared<BuiltInPrinters>();
  platform::SetSimulatorFactory(
      [printers, created = std::move(created)](
          const std::string& options,
          platform::DeviceClass cls) -> std::shared_ptr<platform::SerialDevice> {
        std::lock_guard lock(printers->mutex);
        std::shared_ptr<BuiltInPrinters::Entry> entry;
        if (auto it = printers->byOptions.find(options); it != printers->byOptions.end()) {
          entry = it->second;
          // A USB printer is opened shared: more than one handle may be open
          // on it. Everything else has one opener at a time.
          const bool shared = cls == platform::DeviceClass::kUsbPrinter &&
                              entry->openedAs == platform::DeviceClass::kUsbPrinter;
          if (entry->openers > 0 && !shared) {
            platform::SetLastError(platform::kErrorSharingViolation);
            return nullptr;
          }
        } else {
          int code = 0;
          EmulatedLine made = MakeBuiltInPrinter(options, nullptr, &code);
          if (!made.line) {
            platform::SetLastError(code);
            return nullptr;
          }
          entry = std::make_shared<BuiltInPrinters::Entry>();
          entry->made = {options, made.printer, made.line,
                         std::make_shared<platform::PrinterPortKnobs>()};
          printers->byOptions[options] = entry;
          if (created) created(entry->made);
        }
        std::shared_ptr<platform::SerialDevice> device = entry->made.line->Device();
        if (cls != platform::DeviceClass::kSerial) {
          device = std::make_shared<platform::FakePrinterPort>(device, cls, entry->made.port);
        }
        ++entry->openers;
        entry->openedAs = cls;
        return std::make_shared<OpenerDevice>(device, [printers, entry] {
          std::lock_guard lock(printers->mutex);
          --entry->openers;
        });
      });
}

}  // namespace

void InstallBuiltInPrinter() {
  Install(nullptr);
}

void InstallBuiltInPrinter(std::function<void(std::shared_ptr<PrinterEmulator>)> created) {
  if (!created) return Install(nullptr);
  Install([created = std::move(created)](const BuiltInPrinter& made) { created(made.printer); });
}

void InstallBuiltInPrinterWithKnobs(std::function<void(const BuiltInPrinter&)> created) {
  Install(std::move(created));
}

}  // namespace quillon::sim
