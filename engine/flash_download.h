#pragma once
// CFlashDownload: the download object. It owns the printer object and runs
// one whole download of an image into the printer's flash memory, reporting
// every step to the main window.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/image_file.h"
#include "platform/window_messages.h"
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

class CFlashDownload {
 public:
  CFlashDownload();
  virtual ~CFlashDownload();
  CFlashDownload(const CFlashDownload&) = delete;
  CFlashDownload& operator=(const CFlashDownload&) = delete;

  // Virtual operations, in their slot order (the destructor comes first).
  virtual int DownloadSerial(const std::string& modelName, const std::string& filePath,
                             int firstSector, int mainProg, int iplProg, int alternativeMode,
                             const uint32_t* flashSectorSizes, const SerialSettings& settings);
  virtual int DownloadParallel(const std::string& modelName, const std::string& filePath,
                               int firstSector, int mainProg, int iplProg,
                               const uint32_t* flashSectorSizes);
  virtual int DownloadUSB(const std::string& modelName, const std::string& filePath,
                          int firstSector, int mainProg, int iplProg,
                          const uint32_t* flashSectorSizes);
  virtual int OpenSerialPort(const std::string& portName, int baud, const std::string& parity,
                             int stopBits);
  virtual void EndDownload();

  int ReopenSerialPort(const std::string& portName, int baud, const std::string& parity,
                       int stopBits);
  // -1 keeps a number; an empty text keeps the text.
  void PostStatus(const std::string& text, int range, int pos, int step);
  void SetWindow(platform::MessageWindow* w) { window = w; }
  void ClosePrinterPort();
  int CheckImageFile(const std::string& filePath);

  // Members, in order.
  platform::MessageWindow* window = nullptr;
  StatusRecord statusRecord;
  std::unique_ptr<protocol::CFlashPrinter> printer;
  // Starts at 1: a printer that never answers the line check is reported as
  // busy, not as a printer of another model.
  int stdModel = 1;
  uint8_t* pieceBuffers[4] = {nullptr, nullptr, nullptr, nullptr};
  std::vector<int> sectorList;

 private:
  // Fills the pieces of a sector of `sectorSize` bytes from the image; false
  // when a piece cannot be allocated.
  bool FillPieces(ImageFile& image, int64_t& left, uint32_t sectorSize);
  void FreePieces();
  // Erase, select and send one sector; a result code.
  int EraseSector(int sector, int p, int count);
  int SelectAndSend(int sector, uint32_t sectorSize, int p, int count);
  int VerifySector();
  // Up to 30 line checks; `cancellable` tests userTerminate before each.
  int CheckLine(bool cancellable, bool modelCode);
  void Status(const char* text, int p, int count, int range, int pos, int step);
};

}  // namespace quillon::engine
