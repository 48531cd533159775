#include <io.h>
#include <windows.h>

#include <cerrno>
#include <filesystem>

#include "platform/device.h"
#include "platform/file.h"

namespace quillon::platform {

namespace {

std::FILE* Refuse(int error) {
  SetLastError(error == EISDIR ? kErrorAccessDenied : kErrorInvalidParameter);
  errno = error;
  return nullptr;
}

}  // namespace

std::FILE* OpenRegularFile(const std::string& path) {
  std::error_code failed;
  const std::filesystem::file_status status = std::filesystem::status(path, failed);
  if (std::filesystem::is_directory(status)) return Refuse(EISDIR);
  if (!failed && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    return Refuse(EINVAL);
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return nullptr;  // errno is fopen's
  // A device name ("NUL", "COM1") opens as a character device, a pipe as a
  // pipe: only a file on a disk is an image.
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  if (::GetFileType(handle) != FILE_TYPE_DISK) {
    std::fclose(file);
    return Refuse(EINVAL);
  }
  std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

}  // namespace quillon::platform
