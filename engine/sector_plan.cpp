#include "engine/sector_plan.h"

#include "engine/result_codes.h"

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

int PlanImageFile(int64_t fileBytes, DownloadType type, int first, const uint32_t* sizes,
                  std::vector<int>& plan) {
  bool fits = true;
  plan = BuildSectorPlan(fileBytes - RowOf(type).skip, first, sizes, fits);
  if (!fits || (RowOf(type).firstSectorDeferred && plan.empty())) return kInvalidImage;
  return kSuccess;
}

}  // namespace quillon::engine
