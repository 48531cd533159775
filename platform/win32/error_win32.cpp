#include <windows.h>

#include "platform/device.h"

namespace quillon::platform {

std::string LastErrorText() {
  if (LastError() == kErrorSuccess) return "";  // the system's text would say "success"
  char* buffer = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(LastError()), 0x0400, reinterpret_cast<char*>(&buffer), 0,
      nullptr);
  std::string text = n && buffer ? std::string(buffer, n) : std::string();
  if (buffer) LocalFree(buffer);
  // System messages end with a line break; the text is used as one line.
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

}  // namespace quillon::platform
