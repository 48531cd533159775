#pragma once
// The status texts a download shows, in the order the procedure may show
// them. The numbered ones take the sector's place in the plan and the
// plan's length.

#include <cstdio>
#include <string>

namespace quillon::engine::status {

inline constexpr char kSwitching[] = "Switching printer to download...";
inline constexpr char kCheckingLine[] = "Checking communication line status...";
inline constexpr char kErasing[] = "Erasing flash sector %d of %d...";
inline constexpr char kSelecting[] = "Selecting flash sector %d of %d...";
inline constexpr char kDownloading[] = "Downloading data to flash sector %d of %d...";
inline constexpr char kChecksum[] = "Calculating checksum";
inline constexpr char kIplRestart[] = "Reseting printer, please wait...";
inline constexpr char kRecalculating[] = "Recalculate CRC";
inline constexpr char kResetting[] = "Reseting printer...";
inline constexpr char kCompleted[] = "Download completed!";

// A numbered text for the p-th of `count` sectors.
inline std::string Numbered(const char* format, int p, int count) {
  char line[96];
  std::snprintf(line, sizeof line, format, p, count);
  return line;
}

}  // namespace quillon::engine::status
