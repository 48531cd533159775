#include "engine/download_type.h"

#include <string_view>

#include "engine/sector_plan.h"
#include "platform/text.h"

namespace quillon::engine {

namespace {

// Whether `list` (comma-separated) holds `word`, ignoring case.
bool ListHolds(std::string_view list, const std::string& word) {
  const std::string lower = platform::ToLower(word);
  while (!list.empty()) {
    const size_t comma = list.find(',');
    if (list.substr(0, comma) == lower) return true;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return false;
}

}  // namespace

std::string BuiltInModelTable() {
  std::string text = "PASSBOOK";
  for (const DownloadTypeRow& row : kDownloadTypes) {
    text +=
        std::string(",") + row.name + "," + row.letters[0] + "," + std::to_string(row.firstSector);
  }
  return text + ".";
}

std::optional<DownloadType> TypeOfLetter(const std::string& letter) {
  if (letter.size() != 1) return std::nullopt;
  const char upper = platform::UpperChar(letter[0]);
  for (const DownloadTypeRow& row : kDownloadTypes) {
    if (std::string_view(row.letters).find(upper) != std::string_view::npos) return row.type;
  }
  return std::nullopt;
}

std::optional<DownloadType> TypeOfName(const std::string& name) {
  const size_t blank = name.find(' ');
  if (blank == std::string::npos) return std::nullopt;
  const std::string key = platform::ToUpper(name.substr(0, blank));
  for (const DownloadTypeRow& row : kDownloadTypes) {
    if (key == row.keyWord) return row.type;
  }
  return std::nullopt;
}

std::optional<DownloadType> TypeOfCommandName(const std::string& name) {
  for (const DownloadTypeRow& row : kDownloadTypes) {
    if (ListHolds(row.commandNames, name)) return row.type;
  }
  return std::nullopt;
}

DownloadType TypeOfFlags(int mainProg, int iplProg) {
  if (mainProg) return DownloadType::kMain;
  return iplProg ? DownloadType::kIpl : DownloadType::kFont;
}

std::optional<std::string> ExtensionOf(const std::string& fileName) {
  const std::string name = platform::ToUpper(fileName);
  const size_t dot = name.find('.');
  if (dot == std::string::npos) return std::nullopt;
  const size_t after = name.size() - dot - 1;
  if (after != 3 && after != 4) return std::nullopt;
  return name.substr(dot + 1, 3);
}

bool HasExtension(const std::string& fileName, DownloadType type) {
  return ExtensionOf(fileName) == RowOf(type).extension;
}

int64_t Capacity(DownloadType type) {
  const DownloadTypeRow& row = RowOf(type);
  int64_t bytes = row.skip;
  for (int s = row.firstSector; s <= LastSectorFrom(row.firstSector); ++s) {
    bytes += flashSectorSizes[s];
  }
  return bytes;
}

}  // namespace quillon::engine
