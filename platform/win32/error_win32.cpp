#include <windows.h>

#include "platform/device.h"

namespace quillon::platform {

std::string LastErrorText() {
  char* buffer = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(LastError()), 0x0400, reinterpret_cast<char*>(&buffer), 0,
      nullptr);
  std::string text = n && buffer ? std::string(buffer, n) : std::string();
  if (buffer) LocalFree(buffer);
  return text;
}

}  // namespace quillon::platform
