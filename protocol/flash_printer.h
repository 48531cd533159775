#pragma once
// CFlashPrinter: the printer object, a communication port with one operation
// per command of the printer's flash loader. Each operation writes its frame,
// waits for the answer as the interface in use requires and returns 1 for
// success or 0 for failure.

#include <cstdint>

#include "platform/window_messages.h"
#include "ports/comm_port.h"
#include "protocol/crc.h"

namespace quillon::protocol {

class CFlashPrinter : public ports::CCommPort {
 public:
  CFlashPrinter() = default;
  ~CFlashPrinter() override = default;

  int SwitchToDownloadMode(const uint8_t* frame, int length);
  // On success stdModel is 1. ACK followed by another status byte sets it to
  // 0 and fails; any other failure leaves it unchanged.
  int CheckLineStatus(const uint8_t* frame, int length, int& stdModel);
  int SelectFlashSector(const uint8_t* prefix, int length, uint8_t sector);
  int EraseFlashSector(const uint8_t* prefix, int length, uint8_t sector);
  // Sends the header (prefix, word, block length modulo 65536, low bytes
  // first), then pieces[0..3] up to the first null one, pieceLength bytes
  // each, feeding dataCrc; reports progress to `progress` (may be null).
  int SendDataBlock(const uint8_t* prefix, int length, uint16_t word, uint32_t blockLength,
                    int pieceLength, uint8_t* const pieces[4], platform::MessageWindow* progress);
  int AcknowledgeChecksum(const uint8_t* frame, int length, uint16_t& value);
  int RecalculateCrc(const uint8_t* frame, int length, uint16_t& value);
  int ResetPrinter(const uint8_t* frame, int length);
  uint16_t GetDataCrc() const { return dataCrc.Value(); }
  void SetNotifyWindow(platform::MessageWindow* window) { notifyWindow = window; }

  CrcRegister dataCrc;
  platform::MessageWindow* notifyWindow = nullptr;

 private:
  // Whether the selected interface is the serial line.
  static bool SerialSelected();
  // Writes prefix and one argument byte as the serial line takes them.
  int WritePrefixAndByte(const uint8_t* prefix, int length, uint8_t argument);
  // Reads one byte and tests it for ACK.
  int ReadAck();
};

}  // namespace quillon::protocol
