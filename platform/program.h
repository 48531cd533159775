#pragma once
// The program's own name, which titles its message boxes.

#include <string>

namespace quillon::platform {

// The name of the running program's file without its folder and extension:
// "Quillon" for Quillon.exe, "flash" for a copy named flash.exe,
// "quillon-flash" on Linux. Empty if the system does not tell.
std::string ProgramTitle();

// The same rule on a path: the last component (after '/', on Windows also
// after '\\'), without its last extension. A leading dot does not start an
// extension.
std::string TitleOfProgramPath(const std::string& path);

}  // namespace quillon::platform
