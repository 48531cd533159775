#include "protocol/flash_printer.h"

#include "platform/clock.h"
#include "ports/port_state.h"
#include "protocol/frames.h"

namespace quillon::protocol {

using platform::WM_PROGRESS_AUTOSTEP;
using platform::WM_PROGRESS_SETPOS;

// The answer paths of the parallel port and USB run through receive threads
// that this build does not have yet: over those interfaces every command
// fails before it writes anything.
bool CFlashPrinter::SerialSelected() {
  return !ports::useUsb && !ports::useParallel;
}

int CFlashPrinter::WritePrefixAndByte(const uint8_t* prefix, int length, uint8_t argument) {
  if (!WriteData(prefix, length)) return 0;
  return WriteData(&argument, 1);
}

int CFlashPrinter::ReadAck() {
  uint8_t answer = 0;
  return ReadByte(&answer) && answer == kAck ? 1 : 0;
}

int CFlashPrinter::SwitchToDownloadMode(const uint8_t* frame, int length) {
  if (!SerialSelected()) return 0;
  return WriteData(frame, length);
}

int CFlashPrinter::ResetPrinter(const uint8_t* frame, int length) {
  if (!SerialSelected()) return 0;
  return WriteData(frame, length);
}

int CFlashPrinter::CheckLineStatus(const uint8_t* frame, int length, int& stdModel) {
  if (!SerialSelected()) return 0;
  if (!WriteData(frame, length)) return 0;
  uint8_t answer = 0;
  if (!ReadByte(&answer) || answer != kAck) return 0;
  uint8_t status = 0;
  if (!ReadByte(&status)) return 0;
  stdModel = status == kStandardModel ? 1 : 0;
  return stdModel;
}

int CFlashPrinter::SelectFlashSector(const uint8_t* prefix, int length, uint8_t sector) {
  if (!SerialSelected()) return 0;
  if (!WritePrefixAndByte(prefix, length, sector)) return 0;
  return ReadAck();
}

int CFlashPrinter::EraseFlashSector(const uint8_t* prefix, int length, uint8_t sector) {
  if (!SerialSelected()) return 0;
  if (!WritePrefixAndByte(prefix, length, sector)) return 0;
  return ReadAck();
}

int CFlashPrinter::SendDataBlock(const uint8_t* prefix, int length, uint16_t word,
                                 uint32_t blockLength, int pieceLength, uint8_t* const pieces[4],
                                 platform::MessageWindow* progress) {
  if (!SerialSelected()) return 0;
  const uint8_t header[4] = {static_cast<uint8_t>(word & 0xFF), static_cast<uint8_t>(word >> 8),
                             static_cast<uint8_t>(blockLength & 0xFF),
                             static_cast<uint8_t>((blockLength >> 8) & 0xFF)};
  if (!WriteData(prefix, length)) return 0;
  for (uint8_t byte : header) {
    if (!WriteData(&byte, 1)) return 0;
  }

  dataCrc.Reset();
  if (progress) progress->Send(WM_PROGRESS_AUTOSTEP, 0, 0);
  for (int j = 0; j < 4 && pieces[j] != nullptr; ++j) {
    if (!WriteData(pieces[j], pieceLength)) return 0;
    dataCrc.Update(pieces[j], static_cast<std::size_t>(pieceLength));
    if (progress) progress->Send(WM_PROGRESS_SETPOS, blockLength, (j + 1) * pieceLength);
  }
  if (progress) progress->Send(WM_PROGRESS_AUTOSTEP, 0, 1);

  // The serial loader answers ACK; anything but NAK counts as accepted.
  uint8_t answer = 0;
  return ReadByte(&answer) && answer != kNak ? 1 : 0;
}

int CFlashPrinter::AcknowledgeChecksum(const uint8_t* frame, int length, uint16_t& value) {
  if (!SerialSelected()) return 0;
  if (!WriteData(frame, length)) return 0;
  uint8_t answer = 0;
  if (!ReadByte(&answer) || answer == kNak) return 0;
  uint8_t low = 0;
  uint8_t high = 0;
  if (!ReadByte(&low) || !ReadByte(&high)) return 0;
  value = static_cast<uint16_t>(high * 256 + low);
  return 1;
}

int CFlashPrinter::RecalculateCrc(const uint8_t* frame, int length, uint16_t& value) {
  if (!SerialSelected()) return 0;
  if (!WriteData(frame, length)) return 0;
  // The printer takes its time over the whole flash: poll for the first
  // answer byte once a second, up to 101 times.
  SetReadTimeouts(2000);
  uint8_t answer = 0;
  bool answered = false;
  for (int attempt = 0; attempt < 101 && !answered; ++attempt) {
    platform::Pause(1000);
    answered = ReadByte(&answer) != 0;
  }
  if (!answered || answer == kNak) return 0;
  uint8_t low = 0;
  uint8_t high = 0;
  if (!ReadByte(&low) || !ReadByte(&high)) return 0;
  value = static_cast<uint16_t>(high * 256 + low);
  return 1;
}

}  // namespace quillon::protocol
