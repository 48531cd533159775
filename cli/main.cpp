// quillon-flash: writes a main firmware, IPL firmware or font image into the
// printer's flash from the command line, with the same checks, procedure and
// result codes as the dialog.

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "app/model_table.h"
#include "app/result_table.h"
#include "app/send_threads.h"
#include "app/serial_worker.h"
#include "app/validate_settings.h"
#include "cli/interrupts.h"
#include "cli/progress_view.h"
#include "engine/flash_download.h"
#include "engine/result_codes.h"
#include "platform/clock.h"
#include "platform/device.h"
#include "platform/event.h"
#include "platform/thread.h"
#include "ports/port_state.h"
#include "ports/receive_threads.h"
#include "sim/emulated_line.h"

namespace quillon::cli {
namespace {

constexpr const char* kUsage =
    "Usage: quillon-flash [options] IMAGE\n"
    "Writes IMAGE into the flash memory of the printer.\n"
    "\n"
    "  -t, --type TYPE        a download type: \"MAIN FIRMWARE\", \"IPL FIRMWARE\",\n"
    "                         \"US&EU FONT\" (any case), or main, ipl, font. Required.\n"
    "  -i, --interface IF     serial (default), parallel or usb\n"
    "  -p, --port PORT        serial: COM1..COM20 (default COM1) or a device path such\n"
    "                         as /dev/ttyUSB0; parallel: LPT1..LPT10 (default LPT1) or\n"
    "                         a device path such as /dev/parport0; usb: a device path\n"
    "                         such as /dev/usb/lp0 (default: the printer is found by\n"
    "                         its USB ids). On every interface sim is the built-in\n"
    "                         emulated printer (sim:flash=FILE,log=FILE keeps its\n"
    "                         flash and transcript)\n"
    "  -b, --baud RATE        115200 57600 38400 19200 9600 4800 2400 1200 (default 38400)\n"
    "      --parity P         NONE EVEN ODD, any case (default NONE)\n"
    "      --stop-bits N      1 or 2 (default 1)\n"
    "      --json             print the result as one JSON object\n"
    "  -q, --quiet            no progress display\n"
    "  -v, --verbose          progress with its figures\n"
    "  -h, --help             this text\n"
    "      --version          the program's version\n"
    "\n"
    "COMn is the serial port n (on Linux /dev/ttyS<n-1>), or the device named\n"
    "by the environment variable QUILLON_COMn; LPTn likewise the parallel port\n"
    "(/dev/parport<n-1>, QUILLON_LPTn); QUILLON_USB names the USB printer.\n"
    "Baud rate, parity and stop bits apply to the serial port only. The exit\n"
    "status is 0 when the download succeeded, 1 when it did not, 2 for a\n"
    "malformed command line.\n";

struct Options {
  std::string type;
  std::string interface = "serial";
  std::string port;  // default by interface
  std::string baud = "38400";
  std::string parity = "NONE";
  std::string stopBits = "1";
  std::string image;
  bool json = false;
  bool quiet = false;
  bool verbose = false;
};

enum class Parsed { kRun, kHelp, kVersion, kError };

Parsed Parse(int argc, char** argv, Options& o, std::string& error) {
  bool haveType = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::optional<std::string> inlineValue;
    if (arg.starts_with("--") && arg.find('=') != std::string::npos) {
      inlineValue = arg.substr(arg.find('=') + 1);
      arg = arg.substr(0, arg.find('='));
    }
    auto value = [&](std::string& into) {
      if (inlineValue) {
        into = *inlineValue;
        return true;
      }
      if (i + 1 >= argc) {
        error = "option " + arg + " needs a value";
        return false;
      }
      into = argv[++i];
      return true;
    };
    if (arg == "-h" || arg == "--help") return Parsed::kHelp;
    if (arg == "--version") return Parsed::kVersion;
    if (arg == "--json") {
      o.json = true;
    } else if (arg == "-q" || arg == "--quiet") {
      o.quiet = true;
    } else if (arg == "-v" || arg == "--verbose") {
      o.verbose = true;
    } else if (arg == "-t" || arg == "--type") {
      if (!value(o.type)) return Parsed::kError;
      haveType = true;
    } else if (arg == "-i" || arg == "--interface") {
      if (!value(o.interface)) return Parsed::kError;
    } else if (arg == "-p" || arg == "--port") {
      if (!value(o.port)) return Parsed::kError;
    } else if (arg == "-b" || arg == "--baud") {
      if (!value(o.baud)) return Parsed::kError;
    } else if (arg == "--parity") {
      if (!value(o.parity)) return Parsed::kError;
    } else if (arg == "--stop-bits") {
      if (!value(o.stopBits)) return Parsed::kError;
    } else if (arg.size() > 1 && arg[0] == '-') {
      error = "unknown option " + arg;
      return Parsed::kError;
    } else if (o.image.empty()) {
      o.image = arg;
    } else {
      error = "more than one image given";
      return Parsed::kError;
    }
  }
  if (o.image.empty()) {
    error = "no IMAGE given";
    return Parsed::kError;
  }
  if (!haveType) {
    error = "no download type given (--type main|ipl|font)";
    return Parsed::kError;
  }
  std::string lower;
  for (char c : o.interface)
    lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower != "serial" && lower != "parallel" && lower != "usb") {
    error = "unknown interface " + o.interface;
    return Parsed::kError;
  }
  o.interface = lower;
  if (o.port.empty() && lower == "serial") o.port = "COM1";
  if (o.port.empty() && lower == "parallel") o.port = "LPT1";
  return Parsed::kRun;
}

std::string TypeText(const std::string& type) {
  std::string lower;
  for (char c : type) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "main") return "MAIN FIRMWARE";
  if (lower == "ipl") return "IPL FIRMWARE";
  if (lower == "font" || lower == "fonts") return "US&EU FONT";
  return type;
}

// A port given as a device path or as the emulator rather than a port name.
bool IsDevice(const std::string& port) {
  return port == "sim" || port.starts_with("sim:") || port.find('/') != std::string::npos ||
         port.starts_with("\\\\.\\");
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

// The main window of a command-line download.
class Host final : public app::DownloadHost {
 public:
  Host(ProgressView& view, std::string device, engine::CFlashDownload& download)
      : view_(view), device_(std::move(device)), download_(download) {}

  intptr_t Send(uint32_t id, uintptr_t wParam, intptr_t lParam) override {
    using namespace platform;
    switch (id) {
      case WM_START_USB_RECEIVE:
        receive_.StartUsb(static_cast<int>(wParam));
        break;
      case WM_START_PARALLEL_RECEIVE:
        receive_.StartParallel(static_cast<int>(wParam));
        break;
      case WM_OPEN_PROGRESS:
        view_.Open();
        break;
      case WM_PROGRESS_STATUS: {
        const auto* r = reinterpret_cast<const engine::StatusRecord*>(lParam);
        view_.Status(r->statusText, r->progressRange, r->progressPos, r->progressStep);
        break;
      }
      case WM_PROGRESS_SETPOS:
        view_.SetRangePos(static_cast<int>(wParam), static_cast<int>(lParam));
        break;
      case WM_PROGRESS_AUTOSTEP:
        view_.SetAutoAdvance(lParam != 0);
        break;
      case WM_DISABLE_PROGRESS:
        phase = kFlashing;
        break;
      case WM_CLOSE_PROGRESS:
        phase = kEnded;
        view_.Close();
        break;
      case WM_ENABLE_CONTROLS:
        finished.Set();
        break;
      default:
        break;
    }
    return 0;
  }

  bool Post(uint32_t id, uintptr_t, intptr_t lParam) override {
    if (id == platform::WM_DOWNLOAD_DONE) {
      std::lock_guard lock(mutex_);
      result_ = static_cast<int>(lParam);
    } else if (id == platform::WM_ENABLE_CONTROLS) {
      finished.Set();
    }
    return true;
  }

  // Failures before the procedure, shown from the worker thread.
  void ShowResult(int code) override {
    if (code == engine::kSerialHandle || code == engine::kParallelOpen ||
        code == engine::kUsbOpen) {
      const int error = platform::LastError();
      std::string why;
      const std::string group = code == engine::kSerialHandle ? "dialout" : "lp";
      if (error == platform::kErrorAccessDenied) {
        why = "permission denied: this user is not in the group that owns the device (usually " +
              group + "); ask for it with: sudo usermod -aG " + group + " $USER, then log in again";
      } else if (error == platform::kErrorSharingViolation) {
        why = "the port is in use by another program";
      } else if (error == platform::kErrorFileNotFound) {
        why = "no such device";
      } else if (error != platform::kErrorSuccess) {
        why = platform::LastErrorText();
      }
      if (!why.empty()) view_.Note("quillon-flash: cannot open " + device_ + ": " + why);
    }
    std::lock_guard lock(mutex_);
    result_ = code;
  }

  void StopUsbReceive() override { receive_.StopUsb(); }
  void StopParallelReceive() override { receive_.StopParallel(); }
  bool ReopenUsbPrinter() override {
    download_.ClosePrinterPort();
    return download_.ConnectUsbPrinter() == engine::kSuccess;
  }

  std::optional<int> Result() {
    std::lock_guard lock(mutex_);
    return result_;
  }

  std::atomic<int> phase{kStarting};
  platform::Event finished{true};

 private:
  ProgressView& view_;
  const std::string device_;
  engine::CFlashDownload& download_;
  std::mutex mutex_;
  std::optional<int> result_;

 public:
  // Last: its threads are gone before the rest. A receive thread's end
  // message is not acted on here (the thread would wait for itself); the
  // next receive or the end of the program deletes it.
  ports::ReceiveThreads receive_{*this};
};

int Report(const Options& o, int code, const std::string& portName) {
  std::string message;
  if (auto row = app::LookupResult(code)) message = row->text;
  if (o.json) {
    std::printf(
        "{\"code\":%d,\"success\":%s,\"message\":%s,\"type\":%s,\"image\":%s,\"port\":%s}\n", code,
        code == engine::kSuccess ? "true" : "false", JsonString(message).c_str(),
        JsonString(TypeText(o.type)).c_str(), JsonString(o.image).c_str(),
        JsonString(portName).c_str());
  } else {
    for (char& c : message) {
      if (c == '\n') c = ' ';
    }
    std::printf("result %d: %s\n", code, message.c_str());
  }
  std::fflush(stdout);
  return code == engine::kSuccess ? 0 : 1;
}

int Run(int argc, char** argv) {
  Options o;
  std::string error;
  switch (Parse(argc, argv, o, error)) {
    case Parsed::kHelp:
      std::fputs(kUsage, stdout);
      return 0;
    case Parsed::kVersion:
      std::printf("quillon-flash %s\n", QUILLON_VERSION);
      return 0;
    case Parsed::kError:
      std::fprintf(stderr, "quillon-flash: %s\n\n%s", error.c_str(), kUsage);
      return 2;
    case Parsed::kRun:
      break;
  }

  PrepareInterrupts();

  sim::InstallBuiltInPrinter();

  app::ModelTable table;
  if (table.LoadModelTable() != 0 || table.SelectModel() != 1 || table.SplitDownloadTypes() != 1) {
    return Report(o, engine::kDataFileError, o.port);
  }

  app::DialogSettings in;
  in.interface = o.interface == "usb"        ? app::kUsbInterface
                 : o.interface == "parallel" ? app::kParallelInterface
                                             : app::kSerialInterface;
  in.portText = o.port;
  in.portIsDevice = IsDevice(o.port);
  in.typeText = TypeText(o.type);
  in.fileText = std::filesystem::path(o.image).filename().string();
  in.parityText = o.parity;
  in.baudText = o.baud;
  in.stopBitsText = o.stopBits;
  app::ValidatedSettings v;
  ports::useUsb = in.interface == app::kUsbInterface ? 1 : 0;
  if (const int code = app::ValidateSettings(in, table, v); code != engine::kSuccess) {
    return Report(o, code, o.port);
  }
  if (ports::useUsb) v.portName = o.port;

  const ProgressView::Mode mode = o.quiet              ? ProgressView::Mode::kQuiet
                                  : StderrIsTerminal() ? ProgressView::Mode::kBar
                                                       : ProgressView::Mode::kLines;
  ProgressView view(stderr, mode, o.verbose);
  std::string device;
  if (ports::useUsb) {
    platform::SetUsbPrinterPath(o.port);
    device = o.port.empty() ? "the USB printer" : o.port;
  } else {
    const platform::DeviceTarget target = platform::ResolveDevice(v.portName);
    device = target.path;
  }
  if (platform::ResolveDevice(ports::useUsb ? o.port : v.portName).kind ==
      platform::DeviceTarget::Kind::kSimulator) {
    device = "the built-in printer";
  }

  // The port as the result names it: over USB what was given, if anything.
  const std::string reportedPort =
      !ports::useUsb ? v.portName : (o.port.empty() ? std::string("USB") : o.port);
  engine::CFlashDownload download;
  if (!download.printer) return Report(o, engine::kInsufficientMemory, reportedPort);
  Host host(view, device, download);
  download.SetWindow(&host);
  ports::mainWindow = &host;
  struct ForgetWindow {
    ~ForgetWindow() { ports::mainWindow = nullptr; }
  } forgetWindow;

  // The parallel port and the USB printer are opened before the download
  // thread starts, as the dialog does.
  if (ports::useUsb) {
    int code = download.ConnectUsbPrinter();
    if (code == engine::kSuccess) {
      platform::Pause(1000);
      code = download.CheckImageFile(o.image);
    }
    if (code != engine::kSuccess) {
      host.ShowResult(code);
      download.ClosePrinterPort();
      return Report(o, code, reportedPort);
    }
  } else if (v.isParallel) {
    if (const int code = download.OpenParallelPrinter(v.portName, v.iplProg);
        code != engine::kSuccess) {
      host.ShowResult(code);
      download.ClosePrinterPort();
      return Report(o, code, v.portName);
    }
  }

  platform::Event stopRefresh(true);
  int result = engine::kSuccess;
  bool forced = false;
  {
    // Over USB and the parallel port there is no Cancel: Ctrl-C only warns,
    // and a second one stops the program.
    if (!v.isSerial) host.phase = kFlashing;
    Interrupts interrupts(host.phase, view);
    platform::Thread refresh([&] {
      while (!stopRefresh.Wait(500)) view.Tick();
    });
    std::unique_ptr<platform::Thread> worker;
    std::unique_ptr<app::SendThread> sender;
    if (ports::useUsb) {
      sender = std::make_unique<app::CSend_USBThread>();
    } else if (v.isParallel) {
      sender = std::make_unique<app::CSendParallelThread>();
    } else {
      auto job = std::make_unique<app::SerialJob>();
      job->window = &host;
      job->download = &download;
      job->portName = v.portName;
      job->parity = v.parityText;
      job->file = o.image;
      job->stopBits = v.stopBits;
      job->baud = v.baudRate;
      job->firstSector = v.firstSector;
      job->mainProg = v.mainProg;
      job->iplProg = v.iplProg;
      job->isSerial = v.isSerial;
      auto handOver = std::make_shared<std::unique_ptr<app::SerialJob>>(std::move(job));
      worker = std::make_unique<platform::Thread>(
          [handOver] { app::SerialWorker(std::move(*handOver)); },
          platform::ThreadPriority::kAboveNormal, /*suspended=*/true);
      worker->Resume();
    }
    if (sender) {
      sender->SetJob(&host, &download, o.image, v.firstSector, v.mainProg, v.iplProg);
    }
    host.finished.Wait();
    worker.reset();  // joins
    sender.reset();
    stopRefresh.Set();
    refresh.Join();
    forced = interrupts.Forced();
    result = host.Result().value_or(0);
  }
  view.Close();
  // A download stopped by the user counts as cancelled, unless it had
  // completed all the same.
  if (forced && result != engine::kSuccess) result = engine::kCancelled;
  return Report(o, result, reportedPort);
}

}  // namespace
}  // namespace quillon::cli

int main(int argc, char** argv) {
  return quillon::cli::Run(argc, argv);
}
