#pragma once
// CRC-16 of flash data: polynomial x^16 + x^15 + x^2 + 1 in reflected form
// (0xA001), initial value 0, no final XOR (CRC-16/ARC).

#include <cstddef>
#include <cstdint>

namespace quillon::protocol {

namespace detail {
struct CrcTable {
  uint16_t entry[256];
  constexpr CrcTable() : entry() {
    for (int i = 0; i < 256; ++i) {
      uint16_t crc = static_cast<uint16_t>(i);
      for (int bit = 0; bit < 8; ++bit) {
        crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001)
                        : static_cast<uint16_t>(crc >> 1);
      }
      entry[i] = crc;
    }
  }
};
inline constexpr CrcTable kCrcTable{};
}  // namespace detail

class CrcRegister {
 public:
  void Reset() { value_ = 0; }
  void Update(uint8_t byte) {
    value_ = static_cast<uint16_t>((value_ >> 8) ^ detail::kCrcTable.entry[(value_ ^ byte) & 0xFF]);
  }
  void Update(const uint8_t* data, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) Update(data[i]);
  }
  uint16_t Value() const { return value_; }

  static uint16_t Of(const uint8_t* data, std::size_t n) {
    CrcRegister crc;
    crc.Update(data, n);
    return crc.Value();
  }

 private:
  uint16_t value_ = 0;
};

}  // namespace quillon::protocol
