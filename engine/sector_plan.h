#pragma once
// Flash sectors, download types and the sector plan of an image file.

#include <cstdint>
#include <vector>

#include "engine/download_type.h"

namespace quillon::engine {

// Sizes of the flash sectors by sector number. Entry 0 holds the number of
// sectors that follow and is never used as a size.
inline constexpr int kLastSector = 70;
extern const uint32_t flashSectorSizes[kLastSector + 1];

// First sector of each download type.
inline constexpr int kMainFirstSector = RowOf(DownloadType::kMain).firstSector;
inline constexpr int kIplFirstSector = RowOf(DownloadType::kIpl).firstSector;
inline constexpr int kFontFirstSector = RowOf(DownloadType::kFont).firstSector;
inline int firstSector(int mainProg, int iplProg) {
  return RowOf(TypeOfFlags(mainProg, iplProg)).firstSector;
}

// An IPL image is laid out from flash address 0; its first 32768 bytes
// (sectors 1 to 3) are never sent.
inline constexpr int64_t kIplSkip = RowOf(DownloadType::kIpl).skip;

// Pieces in which a sector of size S travels.
inline int PieceSize(uint32_t sectorSize) {
  return sectorSize / 16384 >= 1 ? 16384 : 8192;
}
inline int PieceCount(uint32_t sectorSize) {
  return static_cast<int>(sectorSize / static_cast<uint32_t>(PieceSize(sectorSize)));
}

// The last sector a download from `first` may write. An IPL download (from
// sector 4) must end before the main firmware's first sector, which its
// procedure never erases; the others may reach the end of the flash.
inline int LastSectorFrom(int first) {
  return first < kMainFirstSector ? kMainFirstSector - 1 : kLastSector;
}

// The sectors that cover `imageBytes` bytes of data from `first` on, in plan
// order. Sets `fits` to false (and stops) when the data would need a sector
// beyond LastSectorFrom(first).
std::vector<int> BuildSectorPlan(int64_t imageBytes, int first, const uint32_t* sizes, bool& fits);

// The plan of an image file of `fileBytes` bytes of `type`, written from
// sector `first` on: the head the type never sends is left out. kSuccess, or
// kInvalidImage for an image that does not fit, and for an empty main
// firmware or font image (it has no first sector to erase and write last).
int PlanImageFile(int64_t fileBytes, DownloadType type, int first, const uint32_t* sizes,
                  std::vector<int>& plan);

}  // namespace quillon::engine
