#pragma once
// Host frames, written out byte by byte for the emulator's tests (the tests
// must not borrow the host's own frame code).

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "sim/printer_emulator.h"

namespace quillon::sim::testing {

using Bytes = std::vector<uint8_t>;

inline const Bytes kSwitchFrame = {0x1D, 0x5B, 0x7D};
inline const Bytes kStatusFrame = {0x1D, 0x01};
inline const Bytes kChecksumFrame = {0x1D, 0x06};
inline const Bytes kRecalcFrame = {0x1D, 0x0F};
inline const Bytes kResetFrame = {0x1D, 0xFF};

inline Bytes SelectFrame(int sector) {
  return {0x1D, 0x02, static_cast<uint8_t>(sector)};
}
inline Bytes EraseFrame(int sector) {
  return {0x1D, 0x10, static_cast<uint8_t>(sector)};
}
// A data block; 65536 bytes go out with the length field 00 00.
inline Bytes DataFrame(const Bytes& data) {
  Bytes frame(6 + data.size());
  frame[0] = 0x1D;
  frame[1] = 0x11;
  frame[4] = static_cast<uint8_t>(data.size() & 0xFF);
  frame[5] = static_cast<uint8_t>((data.size() >> 8) & 0xFF);
  std::copy(data.begin(), data.end(), frame.begin() + 6);
  return frame;
}

inline Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// Bytes with a pattern that differs from sector to sector and byte to byte.
inline Bytes Pattern(size_t n, uint8_t seed) {
  Bytes data(n);
  for (size_t i = 0; i < n; ++i) data[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
  return data;
}

inline Bytes AnswerBytes(const std::vector<TimedByte>& answer) {
  Bytes bytes;
  for (const TimedByte& b : answer) bytes.push_back(b.byte);
  return bytes;
}

}  // namespace quillon::sim::testing
