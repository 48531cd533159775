#pragma once
// The three kinds of image and everything that follows from the kind: one
// row each. The dialog, the command line, the settings check, the hints and
// the sector plan all read their rules from here.

#include <cstdint>
#include <optional>
#include <string>

namespace quillon::engine {

enum class DownloadType { kMain, kIpl, kFont };

struct DownloadTypeRow {
  DownloadType type;
  // The model table's letters for it (the first is the usual one).
  const char* letters;
  // The name the built-in model table gives it, and the word a name of it
  // begins with (before the first blank), in any case.
  const char* name;
  const char* keyWord;
  // The names quillon-flash's --type takes, comma-separated.
  const char* commandNames;
  // The image file's extension (the first three characters after its first
  // dot), and the kind in words.
  const char* extension;
  const char* inWords;
  // Browse's filter.
  const char* filter;
  // The first flash sector written, and whether it is erased first and
  // written last (after every other sector was verified).
  int firstSector;
  bool firstSectorDeferred;
  // Bytes at the head of the image that are never sent (they belong below
  // the first sector).
  int64_t skip;
};

inline constexpr DownloadTypeRow kDownloadTypes[] = {
    {DownloadType::kMain, "M", "MAIN FIRMWARE", "MAIN", "main", "MFW", "a main firmware",
     "Main Firmware Files (*.mfw)|*.mfw|", 6, true, 0},
    {DownloadType::kIpl, "I", "IPL FIRMWARE", "IPL", "ipl", "IPL", "an IPL firmware",
     "IPL Program Files (*.ipl)|*.ipl|", 4, false, 0x8000},
    {DownloadType::kFont, "UC", "US&EU FONT", "US&EU", "font,fonts", "BIN", "a font",
     "US & EU Font Files (*.bin)|*.bin|", 18, true, 0},
};

constexpr const DownloadTypeRow& RowOf(DownloadType type) {
  for (const DownloadTypeRow& row : kDownloadTypes) {
    if (row.type == type) return row;
  }
  return kDownloadTypes[0];  // not reached: every type has its row
}
// The row of a model table letter (in any case), or of a name by its key
// word, or of a --type name (in any case); nothing when none matches.
std::optional<DownloadType> TypeOfLetter(const std::string& letter);
std::optional<DownloadType> TypeOfName(const std::string& name);
std::optional<DownloadType> TypeOfCommandName(const std::string& name);

// The model table the programs have built in: one model, every type by its
// name, letter and first sector.
std::string BuiltInModelTable();

// The procedures' flags of a type, and back.
inline int MainProg(DownloadType type) {
  return type == DownloadType::kMain ? 1 : 0;
}
inline int IplProg(DownloadType type) {
  return type == DownloadType::kIpl ? 1 : 0;
}
DownloadType TypeOfFlags(int mainProg, int iplProg);

// A file name's extension as the types' are compared with it: the first
// three characters after its first dot, in upper case, when the text after
// that dot is three or four characters long; nothing otherwise.
std::optional<std::string> ExtensionOf(const std::string& fileName);
// Whether a file name carries the type's extension.
bool HasExtension(const std::string& fileName, DownloadType type);

// The largest image of the type that fits the flash from its first sector
// on, in bytes of the file (the skipped head included).
int64_t Capacity(DownloadType type);

}  // namespace quillon::engine
