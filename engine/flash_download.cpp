#include "engine/flash_download.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "engine/procedure_timing.h"
#include "engine/result_codes.h"
#include "engine/sector_plan.h"
#include "engine/status_texts.h"
#include "platform/clock.h"
#include "protocol/frames.h"

namespace quillon::engine {

using platform::kInvalidHandle;
using platform::kNoHandle;
using ports::Interface;
using namespace protocol;
using namespace timing;

namespace {

// The progress bar. Each step gives a range and a position, and a weight by
// which the progress window advances the bar every 500 ms until the step
// reports its end (the position at the range's end).
constexpr int kStartRange = 10000;    // the switch, the line checks
constexpr int kSectorRange = 65536;   // erase and select
constexpr int kRestartRange = 32768;  // the IPL restart
constexpr int kSwitchWeight = 1000;
constexpr int kLineCheckWeight = 167;
constexpr int kEraseWeight = 16000;
constexpr int kSelectWeight = 21600;
constexpr int kDataWeight = 5600;
// The checksum of a sector; over the parallel port and USB (with a checksum
// pace) the printer takes time in proportion to the sector, and the weight
// is its size / 20 instead.
constexpr int kChecksumWeight = 6400;
constexpr uint32_t kPacedChecksumDivisor = 20;
constexpr int kIplRestartWeight = 1850;
constexpr int kRecalculateWeight = 500;
constexpr int kResetWeight = 6400;

}  // namespace

CFlashDownload::CFlashDownload(Interface iface) : iface_(iface) {
  try {
    printer = std::make_unique<CFlashPrinter>(iface);
  } catch (const std::bad_alloc&) {
    printer.reset();  // the launcher refuses to run a download without a printer
    return;
  }
  // A USB write that finds the printer gone connects to it again.
  printer->link.SetReconnect([this] { return ReconnectUsbPrinter() == kSuccess; });
}

CFlashDownload::~CFlashDownload() {
  FreePieces();
  window = nullptr;
}

void CFlashDownload::RequestStop() {
  if (printer) printer->link.RequestStop();
}

bool CFlashDownload::StopRequested() const {
  return printer && printer->link.StopRequested();
}

void CFlashDownload::ClearStop() {
  if (printer) printer->link.ClearStop();
}

void CFlashDownload::PostStatus(const std::string& text, int range, int pos, int step) {
  if (!window) return;
  if (!text.empty()) statusRecord.statusText = text;
  if (range != -1) statusRecord.progressRange = range;
  if (pos != -1) statusRecord.progressPos = pos;
  if (step != -1) statusRecord.progressStep = step;
  window->Send(platform::WM_PROGRESS_STATUS, 0, reinterpret_cast<intptr_t>(&statusRecord));
}

void CFlashDownload::Status(const char* text, int p, int count, int range, int pos, int step) {
  PostStatus(status::Numbered(text, p, count), range, pos, step);
}

void CFlashDownload::ClosePrinterPort() {
  if (printer) printer->ClosePort();
}

int CFlashDownload::CheckImageFile(const std::string& filePath) {
  if (ImageFile::CanOpen(filePath)) return kSuccess;
  if (printer && printer->GetHandle() != kNoHandle) printer->ClosePort();
  return kUnableToOpenFile;
}

int CFlashDownload::OpenSerialPort(const std::string& portName, int baud, const std::string& parity,
                                   int stopBits) {
  if (!printer) return kSerialHandle;
  if (!printer->OpenPort(portName)) return OpenFailed(kSerialHandle);
  if (printer->GetHandle() == kInvalidHandle) return OpenFailed(kSerialHandle);
  return printer->ConfigureSerial(static_cast<uint32_t>(baud), parity, 8, stopBits)
             ? kSuccess
             : kSerialProperties;
}

int CFlashDownload::ReopenSerialPort(const std::string& portName, int baud,
                                     const std::string& parity, int stopBits) {
  if (printer->GetHandle() != kNoHandle) printer->ClosePort();
  platform::Pause(kReopenPauseMs);
  bool open = false;
  for (int attempt = 0; attempt < kReopenAttempts && !open; ++attempt) {
    printer->OpenPort(portName);
    platform::Pause(kReopenPauseMs);
    open = printer->GetHandle() != kInvalidHandle;
    if (!open) platform::Pause(kReopenRetryMs);
  }
  if (!open) return OpenFailed(kSerialHandle);
  return printer->ConfigureSerial(static_cast<uint32_t>(baud), parity, 8, stopBits)
             ? kSuccess
             : kSerialProperties;
}

int CFlashDownload::OpenFailed(int code) {
  openError_ = platform::LastError();
  return code;
}

void CFlashDownload::FreePieces() {
  for (auto& piece : pieces_) piece.reset();
}

std::array<uint8_t*, 4> CFlashDownload::Pieces() const {
  std::array<uint8_t*, 4> out{};
  for (size_t j = 0; j < pieces_.size(); ++j) out[j] = pieces_[j].get();
  return out;
}

void CFlashDownload::EndDownload() {
  FreePieces();
  if (printer && printer->GetHandle() != kInvalidHandle) printer->ClosePort();
  if (iface_ != Interface::kUsb && window) window->Send(platform::WM_CLOSE_PROGRESS, 0, 0);
}

int CFlashDownload::FillPieces(ImageFile& image, int64_t& left, uint32_t sectorSize) {
  const int pieceSize = PieceSize(sectorSize);
  for (int j = 0; j < PieceCount(sectorSize); ++j) {
    pieces_[j].reset(new (std::nothrow) uint8_t[static_cast<size_t>(pieceSize)]);
    if (!pieces_[j]) return kNoBufferMemory;
    std::memset(pieces_[j].get(), 0xFF, static_cast<size_t>(pieceSize));
    const auto want = static_cast<size_t>(std::min<int64_t>(left, pieceSize));
    if (want == 0) continue;
    // The image was measured before the first command: if it now ends
    // sooner it has changed under the download, and the bytes it lacks must
    // not go to the printer as erased ones.
    if (image.Read(pieces_[j].get(), want) != want) return kDataFileError;
    left -= static_cast<int64_t>(want);
  }
  return kSuccess;
}

int CFlashDownload::EraseSector(int sector, int p, int count) {
  Status(status::kErasing, p, count, kSectorRange, 0, kEraseWeight);
  if (!printer->EraseFlashSector(kEraseSectorPrefix, FrameLength(kEraseSectorPrefix),
                                 static_cast<uint8_t>(sector))) {
    return kCannotErase;
  }
  PostStatus("", -1, kSectorRange, -1);
  return kSuccess;
}

int CFlashDownload::SelectAndSend(int sector, uint32_t sectorSize, int p, int count,
                                  bool pauseAfterSelect) {
  Status(status::kSelecting, p, count, -1, 0, kSelectWeight);
  if (!printer->SelectFlashSector(kSelectSectorPrefix, FrameLength(kSelectSectorPrefix),
                                  static_cast<uint8_t>(sector))) {
    return kCannotSelect;
  }
  PostStatus("", -1, kSectorRange, -1);
  if (pauseAfterSelect) platform::Pause(kAfterSelectMs);

  const int size = static_cast<int>(sectorSize);
  Status(status::kDownloading, p, count, size, 0, kDataWeight);
  if (!printer->SendDataBlock(kDataBlockPrefix, FrameLength(kDataBlockPrefix), 0, sectorSize,
                              PieceSize(sectorSize), Pieces().data(), window)) {
    return kDataBlockTimeout;
  }
  PostStatus("", -1, size, -1);
  return kSuccess;
}

int CFlashDownload::VerifySector(int progressStep) {
  PostStatus(status::kChecksum, -1, 0, progressStep);
  uint16_t value = 0;
  if (!printer->AcknowledgeChecksum(kAckChecksumFrame, FrameLength(kAckChecksumFrame), value)) {
    return kCannotAcknowledge;
  }
  printer->SetReadTimeouts(kSectorReadMs);
  if (value != printer->GetDataCrc()) return kDifferentCrc;
  FreePieces();
  return kSuccess;
}

int CFlashDownload::OpenParallelPrinter(const std::string& portName, int iplProg) {
  if (!printer) return kParallelOpen;
  if (!printer->OpenParallelPort(portName)) return OpenFailed(kParallelOpen);
  return RestorePortMode(iplProg);
}

int CFlashDownload::RestorePortMode(int iplProg) {
  if (!printer->SetCompatibilityMode()) return kCompatibilityMode;
  if (iplProg) return printer->SetNibbleMode() ? kSuccess : kNibbleMode;
  return printer->SetEcpMode() ? kSuccess : kEcpMode;
}

int CFlashDownload::OpenUsbPrinter() {
  // No device found leaves the path empty, and an empty path does not open.
  std::string path;
  std::string subKey;
  platform::FindUsbPrinterPath(path, subKey);
  printer->link.SetHandle(platform::OpenUsbDevice(path));
  return printer->GetHandle() != kInvalidHandle ? kSuccess : OpenFailed(kUsbOpen);
}

namespace {

// A failed request closes the device; the error of the request is kept for
// the message that reports it.
int UsbRequestFailed(ports::Link& link, int code) {
  const int error = platform::LastError();
  link.Close();
  if (platform::LastError() != error) platform::SetLastError(error);
  return code;
}

}  // namespace

int CFlashDownload::QueryUsbDeviceId() {
  uint8_t id[100];
  uint32_t got = 0;
  if (platform::QueryDeviceId(printer->GetHandle(), id, sizeof id, &got)) return kSuccess;
  return UsbRequestFailed(printer->link, kUsbDeviceId);
}

int CFlashDownload::QueryUsbStatus() {
  uint8_t status = 0;
  if (platform::QueryDeviceStatus(printer->GetHandle(), &status)) return kSuccess;
  return UsbRequestFailed(printer->link, kUsbStatus);
}

int CFlashDownload::ConnectUsbPrinter() {
  if (!printer) return kUsbOpen;
  for (const auto step : {&CFlashDownload::OpenUsbPrinter, &CFlashDownload::QueryUsbDeviceId,
                          &CFlashDownload::QueryUsbStatus}) {
    if (const int code = (this->*step)(); code != kSuccess) return code;
  }
  return kSuccess;
}

int CFlashDownload::ReconnectUsbPrinter() {
  // A USB printer node takes one opener at a time: the old handle goes first.
  ClosePrinterPort();
  return ConnectUsbPrinter();
}

int CFlashDownload::CheckLineAtStart(Interface iface, int iplProg) {
  for (int attempt = 1; attempt <= kLineCheckAttempts; ++attempt) {
    // A stop request ends the check on every interface: a write refused by
    // the stop fails an attempt at once, and the attempts would follow each
    // other without a pause.
    if (printer->link.StopRequested()) return kCancelled;
    if (printer->CheckLineStatus(kLineStatusFrame, FrameLength(kLineStatusFrame), stdModel)) {
      return kSuccess;
    }
    if (printer->link.StopRequested()) return kCancelled;
    if (iface == Interface::kParallel && attempt == kParallelModeRecoveryAttempt) {
      // The port may have left its mode.
      if (const int code = RestorePortMode(iplProg); code != kSuccess) return code;
    }
    if (iface == Interface::kUsb && attempt == kUsbReconnectAttempt) {
      // The printer may have dropped off the bus and come back.
      if (const int code = ReconnectUsbPrinter(); code != kSuccess) return code;
    }
  }
  if (iface == Interface::kUsb) return kInterfaceBusy;
  return stdModel == 0 ? kNotStandardModel : kInterfaceBusy;
}

int CFlashDownload::CheckLineAfterRestart(Interface iface) {
  for (int attempt = 0; attempt < kLineCheckAttempts; ++attempt) {
    if (printer->link.StopRequested()) return kCancelled;  // as in CheckLineAtStart
    if (iface == Interface::kParallel) {
      if (!printer->SetCompatibilityMode()) return kCompatibilityMode;
      if (!printer->SetNibbleMode()) return kNibbleMode;
    }
    if (printer->CheckLineStatus(kLineStatusFrame, FrameLength(kLineStatusFrame), stdModel)) {
      return kSuccess;
    }
  }
  return kInterfaceBusy;
}

int CFlashDownload::DownloadSerial(const std::string& filePath, int first, int mainProg,
                                   int iplProg, const uint32_t* sizes,
                                   const SerialSettings& settings) {
  return Run({Interface::kSerial, filePath, first, TypeOfFlags(mainProg, iplProg), mainProg != 0,
              iplProg != 0, false, sizes, &settings});
}

int CFlashDownload::DownloadParallel(const std::string& filePath, int first, int mainProg,
                                     int iplProg, const uint32_t* sizes) {
  return Run({Interface::kParallel, filePath, first, TypeOfFlags(mainProg, iplProg), mainProg != 0,
              iplProg != 0, true, sizes, nullptr});
}

int CFlashDownload::DownloadUSB(const std::string& filePath, int first, int mainProg, int iplProg,
                                int checksumPace, const uint32_t* sizes) {
  return Run({Interface::kUsb, filePath, first, TypeOfFlags(mainProg, iplProg), mainProg != 0,
              iplProg != 0, checksumPace != 0, sizes, nullptr});
}

int CFlashDownload::Run(const Job& job) {
  if (!printer) return kInsufficientMemory;

  reached_ = Reached::kNothing;
  RunState run;
  for (const auto step :
       {&CFlashDownload::PlanImage, &CFlashDownload::EnterLoader, &CFlashDownload::CheckLine,
        &CFlashDownload::EraseFirstSector, &CFlashDownload::SendSectors,
        &CFlashDownload::SendFirstSector, &CFlashDownload::Finish}) {
    if (const int code = (this->*step)(job, run); code != kSuccess) return code;
  }
  return kSuccess;
}

int CFlashDownload::PlanImage(const Job& job, RunState& run) {
  // The image must open, and it is measured and planned before a single
  // byte goes to the printer.
  if (!ImageFile::CanOpen(job.filePath)) {
    if (printer->GetHandle() != kNoHandle) printer->ClosePort();
    return kUnableToOpenFile;
  }
  if (!run.image.Open(job.filePath)) return kUnableToOpenFile;
  const int64_t length = run.image.Length();
  if (length < 0) return kUnableToOpenFile;
  run.left = length;
  // The head an image of the type carries below its first sector.
  if (const int64_t skip = RowOf(job.type).skip; skip > 0) {
    run.left -= skip;
    run.image.Seek(skip);
  }
  run.length = run.left;
  // An image the flash cannot take is refused here, while the printer is
  // still untouched.
  if (const int code = PlanImageFile(length, job.type, job.first, job.sizes, sectorList);
      code != kSuccess) {
    return code;
  }
  run.count = static_cast<int>(sectorList.size());
  return kSuccess;
}

int CFlashDownload::EnterLoader(const Job& job, RunState&) {
  // Only the serial download can be cancelled from the progress window.
  const bool serial = job.iface == Interface::kSerial;
  if (window) window->Send(platform::WM_OPEN_PROGRESS, serial ? 1 : 0, 0);
  PostStatus(status::kSwitching, kStartRange, 0, kSwitchWeight);
  printer->SetReadTimeouts(kSwitchReadMs);
  if (!printer->SwitchToDownloadMode(kSwitchToDownloadFrame, FrameLength(kSwitchToDownloadFrame))) {
    return serial && printer->link.StopRequested() ? kCancelled : kCannotSwitch;
  }
  reached_ = Reached::kLoader;
  switch (job.iface) {
    case Interface::kSerial:
      printer->WaitSeconds(kSerialLoaderStartSeconds);
      break;
    case Interface::kParallel:
      platform::Pause(kParallelLoaderStartMs);
      break;
    case Interface::kUsb:
      platform::Pause(kUsbLoaderStartMs);
      break;
  }
  PostStatus("", -1, kStartRange, -1);
  if (!serial) return kSuccess;
  return ReopenSerialPort(job.settings->portName, kLoaderBaud, "NONE", 1);
}

int CFlashDownload::CheckLine(const Job& job, RunState&) {
  // On the serial line Cancel is honoured until the check has passed.
  const bool serial = job.iface == Interface::kSerial;
  PostStatus(status::kCheckingLine, -1, 0, kLineCheckWeight);
  if (serial) printer->SetWriteTimeouts(kLineCheckWriteMs);
  if (const int code = CheckLineAtStart(job.iface, job.ipl); code != kSuccess) return code;
  if (serial && window) window->Send(platform::WM_DISABLE_PROGRESS, 0, 0);
  PostStatus("", -1, kStartRange, -1);
  return kSuccess;
}

int CFlashDownload::EraseFirstSector(const Job& job, RunState& run) {
  // Main firmware and fonts erase their first sector first and write it
  // last, after every other sector has been verified.
  if (!RowOf(job.type).firstSectorDeferred) return kSuccess;
  reached_ = Reached::kChangingFlash;
  if (const int code = EraseSector(sectorList[0], 1, run.count); code != kSuccess) return code;
  reached_ = Reached::kFirstSectorErased;
  const uint32_t firstSize = job.sizes[sectorList[0]];
  run.left -= firstSize;
  run.image.Seek(firstSize);
  run.next = 1;
  return kSuccess;
}

int CFlashDownload::SendSectors(const Job& job, RunState& run) {
  const bool usb = job.iface == Interface::kUsb;
  if (!usb) printer->SetReadTimeouts(kSectorReadMs);
  while (run.left > 0) {
    const int sector = sectorList[run.next];
    const uint32_t size = job.sizes[sector];
    // p counts the sectors from 1 in plan order, as the status texts show them.
    const int p = static_cast<int>(run.next) + 1;
    if (const int code = FillPieces(run.image, run.left, size); code != kSuccess) return code;
    if (reached_ == Reached::kLoader) reached_ = Reached::kChangingFlash;  // an IPL image
    // The first IPL sector is not erased: the loader restarts after it.
    const bool iplRestart = job.ipl && p == 1;
    if (!job.ipl || p == 2) {
      if (const int code = EraseSector(sector, p, run.count); code != kSuccess) return code;
    }
    if (const int code =
            SelectAndSend(sector, size, p, run.count, job.iface != Interface::kParallel);
        code != kSuccess) {
      return code;
    }
    // An image whose first sector is not deferred ends with its last.
    if (!RowOf(job.type).firstSectorDeferred && run.left <= 0) reached_ = Reached::kAllBlocksSent;
    const int code =
        iplRestart ? RestartAfterIplSector(job)
                   : VerifySector(job.pacedChecksum ? static_cast<int>(size / kPacedChecksumDivisor)
                                                    : kChecksumWeight);
    if (code != kSuccess) return code;
    ++run.next;
  }
  return kSuccess;
}

int CFlashDownload::RestartAfterIplSector(const Job& job) {
  // No checksum: the loader restarts, and the line is checked again.
  const bool parallel = job.iface == Interface::kParallel;
  const bool usb = job.iface == Interface::kUsb;
  PostStatus(status::kIplRestart, -1, 0, kIplRestartWeight);
  printer->WaitSeconds(kIplRestartSeconds);
  PostStatus("", -1, kRestartRange, -1);
  if (parallel) {
    platform::Pause(kParallelModePauseMs);
    if (!printer->SetCompatibilityMode()) return kCompatibilityMode;
    platform::Pause(kParallelModePauseMs);
    if (!printer->SetNibbleMode()) return kNibbleMode;
  }
  printer->SetReadTimeouts(kRestartReadMs);
  PostStatus(status::kCheckingLine, -1, 0, kLineCheckWeight);
  if (parallel) platform::Pause(kParallelAfterRestartMs);
  if (usb) {
    // The restart took the printer off the bus.
    platform::Pause(kUsbAfterRestartMs);
    if (const int code = ReconnectUsbPrinter(); code != kSuccess) return code;
  }
  if (const int code = CheckLineAfterRestart(job.iface); code != kSuccess) return code;
  PostStatus("", -1, kStartRange, -1);
  if (!usb) printer->SetReadTimeouts(kSectorReadMs);
  FreePieces();
  return kSuccess;
}

int CFlashDownload::SendFirstSector(const Job& job, RunState& run) {
  if (!RowOf(job.type).firstSectorDeferred) return kSuccess;
  const uint32_t firstSize = job.sizes[sectorList[0]];
  run.image.Seek(0);
  // The first sector's share of the image; an image shorter than the sector
  // leaves the rest erased.
  run.left = std::min<int64_t>(firstSize, run.length);
  if (const int code = FillPieces(run.image, run.left, firstSize); code != kSuccess) return code;
  if (const int code = SelectAndSend(sectorList[0], firstSize, 1, run.count, true);
      code != kSuccess) {
    return code;
  }
  reached_ = Reached::kAllBlocksSent;
  return VerifySector(kChecksumWeight);
}

int CFlashDownload::Finish(const Job& job, RunState&) {
  // Main firmware: the printer recalculates the CRC of its flash.
  if (job.main) {
    if (job.iface == Interface::kUsb) platform::Pause(kUsbBeforeRecalculateMs);
    PostStatus(status::kRecalculating, -1, 0, kRecalculateWeight);
    uint16_t value = 0;
    if (!printer->RecalculateCrc(kRecalculateCrcFrame, FrameLength(kRecalculateCrcFrame), value)) {
      return kCannotRecalculateCrc;
    }
  }
  PostStatus(status::kResetting, -1, 0, kResetWeight);
  if (!printer->ResetPrinter(kResetPrinterFrame, FrameLength(kResetPrinterFrame))) {
    return kCannotReset;
  }
  reached_ = Reached::kCompleted;
  PostStatus(status::kCompleted, -1, kSectorRange, -1);
  printer->WaitSeconds(kAfterResetSeconds);
  return kSuccess;
}

}  // namespace quillon::engine
