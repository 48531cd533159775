#include "protocol/crc.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace quillon::protocol {
namespace {

// The register as sixteen cells c0..c15, fed bit by bit, least significant
// bit first; its value reads c0 as bit 15 down to c15 as bit 0.
uint16_t CellModel(const std::vector<uint8_t>& data) {
  int c[16] = {};
  for (uint8_t byte : data) {
    for (int bit = 0; bit < 8; ++bit) {
      const int b = (byte >> bit) & 1;
      const int f = c[15] ^ b;
      int next[16];
      next[15] = c[14] ^ f;
      for (int i = 3; i <= 14; ++i) next[i] = c[i - 1];
      next[2] = c[1] ^ f;
      next[1] = c[0];
      next[0] = f;
      std::copy(next, next + 16, c);
    }
  }
  uint16_t value = 0;
  for (int i = 0; i < 16; ++i) value |= static_cast<uint16_t>(c[i] << (15 - i));
  return value;
}

uint16_t Crc(const std::string& s) {
  return CrcRegister::Of(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

TEST(Crc16, CheckValues) {
  EXPECT_EQ(Crc("123456789"), 0xBB3D);
  EXPECT_EQ(Crc("abc"), 0x9738);
  EXPECT_EQ(Crc(""), 0x0000);
  const std::vector<uint8_t> erased(16384, 0xFF);
  EXPECT_EQ(CrcRegister::Of(erased.data(), erased.size()), 0x4400);
}

TEST(Crc16, TableFormAgreesWithTheCellModel) {
  std::mt19937 random(2026);
  for (size_t length : {1u, 2u, 7u, 64u, 1000u}) {
    std::vector<uint8_t> data(length);
    for (auto& b : data) b = static_cast<uint8_t>(random());
    EXPECT_EQ(CrcRegister::Of(data.data(), data.size()), CellModel(data)) << length;
  }
  EXPECT_EQ(CellModel({'1', '2', '3', '4', '5', '6', '7', '8', '9'}), 0xBB3D);
}

TEST(Crc16, PiecewiseFeedingAndResetGiveTheSameValue) {
  const std::string text = "123456789";
  CrcRegister crc;
  crc.Update(0x55);
  crc.Reset();
  crc.Update(reinterpret_cast<const uint8_t*>(text.data()), 4);
  crc.Update(reinterpret_cast<const uint8_t*>(text.data()) + 4, 5);
  EXPECT_EQ(crc.Value(), 0xBB3D);
}

}  // namespace
}  // namespace quillon::protocol
