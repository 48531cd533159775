#include "app/model_table.h"

#include <cstdlib>

#include "platform/text.h"

namespace quillon::app {

using platform::EqualNoCase;

namespace {

// Inserts before the end marker, keeping the order of insertion.
void Insert(std::vector<std::string>& list, std::string value) {
  list.insert(list.end() - 1, std::move(value));
}

}  // namespace

int ModelTable::LoadModelTable() {
  modelCount = 1;
  tokenList.assign(1, "");
  modelIndexList.assign(1, "");
  int cells = 0;
  size_t pos = 0;
  std::string cell;
  for (int record = 0; record < modelCount; ++record) {
    Insert(modelIndexList, std::to_string(cells));
    // A text without its closing "." is not a table.
    for (;; ++pos) {
      if (pos >= text_.size()) return 1;
      const char c = text_[pos];
      if (c == '.') break;
      if (c == ',') {
        Insert(tokenList, cell);
        cell.clear();
        ++cells;
      } else {
        cell += c;
      }
    }
    Insert(tokenList, cell);
    cell.clear();
    ++cells;
    ++pos;
  }
  return 0;
}

int ModelTable::SelectModel() {
  if (modelIndexList.empty() || tokenList.empty()) return 0;
  if (modelIndexList.size() > 49) return 0;
  const int index = std::atoi(modelIndexList.front().c_str());
  if (index < 0 || static_cast<size_t>(index) >= tokenList.size()) return 0;
  modelPairs[0] = modelIndexList.front();
  modelPairs[1] = tokenList[static_cast<size_t>(index)];
  return 1;
}

int ModelTable::SplitDownloadTypes() {
  modelTokenIndex = 0;
  modelName = "PBOOK";
  const int start = modelTokenIndex + 1;
  const int cells = static_cast<int>(tokenList.size()) - start - 1;
  if (cells < 0 || cells % 3 != 0 || cells / 3 > 50) return 1024;
  rowCount = cells / 3;
  for (int i = 0; i < cells; ++i) typeRows[i] = tokenList[static_cast<size_t>(start + i)];
  return 1;
}

std::vector<DownloadTypeRow> ModelTable::Rows() const {
  std::vector<DownloadTypeRow> rows;
  for (int r = 0; r < rowCount; ++r) {
    rows.push_back({typeRows[3 * r], typeRows[3 * r + 1], typeRows[3 * r + 2]});
  }
  return rows;
}

std::optional<DownloadTypeRow> ModelTable::FindRow(const std::string& typeText) const {
  for (int r = 0; r < rowCount; ++r) {
    if (EqualNoCase(typeRows[3 * r], typeText)) {
      return DownloadTypeRow{typeRows[3 * r], typeRows[3 * r + 1], typeRows[3 * r + 2]};
    }
  }
  return std::nullopt;
}

}  // namespace quillon::app
