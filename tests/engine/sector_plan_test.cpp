#include "engine/sector_plan.h"

#include <gtest/gtest.h>

#include <numeric>

namespace quillon::engine {
namespace {

std::vector<int> Range(int first, int last) {
  std::vector<int> v(static_cast<size_t>(last - first + 1));
  std::iota(v.begin(), v.end(), first);
  return v;
}

std::vector<int> Plan(int64_t bytes, int first, bool* fitsOut = nullptr) {
  bool fits = false;
  auto plan = BuildSectorPlan(bytes, first, flashSectorSizes, fits);
  if (fitsOut) *fitsOut = fits;
  return plan;
}

TEST(SectorTable, SizesAndAddresses) {
  EXPECT_EQ(flashSectorSizes[0], 70u);
  EXPECT_EQ(flashSectorSizes[1], 16384u);
  EXPECT_EQ(flashSectorSizes[2], 8192u);
  EXPECT_EQ(flashSectorSizes[3], 8192u);
  EXPECT_EQ(flashSectorSizes[4], 32768u);
  uint64_t total = 0;
  for (int s = 1; s <= kLastSector; ++s) total += flashSectorSizes[s];
  EXPECT_EQ(total, 4390912u);
  EXPECT_EQ(firstSector(1, 0), 6);
  EXPECT_EQ(firstSector(0, 1), 4);
  EXPECT_EQ(firstSector(0, 0), 18);
}

TEST(SectorTable, PieceRule) {
  EXPECT_EQ(PieceSize(65536), 16384);
  EXPECT_EQ(PieceCount(65536), 4);
  EXPECT_EQ(PieceCount(32768), 2);
  EXPECT_EQ(PieceCount(16384), 1);
  EXPECT_EQ(PieceSize(8192), 8192);
  EXPECT_EQ(PieceCount(8192), 1);
}

TEST(SectorPlan, CoversTheImageWithWholeSectors) {
  EXPECT_EQ(Plan(65536, 18), (std::vector<int>{18}));
  EXPECT_EQ(Plan(65537, 18), (std::vector<int>{18, 19}));
  EXPECT_EQ(Plan(32769 - kIplSkip, 4), (std::vector<int>{4}));
  EXPECT_EQ(Plan(131072 - kIplSkip, 4), (std::vector<int>{4, 5}));
  EXPECT_TRUE(Plan(32768 - kIplSkip, 4).empty());
  EXPECT_TRUE(Plan(100 - kIplSkip, 4).empty());
  EXPECT_EQ(Plan(1048576, 6), Range(6, 21));
  EXPECT_EQ(Plan(1048577, 6), Range(6, 22));
}

TEST(SectorPlan, AnImageBeyondTheLastSectorDoesNotFit) {
  bool fits = false;
  EXPECT_EQ(Plan(65 * 65536, 6, &fits), Range(6, 70));
  EXPECT_TRUE(fits);
  Plan(65 * 65536 + 1, 6, &fits);
  EXPECT_FALSE(fits);
  Plan(53 * 65536, 18, &fits);
  EXPECT_TRUE(fits);
  Plan(53 * 65536 + 1, 18, &fits);
  EXPECT_FALSE(fits);
  // IPL data after the skip: sectors 4 and 5 at most, the main firmware's
  // first sector (6) is out of its reach.
  EXPECT_EQ(Plan(32768 + 65536, 4, &fits), (std::vector<int>{4, 5}));
  EXPECT_TRUE(fits);
  Plan(32768 + 65536 + 1, 4, &fits);
  EXPECT_FALSE(fits);
  Plan(163840 - kIplSkip, 4, &fits);
  EXPECT_FALSE(fits);
  Plan(32768 + 66 * 65536, 4, &fits);
  EXPECT_FALSE(fits);
}

}  // namespace
}  // namespace quillon::engine
