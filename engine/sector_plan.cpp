#include "engine/sector_plan.h"

namespace quillon::engine {

// Entry 0: the number of sectors; 1: 16 KiB; 2 and 3: 8 KiB; 4: 32 KiB;
// 5 to 70: 64 KiB each.
const uint32_t flashSectorSizes[kLastSector + 1] = {
    70,      0x4000,  0x2000,  0x2000,  0x8000,  0x10000, 0x10000, 0x10000, 0x10000,
    0x10000, 0x10000, 0x10000, 0x10000, 0x10000, 0x10000, 0x10000, 0x10000, 0x10000,
    0x10000, 0x10000, 0x10000, 0x10000, 0x10000, 0x10000, 0x10000, 0x10000, 0x10000,
    0x10000, 0x10000, 0x10000, 0x10000, 0x10000, 0x10000, 0x10000, 0x10000, 0x10000,
    0x10000, 0x10000, 0x10000, 0x10000, 0x10000, 0x10000, 0x10000, 0x10000, 0x10000,
    0x10000, 0x10000, 0x10000, 0x10000, 0x10000, 0x10000, 0x10000, 0x10000, 0x10000,
    0x10000, 0x10000, 0x10000, 0x10000, 0x10000, 0x10000, 0x10000, 0x10000, 0x10000,
    0x10000, 0x10000, 0x10000, 0x10000, 0x10000, 0x10000, 0x10000, 0x10000};

int firstSector(int mainProg, int iplProg) {
  if (mainProg) return kMainFirstSector;
  if (iplProg) return kIplFirstSector;
  return kFontFirstSector;
}

std::vector<int> BuildSectorPlan(int64_t imageBytes, int first, const uint32_t* sizes, bool& fits) {
  std::vector<int> plan;
  fits = true;
  int64_t remaining = imageBytes;
  const int last = LastSectorFrom(first);
  for (int s = first; remaining > 0; ++s) {
    if (s < 1 || s > last) {
      fits = false;
      break;
    }
    plan.push_back(s);
    remaining -= sizes[s];
  }
  return plan;
}

}  // namespace quillon::engine
