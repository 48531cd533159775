#include "platform/sha256.h"

#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/file.h"

namespace quillon::platform {

std::optional<std::string> FileSha256(const std::string& path) {
  std::FILE* file = OpenRegularFile(path);
  if (!file) return std::nullopt;
  Sha256 hash;
  std::vector<uint8_t> buffer(1 << 16);
  size_t got = 0;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0)
    hash.Update(buffer.data(), got);
  const bool failed = std::ferror(file) != 0;
  const int error = errno;
  std::fclose(file);
  if (failed) {
    errno = error;
    return std::nullopt;
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const uint8_t byte : hash.Final()) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0F];
  }
  return hex;
}

}  // namespace quillon::platform
