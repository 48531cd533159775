#include "sim/printer_emulator.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <utility>

#include "sim/crc16.h"

namespace quillon::sim {

namespace {

constexpr std::array<std::string_view, 10> kNames = {
    "switch",   "status", "select", "erase",   "data",
    "checksum", "recalc", "reset",  "unknown", "stray",
};

std::string Hex(uint8_t b) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", b);
  return text;
}

std::string Hex16(uint16_t v) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", v);
  return text;
}

}  // namespace

std::string_view CommandName(CommandKind kind) {
  return kNames[static_cast<size_t>(kind)];
}

std::optional<CommandKind> CommandFromName(std::string_view name) {
  for (int i = 0; i < kCommandKinds; ++i) {
    if (kNames[i] == name) return static_cast<CommandKind>(i);
  }
  return std::nullopt;
}

std::string TranscriptEntry::Text() const {
  std::string argument;
  switch (kind) {
    case CommandKind::kSelect:
    case CommandKind::kErase:
      argument = "sector " + std::to_string(sector);
      break;
    case CommandKind::kData:
    case CommandKind::kStray:
      argument = std::to_string(length) + " bytes";
      break;
    case CommandKind::kUnknown:
      argument.assign("1D ").append(Hex(code));
      break;
    default:
      break;
  }
  std::string answered;
  switch (outcome) {
    case Outcome::kAnswered:
      for (uint8_t b : answer) {
        if (!answered.empty()) answered += ' ';
        answered += Hex(b);
      }
      break;
    case Outcome::kSilent:
      answered = "silent";
      break;
    case Outcome::kNone:
    case Outcome::kIgnored:
      answered = "none";
      break;
  }
  std::string numbered = "-";
  if (number > 0) numbered.assign("#").append(std::to_string(number));
  char head[160];
  std::snprintf(head, sizeof head, "%8lld ms  %-5s %-8s %-14s -> ", static_cast<long long>(timeMs),
                numbered.c_str(), std::string(CommandName(kind)).c_str(), argument.c_str());
  std::string line = head + answered;
  if (!note.empty()) line += "  (" + note + ")";
  return line;
}

size_t PrinterEmulator::SectorSize(int sector) {
  if (!ValidSector(sector)) return 0;
  if (sector == 1) return 0x4000;
  if (sector <= 3) return 0x2000;
  if (sector == 4) return 0x8000;
  return 0x10000;
}

size_t PrinterEmulator::SectorAddress(int sector) {
  if (!ValidSector(sector)) return kFlashSize;
  if (sector <= 4) {
    constexpr std::array<size_t, 4> kFirst = {0x0, 0x4000, 0x6000, 0x8000};
    return kFirst[sector - 1];
  }
  return 0x10000 * static_cast<size_t>(sector - 4);
}

PrinterEmulator::PrinterEmulator(EmulatorOptions options)
    : options_(std::move(options)), flash_(kFlashSize, 0xFF) {
  block_.reserve(0x10000);
}

std::vector<TimedByte> PrinterEmulator::Feed(const uint8_t* data, size_t n, int64_t nowMs) {
  std::vector<TimedByte> out;
  std::optional<BusAbsence> tell;
  std::function<void(const BusAbsence&)> listener;
  {
    std::lock_guard lock(mutex_);
    size_t i = Away(nowMs, n) ? n : 0;
    while (i < n) {
      if (parse_ == Parse::kBody) {
        // Block data comes in bulk; take as much of it as this write holds.
        const size_t take = std::min(n - i, blockLength_ - block_.size());
        block_.insert(block_.end(), data + i, data + i + take);
        i += take;
        if (block_.size() < blockLength_) continue;
        parse_ = Parse::kIdle;
        if (!leaveInBlock_) {
          Frame(CommandKind::kData, nowMs, out);
          continue;
        }
        // The host has written the whole block (a USB driver takes it and
        // returns), and the printer leaves the bus with it.
        leaveInBlock_ = false;
        TranscriptEntry e;
        e.timeMs = nowMs;
        e.kind = CommandKind::kData;
        e.length = static_cast<int64_t>(blockLength_);
        e.outcome = TranscriptEntry::Outcome::kIgnored;
        e.note = "lost as it came in";
        Leave(nowMs, e);
        transcript_.push_back(std::move(e));
        strayOpen_ = false;
        absenceBegun_ = true;
        break;  // the rest of this write never arrived
      }
      Byte(data[i++], nowMs, out);
    }
    if (absence_) {
      // Answers due while the printer is away never reach the host.
      std::erase_if(out, [&](const TimedByte& b) {
        return b.atMs >= absence_->fromMs && b.atMs < absence_->untilMs;
      });
    }
    tell = std::exchange(toTell_, std::nullopt);
    if (tell) listener = busListener_;
  }
  if (listener) listener(*tell);
  return out;
}

void PrinterEmulator::SetBusListener(std::function<void(const BusAbsence&)> listener) {
  std::lock_guard lock(mutex_);
  busListener_ = std::move(listener);
}

std::optional<BusAbsence> PrinterEmulator::LastAbsence() const {
  std::lock_guard lock(mutex_);
  return absence_;
}

void PrinterEmulator::Leave(int64_t from, TranscriptEntry& e) {
  const int64_t gone = options_.replugGoneMs;
  const int64_t until = gone == kGoneForGood ? kGoneForGood : from + gone;
  absence_ = BusAbsence{from, until};
  absenceBegun_ = false;
  toTell_ = absence_;
  if (!e.note.empty()) e.note += "; ";
  e.note +=
      "leaves the bus at " + std::to_string(from) + " ms " +
      (until == kGoneForGood ? std::string("for good") : "until " + std::to_string(until) + " ms");
}

bool PrinterEmulator::Away(int64_t now, size_t n) {
  if (!absence_ || now < absence_->fromMs) return false;
  if (!absenceBegun_) {
    // Whatever frame was coming in is lost with the bus.
    absenceBegun_ = true;
    parse_ = Parse::kIdle;
    block_.clear();
    strayOpen_ = false;
  }
  if (now >= absence_->untilMs) return false;
  TranscriptEntry e;
  e.timeMs = now;
  e.kind = CommandKind::kStray;
  e.length = static_cast<int64_t>(n);
  e.outcome = TranscriptEntry::Outcome::kIgnored;
  e.note = "off the bus";
  transcript_.push_back(std::move(e));
  strayOpen_ = false;
  return true;
}

void PrinterEmulator::Byte(uint8_t b, int64_t now, std::vector<TimedByte>& out) {
  switch (parse_) {
    case Parse::kIdle:
      if (b == kGs) {
        parse_ = Parse::kCommand;
      } else {
        Stray(now);
      }
      return;
    case Parse::kCommand:
      command_ = b;
      parse_ = Parse::kIdle;
      switch (b) {
        case kCmdLineStatus:
          Frame(CommandKind::kLineStatus, now, out);
          return;
        case kCmdChecksum:
          Frame(CommandKind::kChecksum, now, out);
          return;
        case kCmdRecalc:
          Frame(CommandKind::kRecalc, now, out);
          return;
        case kCmdReset:
          Frame(CommandKind::kReset, now, out);
          return;
        case kCmdSelect:
        case kCmdErase:
          parse_ = Parse::kArgument;
          return;
        case kCmdData:
          parse_ = Parse::kHeader;
          headerGot_ = 0;
          return;
        case kCmdSwitch1:
          parse_ = Parse::kSwitch;
          return;
        case kGs:
          // A GS on its own; the second one starts the frame.
          Stray(now);
          parse_ = Parse::kCommand;
          return;
        default:
          Unknown(b, now);
          return;
      }
    case Parse::kSwitch:
      parse_ = Parse::kIdle;
      if (b == kCmdSwitch2) {
        Frame(CommandKind::kSwitch, now, out);
      } else {
        Unknown(kCmdSwitch1, now);
        Byte(b, now, out);  // may begin the next frame
      }
      return;
    case Parse::kArgument:
      argument_ = b;
      parse_ = Parse::kIdle;
      Frame(command_ == kCmdSelect ? CommandKind::kSelect : CommandKind::kErase, now, out);
      return;
    case Parse::kHeader:
      header_[headerGot_++] = b;
      if (headerGot_ == header_.size()) {
        blockLength_ = header_[2] | (size_t{header_[3]} << 8);
        if (blockLength_ == 0) blockLength_ = 0x10000;
        block_.clear();
        parse_ = Parse::kBody;
        if (StateLocked(now) == LoaderState::kDownload) {
          ++blocksBegun_;
          leaveInBlock_ =
              std::any_of(options_.replugs.begin(), options_.replugs.end(), [&](const Replug& r) {
                return r.during && r.command == CommandKind::kData &&
                       (r.nth == 0 || r.nth == blocksBegun_);
              });
        }
      }
      return;
    case Parse::kBody:
      break;  // Feed takes block data itself
  }
}

void PrinterEmulator::Stray(int64_t now) {
  if (strayOpen_) {
    ++transcript_.back().length;
    return;
  }
  TranscriptEntry e;
  e.timeMs = now;
  e.kind = CommandKind::kStray;
  e.length = 1;
  e.outcome = TranscriptEntry::Outcome::kIgnored;
  transcript_.push_back(std::move(e));
  strayOpen_ = true;
}

void PrinterEmulator::Unknown(uint8_t code, int64_t now) {
  TranscriptEntry e;
  e.timeMs = now;
  e.kind = CommandKind::kUnknown;
  e.code = code;
  e.outcome = TranscriptEntry::Outcome::kIgnored;
  e.note = "no such command";
  transcript_.push_back(std::move(e));
  strayOpen_ = false;
}

void PrinterEmulator::Frame(CommandKind kind, int64_t now, std::vector<TimedByte>& out) {
  strayOpen_ = false;
  TranscriptEntry e;
  e.timeMs = now;
  e.kind = kind;
  if (kind == CommandKind::kSelect || kind == CommandKind::kErase) e.sector = argument_;
  if (kind == CommandKind::kData) e.length = static_cast<int64_t>(blockLength_);

  const LoaderState state = StateLocked(now);
  const bool listening = state == LoaderState::kDownload ||
                         (state == LoaderState::kNormal && kind == CommandKind::kSwitch);
  if (!listening) {
    e.outcome = TranscriptEntry::Outcome::kIgnored;
    e.note = state == LoaderState::kNormal ? "ignored: normal mode"
             : restarting_                 ? "ignored: loader restarting"
                                           : "ignored: loader starting";
    transcript_.push_back(std::move(e));
    return;
  }

  e.number = ++taken_;
  const int ofKind = ++takenOfKind_[static_cast<size_t>(kind)];
  const bool leaves =
      std::any_of(options_.replugs.begin(), options_.replugs.end(), [&](const Replug& r) {
        return !r.during && r.command == kind && (r.nth == 0 || r.nth == ofKind);
      });
  // Taken in: the printer leaves the bus a while after it, if it is to.
  const auto done = [&](TranscriptEntry& entry) {
    if (leaves) {
      const bool answered = entry.outcome == TranscriptEntry::Outcome::kAnswered;
      Leave((answered ? std::max(now, lastAnswerAtMs_) : now) + kLeaveAfterAnswerMs, entry);
    }
    transcript_.push_back(std::move(entry));
  };
  if (options_.silentFrom > 0 && e.number >= options_.silentFrom) {
    e.outcome = TranscriptEntry::Outcome::kSilent;
    e.note = "silent from #" + std::to_string(options_.silentFrom);
    done(e);
    return;
  }
  for (const Fault& f : options_.faults) {
    if (f.command != kind || (f.nth != 0 && f.nth != ofKind)) continue;
    if (f.silent) {
      e.outcome = TranscriptEntry::Outcome::kSilent;
      e.note = "fault: no answer";
    } else {
      e.outcome = TranscriptEntry::Outcome::kAnswered;
      e.answer = {f.byte};
      e.note = "fault: answered " + Hex(f.byte);
    }
    e.note += ", not carried out";
    Send(e, now, out);
    done(e);
    return;
  }

  const bool iplBlock =
      kind == CommandKind::kData && selected_ == 4 && !erasedSinceSwitch_ && !iplRestartDone_;
  Execute(e, now);
  Send(e, now, out);
  if (iplBlock) {
    // The first block of an IPL download replaces the loader itself: it
    // restarts once the ACK is out and is deaf meanwhile.
    iplRestartDone_ = true;
    restarting_ = true;
    selected_ = 0;
    readyAtMs_ = lastAnswerAtMs_ + options_.restartMs;
    e.note += "; loader restarts, deaf until " + std::to_string(readyAtMs_) + " ms";
  }
  done(e);
}

void PrinterEmulator::Execute(TranscriptEntry& e, int64_t now) {
  using Outcome = TranscriptEntry::Outcome;
  e.outcome = Outcome::kAnswered;
  switch (e.kind) {
    case CommandKind::kSwitch:
      e.outcome = Outcome::kNone;
      if (mode_ == Mode::kDownload) {
        e.note = "already in download mode";
        return;
      }
      mode_ = Mode::kDownload;
      readyAtMs_ = now + options_.bootDelayMs;
      restarting_ = false;
      selected_ = 0;
      erasedSinceSwitch_ = false;
      iplRestartDone_ = false;
      e.note = "download mode from " + std::to_string(readyAtMs_) + " ms";
      return;
    case CommandKind::kLineStatus:
      e.answer = {kAck, options_.statusByte};
      return;
    case CommandKind::kSelect:
      if (!ValidSector(e.sector)) {
        selected_ = 0;
        e.answer = {kNak};
        e.note = "no such sector";
        return;
      }
      selected_ = e.sector;
      e.answer = {kAck};
      return;
    case CommandKind::kErase: {
      if (!ValidSector(e.sector)) {
        e.answer = {kNak};
        e.note = "no such sector";
        return;
      }
      const auto first = flash_.begin() + static_cast<std::ptrdiff_t>(SectorAddress(e.sector));
      std::fill(first, first + static_cast<std::ptrdiff_t>(SectorSize(e.sector)), uint8_t{0xFF});
      erasedSinceSwitch_ = true;
      e.answer = {kAck};
      return;
    }
    case CommandKind::kData: {
      lastBlockCrc_ = Crc16(block_.data(), block_.size());
      lastBlockSector_ = selected_;
      e.sector = selected_;
      e.note = "CRC " + Hex16(lastBlockCrc_);
      if (selected_ == 0) {
        e.answer = {kNak};
        e.note += ", no sector selected";
        return;
      }
      const size_t size = SectorSize(selected_);
      const size_t count = std::min(size, block_.size());
      uint8_t* target = flash_.data() + SectorAddress(selected_);
      for (size_t i = 0; i < count; ++i) {
        target[i] = options_.programClearsBitsOnly ? (target[i] & block_[i]) : block_[i];
      }
      e.note += ", into sector " + std::to_string(selected_);
      if (block_.size() > size) {
        e.note += ", " + std::to_string(block_.size() - size) + " bytes beyond the sector dropped";
      }
      if (header_[0] != 0 || header_[1] != 0) {
        e.note += ", header bytes " + Hex(header_[0]) + " " + Hex(header_[1]) + " not 00 00";
      }
      e.answer = {kAck};
      return;
    }
    case CommandKind::kChecksum: {
      const uint16_t crc = AcknowledgedCrcLocked();
      e.answer = {kAck, static_cast<uint8_t>(crc & 0xFF), static_cast<uint8_t>(crc >> 8)};
      return;
    }
    case CommandKind::kRecalc: {
      const uint16_t crc =
          Crc16(flash_.data() + kProgramAreaStart, flash_.size() - kProgramAreaStart);
      e.answer = {kAck, static_cast<uint8_t>(crc & 0xFF), static_cast<uint8_t>(crc >> 8)};
      return;
    }
    case CommandKind::kReset:
      e.outcome = Outcome::kNone;
      mode_ = Mode::kNormal;
      selected_ = 0;
      e.note = "back to normal mode";
      return;
    case CommandKind::kUnknown:
    case CommandKind::kStray:
      e.outcome = Outcome::kIgnored;
      return;
  }
}

void PrinterEmulator::Send(TranscriptEntry& e, int64_t now, std::vector<TimedByte>& out) {
  if (e.outcome != TranscriptEntry::Outcome::kAnswered) return;
  // Answer bytes keep the byte gap between answers too, and never overtake.
  const int64_t start =
      std::max(now + options_.answerDelayMs, lastAnswerAtMs_ + options_.byteGapMs);
  for (size_t i = 0; i < e.answer.size(); ++i) {
    lastAnswerAtMs_ = start + static_cast<int64_t>(i) * options_.byteGapMs;
    out.push_back({e.answer[i], lastAnswerAtMs_});
  }
}

LoaderState PrinterEmulator::StateLocked(int64_t now) const {
  if (mode_ == Mode::kNormal) return LoaderState::kNormal;
  return now < readyAtMs_ ? LoaderState::kStarting : LoaderState::kDownload;
}

uint16_t PrinterEmulator::AcknowledgedCrcLocked() const {
  const bool bad = options_.badCrcSectors.count(lastBlockSector_) > 0;
  return bad ? static_cast<uint16_t>(lastBlockCrc_ ^ 0xFFFF) : lastBlockCrc_;
}

LoaderState PrinterEmulator::State(int64_t nowMs) const {
  std::lock_guard lock(mutex_);
  return StateLocked(nowMs);
}

int PrinterEmulator::SelectedSector() const {
  std::lock_guard lock(mutex_);
  return selected_;
}

uint16_t PrinterEmulator::AcknowledgedCrc() const {
  std::lock_guard lock(mutex_);
  return AcknowledgedCrcLocked();
}

uint16_t PrinterEmulator::ProgramAreaCrc() const {
  std::lock_guard lock(mutex_);
  return Crc16(flash_.data() + kProgramAreaStart, flash_.size() - kProgramAreaStart);
}

std::vector<uint8_t> PrinterEmulator::Flash() const {
  std::lock_guard lock(mutex_);
  return flash_;
}

std::vector<uint8_t> PrinterEmulator::Sector(int sector) const {
  if (!ValidSector(sector)) return {};
  std::lock_guard lock(mutex_);
  const auto first = flash_.begin() + static_cast<std::ptrdiff_t>(SectorAddress(sector));
  return {first, first + static_cast<std::ptrdiff_t>(SectorSize(sector))};
}

void PrinterEmulator::LoadImage(const std::vector<uint8_t>& image) {
  std::lock_guard lock(mutex_);
  std::copy_n(image.begin(), std::min(image.size(), flash_.size()), flash_.begin());
}

bool PrinterEmulator::LoadImageFile(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = "cannot open " + path;
    return false;
  }
  std::vector<uint8_t> image(kFlashSize);
  in.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(image.size()));
  if (in.bad()) {
    if (error) *error = "cannot read " + path;
    return false;
  }
  image.resize(static_cast<size_t>(in.gcount()));
  LoadImage(image);
  return true;
}

bool PrinterEmulator::WriteFlashFile(const std::string& path, std::string* error) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  {
    std::lock_guard lock(mutex_);
    out.write(reinterpret_cast<const char*>(flash_.data()),
              static_cast<std::streamsize>(flash_.size()));
  }
  out.close();
  if (!out) {
    if (error) *error = "cannot write " + path;
    return false;
  }
  return true;
}

std::vector<TranscriptEntry> PrinterEmulator::Transcript(size_t from) const {
  std::lock_guard lock(mutex_);
  if (from >= transcript_.size()) return {};
  return {transcript_.begin() + static_cast<std::ptrdiff_t>(from), transcript_.end()};
}

std::string PrinterEmulator::TranscriptText() const {
  std::string text;
  for (const TranscriptEntry& e : Transcript()) text += e.Text() + "\n";
  return text;
}

bool PrinterEmulator::WriteTranscriptFile(const std::string& path, std::string* error) const {
  const std::string text = TranscriptText();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) {
    if (error) *error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace quillon::sim
