#include "protocol/flash_printer.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/clock.h"
#include "protocol/answer_timing.h"
#include "protocol/frames.h"

namespace quillon::protocol {

using platform::WM_PROGRESS_AUTOSTEP;
using platform::WM_PROGRESS_SETPOS;
using ports::Interface;
using namespace timing;

namespace {

// A 16-bit answer value, low byte first.
uint16_t Word(uint8_t low, uint8_t high) {
  return static_cast<uint16_t>(high * 256 + low);
}

}  // namespace

int CFlashPrinter::WriteFrame(const uint8_t* frame, int length) {
  return link.Kind() == Interface::kUsb ? WriteUsb(frame, length) : WriteData(frame, length);
}

int CFlashPrinter::WritePrefixAndByte(const uint8_t* prefix, int length, uint8_t argument) {
  if (link.Kind() == Interface::kUsb) {
    uint8_t frame[kMaxPrefix + 1];
    if (length < 0 || length > kMaxPrefix) return 0;
    std::memcpy(frame, prefix, static_cast<size_t>(length));
    frame[length] = argument;
    return WriteUsb(frame, length + 1);
  }
  if (!WriteData(prefix, length)) return 0;
  return WriteData(&argument, 1);
}

bool CFlashPrinter::AwaitAnswer(int bytes, int seconds) {
  const bool came = link.AwaitAnswer(bytes, seconds);
  // Part of an answer shows in the cleared buffer (unless it is all zeros).
  if (came || link.AnswerStarted(bytes)) answered_ = true;
  return came;
}

int CFlashPrinter::ReadByte(uint8_t* byte) {
  if (!CCommPort::ReadByte(byte)) return 0;
  answered_ = true;
  return 1;
}

int CFlashPrinter::AwaitAck(Interface path) {
  if (path == Interface::kSerial) {
    uint8_t answer = 0;
    return ReadByte(&answer) && answer == kAck ? 1 : 0;
  }
  return AwaitAnswer(1, kAckSeconds) && AnswerByte(0) == kAck ? 1 : 0;
}

int CFlashPrinter::SectorCommand(const uint8_t* prefix, int length, uint8_t sector) {
  const Interface path = link.Kind();
  if (!WritePrefixAndByte(prefix, length, sector)) return 0;
  return AwaitAck(path);
}

int CFlashPrinter::AwaitValue(Interface path, int seconds, uint8_t serialAnswer, uint16_t& value) {
  switch (path) {
    case Interface::kUsb:
      // Asked for twice: the ACK, then the value.
      if (!AwaitAnswer(1, seconds) || AnswerByte(0) != kAck) return 0;
      if (!AwaitAnswer(2, seconds)) return 0;
      value = Word(AnswerByte(0), AnswerByte(1));
      return 1;
    case Interface::kParallel:
      if (!AwaitAnswer(3, seconds) || AnswerByte(0) != kAck) return 0;
      value = Word(AnswerByte(1), AnswerByte(2));
      return 1;
    case Interface::kSerial:
      break;
  }
  if (serialAnswer == kNak) return 0;
  uint8_t low = 0;
  uint8_t high = 0;
  if (!ReadByte(&low) || !ReadByte(&high)) return 0;
  value = Word(low, high);
  return 1;
}

int CFlashPrinter::SwitchToDownloadMode(const uint8_t* frame, int length) {
  return WriteFrame(frame, length);
}

int CFlashPrinter::ResetPrinter(const uint8_t* frame, int length) {
  return WriteFrame(frame, length);
}

int CFlashPrinter::CheckLineStatus(const uint8_t* frame, int length, int& stdModel) {
  const Interface path = link.Kind();
  if (!WriteFrame(frame, length)) return 0;
  if (path == Interface::kSerial) {
    uint8_t answer = 0;
    if (!ReadByte(&answer) || answer != kAck) return 0;
    uint8_t status = 0;
    if (!ReadByte(&status)) return 0;
    stdModel = status == kStandardModel ? 1 : 0;
    return stdModel;
  }
  if (!AwaitAnswer(2, kLineStatusSeconds) || AnswerByte(0) != kAck) return 0;
  // Over USB the ACK alone is enough; the status byte is not looked at.
  stdModel = path == Interface::kUsb || AnswerByte(1) == kStandardModel ? 1 : 0;
  return stdModel;
}

int CFlashPrinter::SelectFlashSector(const uint8_t* prefix, int length, uint8_t sector) {
  return SectorCommand(prefix, length, sector);
}

int CFlashPrinter::EraseFlashSector(const uint8_t* prefix, int length, uint8_t sector) {
  return SectorCommand(prefix, length, sector);
}

int CFlashPrinter::SendDataBlock(const uint8_t* prefix, int length, uint16_t word,
                                 uint32_t blockLength, int pieceLength, uint8_t* const pieces[4],
                                 platform::MessageWindow* progress) {
  const Interface path = link.Kind();
  const uint8_t header[4] = {static_cast<uint8_t>(word & 0xFF), static_cast<uint8_t>(word >> 8),
                             static_cast<uint8_t>(blockLength & 0xFF),
                             static_cast<uint8_t>((blockLength >> 8) & 0xFF)};
  if (path == Interface::kUsb) {
    uint8_t frame[kMaxPrefix + 4];
    if (length < 0 || length > kMaxPrefix) return 0;
    std::memcpy(frame, prefix, static_cast<size_t>(length));
    std::memcpy(frame + length, header, sizeof header);
    if (!WriteUsb(frame, length + 4)) return 0;
  } else {
    if (!WriteData(prefix, length)) return 0;
    for (uint8_t byte : header) {
      if (!WriteData(&byte, 1)) return 0;
    }
  }

  dataCrc.Reset();
  if (progress) progress->Send(WM_PROGRESS_AUTOSTEP, 0, 0);
  for (int j = 0; j < 4 && pieces[j] != nullptr; ++j) {
    if (!WriteFrame(pieces[j], pieceLength)) return 0;
    dataCrc.Update(pieces[j], static_cast<std::size_t>(pieceLength));
    if (progress) progress->Send(WM_PROGRESS_SETPOS, blockLength, (j + 1) * pieceLength);
  }
  if (progress) progress->Send(WM_PROGRESS_AUTOSTEP, 0, 1);

  if (path != Interface::kSerial) return AwaitAck(path);
  // The serial loader answers ACK; anything but NAK counts as accepted.
  uint8_t answer = 0;
  return ReadByte(&answer) && answer != kNak ? 1 : 0;
}

int CFlashPrinter::AcknowledgeChecksum(const uint8_t* frame, int length, uint16_t& value) {
  const Interface path = link.Kind();
  if (!WriteFrame(frame, length)) return 0;
  if (path == Interface::kUsb) platform::Pause(kUsbChecksumSettleMs);
  uint8_t answer = 0;
  if (path == Interface::kSerial && !ReadByte(&answer)) return 0;
  return AwaitValue(path, kChecksumSeconds, answer, value);
}

int CFlashPrinter::RecalculateCrc(const uint8_t* frame, int length, uint16_t& value) {
  const Interface path = link.Kind();
  if (!WriteFrame(frame, length)) return 0;
  if (path == Interface::kUsb) {
    for (int n = 0; n < kUsbRecalcSettlePauses; ++n) platform::Pause(kUsbRecalcSettlePauseMs);
  }
  uint8_t answer = 0;
  if (path == Interface::kSerial) {
    SetReadTimeouts(kSerialRecalcReadMs);
    bool answered = false;
    for (int poll = 0; poll < kSerialRecalcPolls && !answered; ++poll) {
      platform::Pause(kSerialRecalcPollPauseMs);
      answered = ReadByte(&answer) != 0;
    }
    if (!answered) return 0;
  }
  return AwaitValue(path, kRecalcSeconds, answer, value);
}

}  // namespace quillon::protocol
