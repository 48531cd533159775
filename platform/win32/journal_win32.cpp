#include <windows.h>

#include <cstdlib>
#include <filesystem>

#include "platform/device.h"
#include "platform/journal.h"

namespace quillon::platform {

std::string StateDirectory() {
  const char* local = std::getenv("LOCALAPPDATA");
  return local ? local : "";
}

std::string HostName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  return ::GetComputerNameA(name, &size) ? name : "";
}

std::string UserName() {
  const char* name = std::getenv("USERNAME");
  return name ? name : "";
}

namespace {

void Fail(std::string& error) {
  SetLastError(static_cast<int>(::GetLastError()));
  error = LastErrorText();
}

}  // namespace

bool AppendLine(const std::string& path, const std::string& line, std::string& error) {
  std::error_code made;
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder, made);
  // FILE_APPEND_DATA alone: every write goes to the end of the file.
  const HANDLE file =
      ::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    Fail(error);
    return false;
  }
  const std::string text = line + "\r\n";
  OVERLAPPED whole{};
  bool ok = ::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) != 0;
  DWORD written = 0;
  ok = ok && ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
       written == text.size();
  if (!ok) Fail(error);
  ::UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
  ::CloseHandle(file);
  return ok;
}

void SystemLog(bool, const std::string&) {}

}  // namespace quillon::platform
