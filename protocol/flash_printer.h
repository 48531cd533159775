#pragma once
// CFlashPrinter: the printer object, a communication port with one operation
// per command of the printer's flash loader. Each operation writes its frame,
// waits for the answer as the interface in use requires and returns 1 for
// success or 0 for failure.

#include <atomic>
#include <cstdint>

#include "platform/window_messages.h"
#include "ports/comm_port.h"
#include "protocol/crc.h"

namespace quillon::protocol {

class CFlashPrinter : public ports::CCommPort {
 public:
  explicit CFlashPrinter(ports::Interface iface) : CCommPort(iface) {}
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
  // Whether any byte has come back from the printer through this object.
  bool Answered() const { return answered_.load(); }
  // A byte of the serial line; a byte that comes counts as an answer.
  int ReadByte(uint8_t* byte) override;
  uint16_t GetDataCrc() const { return dataCrc.Value(); }

  CrcRegister dataCrc;

 private:
  // Writes a whole frame: WriteUsb on USB, WriteData otherwise.
  int WriteFrame(const uint8_t* frame, int length);
  // Writes prefix and one argument byte (one write on USB, two otherwise).
  int WritePrefixAndByte(const uint8_t* prefix, int length, uint8_t argument);
  // Erase and select: prefix and sector number, answered by ACK.
  int SectorCommand(const uint8_t* prefix, int length, uint8_t sector);
  // Over USB or the parallel port: the link's receive thread takes `bytes`
  // answer bytes within `seconds` whole seconds of the wall clock. True
  // when the answer came.
  bool AwaitAnswer(int bytes, int seconds);
  uint8_t AnswerByte(int at) { return link.AnswerByte(at); }
  // The single ACK byte that answers select, erase and (except on the
  // serial line) a data block.
  int AwaitAck(ports::Interface path);
  // The answer of the checksum and the CRC recalculation: ACK and a 16-bit
  // value, low byte first. On the serial line the first byte has been read
  // already (`serialAnswer`); anything but NAK stands for ACK there.
  int AwaitValue(ports::Interface path, int seconds, uint8_t serialAnswer, uint16_t& value);

  std::atomic<bool> answered_{false};
};

}  // namespace quillon::protocol
