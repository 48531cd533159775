#pragma once
// One soak run as drawn from its seed: the interface, the download type, the
// image, and up to three faults from the emulator's and the printer port's
// knobs. The same seed and interface always give the same scenario.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/model_table.h"
#include "platform/device.h"
#include "ports/link.h"
#include "sim/printer_emulator.h"

namespace quillon::soak {

using ports::Interface;

inline constexpr std::array<Interface, 3> kInterfaces = {Interface::kSerial, Interface::kParallel,
                                                         Interface::kUsb};
std::string_view InterfaceName(Interface iface);

// The image the run downloads.
enum class ImageKind {
  kValid,
  kBeyondLastSector,  // needs a sector past 70: refused with 1020
  kEmpty,             // an empty main firmware or font image: 1020
  kMissing,           // no such file: 1007
};

// The kinds of fault a run may draw.
enum class FaultKind {
  kNak,               // NAK for the Nth command of a kind
  kOtherByte,         // another single byte for the Nth command of a kind
  kOtherModel,        // the line status names another model than the standard one
  kSilentCommand,     // no answer to the Nth command of a kind
  kSilentFrom,        // no answer from the Nth command on
  kBadChecksum,       // a wrong checksum for a sector
  kSlowAnswers,       // every answer late, around one of the deadlines
  kByteGaps,          // answers byte by byte
  kLateBoot,          // the loader starts late after the switch
  kLateRestart,       // the IPL loader restarts late
  kVanishOnWrite,     // the USB printer or parallel port goes on the Nth write
  kNegotiationFails,  // the Nth negotiation of a mode fails
  kGrantInstead,      // the Nth negotiation of a mode grants other modes
  kDeviceIdFails,     // the USB device id request fails (from the start or later)
  kStatusFails,       // the USB status request fails (from the start or later)
  kReplug,            // the USB printer leaves the bus and comes back (or not)
  kCount
};
inline constexpr int kFaultKinds = static_cast<int>(FaultKind::kCount);
std::string_view FaultName(FaultKind kind);

// A negotiation fault of the parallel port.
struct NegotiationFault {
  platform::NegotiationMask ask;
  int nth = 0;
  bool fails = true;
  platform::NegotiationMask granted;  // when it does not fail
};

struct Scenario {
  uint64_t seed = 0;
  Interface iface = Interface::kSerial;
  app::DownloadType type = app::DownloadType::kMain;
  ImageKind image = ImageKind::kValid;
  int64_t imageBytes = 0;
  // The sectors the image covers, in plan order (empty for an invalid image
  // and for an IPL image of at most 32 KiB).
  std::vector<int> plan;
  // Where the virtual wall clock starts within its second.
  int64_t wallStartMs = 0;

  sim::EmulatorOptions emulator;
  int vanishOnWrite = 0;
  std::vector<NegotiationFault> negotiation;
  // 0: never; 1: from the start; n > 1: from the nth write call on.
  int deviceIdFailsFrom = 0;
  int statusFailsFrom = 0;

  std::vector<FaultKind> faults;    // as drawn, for the statistics
  std::vector<std::string> detail;  // one line per fault

  bool Valid() const { return image == ImageKind::kValid; }
  int FirstSector() const;
  // A one-line summary, e.g. "usb main 3 sectors (150001 bytes); NAK for erase #2".
  std::string Describe() const;
};

// The scenario of `seed` on `iface`.
Scenario DrawScenario(uint64_t seed, Interface iface);

// The image's bytes (deterministic in the seed), and the flash contents the
// printer holds before the run.
std::vector<uint8_t> ImageBytes(const Scenario& s);
std::vector<uint8_t> FlashBefore(const Scenario& s);

}  // namespace quillon::soak
