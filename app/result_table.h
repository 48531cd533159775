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
// any other code.
std::string PermissionHint(int code);

}  // namespace quillon::app
