#pragma once
// The command frames of the printer's flash loader and its answer bytes.
// Every command begins with GS (0x1D); arguments follow the prefix directly.

#include <cstdint>

namespace quillon::protocol {

inline constexpr uint8_t kAck = 0x06;
inline constexpr uint8_t kNak = 0x15;
inline constexpr uint8_t kStandardModel = 0x23;  // '#'

inline constexpr uint8_t kSwitchToDownloadFrame[] = {0x1D, 0x5B, 0x7D};
inline constexpr uint8_t kLineStatusFrame[] = {0x1D, 0x01};
inline constexpr uint8_t kSelectSectorPrefix[] = {0x1D, 0x02};
inline constexpr uint8_t kEraseSectorPrefix[] = {0x1D, 0x10};
inline constexpr uint8_t kDataBlockPrefix[] = {0x1D, 0x11};
inline constexpr uint8_t kAckChecksumFrame[] = {0x1D, 0x06};
inline constexpr uint8_t kRecalculateCrcFrame[] = {0x1D, 0x0F};
inline constexpr uint8_t kResetPrinterFrame[] = {0x1D, 0xFF};

// The longest prefix a frame with an argument may have.
inline constexpr int kMaxPrefix = 16;

// Length of a frame or prefix, as the printer commands take it.
template <std::size_t N>
constexpr int FrameLength(const uint8_t (&)[N]) {
  return static_cast<int>(N);
}

}  // namespace quillon::protocol
