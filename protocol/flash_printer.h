#pragma once
// CFlashPrinter: the printer object, a communication port with one operation
// per command of the printer's flash loader. Each operation writes its frame,
// waits for the answer as the interface in use requires and returns 1 for
// success or 0 for failure.

#include <cstdint>

#include "platform/window_messages.h"
#include "ports/comm_port.h"
#include "ports/port_window.h"
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
  void SetNotifyWindow(ports::PortWindow* window) { notifyWindow = window; }

  CrcRegister dataCrc;
  ports::PortWindow* notifyWindow = nullptr;

 private:
  enum class Path { kSerial, kParallel, kUsb };
  // The interface in use: USB takes precedence over the parallel port.
  static Path CurrentPath();
  // Writes a whole frame: WriteUsb on USB, WriteData otherwise.
  int WriteFrame(const uint8_t* frame, int length);
  // Writes prefix and one argument byte (one write on USB, two otherwise).
  int WritePrefixAndByte(const uint8_t* prefix, int length, uint8_t argument);
  // Reads one byte from the serial line and tests it for ACK.
  int ReadAck();
  // Over USB or the parallel port: has the main window start a receive
  // thread for `bytes` answer bytes and waits for them up to `seconds` whole
  // seconds of the wall clock. The receive thread is asked to stop either
  // way. True when the answer came.
  bool AwaitAnswer(bool usb, int bytes, int seconds);
  // Byte `at` of the answer buffer of the interface.
  static uint8_t AnswerByte(bool usb, int at);
  // The single ACK byte of select, erase and data over USB or parallel.
  int AwaitAck(bool usb);
};

}  // namespace quillon::protocol
