#pragma once
// The serial download as it runs on its worker thread: open the port, check
// the image, run the procedure, end the download and report to the main
// window.

#include <memory>
#include <string>

#include "engine/flash_download.h"
#include "engine/sector_plan.h"
#include "platform/window_messages.h"
#include "ports/port_window.h"

namespace quillon::app {

// The main window as a download sees it: it takes the user messages, serves
// the port threads and shows result messages (from any thread).
class DownloadHost : public ports::PortWindow {
 public:
  virtual void ShowResult(int code) = 0;
  // What the send threads hand to the download procedures.
  virtual std::string DownloadModelName() { return {}; }
  virtual const uint32_t* DownloadSectorTable() { return engine::flashSectorSizes; }
};

// What FLASH NOW hands to the serial worker thread.
struct SerialJob {
  DownloadHost* window = nullptr;
  engine::CFlashDownload* download = nullptr;
  std::string portName;
  std::string parity;
  std::string file;
  int32_t stopBits = 1;
  int32_t baud = 38400;
  int32_t firstSector = 0;
  int32_t mainProg = 0;
  int32_t iplProg = 0;
  int32_t isSerial = 1;
};

// The worker thread's function; it takes the job over. Returns 0.
int SerialWorker(std::unique_ptr<SerialJob> job);

}  // namespace quillon::app
