#include "platform/udev_rule.h"

#include <filesystem>
#include <system_error>

namespace quillon::platform {

std::vector<std::string> UdevRuleFolders(const std::string& root) {
#ifdef _WIN32
  (void)root;
  return {};
#else
  return {root + "/etc/udev/rules.d", root + "/usr/lib/udev/rules.d", root + "/lib/udev/rules.d"};
#endif
}

bool UdevRuleMissing(const std::string& root) {
  const std::vector<std::string> folders = UdevRuleFolders(root);
  if (folders.empty()) return false;
  // udev takes a name from the first folder that holds it, so an entry in
  // /etc hides the package's rule: a link to /dev/null or an empty file
  // there switches the rule off.
  for (const std::string& folder : folders) {
    const std::filesystem::path rule = std::filesystem::path(folder) / kUdevRuleName;
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(rule, error))) continue;
    const bool isFile = std::filesystem::is_regular_file(rule, error);
    return !isFile || std::filesystem::file_size(rule, error) == 0 || error;
  }
  return true;
}

}  // namespace quillon::platform
