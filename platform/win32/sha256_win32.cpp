// SHA-256 through CNG, the system's cryptography API (bcrypt.dll).

#include <windows.h>
// windows.h first: bcrypt.h uses its types.
#include <bcrypt.h>

#include <stdexcept>

#include "platform/sha256.h"

namespace quillon::platform {

struct Sha256::State {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  ~State() {
    if (hash) BCryptDestroyHash(hash);
    if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
  }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  if (!BCRYPT_SUCCESS(
          BCryptOpenAlgorithmProvider(&state_->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
      !BCRYPT_SUCCESS(
          BCryptCreateHash(state_->algorithm, &state_->hash, nullptr, 0, nullptr, 0, 0))) {
    throw std::runtime_error("CNG has no SHA-256");
  }
}

Sha256::~Sha256() = default;

void Sha256::Update(const uint8_t* data, size_t size) {
  // BCryptHashData takes at most 4 GiB at a time.
  while (size > 0) {
    const ULONG part = static_cast<ULONG>(size > 0x40000000 ? 0x40000000 : size);
    BCryptHashData(state_->hash, const_cast<PUCHAR>(data), part, 0);
    data += part;
    size -= part;
  }
}

std::array<uint8_t, 32> Sha256::Final() {
  std::array<uint8_t, 32> digest{};
  BCryptFinishHash(state_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0);
  return digest;
}

}  // namespace quillon::platform
