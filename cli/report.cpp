#include "cli/report.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

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

}  // namespace quillon::cli
