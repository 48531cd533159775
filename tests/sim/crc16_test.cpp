#include "sim/crc16.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace quillon::sim {
namespace {

uint16_t Crc(std::string_view text) {
  return Crc16(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// The value computed the slow way, one bit at a time.
uint16_t BitwiseCrc(const std::vector<uint8_t>& data) {
  uint16_t crc = 0;
  for (uint8_t b : data) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

TEST(Crc16Test, CheckValues) {
  EXPECT_EQ(Crc("123456789"), 0xBB3D);
  EXPECT_EQ(Crc("abc"), 0x9738);
  EXPECT_EQ(Crc(""), 0x0000);
  const std::vector<uint8_t> erased(16384, 0xFF);
  EXPECT_EQ(Crc16(erased.data(), erased.size()), 0x4400);
}

TEST(Crc16Test, AgreesWithBitwiseComputationOnEveryByteValue) {
  std::vector<uint8_t> data;
  for (int i = 0; i < 1024; ++i) data.push_back(static_cast<uint8_t>(i * 37 + (i >> 3)));
  EXPECT_EQ(Crc16(data.data(), data.size()), BitwiseCrc(data));
  for (int b = 0; b < 256; ++b) {
    const std::vector<uint8_t> one = {static_cast<uint8_t>(b)};
    EXPECT_EQ(Crc16(one.data(), 1), BitwiseCrc(one)) << b;
  }
}

TEST(Crc16Test, ContinuesAcrossPieces) {
  const std::string_view text = "123456789";
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  EXPECT_EQ(Crc16(bytes + 4, 5, Crc16(bytes, 4)), 0xBB3D);
}

}  // namespace
}  // namespace quillon::sim
