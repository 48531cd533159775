#include "app/image_hash.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include "engine/result_codes.h"
#include "platform/sha256.h"

namespace quillon::app {

namespace {

namespace fs = std::filesystem;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

HashCheck Refused(std::string problem, std::string actual = {}) {
  return {engine::kIncorrectFile, std::move(actual), std::move(problem)};
}

// The hash a sidecar gives for the file it names: "HASH  NAME" or
// "HASH *NAME" (binary mode), as sha256sum writes it. Nothing, with the
// reason in `problem`, when the sidecar gives none for `image`.
std::optional<std::string> SidecarHash(const std::string& sidecar, const std::string& image,
                                       std::string& problem) {
  std::ifstream in(sidecar, std::ios::binary);
  std::string line;
  if (!in || !std::getline(in, line)) {
    problem = sidecar + " cannot be read (" + std::strerror(errno) + ")";
    return std::nullopt;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const std::string hash = line.substr(0, 64);
  const bool separated =
      line.size() > 66 && line[64] == ' ' && (line[65] == ' ' || line[65] == '*');
  if (!IsSha256(hash) || !separated) {
    problem = sidecar +
              " is not a sha256sum line (64 hexadecimal digits, two blanks or a blank "
              "and '*', the file's name)";
    return std::nullopt;
  }
  const std::string named = line.substr(66);
  if (fs::path(named).filename() != fs::path(image).filename()) {
    problem =
        sidecar + " gives the hash of " + named + ", not of " + fs::path(image).filename().string();
    return std::nullopt;
  }
  return Lower(hash);
}

}  // namespace

bool IsSha256(const std::string& text) {
  return text.size() == 64 &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c); });
}

std::string SidecarOf(const std::string& imagePath) {
  return imagePath + ".sha256";
}

HashCheck CheckImageHash(const std::string& imagePath, const std::string& expected, bool required) {
  std::string want = Lower(expected);
  std::string from = "--sha256";
  const std::string sidecar = SidecarOf(imagePath);
  std::error_code error;
  if (want.empty() && fs::exists(sidecar, error)) {
    std::string problem;
    const std::optional<std::string> given = SidecarHash(sidecar, imagePath, problem);
    if (!given) return Refused(problem);
    want = *given;
    from = sidecar;
  }
  if (want.empty()) {
    if (!required) return {engine::kSuccess, {}, {}};
    return Refused("no SHA-256 to check it against: give one with --sha256, or put " + sidecar +
                   " beside it (sha256sum " + fs::path(imagePath).filename().string() + " > " +
                   fs::path(sidecar).filename().string() + ")");
  }
  const std::optional<std::string> actual = platform::FileSha256(imagePath);
  if (!actual) return {engine::kUnableToOpenFile, {}, {}};
  if (*actual != want) {
    return Refused("its SHA-256 is " + *actual + ", not the " + want + " that " + from +
                       " gives: the file is not the image that was released",
                   *actual);
  }
  return {engine::kSuccess, *actual, {}};
}

}  // namespace quillon::app
