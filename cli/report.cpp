#include "cli/report.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "app/history.h"
#include "app/result_table.h"
#include "engine/result_codes.h"

namespace quillon::cli {

std::string ResultLine(const Options& o, int code, const std::string& port) {
  std::string message;
  if (auto row = app::LookupResult(code)) message = row->text;
  if (!o.json) {
    std::replace(message.begin(), message.end(), '\n', ' ');
    return "result " + std::to_string(code) + ": " + message;
  }
  // Keys in this order; a byte of a name that is not UTF-8 becomes U+FFFD,
  // so that the object is always valid JSON.
  const nlohmann::ordered_json result = {
      {"code", code},       {"success", code == engine::kSuccess},
      {"message", message}, {"type", TypeText(o.type)},
      {"image", o.image},   {"port", port}};
  return result.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string UsageErrorLine(const std::string& error) {
  const nlohmann::ordered_json line = {{"code", nullptr}, {"success", false}, {"message", error}};
  return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

int Report(const Options& o, int code, const std::string& port) {
  std::printf("%s\n", ResultLine(o, code, port).c_str());
  std::fflush(stdout);
  return code == engine::kSuccess ? 0 : 1;
}

std::string HistoryTable(const std::vector<std::string>& records) {
  std::string out;
  const auto row = [&out](const std::string& start, const std::string& program,
                          const std::string& port, const std::string& type,
                          const std::string& image, const std::string& code,
                          const std::string& reached) {
    char line[512];
    std::snprintf(line, sizeof line, "%-20s  %-13s  %-14s  %-13s  %-24s  %-6s  %s\n", start.c_str(),
                  program.c_str(), port.c_str(), type.c_str(), image.c_str(), code.c_str(),
                  reached.c_str());
    out += line;
  };
  row("START (UTC)", "PROGRAM", "PORT", "TYPE", "IMAGE", "RESULT", "REACHED");
  for (const std::string& text : records) {
    const nlohmann::json r = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (!r.is_object()) continue;
    const auto field = [&r](const char* key) {
      const auto it = r.find(key);
      if (it == r.end() || it->is_null()) return std::string("-");
      return it->is_string() ? it->get<std::string>() : it->dump();
    };
    row(field("start"), field("program"), field("port"), field("type"),
        std::filesystem::path(field("image")).filename().string(), field("code"), field("reached"));
  }
  return out;
}

int ShowHistory(const Options& options) {
  const std::string path = app::HistoryPath();
  if (path.empty()) {
    std::fprintf(stderr, "quillon-flash: the download history is off (QUILLON_HISTORY=off)\n");
    return 1;
  }
  const std::vector<std::string> records = app::LastHistoryLines(path, options.historyCount);
  if (options.json) {
    for (const std::string& record : records) std::printf("%s\n", record.c_str());
  } else {
    std::fputs(HistoryTable(records).c_str(), stdout);
  }
  if (records.empty()) std::fprintf(stderr, "quillon-flash: no downloads in %s\n", path.c_str());
  return 0;
}

}  // namespace quillon::cli
