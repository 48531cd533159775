#pragma once
// The udev rule that the Linux packages install: it gives the desktop user
// (and the group lp) access to the printer's USB device node, so that no
// one has to join a group for a USB download.

#include <string>
#include <vector>

namespace quillon::platform {

inline constexpr const char* kUdevRuleName = "70-quillon.rules";

// The folders udev reads its rules from, under `root` ("" for the system
// itself): the administrator's, then the packages' (with and without the
// /usr merge). Empty on Windows.
std::vector<std::string> UdevRuleFolders(const std::string& root = "");

// Whether the rule is not in force under `root`: in none of the folders,
// or switched off by the administrator (the first folder that holds the
// name decides, and an empty file or a link to /dev/null there hides the
// rest). False on Windows, which has no such rule.
bool UdevRuleMissing(const std::string& root = "");

}  // namespace quillon::platform
