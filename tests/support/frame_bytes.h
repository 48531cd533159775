#pragma once
// How many bytes the host sent for a frame the printer's transcript records.

#include <cstdint>

#include "sim/printer_emulator.h"

namespace quillon::testing {

inline int64_t FrameBytes(const sim::TranscriptEntry& e) {
  switch (e.kind) {
    case sim::CommandKind::kSwitch:
    case sim::CommandKind::kSelect:
    case sim::CommandKind::kErase:
      return 3;
    case sim::CommandKind::kData:
      return 2 + 4 + e.length;  // the command, the header, the block
    case sim::CommandKind::kStray:
      return e.length;
    case sim::CommandKind::kLineStatus:
    case sim::CommandKind::kChecksum:
    case sim::CommandKind::kRecalc:
    case sim::CommandKind::kReset:
    case sim::CommandKind::kUnknown:
      return 2;
  }
  return 0;
}

}  // namespace quillon::testing
