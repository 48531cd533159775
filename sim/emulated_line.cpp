#include "sim/emulated_line.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>
#include <mutex>
#include <system_error>
#include <utility>

#include "platform/clock.h"

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

namespace {

// The reporter of file problems. Never destroyed: a printer may write its
// files while the program's statics go away.
struct Report {
  std::mutex mutex;
  std::function<void(const std::string&)> to;  // guarded by mutex
};
Report& TheReport() {
  static Report* report = new Report;
  return *report;
}

void Tell(const std::string& line) {
  std::function<void(const std::string&)> to;
  {
    Report& r = TheReport();
    std::lock_guard lock(r.mutex);
    to = r.to;
  }
  if (to) to(line);
}

// Writes `size` bytes to `path`; empty, or why not.
std::string WriteWhole(const std::string& path, const void* data, size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return std::generic_category().message(errno);
  const bool written = std::fwrite(data, 1, size, f) == size;
  const int writeError = errno;
  const bool closed = std::fclose(f) == 0;
  if (written && closed) return {};
  return std::generic_category().message(written ? errno : writeError);
}

}  // namespace

std::vector<std::string> WritePrinterFiles(const PrinterEmulator& printer,
                                           const std::string& flashOut, const std::string& logOut) {
  std::vector<std::string> problems;
  if (!flashOut.empty()) {
    const std::vector<uint8_t> flash = printer.Flash();
    if (const std::string why = WriteWhole(flashOut, flash.data(), flash.size()); !why.empty()) {
      problems.push_back("cannot write the flash file " + flashOut + ": " + why);
    }
  }
  if (!logOut.empty()) {
    const std::string text = printer.TranscriptText();
    if (const std::string why = WriteWhole(logOut, text.data(), text.size()); !why.empty()) {
      problems.push_back("cannot write the transcript file " + logOut + ": " + why);
    }
  }
  return problems;
}

void EmulatorPeer::WriteFiles() {
  for (const std::string& problem : WritePrinterFiles(*printer_, flashOut_, logOut_)) {
    if (std::find(reported_.begin(), reported_.end(), problem) != reported_.end()) continue;
    reported_.push_back(problem);
    Tell(problem);
  }
}

void SetBuiltInPrinterReport(std::function<void(const std::string&)> report) {
  Report& r = TheReport();
  std::lock_guard lock(r.mutex);
  r.to = std::move(report);
}

EmulatedLine MakeEmulatedLine(const EmulatorOptions& options) {
  EmulatedLine pair;
  pair.line = std::make_shared<platform::FakeSerialLine>();
  pair.printer = std::make_shared<PrinterEmulator>(options);
  pair.line->SetPeer(std::make_shared<EmulatorPeer>(pair.printer, pair.line));
  return pair;
}

void ConnectBus(PrinterEmulator& printer, std::shared_ptr<platform::PrinterPortKnobs> knobs) {
  printer.SetBusListener(
      [knobs = std::move(knobs)](const BusAbsence& a) { knobs->LeaveBus(a.fromMs, a.untilMs); });
}

std::shared_ptr<platform::SerialDevice> OpenPrinterDevice(
    platform::FakeSerialLine& line, platform::DeviceClass cls,
    const std::shared_ptr<platform::PrinterPortKnobs>& knobs) {
  if (cls == platform::DeviceClass::kSerial) return line.Device();
  if (cls == platform::DeviceClass::kUsbPrinter && !knobs->Present(platform::GetClock().NowMs())) {
    platform::SetLastError(platform::kErrorFileNotFound);  // off the bus
    return nullptr;
  }
  return std::make_shared<platform::FakePrinterPort>(line.Device(), cls, knobs);
}

namespace {

// Why this thread's last built-in printer could not be made.
thread_local std::string lastProblem;

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
        lastProblem.clear();
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
          EmulatedLine made = MakeBuiltInPrinter(options, &lastProblem, &code);
          if (!made.line) {
            platform::SetLastError(code);
            return nullptr;
          }
          entry = std::make_shared<BuiltInPrinters::Entry>();
          entry->made = {options, made.printer, made.line,
                         std::make_shared<platform::PrinterPortKnobs>()};
          ConnectBus(*made.printer, entry->made.port);
          printers->byOptions[options] = entry;
          if (created) created(entry->made);
        }
        std::shared_ptr<platform::SerialDevice> device =
            OpenPrinterDevice(*entry->made.line, cls, entry->made.port);
        if (!device) return nullptr;
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

std::string BuiltInPrinterProblem() {
  return lastProblem;
}

}  // namespace quillon::sim
