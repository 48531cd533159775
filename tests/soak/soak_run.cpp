#include "soak/soak_run.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <thread>

#include "app/launch.h"
#include "app/result_table.h"
#include "cli/download_host.h"
#include "engine/result_codes.h"
#include "platform/clock.h"
#include "platform/device.h"
#include "platform/fake_printer_port.h"
#include "ports/link.h"
#include "sim/emulated_line.h"
#include "soak/deadlines.h"
#include "soak/device_log.h"
#include "support/frame_bytes.h"
#include "support/virtual_clock.h"

namespace quillon::soak {

namespace {

using sim::CommandKind;
using sim::TranscriptEntry;
using Kind = DeviceEvent::Kind;

int CountEntries(const char* dir) {
  int n = 0;
  std::error_code error;
  for (std::filesystem::directory_iterator it(dir, error), end; !error && it != end;
       it.increment(error)) {
    ++n;
  }
  return n;
}

// A thread that has been joined leaves /proc/self/task a moment after the
// join returns (the kernel reaps it after it has woken the joiner), so a
// count above `expected` is looked at again for a while before it counts.
int SettledThreads(int expected) {
  int n = Threads();
  for (int i = 0; i < 500 && n > expected; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    n = Threads();
  }
  return n;
}

// Quiet progress display: nothing is drawn, and the few notes a window
// writes (a port that does not open) go nowhere.
std::FILE* Discard() {
  static std::FILE* const sink = std::fopen("/dev/null", "w");
  return sink;
}

// The command whose failure a result code reports.
std::optional<CommandKind> FailedCommand(int code) {
  using namespace engine;
  switch (code) {
    case kCannotErase:
      return CommandKind::kErase;
    case kCannotSelect:
      return CommandKind::kSelect;
    case kDataBlockTimeout:
      return CommandKind::kData;
    case kCannotAcknowledge:
    case kDifferentCrc:
      return CommandKind::kChecksum;
    case kCannotRecalculateCrc:
      return CommandKind::kRecalc;
    case kInterfaceBusy:
    case kNotStandardModel:
      return CommandKind::kLineStatus;
    case kCannotSwitch:
      return CommandKind::kSwitch;
    case kCannotReset:
      return CommandKind::kReset;
    default:
      return std::nullopt;
  }
}

// Codes of a port operation that failed: a negotiation, or the USB printer's
// open, id or status request.
bool PortOperationFailure(int code) {
  using namespace engine;
  return code == kEcpMode || code == kCompatibilityMode || code == kNibbleMode ||
         code == kParallelOpen || code == kUsbOpen || code == kUsbDeviceId || code == kUsbStatus;
}

std::string Name(CommandKind kind) {
  return std::string(sim::CommandName(kind));
}

// What the printer and the devices saw, gathered once the run is over.
struct Observed {
  int code = 0;
  std::vector<uint8_t> flash;
  std::vector<TranscriptEntry> transcript;
  size_t written = 0;  // bytes the host wrote on the printer's line
  std::vector<DeviceEvent> events;
  bool lineClosed = true;
  int logOpen = 0;
  int portDevicesOpen = 0;
  std::vector<std::string> handlesLeft;
};

class Checker {
 public:
  Checker(const Scenario& s, const Observed& o, RunResult& r) : s_(s), o_(o), r_(r) {}

  void All(const std::vector<uint8_t>& image, const std::vector<uint8_t>& before) {
    Code();
    Flash(image, before);
    Commands();
  }

 private:
  void Fail(std::string text) { r_.failures.push_back(std::move(text)); }

  void Code() {
    if (!app::LookupResult(o_.code)) {
      Fail("result " + std::to_string(o_.code) + " is no code of the result table");
    }
    if (s_.faults.empty()) {
      const int want = s_.image == ImageKind::kValid     ? engine::kSuccess
                       : s_.image == ImageKind::kMissing ? engine::kUnableToOpenFile
                                                         : engine::kInvalidImage;
      if (o_.code != want) {
        Fail("without a fault the result is " + std::to_string(o_.code) + ", not " +
             std::to_string(want));
      }
    }
    if (!s_.Valid() && o_.code == engine::kSuccess) Fail("an invalid image was reported as done");
  }

  void Flash(const std::vector<uint8_t>& image, const std::vector<uint8_t>& before) {
    const bool success = o_.code == engine::kSuccess;
    int64_t offset = engine::RowOf(s_.type).skip;
    std::vector<bool> planned(sim::kSectorCount + 1, false);
    for (int sector : s_.plan) {
      planned[static_cast<size_t>(sector)] = true;
      const size_t at = sim::PrinterEmulator::SectorAddress(sector);
      const size_t size = sim::PrinterEmulator::SectorSize(sector);
      if (success) {
        std::vector<uint8_t> want(size, 0xFF);
        for (size_t i = 0; i < size && offset + static_cast<int64_t>(i) < std::ssize(image); ++i) {
          want[i] = image[static_cast<size_t>(offset) + i];
        }
        if (!std::equal(want.begin(), want.end(), o_.flash.begin() + static_cast<ptrdiff_t>(at))) {
          if (s_.type == app::DownloadType::kIpl && sector == s_.plan.front() &&
              !s_.faults.empty() && !BlockTakenInto(sector)) {
            r_.firstIplSectorUnverified = true;
          } else {
            Fail("reported done, but sector " + std::to_string(sector) +
                 " does not hold the image");
          }
        }
      }
      offset += static_cast<int64_t>(size);
    }
    for (int sector = 1; sector <= sim::kSectorCount; ++sector) {
      if (planned[static_cast<size_t>(sector)]) continue;
      const auto at = static_cast<ptrdiff_t>(sim::PrinterEmulator::SectorAddress(sector));
      const auto size = static_cast<ptrdiff_t>(sim::PrinterEmulator::SectorSize(sector));
      if (!std::equal(before.begin() + at, before.begin() + at + size, o_.flash.begin() + at)) {
        Fail("sector " + std::to_string(sector) + ", outside the plan, changed");
      }
    }
  }

  // Whether the printer programmed a data block into `sector`.
  bool BlockTakenInto(int sector) const {
    for (const TranscriptEntry& e : o_.transcript) {
      if (e.kind == CommandKind::kData && e.sector == sector &&
          e.outcome == TranscriptEntry::Outcome::kAnswered &&
          e.answer == std::vector<uint8_t>{sim::kAck}) {
        return true;
      }
    }
    return false;
  }

  // Nothing is sent after the command that failed, and a download that
  // succeeded ends with the reset.
  void Commands() {
    const int code = o_.code;
    int64_t framed = 0;
    for (const TranscriptEntry& e : o_.transcript) framed += testing::FrameBytes(e);
    const bool whole = framed == static_cast<int64_t>(o_.written);
    const DeviceEvent* lastWrite = nullptr;
    size_t lastPortOperation = 0;
    size_t lastWriteAt = 0;
    for (size_t i = 0; i < o_.events.size(); ++i) {
      const DeviceEvent& e = o_.events[i];
      if (e.kind == Kind::kWrite) {
        lastWrite = &e;
        lastWriteAt = i + 1;
      }
      if (e.kind == Kind::kNegotiate || e.kind == Kind::kDeviceId || e.kind == Kind::kStatus ||
          (e.kind == Kind::kOpen && !e.ok)) {
        lastPortOperation = i + 1;
      }
    }
    const std::string last =
        o_.transcript.empty() ? std::string("nothing") : Name(o_.transcript.back().kind);

    if (code == engine::kUnableToOpenFile || code == engine::kInvalidImage) {
      if (lastWrite || !o_.transcript.empty())
        Fail("a refused image, yet the printer got commands");
      return;
    }
    if (code == engine::kSuccess) {
      if (!lastWrite || !lastWrite->ok || !whole || last != Name(CommandKind::kReset)) {
        Fail("reported done, but the last command the printer got was " + last +
             (whole ? "" : " and then part of a frame"));
      }
      return;
    }
    if (PortOperationFailure(code)) {
      if (lastWriteAt > lastPortOperation) {
        Fail("result " + std::to_string(code) + ", yet the host wrote after the port operation");
      }
      return;
    }
    const std::optional<CommandKind> failed = FailedCommand(code);
    if (!failed) return;
    if (!lastWrite) {
      Fail("result " + std::to_string(code) + " without a command written");
      return;
    }
    // A command whose own write failed may have left part of its frame.
    if (!lastWrite->ok) return;
    if (last != Name(*failed) || !whole) {
      Fail("result " + std::to_string(code) + " (" + Name(*failed) +
           " failed), but the last command the printer got was " + last +
           (whole ? "" : " and then part of a frame"));
    }
  }

  const Scenario& s_;
  const Observed& o_;
  RunResult& r_;
};

}  // namespace

int OpenDescriptors() {
  return CountEntries("/proc/self/fd");
}

int Threads() {
  return CountEntries("/proc/self/task");
}

RunResult RunScenario(const Scenario& s, const std::filesystem::path& dir, bool keepTranscript) {
  RunResult result;
  result.boundMs = DurationBoundMs(s);
  std::FILE* const discard = Discard();  // opened once, before anything is counted
  const int threadsBefore = Threads();
  const int descriptorsBefore = OpenDescriptors();

  const bool usb = s.iface == Interface::kUsb;
  static constexpr const char* kExtensions[] = {".mfw", ".ipl", ".bin"};
  const std::filesystem::path imagePath =
      dir / ("image-" + std::to_string(s.seed) + kExtensions[static_cast<size_t>(s.type)]);
  std::vector<uint8_t> image;
  if (s.image != ImageKind::kMissing) {
    image = ImageBytes(s);
    std::ofstream(imagePath, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
  }
  const std::vector<uint8_t> before = FlashBefore(s);

  Observed seen;
  {
    platform::VirtualClock clock(s.wallStartMs);
    platform::ScopedClock scope(clock);
    sim::EmulatedLine emulated = sim::MakeEmulatedLine(s.emulator);
    emulated.printer->LoadImage(before);

    auto knobs = std::make_shared<platform::PrinterPortKnobs>();
    sim::ConnectBus(*emulated.printer, knobs);
    if (s.vanishOnWrite > 0) knobs->VanishOnWrite(s.vanishOnWrite);
    for (const NegotiationFault& f : s.negotiation) {
      if (f.fails) {
        knobs->FailNegotiation(f.ask, f.nth);
      } else {
        knobs->GrantInstead(f.ask, f.nth, f.granted);
      }
    }
    if (s.deviceIdFailsFrom == 1) knobs->SetDeviceIdFails(true);
    if (s.statusFailsFrom == 1) knobs->SetStatusFails(true);
    auto log = std::make_shared<DeviceLog>(knobs, s.deviceIdFailsFrom > 1 ? s.deviceIdFailsFrom : 0,
                                           s.statusFailsFrom > 1 ? s.statusFailsFrom : 0);
    // "sim" is this run's printer on every interface: its line itself, or
    // the line behind a fake parallel port or USB printer.
    platform::SetSimulatorFactory([line = emulated.line, knobs, log](const std::string&,
                                                                     platform::DeviceClass cls)
                                      -> std::shared_ptr<platform::SerialDevice> {
      std::shared_ptr<platform::SerialDevice> device = sim::OpenPrinterDevice(*line, cls, knobs);
      if (!device) {
        log->Add({Kind::kOpen, false});  // a USB printer off the bus
        return nullptr;
      }
      return std::make_shared<LoggingDevice>(device, log);
    });

    platform::SetUsbPrinterPath(usb ? "sim" : "");
    app::DownloadRequest request;
    request.interface = s.iface;
    request.type = s.type;
    request.portName = usb ? "" : "sim";
    request.imagePath = imagePath.string();
    request.firstSector = s.FirstSector();

    // The run of quillon-flash's RunDownload, from the launch on.
    const int64_t start = clock.NowMs();
    {
      cli::ProgressView view(discard, cli::ProgressView::Mode::kQuiet, false);
      engine::CFlashDownload download(s.iface);
      {
        cli::DownloadWindow window(view, "the built-in printer", true);
        seen.code = app::PrepareLaunch(request, download, window);
        if (seen.code == engine::kSuccess) {
          app::DownloadThread thread = app::StartDownload(request, download, window);
          window.finished.Wait();
          thread = {};  // joins
          seen.code = window.Result().value_or(0);
        }
      }
      // No handle of the printer is left registered.
      const std::pair<const char*, platform::Handle> handles[] = {
          {"the port",
           download.printer ? download.printer->GetHandle() : platform::kInvalidHandle}};
      for (const auto& [what, handle] : handles) {
        if (handle != platform::kInvalidHandle && handle != platform::kNoHandle &&
            platform::DeviceOf(handle)) {
          seen.handlesLeft.push_back(what);
        }
      }
    }
    result.durationMs = clock.NowMs() - start;

    seen.flash = emulated.printer->Flash();
    seen.transcript = emulated.printer->Transcript();
    seen.written = emulated.line->Written().size();
    seen.events = log->Events();
    seen.logOpen = log->Open();
    seen.portDevicesOpen = knobs->DevicesOpen();
    const bool opened = !seen.events.empty();
    seen.lineClosed = !opened || emulated.line->Closed();
    if (keepTranscript) result.transcript = emulated.printer->TranscriptText();

    platform::SetSimulatorFactory(nullptr);
    platform::SetUsbPrinterPath("");
  }
  std::error_code ignored;
  std::filesystem::remove(imagePath, ignored);

  result.code = seen.code;
  Checker(s, seen, result).All(image, before);
  if (result.durationMs > result.boundMs) {
    result.failures.push_back("took " + std::to_string(result.durationMs) +
                              " ms, beyond its bound of " + std::to_string(result.boundMs) + " ms");
  }
  for (const std::string& what : seen.handlesLeft) {
    result.failures.push_back("the handle of " + what + " is still open");
  }
  if (seen.logOpen != 0) {
    result.failures.push_back(std::to_string(seen.logOpen) + " device(s) of the printer left open");
  }
  if (seen.portDevicesOpen != 0) {
    result.failures.push_back(std::to_string(seen.portDevicesOpen) +
                              " parallel port or USB printer device(s) left open");
  }
  if (!seen.lineClosed) result.failures.push_back("the printer's line was left open");
  if (const int n = SettledThreads(threadsBefore); n != threadsBefore) {
    result.failures.push_back(std::to_string(n - threadsBefore) + " thread(s) left running");
  }
  if (const int n = OpenDescriptors(); n != descriptorsBefore) {
    result.failures.push_back("file descriptors: " + std::to_string(descriptorsBefore) +
                              " before, " + std::to_string(n) + " after");
  }
  return result;
}

}  // namespace quillon::soak
