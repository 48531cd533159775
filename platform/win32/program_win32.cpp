#include <windows.h>

#include <string>

#include "platform/program.h"

namespace quillon::platform {

std::string ProgramTitle() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);  // cut short: a longer buffer
  }
  // The message boxes take the ANSI code page's text.
  const int size = ::WideCharToMultiByte(CP_ACP, 0, path.data(), static_cast<int>(path.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, path.data(), static_cast<int>(path.size()), text.data(), size,
                        nullptr, nullptr);
  return TitleOfProgramPath(text);
}

}  // namespace quillon::platform
