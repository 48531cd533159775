#pragma once
// What a download will do and how long it will take, worked out before
// anything is opened: the erases and writes of its sector plan in order, the
// status texts it will show and when, and its expected duration from the
// procedure's fixed waits and the line rate. The estimate assumes a printer
// that answers at once and a line check that passes at its first attempt;
// a real printer's own erase, programming and CRC time come on top where
// the procedure does not wait for them with a fixed pause.

#include <cstdint>
#include <string>
#include <vector>

#include "app/download_request.h"
#include "engine/download_type.h"
#include "ports/link.h"

namespace quillon::app {

// One erase or write of the plan, in the order the download does them.
struct PlanOperation {
  enum class Kind { kErase, kWrite };
  Kind kind;
  int sector;
  uint32_t bytes;  // a write's: the whole sector (the image's end padded)
  bool operator==(const PlanOperation&) const = default;
};

// A status text the download shows, and when it is expected to (ms after
// the launch began).
struct ExpectedStatus {
  std::string text;
  int64_t atMs;
};

struct DownloadEstimate {
  std::vector<PlanOperation> operations;
  std::vector<ExpectedStatus> statuses;
  int64_t bytesSent = 0;  // every frame after the switch, the sectors in full
  int64_t waitMs = 0;     // the fixed waits; a whole-second wait of N s counts N.5 s
  int64_t lineMs = 0;     // bytesSent at the line rate
  int64_t totalMs = 0;    // from the launch to the end of the download's thread
};

// The serial loader's line: 38400 baud, 10 bits a byte (8N1).
inline constexpr int kSerialLoaderBytesPerSecond = 3840;

// The line rate the estimate counts, in bytes per second: the serial
// loader's on a serial port; none (0) for the built-in printer, whose line
// carries bytes without delay, nor over the parallel port and USB, which
// carry a sector in a small part of the procedure's waits around it.
int LineBytesPerSecond(ports::Interface iface, bool builtInPrinter);

// The estimate of a download of `plan` (engine::PlanImageFile) of `type`
// over `iface`.
DownloadEstimate EstimateDownload(ports::Interface iface, engine::DownloadType type,
                                  const std::vector<int>& plan, const uint32_t* sizes,
                                  int lineBytesPerSecond);

// The plan of the request's image: the file is opened only to be measured.
// kSuccess, kUnableToOpenFile or kInvalidImage (engine::PlanImageFile).
int PlanRequest(const DownloadRequest& request, const uint32_t* sizes, std::vector<int>& plan,
                int64_t& fileBytes);

// The time left of a running download, from its estimate. Each new status
// text moves it to that step of the estimate; within a step it counts down
// with the time spent in it, but never below what the steps after it take.
class TimeLeft {
 public:
  explicit TimeLeft(DownloadEstimate estimate) : estimate_(std::move(estimate)) {}
  // The download shows `text`, `elapsedMs` after the launch began. A text
  // the estimate does not hold from its current step on is ignored.
  void Status(const std::string& text, int64_t elapsedMs);
  int64_t LeftMs(int64_t elapsedMs) const;
  int64_t TotalMs() const { return estimate_.totalMs; }

 private:
  DownloadEstimate estimate_;
  size_t step_ = 0;
  bool started_ = false;
  int64_t stepShownMs_ = 0;
};

}  // namespace quillon::app
