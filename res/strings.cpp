#include "res/resource.h"
#include "res/templates.h"

namespace quillon::res {

namespace {

struct RawString {
  int id;
  const char* text;
};

constexpr RawString kStrings[] = {
#define QSTRING(id, text) {id, text},
#include "res/strings.def"
#undef QSTRING
};

}  // namespace

const std::vector<std::pair<int, std::string>>& StringTable() {
  static const std::vector<std::pair<int, std::string>> table = [] {
    std::vector<std::pair<int, std::string>> out;
    for (const RawString& s : kStrings) out.emplace_back(s.id, s.text);
    return out;
  }();
  return table;
}

std::optional<std::string> LoadText(int id) {
  for (const auto& [key, text] : StringTable()) {
    if (key == id) return text;
  }
  return std::nullopt;
}

}  // namespace quillon::res
