#pragma once
// The built-in model table: printer models and, for each, its download types
// (name, letter, first flash sector).

#include <optional>
#include <string>
#include <vector>

#include "engine/download_type.h"

namespace quillon::app {

// "PASSBOOK,MAIN FIRMWARE,M,6,IPL FIRMWARE,I,4,US&EU FONT,U,18."
inline const std::string kModelTableText = engine::BuiltInModelTable();

// The three kinds of image, and the kind a download type's name stands for
// by its key word (engine/download_type.h).
using engine::DownloadType;
using engine::TypeOfName;

struct DownloadTypeRow {
  std::string name;    // what the download type list shows
  std::string letter;  // M main firmware, I IPL firmware, U or C fonts
  std::string first;   // first flash sector, decimal text
};

class ModelTable {
 public:
  explicit ModelTable(std::string text = kModelTableText) : text_(std::move(text)) {}

  // Splits the text into cells and records; 0 for success.
  int LoadModelTable();
  // Takes the first model; 1 for success, 0 for failure.
  int SelectModel();
  // Splits the current model's cells into download-type rows; 1 for success,
  // 1024 when the cells do not form whole rows.
  int SplitDownloadTypes();

  // The first row whose name matches `typeText` ignoring case.
  std::optional<DownloadTypeRow> FindRow(const std::string& typeText) const;
  std::vector<DownloadTypeRow> Rows() const;

  // The table as the main dialog holds it.
  std::vector<std::string> tokenList;       // every cell, then an empty end marker
  std::vector<std::string> modelIndexList;  // per record its first cell's index, then a marker
  int modelCount = 0;
  std::string modelPairs[100];
  int modelTokenIndex = 0;
  std::string typeRows[150];
  int rowCount = 0;
  std::string modelName;

 private:
  std::string text_;
};

}  // namespace quillon::app
