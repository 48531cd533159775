#include "cli/download_host.h"

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "app/download_estimate.h"
#include "app/history.h"
#include "app/image_hash.h"
#include "app/launch.h"
#include "app/result_table.h"
#include "cli/hints.h"
#include "cli/interrupts.h"
#include "cli/progress_output.h"
#include "cli/report.h"
#include "cli/terminal.h"
#include "engine/result_codes.h"
#include "engine/sector_plan.h"
#include "platform/clock.h"
#include "platform/device.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "sim/emulated_line.h"

namespace quillon::cli {

namespace {

// The progress display is refreshed as often as the progress window is.
constexpr uint32_t kRefreshMs = 500;
// How long a download stopped by force has to end before the program ends
// without it.
constexpr uint32_t kStopGraceMs = 2000;

// Ends the program when a download stopped by force has not ended within
// kStopGraceMs: a thread stuck in a system call (an open or a read that does
// not return) must not keep the program alive. `giveUp` reports and ends the
// process; it runs at most once, and never after End.
class StopWatchdog {
 public:
  explicit StopWatchdog(std::function<void()> giveUp)
      : giveUp_(std::move(giveUp)), thread_([this] { Watch(); }) {}
  ~StopWatchdog() { End(); }
  StopWatchdog(const StopWatchdog&) = delete;
  StopWatchdog& operator=(const StopWatchdog&) = delete;

  // Set when the download is stopped by force.
  platform::Event stopped{true};

  // The download is over (or never started): the watchdog retires. If it has
  // already given up, this waits for the end of the process.
  void End() {
    claimed_.exchange(true);
    ended_.Set();
    stopped.Set();
    thread_.Join();
  }

 private:
  void Watch() {
    stopped.Wait();
    if (ended_.Wait(kStopGraceMs)) return;
    if (claimed_.exchange(true)) return;
    giveUp_();
  }

  const std::function<void()> giveUp_;
  platform::Event ended_{true};
  std::atomic<bool> claimed_{false};
  platform::Thread thread_;
};

// Why a port did not open, in words for the user; empty if the system gave
// no reason. A built-in printer that could not be made says why.
std::string OpenFailure(int code, bool builtIn, const std::string& device) {
  if (builtIn) {
    if (std::string why = sim::BuiltInPrinterProblem(); !why.empty()) return why;
  }
  const int error = platform::LastError();
  if (error == platform::kErrorAccessDenied) return app::PermissionHint(code);
  if (error == platform::kErrorSharingViolation) {
    if (IsOwnTerminal(device)) {
      return "this is the terminal quillon-flash runs on, which is never used as a port";
    }
    return "the port is in use by another program";
  }
  if (error == platform::kErrorFileNotFound) return "no such device";
  if (error != platform::kErrorSuccess) return platform::LastErrorText();
  return {};
}

// The device the download goes to, in words for messages.
std::string DeviceName(const Options& o, const app::DownloadRequest& request) {
  if (IsBuiltIn(o, request)) return "the built-in printer";
  if (request.interface != app::Interface::kUsb) {
    return platform::ResolveDevice(request.portName).path;
  }
  return o.port.empty() ? "the USB printer" : o.port;
}

}  // namespace

bool IsBuiltIn(const Options& o, const app::DownloadRequest& request) {
  const bool usb = request.interface == app::Interface::kUsb;
  return platform::ResolveDevice(usb ? o.port : request.portName).kind ==
         platform::DeviceTarget::Kind::kSimulator;
}

std::optional<engine::DownloadType> KindOf(const Options& o, const app::ModelTable& table) {
  const auto row = table.FindRow(TypeText(o.type));
  if (!row) return std::nullopt;
  return engine::TypeOfLetter(row->letter);
}

int CheckRequest(const Options& o, const app::ModelTable& table, app::DownloadRequest& request,
                 Aftermath& after, std::string& sha256) {
  if (const int code = MakeRequest(o, table, request); code != engine::kSuccess) return code;
  after.device = DeviceName(o, request);
  // Before any port is opened: the image is the one released.
  const app::HashCheck hash =
      app::CheckImageHash(request.imagePath, request.sha256, request.requireSha256);
  after.hashProblem = hash.problem;
  sha256 = hash.actual;
  return hash.code;
}

bool LoadModelTable(app::ModelTable& table) {
  return table.LoadModelTable() == 0 && table.SelectModel() == 1 && table.SplitDownloadTypes() == 1;
}

intptr_t DownloadWindow::Send(uint32_t id, uintptr_t wParam, intptr_t lParam) {
  using namespace platform;
  switch (id) {
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

bool DownloadWindow::Post(uint32_t id, uintptr_t, intptr_t lParam) {
  if (id == platform::WM_DOWNLOAD_DONE) {
    SetResult(static_cast<int>(lParam));
  } else if (id == platform::WM_ENABLE_CONTROLS) {
    finished.Set();
  }
  return true;
}

void DownloadWindow::ShowResult(int code) {
  // Failures before the procedure, shown from the worker thread.
  if (code == engine::kSerialHandle || code == engine::kParallelOpen || code == engine::kUsbOpen) {
    if (const std::string why = OpenFailure(code, builtIn_, device_); !why.empty()) {
      view_.Note("quillon-flash: cannot open " + device_ + ": " + why);
    }
  }
  SetResult(code);
}

std::optional<int> DownloadWindow::Result() {
  std::lock_guard lock(mutex_);
  return result_;
}

void DownloadWindow::SetResult(int code) {
  std::lock_guard lock(mutex_);
  result_ = code;
}

namespace {

// The download itself; `after` gets what the hints need to know.
int Download(const Options& o, const app::ModelTable& table, std::string& reportedPort,
             Aftermath& after) {
  app::DownloadRequest request;
  std::string sha256;
  if (const int code = CheckRequest(o, table, request, after, sha256); code != engine::kSuccess) {
    return code;
  }

  const bool usb = request.interface == app::Interface::kUsb;
  // Over USB the result names the port given, if any.
  reportedPort = !usb ? request.portName : (o.port.empty() ? std::string("USB") : o.port);
  if (usb) platform::SetUsbPrinterPath(o.port);

  const ProgressView::Mode mode = o.jsonProgress       ? ProgressView::Mode::kJson
                                  : o.quiet            ? ProgressView::Mode::kQuiet
                                  : StderrIsTerminal() ? ProgressView::Mode::kBar
                                                       : ProgressView::Mode::kLines;
  ProgressOutput output(stderr);
  ProgressView view(output.Stream(), mode, o.verbose, StderrColumns);
  // The time left counts from here, where the launch begins.
  platform::Clock& clock = platform::GetClock();
  const int64_t launched = clock.NowMs();
  std::vector<int> sectors;
  if (int64_t bytes = 0;
      app::PlanRequest(request, engine::flashSectorSizes, sectors, bytes) == engine::kSuccess) {
    view.Follow(app::TimeLeft(app::EstimateDownload(
                    request.interface, request.type, sectors, engine::flashSectorSizes,
                    app::LineBytesPerSecond(request.interface, IsBuiltIn(o, request)))),
                [&clock, launched] { return clock.NowMs() - launched; });
  }
  engine::CFlashDownload download(request.interface);
  if (!download.printer) return engine::kInsufficientMemory;
  DownloadWindow window(view, after.device, IsBuiltIn(o, request));
  sim::SetBuiltInPrinterReport(
      [&view](const std::string& problem) { view.Note("quillon-flash: " + problem); });
  struct Forget {
    ~Forget() { sim::SetBuiltInPrinterReport(nullptr); }
  } forget;
  // What the download got to, however it ends. A USB printer restarts its
  // USB now and then: whether it has come back, and under the name given.
  struct Record {
    Aftermath& after;
    const engine::CFlashDownload& download;
    const std::string* usbPort;  // null: not a USB printer of the system's
    ~Record() {
      after.reached = download.HowFar();
      after.answered = download.printer->Answered();
      if (!usbPort || after.reached == engine::Reached::kNothing) return;
      std::error_code error;
      std::string path;
      std::string key;
      if (!usbPort->empty()) {
        after.portGone = !std::filesystem::exists(*usbPort, error) && !error;
      } else {
        after.printerGone = !platform::FindUsbPrinterPath(path, key);
      }
    }
  } record{after, download, usb && !IsBuiltIn(o, request) ? &o.port : nullptr};

  bool forced = false;
  {
    // Over USB and the parallel port there is no Cancel: Ctrl-C only warns,
    // and a second one stops the program. Interrupts are taken from before the
    // launch on, which may itself be stuck (in the open of a port or image).
    window.phase = request.interface == app::Interface::kSerial ? kStarting : kFlashing;
    // A download that had completed before it was stopped only has its
    // closing wait left: it still counts as done.
    StopWatchdog watchdog([&] {
      const bool done = download.HowFar() == engine::Reached::kCompleted;
      std::_Exit(Report(o, done ? engine::kSuccess : engine::kCancelled, reportedPort));
    });
    Interrupts interrupts(
        window.phase, view, [&download] { download.RequestStop(); }, &watchdog.stopped);
    interrupts.Follow([&download] { return download.HowFar(); });
    if (const int code = app::PrepareLaunch(request, download, window); code != engine::kSuccess) {
      return code;
    }
    platform::Event stopRefresh(true);
    platform::Thread refresh([&] {
      while (!stopRefresh.Wait(kRefreshMs)) view.Tick();
    });
    app::DownloadThread thread = app::StartDownload(request, download, window);
    window.finished.Wait();
    thread = {};  // joins
    watchdog.End();
    stopRefresh.Set();
    refresh.Join();
    forced = interrupts.Forced();
  }
  view.Close();
  const int result = window.Result().value_or(0);
  // A download stopped by the user counts as cancelled, unless it had
  // completed all the same.
  return forced && result != engine::kSuccess ? engine::kCancelled : result;
}

}  // namespace

int RunDownload(const Options& o, std::string& reportedPort, std::vector<std::string>& hints) {
  reportedPort = o.port;
  PrepareInterrupts();
  sim::InstallBuiltInPrinter();

  app::ModelTable table;
  if (!LoadModelTable(table)) return engine::kDataFileError;
  Aftermath after;
  platform::Clock& clock = platform::GetClock();
  app::DownloadRecord record;
  record.startMs = clock.WallMs();
  const int64_t start = clock.NowMs();
  after.code = Download(o, table, reportedPort, after);
  hints = Hints(o.image, KindOf(o, table), after);

  record.durationMs = clock.NowMs() - start;
  record.program = "quillon-flash";
  record.interface = o.interface;
  record.port = o.port;
  record.device = after.device;
  record.type = TypeText(o.type);
  record.image = o.image;
  record.code = after.code;
  record.reached = after.reached;
  if (std::string error; !app::RecordDownload(record, error)) {
    hints.push_back("quillon-flash: the download history cannot be written: " + error);
  }
  return after.code;
}

}  // namespace quillon::cli
