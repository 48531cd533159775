#pragma once
// CRC-16/ARC, as the printer's loader computes it over the data it receives:
// polynomial 0x8005 taken bit-reflected (0xA001), initial value 0, no final
// XOR. "123456789" gives 0xBB3D.

#include <array>
#include <cstddef>
#include <cstdint>

namespace quillon::sim {

namespace crc16_detail {

constexpr std::array<uint16_t, 256> MakeTable() {
  std::array<uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t crc = static_cast<uint16_t>(i);
    for (int bit = 0; bit < 8; ++bit) {
      crc =
          (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    table[i] = crc;
  }
  return table;
}

inline constexpr std::array<uint16_t, 256> kTable = MakeTable();

}  // namespace crc16_detail

// Continues `crc` over n bytes; start with 0 for a fresh checksum.
constexpr uint16_t Crc16(const uint8_t* data, size_t n, uint16_t crc = 0) {
  for (size_t i = 0; i < n; ++i) {
    crc = static_cast<uint16_t>((crc >> 8) ^ crc16_detail::kTable[(crc ^ data[i]) & 0xFF]);
  }
  return crc;
}

}  // namespace quillon::sim
