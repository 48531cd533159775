#include "protocol/flash_printer.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/clock.h"
#include "ports/port_state.h"
#include "protocol/frames.h"

namespace quillon::protocol {

using platform::WM_PROGRESS_AUTOSTEP;
using platform::WM_PROGRESS_SETPOS;

namespace {

// Time-outs of the answer waits, in whole seconds.
constexpr int kAckSeconds = 30;
constexpr int kLineStatusSeconds = 4;
constexpr int kChecksumSeconds = 50;
constexpr int kRecalcSeconds = 80;

}  // namespace

CFlashPrinter::Path CFlashPrinter::CurrentPath() {
  if (ports::useUsb) return Path::kUsb;
  return ports::useParallel ? Path::kParallel : Path::kSerial;
}

int CFlashPrinter::WriteFrame(const uint8_t* frame, int length) {
  return CurrentPath() == Path::kUsb ? WriteUsb(frame, length) : WriteData(frame, length);
}

int CFlashPrinter::WritePrefixAndByte(const uint8_t* prefix, int length, uint8_t argument) {
  if (CurrentPath() == Path::kUsb) {
    uint8_t frame[kMaxPrefix + 1];
    if (length < 0 || length > kMaxPrefix) return 0;
    std::memcpy(frame, prefix, static_cast<size_t>(length));
    frame[length] = argument;
    return WriteUsb(frame, length + 1);
  }
  if (!WriteData(prefix, length)) return 0;
  return WriteData(&argument, 1);
}

int CFlashPrinter::ReadAck() {
  uint8_t answer = 0;
  return ReadByte(&answer) && answer == kAck ? 1 : 0;
}

bool CFlashPrinter::AwaitAnswer(bool usb, int bytes, int seconds) {
  if (!notifyWindow) return false;  // nobody to start a receive thread
  platform::Event& answered =
      usb ? notifyWindow->usbAnswerEvent : notifyWindow->parallelAnswerEvent;
  answered.Reset();
  {
    std::lock_guard lock(ports::answerMutex);
    std::memset(usb ? ports::receivedBuffer : ports::parallelAnswer, 0,
                static_cast<size_t>(std::clamp(bytes, 0, ports::kReceivedBufferSize)));
  }
  notifyWindow->Send(usb ? platform::WM_START_USB_RECEIVE : platform::WM_START_PARALLEL_RECEIVE,
                     static_cast<uintptr_t>(bytes), 0);

  // The answer counts until the wall clock's second is later than the
  // deadline's: N seconds give at least N and less than N + 1. The wait
  // sleeps on the answer event until then.
  platform::Clock& clock = platform::GetClock();
  const int64_t deadline = clock.WallSeconds() + seconds;
  bool came = false;
  for (;;) {
    const int64_t left = (deadline + 1) * 1000 - clock.WallMs();
    if (answered.Wait(static_cast<uint32_t>(std::max<int64_t>(left, 0)))) {
      came = true;
      break;
    }
    if (clock.WallSeconds() > deadline) break;
  }
  if (usb) {
    notifyWindow->StopUsbReceive();
  } else {
    notifyWindow->StopParallelReceive();
  }
  return came;
}

uint8_t CFlashPrinter::AnswerByte(bool usb, int at) {
  std::lock_guard lock(ports::answerMutex);
  return usb ? ports::receivedBuffer[at] : ports::parallelAnswer[at];
}

int CFlashPrinter::AwaitAck(bool usb) {
  return AwaitAnswer(usb, 1, kAckSeconds) && AnswerByte(usb, 0) == kAck ? 1 : 0;
}

int CFlashPrinter::SwitchToDownloadMode(const uint8_t* frame, int length) {
  return WriteFrame(frame, length);
}

int CFlashPrinter::ResetPrinter(const uint8_t* frame, int length) {
  return WriteFrame(frame, length);
}

int CFlashPrinter::CheckLineStatus(const uint8_t* frame, int length, int& stdModel) {
  const Path path = CurrentPath();
  if (!WriteFrame(frame, length)) return 0;
  if (path == Path::kSerial) {
    uint8_t answer = 0;
    if (!ReadByte(&answer) || answer != kAck) return 0;
    uint8_t status = 0;
    if (!ReadByte(&status)) return 0;
    stdModel = status == kStandardModel ? 1 : 0;
    return stdModel;
  }
  const bool usb = path == Path::kUsb;
  if (!AwaitAnswer(usb, 2, kLineStatusSeconds) || AnswerByte(usb, 0) != kAck) return 0;
  // Over USB the ACK alone is enough; the status byte is not looked at.
  stdModel = usb || AnswerByte(usb, 1) == kStandardModel ? 1 : 0;
  return stdModel;
}

int CFlashPrinter::SelectFlashSector(const uint8_t* prefix, int length, uint8_t sector) {
  const Path path = CurrentPath();
  if (!WritePrefixAndByte(prefix, length, sector)) return 0;
  return path == Path::kSerial ? ReadAck() : AwaitAck(path == Path::kUsb);
}

int CFlashPrinter::EraseFlashSector(const uint8_t* prefix, int length, uint8_t sector) {
  const Path path = CurrentPath();
  if (!WritePrefixAndByte(prefix, length, sector)) return 0;
  return path == Path::kSerial ? ReadAck() : AwaitAck(path == Path::kUsb);
}

int CFlashPrinter::SendDataBlock(const uint8_t* prefix, int length, uint16_t word,
                                 uint32_t blockLength, int pieceLength, uint8_t* const pieces[4],
                                 platform::MessageWindow* progress) {
  const Path path = CurrentPath();
  const uint8_t header[4] = {static_cast<uint8_t>(word & 0xFF), static_cast<uint8_t>(word >> 8),
                             static_cast<uint8_t>(blockLength & 0xFF),
                             static_cast<uint8_t>((blockLength >> 8) & 0xFF)};
  if (path == Path::kUsb) {
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

  if (path != Path::kSerial) return AwaitAck(path == Path::kUsb);
  // The serial loader answers ACK; anything but NAK counts as accepted.
  uint8_t answer = 0;
  return ReadByte(&answer) && answer != kNak ? 1 : 0;
}

int CFlashPrinter::AcknowledgeChecksum(const uint8_t* frame, int length, uint16_t& value) {
  const Path path = CurrentPath();
  if (!WriteFrame(frame, length)) return 0;
  if (path == Path::kUsb) {
    // The printer needs its time to compute the checksum before it can be
    // asked over USB.
    platform::Pause(10000);
    if (!AwaitAnswer(true, 1, kChecksumSeconds) || AnswerByte(true, 0) != kAck) return 0;
    if (!AwaitAnswer(true, 2, kChecksumSeconds)) return 0;
    value = static_cast<uint16_t>(AnswerByte(true, 1) * 256 + AnswerByte(true, 0));
    return 1;
  }
  if (path == Path::kParallel) {
    if (!AwaitAnswer(false, 3, kChecksumSeconds) || AnswerByte(false, 0) != kAck) return 0;
    value = static_cast<uint16_t>(AnswerByte(false, 2) * 256 + AnswerByte(false, 1));
    return 1;
  }
  uint8_t answer = 0;
  if (!ReadByte(&answer) || answer == kNak) return 0;
  uint8_t low = 0;
  uint8_t high = 0;
  if (!ReadByte(&low) || !ReadByte(&high)) return 0;
  value = static_cast<uint16_t>(high * 256 + low);
  return 1;
}

int CFlashPrinter::RecalculateCrc(const uint8_t* frame, int length, uint16_t& value) {
  const Path path = CurrentPath();
  if (!WriteFrame(frame, length)) return 0;
  if (path == Path::kUsb) {
    for (int second = 0; second < 50; ++second) platform::Pause(1000);
    if (!AwaitAnswer(true, 1, kRecalcSeconds) || AnswerByte(true, 0) != kAck) return 0;
    if (!AwaitAnswer(true, 2, kRecalcSeconds)) return 0;
    value = static_cast<uint16_t>(AnswerByte(true, 1) * 256 + AnswerByte(true, 0));
    return 1;
  }
  if (path == Path::kParallel) {
    if (!AwaitAnswer(false, 3, kRecalcSeconds) || AnswerByte(false, 0) != kAck) return 0;
    value = static_cast<uint16_t>(AnswerByte(false, 2) * 256 + AnswerByte(false, 1));
    return 1;
  }
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
