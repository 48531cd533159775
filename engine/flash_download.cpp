#include "engine/flash_download.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "engine/result_codes.h"
#include "engine/sector_plan.h"
#include "platform/clock.h"
#include "ports/port_state.h"
#include "protocol/frames.h"

namespace quillon::engine {

using platform::kInvalidHandle;
using platform::kNoHandle;
using namespace protocol;

CFlashDownload::CFlashDownload() {
  ports::usbHandle = kNoHandle;
  try {
    printer = std::make_unique<CFlashPrinter>();
  } catch (const std::bad_alloc&) {
    printer.reset();  // the launcher refuses to run a download without a printer
  }
}

CFlashDownload::~CFlashDownload() {
  FreePieces();
  window = nullptr;
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
  char line[96];
  std::snprintf(line, sizeof line, text, p, count);
  PostStatus(line, range, pos, step);
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
  printer->SetPortKind(0);
  if (!printer->OpenPort(portName)) return kSerialHandle;
  if (printer->GetHandle() == kInvalidHandle) return kSerialHandle;
  return printer->ConfigureSerial(portName, static_cast<uint32_t>(baud), parity, 8, stopBits)
             ? kSuccess
             : kSerialProperties;
}

int CFlashDownload::ReopenSerialPort(const std::string& portName, int baud,
                                     const std::string& parity, int stopBits) {
  if (printer->GetHandle() != kNoHandle) printer->ClosePort();
  platform::Pause(50);
  bool open = false;
  for (int attempt = 0; attempt < 40 && !open; ++attempt) {
    printer->OpenPort(portName);
    platform::Pause(50);
    open = printer->GetHandle() != kInvalidHandle;
    if (!open) platform::Pause(1000);
  }
  if (!open) return kSerialHandle;
  return printer->ConfigureSerial(portName, static_cast<uint32_t>(baud), parity, 8, stopBits)
             ? kSuccess
             : kSerialProperties;
}

void CFlashDownload::FreePieces() {
  for (uint8_t*& piece : pieceBuffers) {
    delete[] piece;
    piece = nullptr;
  }
}

void CFlashDownload::EndDownload() {
  FreePieces();
  if (printer && printer->GetHandle() != kInvalidHandle) printer->ClosePort();
  if (!ports::useUsb && window) window->Send(platform::WM_CLOSE_PROGRESS, 0, 0);
}

bool CFlashDownload::FillPieces(ImageFile& image, int64_t& left, uint32_t sectorSize) {
  const int pieceSize = PieceSize(sectorSize);
  for (int j = 0; j < PieceCount(sectorSize); ++j) {
    pieceBuffers[j] = new (std::nothrow) uint8_t[static_cast<size_t>(pieceSize)];
    if (!pieceBuffers[j]) return false;
    std::memset(pieceBuffers[j], 0xFF, static_cast<size_t>(pieceSize));
    if (left >= pieceSize) {
      image.Read(pieceBuffers[j], static_cast<size_t>(pieceSize));
      left -= pieceSize;
    } else if (left > 0) {
      image.Read(pieceBuffers[j], static_cast<size_t>(left));
      left = 0;
    }
  }
  return true;
}

int CFlashDownload::EraseSector(int sector, int p, int count) {
  Status("Erasing flash sector %d of %d...", p, count, 65536, 0, 16000);
  if (!printer->EraseFlashSector(kEraseSectorPrefix, FrameLength(kEraseSectorPrefix),
                                 static_cast<uint8_t>(sector))) {
    return kCannotErase;
  }
  PostStatus("", -1, 65536, -1);
  return kSuccess;
}

int CFlashDownload::SelectAndSend(int sector, uint32_t sectorSize, int p, int count,
                                  bool pauseAfterSelect) {
  Status("Selecting flash sector %d of %d...", p, count, -1, 0, 21600);
  if (!printer->SelectFlashSector(kSelectSectorPrefix, FrameLength(kSelectSectorPrefix),
                                  static_cast<uint8_t>(sector))) {
    return kCannotSelect;
  }
  PostStatus("", -1, 65536, -1);
  if (pauseAfterSelect) platform::Pause(1000);

  const int size = static_cast<int>(sectorSize);
  Status("Downloading data to flash sector %d of %d...", p, count, size, 0, 5600);
  if (!printer->SendDataBlock(kDataBlockPrefix, FrameLength(kDataBlockPrefix), 0, sectorSize,
                              PieceSize(sectorSize), pieceBuffers, window)) {
    return kDataBlockTimeout;
  }
  PostStatus("", -1, size, -1);
  return kSuccess;
}

int CFlashDownload::VerifySector(int progressStep) {
  PostStatus("Calculating checksum", -1, 0, progressStep);
  uint16_t value = 0;
  if (!printer->AcknowledgeChecksum(kAckChecksumFrame, FrameLength(kAckChecksumFrame), value)) {
    return kCannotAcknowledge;
  }
  printer->SetReadTimeouts(60000);
  if (value != printer->GetDataCrc()) return kDifferentCrc;
  FreePieces();
  return kSuccess;
}

int CFlashDownload::OpenParallelPrinter(const std::string& portName, int iplProg) {
  if (!printer) return kParallelOpen;
  printer->SetPortKind(1);
  if (!printer->OpenParallelPort(portName)) return kParallelOpen;
  return RestorePortMode(iplProg);
}

int CFlashDownload::RestorePortMode(int iplProg) {
  if (!printer->SetCompatibilityMode()) return kCompatibilityMode;
  if (iplProg) return printer->SetNibbleMode() ? kSuccess : kNibbleMode;
  return printer->SetEcpMode() ? kSuccess : kEcpMode;
}

int CFlashDownload::FindUsbPrinter(std::string& devicePath, std::string& subKey) {
  return platform::FindUsbPrinterPath(devicePath, subKey) ? 0 : 1;
}

int CFlashDownload::OpenUsbPrinter() {
  // No device found leaves the path empty, and an empty path does not open.
  std::string path;
  std::string subKey;
  FindUsbPrinter(path, subKey);
  ports::usbHandle = platform::OpenUsbDevice(path);
  return ports::usbHandle.load() != kInvalidHandle ? 1 : 0;
}

namespace {

// A failed request closes the device; the error of the request is kept for
// the message that reports it.
int UsbRequestFailed() {
  const int error = platform::LastError();
  platform::CloseDevice(ports::usbHandle.exchange(kInvalidHandle));
  if (platform::LastError() != error) platform::SetLastError(error);
  return 0;
}

}  // namespace

int CFlashDownload::QueryUsbDeviceId() {
  uint8_t id[100];
  uint32_t got = 0;
  if (platform::QueryDeviceId(ports::usbHandle.load(), id, sizeof id, &got)) return 1;
  return UsbRequestFailed();
}

int CFlashDownload::QueryUsbStatus() {
  uint8_t status = 0;
  if (platform::QueryDeviceStatus(ports::usbHandle.load(), &status)) return 1;
  return UsbRequestFailed();
}

int CFlashDownload::ConnectUsbPrinter() {
  if (!OpenUsbPrinter()) return kUsbOpen;
  if (!QueryUsbDeviceId()) return kUsbDeviceId;
  if (!QueryUsbStatus()) return kUsbStatus;
  return kSuccess;
}

int CFlashDownload::CheckLineAtStart(Interface iface, int iplProg) {
  for (int attempt = 0; attempt < 30; ++attempt) {
    if (iface == Interface::kSerial && ports::userTerminate) return kCancelled;
    if (printer->CheckLineStatus(kLineStatusFrame, FrameLength(kLineStatusFrame), stdModel)) {
      return kSuccess;
    }
    if (iface == Interface::kParallel && attempt == 1) {
      // Two silent answers: the port may have left its mode.
      if (const int code = RestorePortMode(iplProg); code != kSuccess) return code;
    }
    if (iface == Interface::kUsb && attempt == 3) {
      // Four: the printer may have dropped off the bus and come back.
      ClosePrinterPort();
      if (const int code = ConnectUsbPrinter(); code != kSuccess) return code;
    }
  }
  if (iface == Interface::kUsb) return kInterfaceBusy;
  return stdModel == 0 ? kNotStandardModel : kInterfaceBusy;
}

int CFlashDownload::CheckLineAfterRestart(Interface iface) {
  for (int attempt = 0; attempt < 30; ++attempt) {
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

int CFlashDownload::DownloadSerial(const std::string& /*modelName*/, const std::string& filePath,
                                   int first, int mainProg, int iplProg, int /*alternativeMode*/,
                                   const uint32_t* sizes, const SerialSettings& settings) {
  return Run(Interface::kSerial, filePath, first, mainProg, iplProg, 0, sizes, &settings);
}

int CFlashDownload::DownloadParallel(const std::string& /*modelName*/, const std::string& filePath,
                                     int first, int mainProg, int iplProg, const uint32_t* sizes) {
  return Run(Interface::kParallel, filePath, first, mainProg, iplProg, 0, sizes, nullptr);
}

int CFlashDownload::DownloadUSB(const std::string& /*modelName*/, const std::string& filePath,
                                int first, int mainProg, int iplProg, int checksumPace,
                                const uint32_t* sizes) {
  return Run(Interface::kUsb, filePath, first, mainProg, iplProg, checksumPace, sizes, nullptr);
}

int CFlashDownload::Run(Interface iface, const std::string& filePath, int first, int mainProg,
                        int iplProg, int checksumPace, const uint32_t* sizes,
                        const SerialSettings* settings) {
  if (!printer) return kInsufficientMemory;
  const bool serial = iface == Interface::kSerial;
  const bool usb = iface == Interface::kUsb;

  // Over USB and the parallel port the answers come through receive threads
  // that the main window starts.
  if (!serial) printer->SetNotifyWindow(window);

  // 1-2. The image: it must open, and it is measured and planned before a
  // single byte goes to the printer.
  if (!ImageFile::CanOpen(filePath)) {
    if (printer->GetHandle() != kNoHandle) printer->ClosePort();
    return kUnableToOpenFile;
  }
  ImageFile image;
  if (!image.Open(filePath)) return kUnableToOpenFile;
  const int64_t length = image.Length();
  if (length < 0) return kUnableToOpenFile;
  int64_t left = length;
  if (iplProg) {
    left -= kIplSkip;
    image.Seek(kIplSkip);
  }
  bool fits = true;
  sectorList = BuildSectorPlan(left, first, sizes, fits);
  // An empty main firmware or font image has no first sector to erase and
  // write last, and an image beyond the last sector cannot be stored: both
  // are refused here, while the printer is still untouched.
  if (!fits || (!iplProg && sectorList.empty())) return kInvalidImage;
  const int count = static_cast<int>(sectorList.size());

  // 3-7. Switch the printer to download mode. Only the serial download can
  // be cancelled from the progress window.
  if (window) window->Send(platform::WM_OPEN_PROGRESS, serial ? 1 : 0, 0);
  PostStatus("Switching printer to download...", 10000, 0, 1000);
  printer->SetReadTimeouts(1500);
  if (!printer->SwitchToDownloadMode(kSwitchToDownloadFrame, FrameLength(kSwitchToDownloadFrame))) {
    return serial && ports::userTerminate ? kCancelled : kCannotSwitch;
  }
  switch (iface) {
    case Interface::kSerial:
      printer->WaitSeconds(5);
      break;
    case Interface::kParallel:
      platform::Pause(7000);
      break;
    case Interface::kUsb:
      platform::Pause(8000);
      break;
  }
  PostStatus("", -1, 10000, -1);

  // 8. The serial loader talks at 38400 baud, 8N1, whatever the user chose.
  if (serial) {
    if (const int code = ReopenSerialPort(settings->portName, 38400, "NONE", 1); code != kSuccess) {
      return code;
    }
  }

  // 9-11. Line check; on the serial line Cancel is honoured until it has
  // passed.
  PostStatus("Checking communication line status...", -1, 0, 167);
  if (serial) printer->SetWriteTimeouts(1000);
  if (const int code = CheckLineAtStart(iface, iplProg); code != kSuccess) return code;
  if (serial && window) window->Send(platform::WM_DISABLE_PROGRESS, 0, 0);
  PostStatus("", -1, 10000, -1);

  // 12-13. Main firmware and fonts erase their first sector first and write
  // it last, after every other sector has been verified.
  int p = 1;
  size_t i = 0;
  if (!iplProg) {
    if (const int code = EraseSector(sectorList[0], 1, count); code != kSuccess) return code;
    const uint32_t firstSize = sizes[sectorList[0]];
    left -= firstSize;
    image.Seek(firstSize);
    i = 1;
    p = 2;
  }
  if (!usb) printer->SetReadTimeouts(60000);

  // 15. The sectors in plan order.
  while (left > 0) {
    const int s = sectorList[i];
    const uint32_t size = sizes[s];
    if (!FillPieces(image, left, size)) return kNoBufferMemory;
    if (!iplProg || p == 2) {
      if (const int code = EraseSector(s, p, count); code != kSuccess) return code;
    }
    if (const int code = SelectAndSend(s, size, p, count, iface != Interface::kParallel);
        code != kSuccess) {
      return code;
    }
    if (!(iplProg && p == 1)) {
      // Over USB and the parallel port the checksum takes its time in
      // proportion to the sector.
      const bool paced = iface == Interface::kParallel || (usb && checksumPace != 0);
      const int step = paced ? static_cast<int>(size / 20) : 6400;
      if (const int code = VerifySector(step); code != kSuccess) return code;
    } else {
      // The first IPL sector makes the loader restart: no checksum, a wait,
      // then the line is checked again.
      PostStatus("Reseting printer, please wait...", -1, 0, 1850);
      printer->WaitSeconds(9);
      PostStatus("", -1, 32768, -1);
      if (iface == Interface::kParallel) {
        platform::Pause(1000);
        if (!printer->SetCompatibilityMode()) return kCompatibilityMode;
        platform::Pause(1000);
        if (!printer->SetNibbleMode()) return kNibbleMode;
      }
      printer->SetReadTimeouts(1000);
      PostStatus("Checking communication line status...", -1, 0, 167);
      if (iface == Interface::kParallel) platform::Pause(10000);
      if (usb) {
        platform::Pause(5000);
        // The restart took the printer off the bus: connect to it again. The
        // old handle is closed first, as a USB printer node takes one opener
        // at a time.
        ClosePrinterPort();
        if (const int code = ConnectUsbPrinter(); code != kSuccess) return code;
      }
      if (const int code = CheckLineAfterRestart(iface); code != kSuccess) return code;
      PostStatus("", -1, 10000, -1);
      if (!usb) printer->SetReadTimeouts(60000);
      FreePieces();
    }
    ++p;
    ++i;
  }

  // 16. Main firmware and fonts: the first sector now.
  if (!iplProg) {
    const uint32_t firstSize = sizes[sectorList[0]];
    image.Seek(0);
    left = firstSize;
    if (!FillPieces(image, left, firstSize)) return kNoBufferMemory;
    if (const int code = SelectAndSend(sectorList[0], firstSize, 1, count, true);
        code != kSuccess) {
      return code;
    }
    if (const int code = VerifySector(6400); code != kSuccess) return code;
  }

  // 17-19. CRC recalculation (main firmware only) and reset.
  if (mainProg) {
    if (usb) platform::Pause(1000);
    PostStatus("Recalculate CRC", -1, 0, 500);
    uint16_t value = 0;
    if (!printer->RecalculateCrc(kRecalculateCrcFrame, FrameLength(kRecalculateCrcFrame), value)) {
      return kCannotRecalculateCrc;
    }
  }
  PostStatus("Reseting printer...", -1, 0, 6400);
  if (!printer->ResetPrinter(kResetPrinterFrame, FrameLength(kResetPrinterFrame))) {
    return kCannotReset;
  }
  PostStatus("Download completed!", -1, 65536, -1);
  printer->WaitSeconds(5);
  return kSuccess;
}

}  // namespace quillon::engine
