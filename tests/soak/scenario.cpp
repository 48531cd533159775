#include "soak/scenario.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>

#include "engine/sector_plan.h"
#include "platform/fake_printer_port.h"

namespace quillon::soak {

namespace {

using sim::CommandKind;
using Rng = std::mt19937_64;

constexpr int kIplFirst = engine::kIplFirstSector;
constexpr int kMainFirst = engine::kMainFirstSector;
constexpr int kFontFirst = engine::kFontFirstSector;
constexpr int64_t kIplSkip = engine::kIplSkip;

int Uniform(Rng& rng, int lo, int hi) {
  return std::uniform_int_distribution<int>(lo, hi)(rng);
}
int64_t Uniform64(Rng& rng, int64_t lo, int64_t hi) {
  return std::uniform_int_distribution<int64_t>(lo, hi)(rng);
}
bool Chance(Rng& rng, int percent) {
  return Uniform(rng, 0, 99) < percent;
}

// The sectors from `first` on that hold `bytes` bytes, by the emulator's own
// flash geometry (not the host's sector table).
std::vector<int> Cover(int first, int64_t bytes) {
  std::vector<int> plan;
  for (int s = first; bytes > 0 && sim::PrinterEmulator::ValidSector(s); ++s) {
    plan.push_back(s);
    bytes -= static_cast<int64_t>(sim::PrinterEmulator::SectorSize(s));
  }
  return plan;
}

int64_t SizeOf(int first, int count) {
  int64_t total = 0;
  for (int s = first; s < first + count; ++s) {
    total += static_cast<int64_t>(sim::PrinterEmulator::SectorSize(s));
  }
  return total;
}

// How many commands of each kind a download of the scenario sends when
// nothing goes wrong.
struct Counts {
  std::array<int, sim::kCommandKinds> of{};
  int total = 0;
  int& operator[](CommandKind k) { return of[static_cast<size_t>(k)]; }
};

Counts Expected(const Scenario& s) {
  Counts c;
  const int p = static_cast<int>(s.plan.size());
  const bool ipl = s.type == app::DownloadType::kIpl;
  c[CommandKind::kSwitch] = 1;
  c[CommandKind::kLineStatus] = ipl && p > 0 ? 2 : 1;
  c[CommandKind::kErase] = ipl ? (p >= 2 ? 1 : 0) : p;
  c[CommandKind::kSelect] = p;
  c[CommandKind::kData] = p;
  c[CommandKind::kChecksum] = ipl ? std::max(p - 1, 0) : p;
  c[CommandKind::kRecalc] = s.type == app::DownloadType::kMain ? 1 : 0;
  c[CommandKind::kReset] = 1;
  for (int n : c.of) c.total += n;
  return c;
}

std::string Hex(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X", value);
  return text;
}

std::string ModeText(const platform::NegotiationMask& m) {
  std::string text = "{";
  text += Hex(m.usReadMask);
  text += ',';
  text += Hex(m.usWriteMask);
  text += '}';
  return text;
}

// Fills `out` from a 64-bit mixing sequence: cheap, and the same for a seed.
void Fill(std::vector<uint8_t>& out, uint64_t seed) {
  uint64_t x = seed;
  for (size_t i = 0; i < out.size(); i += 8) {
    x += 0x9E3779B97F4A7C15ULL;
    uint64_t z = x;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    z ^= z >> 31;
    for (size_t b = 0; b < 8 && i + b < out.size(); ++b) {
      out[i + b] = static_cast<uint8_t>(z >> (8 * b));
    }
  }
}

class Drawer {
 public:
  Drawer(Scenario& s, Rng& rng) : s_(s), rng_(rng), counts_(Expected(s)) {}

  // Adds one fault of a kind that applies to the scenario; false if `kind`
  // does not.
  bool Add(FaultKind kind) {
    const bool usb = s_.iface == Interface::kUsb;
    const bool parallel = s_.iface == Interface::kParallel;
    switch (kind) {
      case FaultKind::kNak:
      case FaultKind::kOtherByte:
      case FaultKind::kSilentCommand:
        return AddCommandFault(kind);
      case FaultKind::kOtherModel:
        do {
          s_.emulator.statusByte = static_cast<uint8_t>(Uniform(rng_, 0, 255));
        } while (s_.emulator.statusByte == sim::kStandardModel);
        Note(kind, "line status names model " + Hex(s_.emulator.statusByte));
        return true;
      case FaultKind::kSilentFrom:
        s_.emulator.silentFrom = Uniform(rng_, 1, counts_.total + 1);
        Note(kind, "silent from command #" + std::to_string(s_.emulator.silentFrom));
        return true;
      case FaultKind::kBadChecksum: {
        std::vector<int> checked = s_.plan;
        // The first IPL sector is never checksummed.
        if (s_.type == app::DownloadType::kIpl && !checked.empty()) checked.erase(checked.begin());
        if (checked.empty()) return false;
        const int sector =
            checked[static_cast<size_t>(Uniform(rng_, 0, static_cast<int>(checked.size()) - 1))];
        s_.emulator.badCrcSectors.insert(sector);
        Note(kind, "wrong checksum for sector " + std::to_string(sector));
        return true;
      }
      case FaultKind::kSlowAnswers: {
        // Around the deadlines of the interface: the serial read time-outs,
        // the whole-second answer waits of the receive threads.
        static constexpr int64_t kSerial[] = {1000, 1500, 2000, 5000, 60000};
        static constexpr int64_t kThreads[] = {4000,  5000,  30000, 31000,
                                               50000, 51000, 80000, 81000};
        const int64_t base = s_.iface == Interface::kSerial ? kSerial[Uniform(rng_, 0, 4)]
                                                            : kThreads[Uniform(rng_, 0, 7)];
        s_.emulator.answerDelayMs = std::max<int64_t>(0, base + Uniform64(rng_, -1500, 1500));
        Note(kind, "answers " + std::to_string(s_.emulator.answerDelayMs) + " ms late");
        return true;
      }
      case FaultKind::kByteGaps: {
        static constexpr int64_t kGaps[] = {50, 750, 1000, 2000, 4000, 5000};
        const int64_t base = kGaps[Uniform(rng_, 0, 5)];
        s_.emulator.byteGapMs = std::max<int64_t>(1, base + Uniform64(rng_, -base / 2, base / 2));
        Note(kind, "answer bytes " + std::to_string(s_.emulator.byteGapMs) + " ms apart");
        return true;
      }
      case FaultKind::kLateBoot:
        s_.emulator.bootDelayMs = Uniform64(rng_, 1000, 60000);
        Note(kind,
             "loader starts " + std::to_string(s_.emulator.bootDelayMs) + " ms after the switch");
        return true;
      case FaultKind::kLateRestart:
        if (s_.type != app::DownloadType::kIpl || s_.plan.empty()) return false;
        s_.emulator.restartMs = Uniform64(rng_, 1000, 60000);
        Note(kind, "IPL loader restarts in " + std::to_string(s_.emulator.restartMs) + " ms");
        return true;
      case FaultKind::kVanishOnWrite:
        if (!usb && !parallel) return false;
        s_.vanishOnWrite = Uniform(rng_, 1, 3 * counts_.total + 8);
        Note(kind, "device gone on write call " + std::to_string(s_.vanishOnWrite));
        return true;
      case FaultKind::kNegotiationFails:
      case FaultKind::kGrantInstead:
        return parallel && AddNegotiationFault(kind);
      case FaultKind::kDeviceIdFails:
      case FaultKind::kStatusFails: {
        if (!usb) return false;
        const int from = Chance(rng_, 30) ? 1 : Uniform(rng_, 2, 2 * counts_.total + 8);
        (kind == FaultKind::kDeviceIdFails ? s_.deviceIdFailsFrom : s_.statusFailsFrom) = from;
        Note(kind, std::string(kind == FaultKind::kDeviceIdFails ? "device id" : "status") +
                       " request fails " +
                       (from == 1 ? std::string("from the start")
                                  : "from write call " + std::to_string(from)));
        return true;
      }
      case FaultKind::kReplug:
        return usb && AddReplug();
      case FaultKind::kCount:
        break;
    }
    return false;
  }

 private:
  void Note(FaultKind kind, std::string text) {
    s_.faults.push_back(kind);
    s_.detail.push_back(std::move(text));
  }

  bool AddCommandFault(FaultKind kind) {
    // Commands the download sends; mostly those with an answer.
    std::vector<CommandKind> kinds;
    for (int k = 0; k < sim::kCommandKinds; ++k) {
      const auto command = static_cast<CommandKind>(k);
      const bool answered = command != CommandKind::kSwitch && command != CommandKind::kReset;
      if (counts_[command] > 0 && (answered || Chance(rng_, 25))) kinds.push_back(command);
    }
    const CommandKind command =
        kinds[static_cast<size_t>(Uniform(rng_, 0, static_cast<int>(kinds.size()) - 1))];
    sim::Fault fault;
    fault.command = command;
    fault.nth = Chance(rng_, 10) ? 0 : Uniform(rng_, 1, counts_[command]);
    fault.silent = kind == FaultKind::kSilentCommand;
    if (kind == FaultKind::kNak) fault.byte = sim::kNak;
    if (kind == FaultKind::kOtherByte) {
      // Neither ACK (a printer that acknowledges what it did not do is not
      // detectable) nor NAK (a fault of its own).
      do {
        fault.byte = static_cast<uint8_t>(Uniform(rng_, 0, 255));
      } while (fault.byte == sim::kAck || fault.byte == sim::kNak);
    }
    s_.emulator.faults.push_back(fault);
    std::string what = fault.silent ? "no answer" : "answer ";
    if (!fault.silent) what += Hex(fault.byte);
    what += " to ";
    what += sim::CommandName(command);
    what += fault.nth == 0 ? std::string(" (every one)") : " #" + std::to_string(fault.nth);
    Note(kind, what);
    return true;
  }

  // After a command of the download (every one of its kind now and then),
  // or as a data block comes in; away for a while or for good.
  bool AddReplug() {
    sim::Replug r;
    r.during = counts_[CommandKind::kData] > 0 && Chance(rng_, 30);
    if (r.during) {
      r.command = CommandKind::kData;
    } else {
      std::vector<CommandKind> kinds;
      for (int k = 0; k < sim::kCommandKinds; ++k) {
        if (counts_[static_cast<CommandKind>(k)] > 0) kinds.push_back(static_cast<CommandKind>(k));
      }
      r.command = kinds[static_cast<size_t>(Uniform(rng_, 0, static_cast<int>(kinds.size()) - 1))];
    }
    r.nth = Chance(rng_, 10) ? 0 : Uniform(rng_, 1, counts_[r.command]);
    s_.emulator.replugs.push_back(r);
    s_.emulator.replugGoneMs = Chance(rng_, 10) ? sim::kGoneForGood : Uniform64(rng_, 200, 9000);
    Note(FaultKind::kReplug,
         std::string("off the bus ") + (r.during ? "with data block " : "after ") +
             std::string(sim::CommandName(r.command)) +
             (r.nth == 0 ? std::string(" (every one)") : " #" + std::to_string(r.nth)) +
             (s_.emulator.replugGoneMs == sim::kGoneForGood
                  ? std::string(", for good")
                  : ", for " + std::to_string(s_.emulator.replugGoneMs) + " ms"));
    return true;
  }

  bool AddNegotiationFault(FaultKind kind) {
    using namespace platform;
    const bool ipl = s_.type == app::DownloadType::kIpl;
    NegotiationFault f;
    f.ask = Chance(rng_, 50) ? kAskCompatibility : (ipl ? kAskNibble : kAskEcp);
    f.nth = Uniform(rng_, 1, ipl ? 6 : 3);
    f.fails = kind == FaultKind::kNegotiationFails;
    if (!f.fails) {
      static constexpr NegotiationMask kOthers[] = {{kModeNibble, kModeCompatibility},
                                                    {kModeEcpHwNoIrq, kModeCompatibility},
                                                    {kModeNone, kModeEcpHwNoIrq},
                                                    {kModeCompatibility, kModeCompatibility},
                                                    {kModeNone, kModeNone}};
      do {
        f.granted = kOthers[Uniform(rng_, 0, 4)];
      } while (SameModes(f.granted, SameModes(f.ask, kAskEcp)      ? kGrantedEcp
                                    : SameModes(f.ask, kAskNibble) ? kGrantedNibble
                                                                   : kGrantedCompatibility));
    }
    s_.negotiation.push_back(f);
    Note(kind, "negotiation " + ModeText(f.ask) + " #" + std::to_string(f.nth) +
                   (f.fails ? " fails" : " grants " + ModeText(f.granted)));
    return true;
  }

  Scenario& s_;
  Rng& rng_;
  Counts counts_;
};

}  // namespace

std::string_view InterfaceName(Interface iface) {
  switch (iface) {
    case Interface::kSerial:
      return "serial";
    case Interface::kParallel:
      return "parallel";
    case Interface::kUsb:
      return "usb";
  }
  return "?";
}

std::string_view FaultName(FaultKind kind) {
  static constexpr std::array<std::string_view, kFaultKinds> kNames = {"NAK",
                                                                       "other byte",
                                                                       "other model",
                                                                       "silent command",
                                                                       "silent from",
                                                                       "bad checksum",
                                                                       "slow answers",
                                                                       "byte gaps",
                                                                       "late boot",
                                                                       "late restart",
                                                                       "vanish on write",
                                                                       "negotiation fails",
                                                                       "other modes granted",
                                                                       "device id fails",
                                                                       "status fails",
                                                                       "replug"};
  return kNames[static_cast<size_t>(kind)];
}

int Scenario::FirstSector() const {
  switch (type) {
    case app::DownloadType::kMain:
      return kMainFirst;
    case app::DownloadType::kIpl:
      return kIplFirst;
    case app::DownloadType::kFont:
      break;
  }
  return kFontFirst;
}

std::string Scenario::Describe() const {
  static constexpr std::string_view kTypes[] = {"main", "ipl", "font"};
  std::string text = std::string(InterfaceName(iface)) + " " +
                     std::string(kTypes[static_cast<size_t>(type)]) + " ";
  switch (image) {
    case ImageKind::kValid:
      text += std::to_string(plan.size()) + " sector(s), " + std::to_string(imageBytes) + " bytes";
      break;
    case ImageKind::kBeyondLastSector:
      text += "image beyond sector 70 (" + std::to_string(imageBytes) + " bytes)";
      break;
    case ImageKind::kEmpty:
      text += "empty image";
      break;
    case ImageKind::kMissing:
      text += "missing image";
      break;
  }
  if (detail.empty()) text += "; no fault";
  for (const std::string& d : detail) text += "; " + d;
  return text;
}

Scenario DrawScenario(uint64_t seed, Interface iface) {
  std::seed_seq seq{static_cast<uint32_t>(seed), static_cast<uint32_t>(seed >> 32),
                    static_cast<uint32_t>(iface)};
  Rng rng(seq);
  Scenario s;
  s.seed = seed;
  s.iface = iface;
  const int type = Uniform(rng, 0, 99);
  s.type = type < 40   ? app::DownloadType::kMain
           : type < 70 ? app::DownloadType::kIpl
                       : app::DownloadType::kFont;
  const bool ipl = s.type == app::DownloadType::kIpl;
  s.wallStartMs = 1'800'000'000'000 + Uniform(rng, 0, 999);

  // Mostly valid images; a few are refused before anything is sent.
  const int kind = Uniform(rng, 0, 99);
  if (kind < 3) {
    s.image = ImageKind::kBeyondLastSector;
  } else if (kind < 5) {
    s.image = ipl ? ImageKind::kMissing : ImageKind::kEmpty;  // an empty IPL image is valid
  } else if (kind < 8) {
    s.image = ImageKind::kMissing;
  }

  const int first = s.FirstSector();
  // An IPL image may only reach the sector before the main firmware's.
  const int available = engine::LastSectorFrom(first) - first + 1;
  const int64_t skip = ipl ? kIplSkip : 0;
  switch (s.image) {
    case ImageKind::kValid:
      if (ipl && Chance(rng, 30)) {
        // At most 32 KiB: nothing past the skipped part, no sector to send.
        s.imageBytes = Uniform64(rng, 0, kIplSkip);
      } else {
        const int count = Uniform(rng, 1, std::min(4, available));
        const int64_t last =
            static_cast<int64_t>(sim::PrinterEmulator::SectorSize(first + count - 1));
        const int64_t tail = Chance(rng, 20) ? last : Uniform64(rng, 1, last);
        s.imageBytes = skip + SizeOf(first, count - 1) + tail;
      }
      break;
    case ImageKind::kBeyondLastSector:
      s.imageBytes = skip + SizeOf(first, available) + Uniform64(rng, 1, 0x10000);
      break;
    case ImageKind::kEmpty:
    case ImageKind::kMissing:
      s.imageBytes = 0;
      break;
  }
  if (s.Valid()) s.plan = Cover(first, s.imageBytes - skip);

  // Zero to three faults.
  const int roll = Uniform(rng, 0, 99);
  const int faults = roll < 25 ? 0 : roll < 60 ? 1 : roll < 85 ? 2 : 3;
  Drawer drawer(s, rng);
  for (int added = 0; added < faults;) {
    if (drawer.Add(static_cast<FaultKind>(Uniform(rng, 0, kFaultKinds - 1)))) ++added;
  }
  return s;
}

std::vector<uint8_t> ImageBytes(const Scenario& s) {
  std::vector<uint8_t> out(static_cast<size_t>(s.imageBytes));
  Fill(out, s.seed * 2 + 1);
  return out;
}

std::vector<uint8_t> FlashBefore(const Scenario& s) {
  // One random 64 KiB block, repeated with its number in its first bytes:
  // no two blocks alike, and no sector erased (all 0xFF).
  constexpr size_t kBlock = 0x10000;
  std::vector<uint8_t> block(kBlock);
  Fill(block, ~s.seed);
  std::vector<uint8_t> out(sim::kFlashSize);
  for (size_t at = 0; at < out.size(); at += kBlock) {
    const size_t n = std::min(kBlock, out.size() - at);
    std::memcpy(out.data() + at, block.data(), n);
    const uint32_t number = static_cast<uint32_t>(at / kBlock);
    std::memcpy(out.data() + at, &number, std::min(sizeof number, n));
  }
  return out;
}

}  // namespace quillon::soak
