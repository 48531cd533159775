#pragma once
// SHA-256 by the system's own library: libcrypto (OpenSSL) on Linux, CNG
// (BCrypt) on Windows.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace quillon::platform {

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Update(const uint8_t* data, size_t size);
  // The digest of everything given; the object is used up.
  std::array<uint8_t, 32> Final();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The SHA-256 of the regular file at `path` as 64 lower-case hexadecimal
// digits; nothing, with errno set, when it cannot be read.
std::optional<std::string> FileSha256(const std::string& path);

}  // namespace quillon::platform
