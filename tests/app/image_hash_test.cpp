// The image's SHA-256 against the hash given or its sidecar, and the
// system's SHA-256 against known answers.

#include "app/image_hash.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "engine/result_codes.h"
#include "platform/sha256.h"
#include "support/scratch_dir.h"

namespace quillon::app {
namespace {

constexpr const char* kAbc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
constexpr const char* kEmpty = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

TEST(Sha256, TheSystemsHashGivesTheKnownAnswers) {
  testing::ScratchDir scratch;
  EXPECT_EQ(platform::FileSha256(scratch.Write("abc", {'a', 'b', 'c'})), kAbc);
  EXPECT_EQ(platform::FileSha256(scratch.Write("empty", {})), kEmpty);
  EXPECT_EQ(platform::FileSha256(scratch.File("missing")), std::nullopt);
  EXPECT_EQ(platform::FileSha256(scratch.Path().string()), std::nullopt);  // a folder
}

TEST(ImageHash, TheGivenHashOrElseTheSidecarDecides) {
  const std::string upper = [] {
    std::string s = kAbc;
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  }();
  const std::string zeros(64, '0');
  struct Row {
    const char* what;
    std::string given;
    const char* sidecar;  // its text; "" none, "/" a folder in its place
    bool required;
    int code;
    const char* problem;  // a part of it
  };
  const Row rows[] = {
      {"nothing to check", "", "", false, engine::kSuccess, ""},
      {"the hash given, in any case", upper, "", false, engine::kSuccess, ""},
      {"another hash given", zeros, "", false, engine::kIncorrectFile, "that --sha256 gives"},
      {"the given hash before the sidecar", kAbc, "0  img.bin\n", false, engine::kSuccess, ""},
      {"a sidecar as sha256sum writes it", "", "HASH  img.bin\n", true, engine::kSuccess, ""},
      {"binary mode, CRLF, a path", "", "HASH *dir/img.bin\r\n", false, engine::kSuccess, ""},
      {"a sidecar of another image", "", "ZERO  img.bin\n", false, engine::kIncorrectFile,
       "img.bin.sha256 gives"},
      {"a sidecar naming another file", "", "HASH  other.bin\n", false, engine::kIncorrectFile,
       "gives the hash of other.bin, not of img.bin"},
      {"a sidecar of one blank", "", "HASH img.bin\n", false, engine::kIncorrectFile,
       "is not a sha256sum line"},
      {"an empty sidecar", "", "\n", false, engine::kIncorrectFile, "is not a sha256sum line"},
      {"a sidecar that cannot be read", "", "/", false, engine::kIncorrectFile, "cannot be read"},
      {"no hash, but one required", "", "", true, engine::kIncorrectFile, "no SHA-256 to check"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    testing::ScratchDir scratch;
    const std::string image = scratch.Write("img.bin", {'a', 'b', 'c'});
    std::string text = r.sidecar;
    if (text == "/") {
      std::filesystem::create_directory(SidecarOf(image));
    } else if (!text.empty()) {
      for (const auto& [from, to] : {std::pair{"HASH", kAbc}, {"ZERO", zeros.c_str()}}) {
        if (const size_t at = text.find(from); at != std::string::npos) text.replace(at, 4, to);
      }
      scratch.Write("img.bin.sha256", std::vector<uint8_t>(text.begin(), text.end()));
    }
    const HashCheck check = CheckImageHash(image, r.given, r.required);
    EXPECT_EQ(check.code, r.code);
    EXPECT_NE(check.problem.find(r.problem), std::string::npos) << check.problem;
    if (r.code == engine::kSuccess && (!r.given.empty() || !text.empty())) {
      EXPECT_EQ(check.actual, kAbc);
    }
  }
  // Without a hash the image is not read; with one, an unreadable image is
  // the usual failure to open it.
  EXPECT_EQ(CheckImageHash("/nonexistent/img.bin", "", false).code, engine::kSuccess);
  EXPECT_EQ(CheckImageHash("/nonexistent/img.bin", kAbc, false).code, engine::kUnableToOpenFile);
}

}  // namespace
}  // namespace quillon::app
