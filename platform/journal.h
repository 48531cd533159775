#pragma once
// What a record of a download needs of the system: where a user's records
// live, who and where we are, appending a line that others appending to the
// same file at once never split, and the system log.

#include <string>

namespace quillon::platform {

// The user's folder for state that outlives a run: $XDG_STATE_HOME, or else
// ~/.local/state, on Linux; %LOCALAPPDATA% on Windows. Empty if unknown.
std::string StateDirectory();
std::string HostName();
std::string UserName();

// Appends `line` and a newline to the file at `path`, made with its folders
// when missing, in one write under an exclusive lock of the file. False, with
// the reason in `error`, when it cannot.
bool AppendLine(const std::string& path, const std::string& line, std::string& error);

// Sends `text` to the system log: syslog with the ident "quillon", at err
// for a failure and info otherwise, on Linux; nowhere on Windows.
void SystemLog(bool failure, const std::string& text);

}  // namespace quillon::platform
