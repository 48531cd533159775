#include "platform/program.h"

namespace quillon::platform {

std::string TitleOfProgramPath(const std::string& path) {
#ifdef _WIN32
  const char* separators = "/\\";
#else
  const char* separators = "/";
#endif
  const size_t slash = path.find_last_of(separators);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

}  // namespace quillon::platform
