#include "app/download_estimate.h"

#include <algorithm>

#include "app/launch.h"
#include "app/send_threads.h"
#include "engine/image_file.h"
#include "engine/procedure_timing.h"
#include "engine/result_codes.h"
#include "engine/sector_plan.h"
#include "engine/status_texts.h"
#include "protocol/answer_timing.h"
#include "protocol/frames.h"

namespace quillon::app {

using engine::DownloadType;
using ports::Interface;
namespace et = engine::timing;
namespace pt = protocol::timing;
namespace lt = ports::timing;
namespace st = engine::status;

namespace {

// Walks the procedure as it goes with a printer that answers at once,
// adding up its waits and the bytes it sends.
class Walk {
 public:
  Walk(Interface iface, int lineBytesPerSecond) : iface_(iface), rate_(lineBytesPerSecond) {}

  DownloadEstimate Result() {
    e_.totalMs = now_;
    return std::move(e_);
  }
  void Status(const std::string& text) { e_.statuses.push_back({text, now_}); }
  void Wait(int64_t ms) {
    now_ += ms;
    e_.waitMs += ms;
  }
  // A whole-second wait ends on the first instant of a second: it lasts
  // between N and N + 1 s, N.5 s on average.
  void WholeSeconds(int seconds) { Wait(seconds * 1000LL + 500); }

  // A buffer written with one write call (the serial line and the parallel
  // port pause after each call; USB does not).
  void Write(int64_t bytes) {
    if (iface_ != Interface::kUsb) Wait(lt::kAfterWriteCallMs);
    e_.bytesSent += bytes;
    if (rate_ > 0) {
      const int64_t ms = bytes * 1000 / rate_;
      now_ += ms;
      e_.lineMs += ms;
    }
  }
  // An answer of the printer: over the parallel port and USB a receive
  // thread reads it, at its own pace. The serial line is read at once.
  void Answer() {
    if (iface_ == Interface::kParallel) Wait(lt::kParallelReadPauseMs);
    if (iface_ == Interface::kUsb) Wait(lt::kUsbReadPaceMs);
  }
  // A frame with one argument byte: two writes, one over USB.
  void PrefixAndByte(int prefix) {
    if (iface_ == Interface::kUsb) {
      Write(prefix + 1);
    } else {
      Write(prefix);
      Write(1);
    }
  }
  void SectorCommand(int prefix) {
    PrefixAndByte(prefix);
    Answer();
  }
  void LineStatus() {
    Write(protocol::FrameLength(protocol::kLineStatusFrame));
    Answer();
  }
  void DataBlock(uint32_t size) {
    const int prefix = protocol::FrameLength(protocol::kDataBlockPrefix);
    if (iface_ == Interface::kUsb) {
      Write(prefix + 4);
    } else {
      Write(prefix);
      for (int b = 0; b < 4; ++b) Write(1);
    }
    const int pieces = engine::PieceCount(size);
    for (int j = 0; j < pieces; ++j) Write(engine::PieceSize(size));
    Answer();
  }
  // A value answer: the ACK and the value in one answer over the parallel
  // port, one after the other over USB.
  void Value() {
    Answer();
    if (iface_ == Interface::kUsb) Answer();
  }
  void Checksum() {
    Write(protocol::FrameLength(protocol::kAckChecksumFrame));
    if (iface_ == Interface::kUsb) Wait(pt::kUsbChecksumSettleMs);
    Value();
  }
  void Recalculate() {
    Write(protocol::FrameLength(protocol::kRecalculateCrcFrame));
    if (iface_ == Interface::kUsb)
      Wait(int64_t{pt::kUsbRecalcSettlePauses} * pt::kUsbRecalcSettlePauseMs);
    // The serial line's answer is polled for after a pause.
    if (iface_ == Interface::kSerial) Wait(pt::kSerialRecalcPollPauseMs);
    Value();
  }
  void Operation(PlanOperation::Kind kind, int sector, uint32_t bytes = 0) {
    e_.operations.push_back({kind, sector, bytes});
  }

 private:
  const Interface iface_;
  const int rate_;
  int64_t now_ = 0;
  DownloadEstimate e_;
};

}  // namespace

int LineBytesPerSecond(Interface iface, bool builtInPrinter) {
  return iface == Interface::kSerial && !builtInPrinter ? kSerialLoaderBytesPerSecond : 0;
}

DownloadEstimate EstimateDownload(Interface iface, DownloadType type, const std::vector<int>& plan,
                                  const uint32_t* sizes, int lineBytesPerSecond) {
  const bool serial = iface == Interface::kSerial;
  const bool parallel = iface == Interface::kParallel;
  const bool usb = iface == Interface::kUsb;
  const bool ipl = type == DownloadType::kIpl;
  const bool deferred = engine::RowOf(type).firstSectorDeferred;
  const int count = static_cast<int>(plan.size());
  const int erasePrefix = protocol::FrameLength(protocol::kEraseSectorPrefix);
  const int selectPrefix = protocol::FrameLength(protocol::kSelectSectorPrefix);
  Walk w(iface, lineBytesPerSecond);
  using Kind = PlanOperation::Kind;

  // The launch and the start of the download's thread.
  if (usb) w.Wait(kAfterUsbOpenMs + kUsbSendStartMs);
  if (parallel) w.Wait(kParallelSendStartMs);

  w.Status(st::kSwitching);
  w.Write(protocol::FrameLength(protocol::kSwitchToDownloadFrame));
  if (serial) {
    w.WholeSeconds(et::kSerialLoaderStartSeconds);
    w.Wait(2 * et::kReopenPauseMs);
  }
  if (parallel) w.Wait(et::kParallelLoaderStartMs);
  if (usb) w.Wait(et::kUsbLoaderStartMs);
  w.Status(st::kCheckingLine);
  w.LineStatus();

  const auto erase = [&](int p) {
    w.Status(st::Numbered(st::kErasing, p, count));
    w.SectorCommand(erasePrefix);
    w.Operation(Kind::kErase, plan[static_cast<size_t>(p - 1)]);
  };
  const auto selectAndSend = [&](int p, bool pauseAfterSelect) {
    const int sector = plan[static_cast<size_t>(p - 1)];
    w.Status(st::Numbered(st::kSelecting, p, count));
    w.SectorCommand(selectPrefix);
    if (pauseAfterSelect) w.Wait(et::kAfterSelectMs);
    w.Status(st::Numbered(st::kDownloading, p, count));
    w.DataBlock(sizes[sector]);
    w.Operation(Kind::kWrite, sector, sizes[sector]);
  };

  if (deferred && count > 0) erase(1);
  for (int p = deferred ? 2 : 1; p <= count; ++p) {
    if (!ipl || p == 2) erase(p);
    selectAndSend(p, !parallel);
    if (ipl && p == 1) {
      // The loader restarts after the first IPL sector.
      w.Status(st::kIplRestart);
      w.WholeSeconds(et::kIplRestartSeconds);
      if (parallel) w.Wait(2 * et::kParallelModePauseMs);
      w.Status(st::kCheckingLine);
      if (parallel) w.Wait(et::kParallelAfterRestartMs);
      if (usb) w.Wait(et::kUsbAfterRestartMs);
      w.LineStatus();
      continue;
    }
    w.Status(st::kChecksum);
    w.Checksum();
  }
  if (deferred && count > 0) {
    selectAndSend(1, true);
    w.Status(st::kChecksum);
    w.Checksum();
  }

  if (type == DownloadType::kMain) {
    if (usb) w.Wait(et::kUsbBeforeRecalculateMs);
    w.Status(st::kRecalculating);
    w.Recalculate();
  }
  w.Status(st::kResetting);
  w.Write(protocol::FrameLength(protocol::kResetPrinterFrame));
  w.Status(st::kCompleted);
  w.WholeSeconds(et::kAfterResetSeconds);
  // The download's thread: before the result, and over USB before its end.
  w.Wait(kBeforeResultMs);
  if (usb) w.Wait(kUsbSendEndMs);
  return w.Result();
}

int PlanRequest(const DownloadRequest& request, const uint32_t* sizes, std::vector<int>& plan,
                int64_t& fileBytes) {
  engine::ImageFile image;
  if (!image.Open(request.imagePath)) return engine::kUnableToOpenFile;
  fileBytes = image.Length();
  if (fileBytes < 0) return engine::kUnableToOpenFile;
  return engine::PlanImageFile(fileBytes, request.type, request.firstSector, sizes, plan);
}

void TimeLeft::Status(const std::string& text, int64_t elapsedMs) {
  const auto& all = estimate_.statuses;
  const size_t from = started_ ? step_ : 0;
  if (started_ && all[step_].text == text) return;
  const auto it = std::find_if(all.begin() + static_cast<std::ptrdiff_t>(from), all.end(),
                               [&text](const ExpectedStatus& s) { return s.text == text; });
  if (it == all.end()) return;
  step_ = static_cast<size_t>(it - all.begin());
  started_ = true;
  stepShownMs_ = elapsedMs;
}

int64_t TimeLeft::LeftMs(int64_t elapsedMs) const {
  const auto& all = estimate_.statuses;
  const int64_t total = estimate_.totalMs;
  // Where the estimate stands, and where the step after it begins.
  const int64_t at = started_ ? all[step_].atMs + (elapsedMs - stepShownMs_) : elapsedMs;
  const size_t next = started_ ? step_ + 1 : 0;
  const int64_t nextAt = next < all.size() ? all[next].atMs : total;
  return total - std::min(at, nextAt);
}

}  // namespace quillon::app
