#pragma once
// Image data with a recognisable pattern, the same for a seed.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillon::testing {

inline std::vector<uint8_t> Pattern(size_t size, uint32_t seed = 1) {
  std::vector<uint8_t> data(size);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& b : data) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return data;
}

}  // namespace quillon::testing
