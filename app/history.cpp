#include "app/history.h"

#include <cstdlib>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "app/result_table.h"
#include "engine/result_codes.h"
#include "platform/journal.h"
#include "platform/sha256.h"

namespace quillon::app {

namespace {

std::string IsoUtc(int64_t ms) {
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &seconds);
#else
  gmtime_r(&seconds, &utc);
#endif
  char text[32] = {};
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

}  // namespace

const char* ReachedName(engine::Reached reached) {
  switch (reached) {
    case engine::Reached::kNothing:
      return "nothing";
    case engine::Reached::kLoader:
      return "loader";
    case engine::Reached::kChangingFlash:
      return "changing-flash";
    case engine::Reached::kFirstSectorErased:
      return "first-sector-erased";
    case engine::Reached::kAllBlocksSent:
      return "all-blocks-sent";
    case engine::Reached::kCompleted:
      return "completed";
  }
  return "?";
}

std::string HistoryPath() {
  if (const char* set = std::getenv("QUILLON_HISTORY"); set && *set) {
    return std::string(set) == "off" ? std::string() : std::string(set);
  }
  const std::string state = platform::StateDirectory();
  if (state.empty()) return {};
#ifdef _WIN32
  return (std::filesystem::path(state) / "Quillon" / "history.jsonl").string();
#else
  return (std::filesystem::path(state) / "quillon" / "history.jsonl").string();
#endif
}

std::string HistoryLine(const DownloadRecord& r) {
  std::error_code error;
  const auto size = std::filesystem::file_size(r.image, error);
  const bool sized = !error;
  const std::optional<std::string> hash = sized ? platform::FileSha256(r.image) : std::nullopt;
  const std::optional<ResultMessage> message = LookupResult(r.code);
  const nlohmann::ordered_json line = {
      {"start", IsoUtc(r.startMs)},
      {"duration_s", static_cast<double>(r.durationMs) / 1000.0},
      {"program", r.program},
      {"version", QUILLON_VERSION},
      {"host", platform::HostName()},
      {"user", platform::UserName()},
      {"interface", r.interface},
      {"port", r.port},
      {"device", r.device},
      {"type", r.type},
      {"image", std::filesystem::absolute(r.image, error).string()},
      {"size", sized ? nlohmann::ordered_json(size) : nlohmann::ordered_json()},
      {"sha256", hash ? nlohmann::ordered_json(*hash) : nlohmann::ordered_json()},
      {"code", r.code},
      {"message", message ? message->text : std::string()},
      {"reached", ReachedName(r.reached)},
  };
  return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool RecordDownload(const DownloadRecord& record, std::string& error) {
  const std::string path = HistoryPath();
  if (path.empty()) return true;  // off: no record anywhere
  const std::string line = HistoryLine(record);
#ifndef _WIN32
  // The same fields as key=value, for journald or rsyslog to ship.
  std::string fields;
  const nlohmann::ordered_json parsed = nlohmann::ordered_json::parse(line);
  for (const auto& [key, value] : parsed.items()) {
    if (!fields.empty()) fields += ' ';
    // A text with blanks or quotes is quoted, as JSON quotes it.
    const bool plain =
        value.is_string() && value.get<std::string>().find_first_of(" \"=") == std::string::npos;
    fields += key + "=" + (plain ? value.get<std::string>() : value.dump());
  }
  platform::SystemLog(record.code != engine::kSuccess, fields);
#endif
  if (!platform::AppendLine(path, line, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

std::vector<std::string> LastHistoryLines(const std::string& path, size_t count) {
  std::ifstream in(path, std::ios::binary);
  std::deque<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    lines.push_back(line);
    if (lines.size() > count) lines.pop_front();
  }
  return {lines.begin(), lines.end()};
}

}  // namespace quillon::app
