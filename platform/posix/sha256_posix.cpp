// SHA-256 through libcrypto's message digest interface.

#include <openssl/evp.h>

#include <stdexcept>

#include "platform/sha256.h"

namespace quillon::platform {

struct Sha256::State {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  ~State() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  if (!state_->context || EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("libcrypto has no SHA-256");
  }
}

Sha256::~Sha256() = default;

void Sha256::Update(const uint8_t* data, size_t size) {
  EVP_DigestUpdate(state_->context, data, size);
}

std::array<uint8_t, 32> Sha256::Final() {
  std::array<uint8_t, 32> digest{};
  unsigned int size = 0;
  EVP_DigestFinal_ex(state_->context, digest.data(), &size);
  return digest;
}

}  // namespace quillon::platform
