#pragma once
// The program's vocabulary of outcomes: every result code with its message
// and icon.

#include <optional>
#include <string>

namespace quillon::app {

enum class ResultIcon { kError, kInformation };

struct ResultMessage {
  std::string text;
  ResultIcon icon;
};

// The message for a code, or nothing for a code without a row. Code 1039
// takes the platform's text for the calling thread's last error.
std::optional<ResultMessage> LookupResult(int code);

// What a user can do about a port that would not open for lack of
// permission, for the code of that open's failure (1017: the serial line,
// whose devices usually belong to the group dialout; 1034 and 1038: the
// parallel port and the USB printer, group lp): join the group. Empty for
// any other code. For the USB printer, when the udev rule that gives the
// desktop user access is not installed, it names that rule as the other way.
std::string PermissionHint(int code);
// The same, with whether the udev rule is missing given rather than looked
// for.
std::string PermissionHint(int code, bool udevRuleMissing);

}  // namespace quillon::app
