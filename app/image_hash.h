#pragma once
// The image's SHA-256, checked before anything is sent to the printer:
// against the hash the user gave, or else against a sidecar file IMAGE.sha256
// beside the image, in sha256sum's format. A corrupted image would be sent
// faithfully, every block's CRC matching what was sent; only this check
// tells it from the image that was released.

#include <string>

namespace quillon::app {

struct HashCheck {
  int code = 0;         // engine::kSuccess, or the code of the refusal
  std::string actual;   // the image's hash, when it was read
  std::string problem;  // why it was refused, in words (for a hint)
};

// `expected`: the hash the user gave (64 hexadecimal digits, any case), or
// empty. `required`: an image with neither a given hash nor a sidecar is
// refused. A mismatch, a sidecar that names another file or cannot be read,
// and a missing hash that was required give kIncorrectFile; an image that
// cannot be read gives kUnableToOpenFile. Without a hash to check against,
// the image is not read at all.
HashCheck CheckImageHash(const std::string& imagePath, const std::string& expected, bool required);

// Whether `text` is 64 hexadecimal digits.
bool IsSha256(const std::string& text);

// The sidecar of `imagePath`: the same path with ".sha256" added.
std::string SidecarOf(const std::string& imagePath);

}  // namespace quillon::app
