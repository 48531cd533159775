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

}  // namespace quillon::app
