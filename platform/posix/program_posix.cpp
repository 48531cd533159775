#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/program.h"

namespace quillon::platform {

std::string ProgramTitle() {
  // The program file itself; the name it was started by if that cannot be
  // read.
  std::string path(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
  if (n > 0 && static_cast<size_t>(n) < path.size()) {
    path.resize(static_cast<size_t>(n));
    return TitleOfProgramPath(path);
  }
  return TitleOfProgramPath(program_invocation_short_name);
}

}  // namespace quillon::platform
