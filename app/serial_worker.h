#pragma once
// The serial download as it runs on its worker thread: open the port, check
// the image, run the procedure, end the download and report to the main
// window.

#include <memory>
#include <string>

#include "app/download_request.h"
#include "engine/flash_download.h"
#include "engine/sector_plan.h"
#include "platform/window_messages.h"

namespace quillon::app {

// The main window as a download sees it: it observes the download's
// progress and shows its result (from any thread).
class DownloadHost : public platform::MessageWindow {
 public:
  virtual void ShowResult(int code) = 0;
  // What the send threads hand to the download procedures.
  virtual const uint32_t* DownloadSectorTable() { return engine::flashSectorSizes; }
};

// After the procedure and EndDownload, a download's thread pauses this long
// before it posts the result.
inline constexpr uint32_t kBeforeResultMs = 500;

// What the launch hands to the serial worker thread.
struct SerialJob {
  DownloadHost* window = nullptr;
  engine::CFlashDownload* download = nullptr;
  DownloadRequest request;
};

// The worker thread's function; it takes the job over. Returns 0.
int SerialWorker(std::unique_ptr<SerialJob> job);

}  // namespace quillon::app
