#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/port_list.h"

namespace quillon::platform {

namespace {

// A device of a numbered kind: its number's digits and its path.
struct Numbered {
  std::string digits;
  std::string path;
};

// Whether `name` is `prefix` followed by digits only; `digits` gets the
// number without its leading zeros.
bool NumberOf(std::string_view name, std::string_view prefix, std::string& digits) {
  if (!name.starts_with(prefix) || name.size() == prefix.size()) return false;
  const std::string_view rest = name.substr(prefix.size());
  if (!std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  const size_t first = rest.find_first_not_of('0');
  digits = first == std::string_view::npos ? "0" : std::string(rest.substr(first));
  return true;
}

// The entries of `folder` named `prefix` and a number, by that number
// (ttyUSB2 before ttyUSB10). Folders are not devices; a folder that cannot
// be read has none.
std::vector<std::string> Devices(const std::string& folder, std::string_view prefix) {
  std::vector<Numbered> found;
  std::error_code error;
  std::filesystem::directory_iterator it(folder, error);
  const std::string base = folder.ends_with('/') ? folder : folder + "/";
  for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    const std::string name = it->path().filename().string();
    std::string digits;
    if (!NumberOf(name, prefix, digits)) continue;
    std::error_code kindError;
    if (it->is_directory(kindError)) continue;
    found.push_back({digits, base + name});
  }
  std::sort(found.begin(), found.end(), [](const Numbered& a, const Numbered& b) {
    if (a.digits.size() != b.digits.size()) return a.digits.size() < b.digits.size();
    if (a.digits != b.digits) return a.digits < b.digits;
    return a.path < b.path;  // the same number written with leading zeros
  });
  std::vector<std::string> paths;
  for (Numbered& n : found) paths.push_back(std::move(n.path));
  return paths;
}

}  // namespace

std::vector<std::string> PresentSerialDevices(const std::string& folder) {
  std::vector<std::string> paths = Devices(folder, "ttyUSB");
  std::vector<std::string> modems = Devices(folder, "ttyACM");
  paths.insert(paths.end(), modems.begin(), modems.end());
  return paths;
}

std::vector<std::string> PresentParallelDevices(const std::string& folder) {
  return Devices(folder, "parport");
}

}  // namespace quillon::platform
