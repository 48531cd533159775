#pragma once
// The printer's side of the flash download: a model of the passbook printer's
// flash loader and its 70-sector flash memory. It takes the bytes the host
// writes, with the time they arrived, and gives back the answer bytes with the
// time each one goes out. It never reads a clock itself, so the same model
// serves the in-memory line (virtual time) and the pseudo-terminal program
// (real time).
//
// Loader states:
//   normal    - at power-on and after a reset: only the switch frame counts,
//               everything else is ignored without an answer;
//   starting  - for the boot delay after the switch, and for the restart time
//               after the first block of an IPL download: deaf;
//   download  - the loader answers every command.
// A frame belongs to the state in force when its last byte arrives.
//
// IPL download: a data block into sector 4 while nothing has been erased
// since the switch is the first block of an IPL. The loader ACKs it and then
// restarts (once per switch); afterwards it is in download mode again without
// a new switch. A restart and a reset both forget the selected sector.
//
// "Acknowledge checksum" answers the CRC-16 of every data byte of the last
// block taken in (also of bytes beyond the end of the sector, and of a block
// refused for want of a selected sector); 0 before the first block.
//
// Every command the printer takes in (not ignored) is numbered 1, 2, 3, ...;
// fault knobs that name "the Nth command" count those, per kind or overall.
// A command hit by a fault (a replaced answer, or silence) is not carried
// out: the printer failed it.
//
// Leaving the bus: a USB printer restarts its USB interface now and then (a
// real one does when it enters its loader, and when the loader restarts).
// The emulator models when: two seconds after a given command and its answer
// (the host has fetched the answer by then), or while a given data block is
// coming in (it leaves once the host has written the block, as a USB driver
// takes a block and returns before the printer has it, and the block is
// lost). It then tells its bus listener the time span it is away; the
// transport carries that out (the built-in USB printer vanishes, the USB
// gadget is unbound and bound again). The loader keeps its state; a frame
// that was coming in is lost, and bytes that reach it while away are dropped.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::sim {

inline constexpr uint8_t kGs = 0x1D;
inline constexpr uint8_t kAck = 0x06;
inline constexpr uint8_t kNak = 0x15;
inline constexpr uint8_t kStandardModel = 0x23;

// Second bytes of the commands (the first byte is always GS).
inline constexpr uint8_t kCmdLineStatus = 0x01;
inline constexpr uint8_t kCmdSelect = 0x02;
inline constexpr uint8_t kCmdChecksum = 0x06;
inline constexpr uint8_t kCmdRecalc = 0x0F;
inline constexpr uint8_t kCmdErase = 0x10;
inline constexpr uint8_t kCmdData = 0x11;
inline constexpr uint8_t kCmdSwitch1 = 0x5B;
inline constexpr uint8_t kCmdSwitch2 = 0x7D;
inline constexpr uint8_t kCmdReset = 0xFF;

inline constexpr int kSectorCount = 70;
inline constexpr size_t kFlashSize = 4'390'912;
// The program area: sectors 5..70. "Recalculate CRC" answers the CRC-16 of
// these bytes (sectors 1..4 hold the boot code and the IPL).
inline constexpr size_t kProgramAreaStart = 0x10000;

enum class CommandKind {
  kSwitch,
  kLineStatus,
  kSelect,
  kErase,
  kData,
  kChecksum,
  kRecalc,
  kReset,
  kUnknown,  // GS followed by a byte that is no command
  kStray,    // bytes outside any frame
};
inline constexpr int kCommandKinds = 8;  // kSwitch..kReset

// "switch", "status", "select", "erase", "data", "checksum", "recalc",
// "reset", "unknown", "stray".
std::string_view CommandName(CommandKind kind);
// The kind for one of the first eight names; nullopt for anything else.
std::optional<CommandKind> CommandFromName(std::string_view name);

// One injected fault: the Nth command of a kind (nth 0: every one) gets
// `byte` as its whole answer, or no answer at all when `silent`.
struct Fault {
  CommandKind command = CommandKind::kLineStatus;
  int nth = 0;
  bool silent = false;
  uint8_t byte = kNak;
  bool operator==(const Fault&) const = default;
};

// When the printer leaves the bus: after the Nth command of a kind, or while
// the Nth data block comes in (`during`; counting the blocks whose header
// came while the loader listened).
struct Replug {
  CommandKind command = CommandKind::kSwitch;
  int nth = 0;  // from 1; 0: every one
  bool during = false;
  bool operator==(const Replug&) const = default;
};
inline constexpr int64_t kGoneForGood = std::numeric_limits<int64_t>::max();
// After a command (and its answer, if any): this long before it leaves. A
// USB host fetches an answer a second or so after its command (it starts a
// reader for each answer), and the answer must not go with the bus.
inline constexpr int64_t kLeaveAfterAnswerMs = 2000;

// A time span the printer is away from the bus; untilMs is kGoneForGood for
// a printer that does not come back.
struct BusAbsence {
  int64_t fromMs = 0;
  int64_t untilMs = 0;
  bool operator==(const BusAbsence&) const = default;
};

struct EmulatorOptions {
  // Second byte of the line-status answer (0x23: a standard model).
  uint8_t statusByte = kStandardModel;
  // Deaf time after the switch before the loader answers.
  int64_t bootDelayMs = 1000;
  // Deaf time after the loader restarts at the start of an IPL download,
  // counted from the last byte of the block's ACK.
  int64_t restartMs = 3000;
  // Time from a frame's last byte to the first byte of its answer.
  int64_t answerDelayMs = 0;
  // Time between the bytes of one answer.
  int64_t byteGapMs = 0;
  std::vector<Fault> faults;
  // From this command on (counting every command taken in) nothing is
  // answered or carried out; 0: never.
  int silentFrom = 0;
  // The checksum acknowledged after a block into one of these sectors is
  // wrong (the true CRC with every bit inverted).
  std::set<int> badCrcSectors;
  // Programming only clears bits, as raw NOR flash does; by default a data
  // block replaces the bytes it covers.
  bool programClearsBitsOnly = false;
  // Leaving the bus (for a USB transport): never by default; away this long
  // each time (kGoneForGood: it does not come back).
  std::vector<Replug> replugs;
  int64_t replugGoneMs = 3000;
};

// One answer byte and the monotonic time it goes out.
struct TimedByte {
  uint8_t byte = 0;
  int64_t atMs = 0;
  bool operator==(const TimedByte&) const = default;
};

enum class LoaderState { kNormal, kStarting, kDownload };

// One line of the transcript: a frame recognised, or a run of stray bytes.
struct TranscriptEntry {
  enum class Outcome {
    kAnswered,  // `answer` went out
    kNone,      // the command has no answer
    kSilent,    // an answer was due and a fault swallowed it
    kIgnored,   // the loader was not listening, or the printer was off the bus
  };
  int64_t timeMs = 0;  // arrival of the frame's last byte (first byte for strays)
  CommandKind kind = CommandKind::kUnknown;
  int number = 0;       // 1, 2, ... for commands taken in; 0 when ignored
  int sector = -1;      // select, erase: the argument; data: the selected sector
  int64_t length = -1;  // data: block length; stray: byte count
  uint8_t code = 0;     // unknown: the byte after GS
  Outcome outcome = Outcome::kNone;
  std::vector<uint8_t> answer;
  std::string note;

  // One readable line, e.g. "    1010 ms  #3    erase    sector 5       -> 06".
  std::string Text() const;
};

class PrinterEmulator {
 public:
  explicit PrinterEmulator(EmulatorOptions options = {});
  PrinterEmulator(const PrinterEmulator&) = delete;
  PrinterEmulator& operator=(const PrinterEmulator&) = delete;

  // Takes n bytes the host wrote, all arriving at nowMs (calls come in time
  // order), and returns the answer bytes they cause, in order. Answers due
  // once the printer has left the bus are not given.
  std::vector<TimedByte> Feed(const uint8_t* data, size_t n, int64_t nowMs);

  // Who is told when the printer leaves the bus: called from Feed, on the
  // feeding thread, without the emulator's lock held. Set it before the
  // first Feed.
  void SetBusListener(std::function<void(const BusAbsence&)> listener);
  // The last time span the printer was (or is to be) away, if any.
  std::optional<BusAbsence> LastAbsence() const;
  std::vector<TimedByte> Feed(const std::vector<uint8_t>& data, int64_t nowMs) {
    return Feed(data.data(), data.size(), nowMs);
  }

  LoaderState State(int64_t nowMs) const;
  // The sector a data block would go to; 0 for none.
  int SelectedSector() const;
  // The checksum "acknowledge checksum" would answer now.
  uint16_t AcknowledgedCrc() const;
  // What "recalculate CRC" answers: the CRC-16 of the program area.
  uint16_t ProgramAreaCrc() const;

  // Flash contents.
  std::vector<uint8_t> Flash() const;
  std::vector<uint8_t> Sector(int sector) const;  // empty for an invalid number
  // Overwrites flash from address 0 with `image` (a shorter image leaves the
  // rest as it was; a longer one is cut at the end of flash).
  void LoadImage(const std::vector<uint8_t>& image);
  bool LoadImageFile(const std::string& path, std::string* error = nullptr);
  bool WriteFlashFile(const std::string& path, std::string* error = nullptr) const;

  // The transcript, from entry `from` on.
  std::vector<TranscriptEntry> Transcript(size_t from = 0) const;
  std::string TranscriptText() const;  // one line per entry
  bool WriteTranscriptFile(const std::string& path, std::string* error = nullptr) const;

  // Flash geometry: sectors 1..70.
  static bool ValidSector(int sector) { return sector >= 1 && sector <= kSectorCount; }
  static size_t SectorSize(int sector);     // 0 for an invalid number
  static size_t SectorAddress(int sector);  // kFlashSize for an invalid number

 private:
  enum class Parse { kIdle, kCommand, kSwitch, kArgument, kHeader, kBody };
  enum class Mode { kNormal, kDownload };

  void Byte(uint8_t b, int64_t now, std::vector<TimedByte>& out);
  void Stray(int64_t now);
  void Unknown(uint8_t code, int64_t now);
  void Frame(CommandKind kind, int64_t now, std::vector<TimedByte>& out);
  // Carries out a command taken in; fills the entry's answer and note.
  void Execute(TranscriptEntry& e, int64_t now);
  void Send(TranscriptEntry& e, int64_t now, std::vector<TimedByte>& out);
  // The printer leaves the bus from `from`: noted, and told after Feed.
  void Leave(int64_t from, TranscriptEntry& e);
  // Bytes arriving at `now` while off the bus; the frame in flight is lost
  // when the printer leaves. True if the printer is away at `now`.
  bool Away(int64_t now, size_t n);
  LoaderState StateLocked(int64_t now) const;
  uint16_t AcknowledgedCrcLocked() const;

  const EmulatorOptions options_;
  mutable std::mutex mutex_;

  std::vector<uint8_t> flash_;
  std::vector<TranscriptEntry> transcript_;
  bool strayOpen_ = false;  // the last transcript entry is a run still growing

  // Frame parser.
  Parse parse_ = Parse::kIdle;
  uint8_t command_ = 0;
  uint8_t argument_ = 0;
  std::array<uint8_t, 4> header_{};
  size_t headerGot_ = 0;
  size_t blockLength_ = 0;
  std::vector<uint8_t> block_;

  // Loader.
  Mode mode_ = Mode::kNormal;
  int64_t readyAtMs_ = 0;    // download mode listens from here on
  bool restarting_ = false;  // the deaf time is the IPL restart, not the boot
  int selected_ = 0;
  bool erasedSinceSwitch_ = false;
  bool iplRestartDone_ = false;
  uint16_t lastBlockCrc_ = 0;
  int lastBlockSector_ = 0;
  int64_t lastAnswerAtMs_ = std::numeric_limits<int64_t>::min();

  // Counters for the fault knobs.
  int taken_ = 0;
  std::array<int, kCommandKinds> takenOfKind_{};
  int blocksBegun_ = 0;        // data blocks whose header came while listening
  bool leaveInBlock_ = false;  // the printer leaves with the block being parsed

  // Leaving the bus.
  std::function<void(const BusAbsence&)> busListener_;
  std::optional<BusAbsence> absence_;  // the last one
  bool absenceBegun_ = false;          // the parser was reset for it
  std::optional<BusAbsence> toTell_;   // not yet told to the listener
};

}  // namespace quillon::sim
