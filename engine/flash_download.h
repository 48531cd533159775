#pragma once
// CFlashDownload: the download object. It owns the printer object and runs
// one whole download of an image into the printer's flash memory, reporting
// every step to the main window. The interface is the download's own: its
// printer speaks over that interface's link.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/download_type.h"
#include "engine/image_file.h"
#include "platform/window_messages.h"
#include "ports/link.h"
#include "protocol/flash_printer.h"

namespace quillon::engine {

// The progress state the main window shows; its address travels as lParam
// of WM_PROGRESS_STATUS.
struct StatusRecord {
  std::string statusText;
  int progressRange = 0;
  int progressPos = 0;
  int progressStep = 0;
};

// The serial settings of a job (only the port name is used by the procedure).
struct SerialSettings {
  std::string portName;
  int32_t baud = 38400;
  std::string parity = "NONE";
  int32_t stopBits = 1;
};

// How far a download got, in the order the procedure gets there.
enum class Reached {
  kNothing,            // the printer has not been switched
  kLoader,             // the printer was switched to its flash loader
  kChangingFlash,      // the first erase or IPL block is out: the flash is changing
  kFirstSectorErased,  // the first sector is erased
  kAllBlocksSent,      // every block is sent; only the final checks are left
  kCompleted,          // "Download completed!" was posted
};

class CFlashDownload {
 public:
  explicit CFlashDownload(ports::Interface iface);
  ~CFlashDownload();
  CFlashDownload(const CFlashDownload&) = delete;
  CFlashDownload& operator=(const CFlashDownload&) = delete;

  // The three download procedures, one per interface; each runs one whole
  // download and returns its result code.
  int DownloadSerial(const std::string& filePath, int firstSector, int mainProg, int iplProg,
                     const uint32_t* flashSectorSizes, const SerialSettings& settings);
  int DownloadParallel(const std::string& filePath, int firstSector, int mainProg, int iplProg,
                       const uint32_t* flashSectorSizes);
  // The USB send thread passes a checksum pace of 2; with 0 the checksum
  // steps of the sector loop keep the serial pace.
  int DownloadUSB(const std::string& filePath, int firstSector, int mainProg, int iplProg,
                  int checksumPace, const uint32_t* flashSectorSizes);
  int OpenSerialPort(const std::string& portName, int baud, const std::string& parity,
                     int stopBits);
  // Frees the pieces, closes the port and, except over USB, the progress
  // window.
  void EndDownload();

  int ReopenSerialPort(const std::string& portName, int baud, const std::string& parity,
                       int stopBits);
  // -1 keeps a number; an empty text keeps the text.
  void PostStatus(const std::string& text, int range, int pos, int step);
  void SetWindow(platform::MessageWindow* w) { window = w; }
  void ClosePrinterPort();
  int CheckImageFile(const std::string& filePath);

  // The parallel port: opens it and sets compatibility mode, then nibble
  // mode (IPL) or ECP mode: kSuccess, 1034, 1037, 1042 or 1035.
  int OpenParallelPrinter(const std::string& portName, int iplProg);
  // The USB printer: the first of the printer's USB ids found is opened
  // (kSuccess or 1038), asked for its device id (kSuccess or 1039) and its
  // status (kSuccess or 1040); a failed request closes the device.
  int OpenUsbPrinter();
  int QueryUsbDeviceId();
  int QueryUsbStatus();
  // All three in order: kSuccess, 1038, 1039 or 1040.
  int ConnectUsbPrinter();

  // The user's stop request (Cancel, Ctrl-C), from any thread: the
  // procedure stops at its next point that may.
  void RequestStop();
  bool StopRequested() const;
  void ClearStop();
  ports::Interface Kind() const { return iface_; }

  // How far the download got; read from any thread.
  Reached HowFar() const { return reached_.load(); }
  // The platform's error code (platform::LastError) of the last opening of
  // the printer's port that failed (the serial line, also when it is opened
  // again after the switch; the parallel port; the USB printer), 0 if none
  // did. Kept here because the port may be opened on another thread than
  // the one that shows the result; read from any thread.
  int OpenError() const { return openError_.load(); }

  platform::MessageWindow* window = nullptr;
  StatusRecord statusRecord;
  std::unique_ptr<protocol::CFlashPrinter> printer;
  // Starts at 1: a printer that never answers the line check is reported as
  // busy, not as a printer of another model.
  int stdModel = 1;
  std::vector<int> sectorList;

 private:
  // What a download procedure was asked for.
  struct Job {
    ports::Interface iface;
    const std::string& filePath;
    int first;
    DownloadType type;
    bool main;
    bool ipl;
    // The checksum's progress weight follows the sector size.
    bool pacedChecksum;
    const uint32_t* sizes;
    const SerialSettings* settings;  // the serial download only
  };
  // How far a download has got.
  struct RunState {
    ImageFile image;
    int64_t length = 0;  // the image data's length, measured at the start
    int64_t left = 0;    // image bytes not yet read into pieces
    int count = 0;       // sectors in the plan
    size_t next = 0;     // the plan's next sector to send
  };

  // The procedure, the same on every interface: the steps below in order,
  // up to the first that fails.
  int Run(const Job& job);
  // Opens, measures and plans the image.
  int PlanImage(const Job& job, RunState& run);
  // Switches the printer to its flash loader and waits for it to start.
  int EnterLoader(const Job& job, RunState& run);
  // The line check before the first sector.
  int CheckLine(const Job& job, RunState& run);
  // Main firmware and fonts: the first sector is erased first and written
  // last.
  int EraseFirstSector(const Job& job, RunState& run);
  // Every sector of the plan but a deferred first one.
  int SendSectors(const Job& job, RunState& run);
  int SendFirstSector(const Job& job, RunState& run);
  // CRC recalculation (main firmware), reset.
  int Finish(const Job& job, RunState& run);

  // The line check of the download's start, with the interface's recovery
  // after the second (parallel) or fourth (USB) failed attempt.
  int CheckLineAtStart(ports::Interface iface, int iplProg);
  // The IPL loader's restart after the first IPL sector, and the line check
  // after it.
  int RestartAfterIplSector(const Job& job);
  int CheckLineAfterRestart(ports::Interface iface);
  // Compatibility mode, then nibble (IPL) or ECP mode: 1, 1037, 1042, 1035.
  int RestorePortMode(int iplProg);
  // Closes the USB printer and connects to it again: 1, 1038, 1039, 1040.
  int ReconnectUsbPrinter();

  // The pieces of the sector being sent, as SendDataBlock takes them.
  std::array<uint8_t*, 4> Pieces() const;
  // Fills the pieces of a sector of `sectorSize` bytes from the image: 1,
  // 1008 when a piece cannot be allocated, 1024 when the image ends before
  // the length it was measured at.
  int FillPieces(ImageFile& image, int64_t& left, uint32_t sectorSize);
  void FreePieces();
  // Erase, select and send one sector; a result code.
  int EraseSector(int sector, int p, int count);
  int SelectAndSend(int sector, uint32_t sectorSize, int p, int count, bool pauseAfterSelect);
  int VerifySector(int progressStep);
  void Status(const char* text, int p, int count, int range, int pos, int step);

  // Records the calling thread's last error as the open's; returns `code`.
  int OpenFailed(int code);

  const ports::Interface iface_;
  // The sector being sent, in up to four pieces.
  std::array<std::unique_ptr<uint8_t[]>, 4> pieces_;
  std::atomic<Reached> reached_{Reached::kNothing};
  std::atomic<int> openError_{0};
};

}  // namespace quillon::engine
