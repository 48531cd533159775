// The download history: where it goes, what a record holds, and appends from
// many writers at once.

#include "app/history.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "engine/result_codes.h"
#include "platform/sha256.h"
#include "support/environment.h"
#include "support/scratch_dir.h"

namespace quillon::app {
namespace {

class History : public ::testing::Test {
 protected:
  testing::ScratchDir scratch;
  void TearDown() override {
    testing::UnsetEnvironment("QUILLON_HISTORY");
    testing::UnsetEnvironment("XDG_STATE_HOME");
  }
};

TEST_F(History, QuillonHistoryMovesItOrTurnsItOff) {
  const std::string file = scratch.File("h.jsonl");
  const std::pair<const char*, std::string> rows[] = {{"off", ""}, {file.c_str(), file}};
  for (const auto& [set, path] : rows) {
    testing::SetEnvironment("QUILLON_HISTORY", set);
    EXPECT_EQ(HistoryPath(), path) << set;
  }
  testing::UnsetEnvironment("QUILLON_HISTORY");
#ifndef _WIN32
  testing::SetEnvironment("XDG_STATE_HOME", scratch.Path().string());
  EXPECT_EQ(HistoryPath(), scratch.File("quillon/history.jsonl"));
#endif
}

TEST_F(History, ARecordHoldsTheDownloadTheImageAndTheResult) {
  const std::string image = scratch.Write("fonts.bin", {1, 2, 3});
  DownloadRecord r;
  r.startMs = 1'800'000'000'123;  // 2027-01-15T08:00:00Z
  r.durationMs = 91'150;
  r.program = "quillon-flash";
  r.interface = "usb";
  r.port = "sim";
  r.device = "the built-in printer";
  r.type = "US&EU FONT";
  r.image = image;
  r.code = engine::kCannotErase;
  r.reached = engine::Reached::kFirstSectorErased;
  const nlohmann::json line = nlohmann::json::parse(HistoryLine(r));
  const std::pair<const char*, nlohmann::json> fields[] = {
      {"start", "2027-01-15T08:00:00Z"},
      {"duration_s", 91.15},
      {"program", "quillon-flash"},
      {"interface", "usb"},
      {"port", "sim"},
      {"device", "the built-in printer"},
      {"type", "US&EU FONT"},
      {"image", image},
      {"size", 3},
      {"sha256", *platform::FileSha256(image)},
      {"code", 1001},
      {"message", "Cannot erase a sector!"},
      {"reached", "first-sector-erased"},
  };
  for (const auto& [key, value] : fields)
    EXPECT_EQ(line.value(key, nlohmann::json()), value) << key;
  for (const char* key : {"version", "host", "user"}) EXPECT_TRUE(line.contains(key)) << key;

  r.image = scratch.File("gone.bin");  // an image that is not there has no size or hash
  const nlohmann::json gone = nlohmann::json::parse(HistoryLine(r));
  EXPECT_TRUE(gone["size"].is_null());
  EXPECT_TRUE(gone["sha256"].is_null());
}

TEST_F(History, WritersAtOnceNeverSplitARecord) {
  const std::string file = scratch.File("deep/folder/h.jsonl");
  testing::SetEnvironment("QUILLON_HISTORY", file);
  constexpr int kWriters = 8;
  constexpr int kEach = 50;
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([w] {
      DownloadRecord r;
      r.image = std::string(2000, static_cast<char>('a' + w));  // long lines
      r.code = w;
      for (int i = 0; i < kEach; ++i) {
        std::string error;
        EXPECT_TRUE(RecordDownload(r, error)) << error;
      }
    });
  }
  for (std::thread& t : writers) t.join();
  const std::vector<std::string> lines = LastHistoryLines(file, 10'000);
  ASSERT_EQ(lines.size(), size_t{kWriters * kEach});
  for (const std::string& line : lines) {
    const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
    ASSERT_TRUE(record.is_object()) << line.substr(0, 80);
    const int w = record["code"].get<int>();
    EXPECT_NE(
        record["image"].get<std::string>().find(std::string(2000, static_cast<char>('a' + w))),
        std::string::npos);
  }
  EXPECT_EQ(LastHistoryLines(file, 3).size(), 3u);

  std::string error;  // a history that cannot be written says why
  testing::SetEnvironment("QUILLON_HISTORY", scratch.File("h.jsonl/under/a/file"));
  scratch.Write("h.jsonl", {});
  EXPECT_FALSE(RecordDownload(DownloadRecord{}, error));
  EXPECT_NE(error.find("h.jsonl"), std::string::npos) << error;
}

}  // namespace
}  // namespace quillon::app
