#pragma once
// The download of quillon-flash: the program's stand-in for the main
// window, and the run of one download from the checked options to its
// result code.

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/download_request.h"
#include "app/model_table.h"
#include "app/serial_worker.h"
#include "cli/hints.h"
#include "cli/interrupts.h"
#include "cli/options.h"
#include "cli/progress_view.h"
#include "engine/flash_download.h"
#include "platform/event.h"

namespace quillon::cli {

// The main window of a command-line download: progress goes to the
// progress view and the result is kept. Each Send is handled on the sending
// thread.
class DownloadWindow final : public app::DownloadHost {
 public:
  // `device` names the port in messages; `builtIn` tells that it is the
  // built-in printer.
  DownloadWindow(ProgressView& view, std::string device, bool builtIn)
      : view_(view), device_(std::move(device)), builtIn_(builtIn) {}

  intptr_t Send(uint32_t id, uintptr_t wParam, intptr_t lParam) override;
  bool Post(uint32_t id, uintptr_t wParam, intptr_t lParam) override;
  // Keeps the code; a port that does not open is explained on stderr.
  void ShowResult(int code) override;

  // The result shown or posted last, if any.
  std::optional<int> Result();

  // The download's phase, as Ctrl-C sees it (cli/interrupts.h).
  std::atomic<int> phase{kStarting};
  // Set once the download has re-enabled the controls: it is over.
  platform::Event finished{true};

 private:
  void SetResult(int code);

  ProgressView& view_;
  const std::string device_;
  const bool builtIn_;
  std::mutex mutex_;
  std::optional<int> result_;
};

// The model table quillon-flash uses, loaded and split; false if it cannot be.
bool LoadModelTable(app::ModelTable& table);
// Whether the download of `request` goes to the built-in printer.
bool IsBuiltIn(const Options& options, const app::DownloadRequest& request);
// The kind of image the options' download type takes, if the table knows it.
std::optional<engine::DownloadType> KindOf(const Options& options, const app::ModelTable& table);

// Checks the download the options describe as far as it can be checked
// without a port: the settings (MakeRequest), then the image's SHA-256.
// Fills `request`, the device in words and any hash problem in `after`, and
// `sha256` with the image's hash when one was checked; kSuccess or the code
// of the first problem.
int CheckRequest(const Options& options, const app::ModelTable& table,
                 app::DownloadRequest& request, Aftermath& after, std::string& sha256);

// Runs the download the options describe, from the model table to the
// result, and gives its result code, the port as the result names it and
// the hints to follow the result (cli/hints.h).
int RunDownload(const Options& options, std::string& reportedPort, std::vector<std::string>& hints);

}  // namespace quillon::cli
