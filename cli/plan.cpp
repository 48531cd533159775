#include "cli/plan.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/download_host.h"
#include "cli/hints.h"
#include "engine/result_codes.h"
#include "engine/sector_plan.h"
#include "platform/sha256.h"

namespace quillon::cli {

namespace {

int64_t Written(const app::DownloadEstimate& e) {
  int64_t bytes = 0;
  for (const auto& o : e.operations) bytes += o.bytes;
  return bytes;
}

size_t Writes(const app::DownloadEstimate& e) {
  size_t n = 0;
  for (const auto& o : e.operations) n += o.kind == app::PlanOperation::Kind::kWrite ? 1 : 0;
  return n;
}

std::string Seconds(int64_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000);
  return text;
}

}  // namespace

std::string Duration(int64_t ms) {
  const int64_t s = (ms + 500) / 1000;
  char text[32];
  if (s < 60) {
    std::snprintf(text, sizeof text, "%lld s", static_cast<long long>(s));
  } else {
    std::snprintf(text, sizeof text, "%lld min %02lld s", static_cast<long long>(s / 60),
                  static_cast<long long>(s % 60));
  }
  return text;
}

std::string PlanText(const PlanFacts& f, const app::DownloadEstimate& e) {
  std::string out =
      "Plan: " + f.type + " image " + f.image + ", " + std::to_string(f.fileBytes) + " bytes";
  out += "\nSHA-256 " + (f.sha256.empty() ? std::string("not known") : f.sha256) +
         (f.sha256Checked ? ", checked\n" : " (no hash given to check it against)\n");
  out += "Over " + f.interface + ", " + f.port;
  if (f.baud > 0) {
    out += " (the switch at " + std::to_string(f.baud) + " baud, then the loader at 38400 baud)";
  }
  out += "\n";
  int n = 0;
  for (const auto& o : e.operations) {
    char line[96];
    if (o.kind == app::PlanOperation::Kind::kErase) {
      std::snprintf(line, sizeof line, "  %3d. erase sector %d\n", ++n, o.sector);
    } else {
      std::snprintf(line, sizeof line, "  %3d. write sector %d, %u bytes\n", ++n, o.sector,
                    o.bytes);
    }
    out += line;
  }
  if (e.operations.empty()) out += "  nothing to write: the printer is switched and reset\n";
  out += std::to_string(Writes(e)) + " sectors, " + std::to_string(Written(e)) +
         " bytes written, " + std::to_string(e.bytesSent) + " bytes sent\n";
  out += "Expected time: " + Duration(e.totalMs) + " (fixed waits " + Seconds(e.waitMs);
  if (f.lineBytesPerSecond > 0) {
    out +=
        ", line " + Seconds(e.lineMs) + " at " + std::to_string(f.lineBytesPerSecond) + " bytes/s";
  } else {
    out += ", no line time counted";
  }
  out += ")\n";
  return out;
}

std::string PlanJson(const PlanFacts& f, const app::DownloadEstimate& e) {
  nlohmann::ordered_json operations = nlohmann::ordered_json::array();
  nlohmann::ordered_json sectors = nlohmann::ordered_json::array();
  for (const auto& o : e.operations) {
    if (o.kind == app::PlanOperation::Kind::kErase) {
      operations.push_back({{"op", "erase"}, {"sector", o.sector}});
    } else {
      operations.push_back({{"op", "write"}, {"sector", o.sector}, {"bytes", o.bytes}});
      sectors.push_back(o.sector);
    }
  }
  const auto seconds = [](int64_t ms) { return static_cast<double>(ms) / 1000; };
  const nlohmann::ordered_json plan = {
      {"type", f.type},
      {"image", f.image},
      {"size", f.fileBytes},
      {"sha256", f.sha256.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(f.sha256)},
      {"sha256_checked", f.sha256Checked},
      {"interface", f.interface},
      {"port", f.port},
      {"baud", f.baud > 0 ? nlohmann::ordered_json(f.baud) : nlohmann::ordered_json()},
      {"operations", operations},
      {"sectors", sectors},
      {"bytes_written", Written(e)},
      {"bytes_sent", e.bytesSent},
      {"line_bytes_per_s", f.lineBytesPerSecond},
      {"waits_s", seconds(e.waitMs)},
      {"line_s", seconds(e.lineMs)},
      {"expected_s", seconds(e.totalMs)}};
  return plan.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

int ShowPlan(const Options& o, std::vector<std::string>& hints) {
  app::ModelTable table;
  if (!LoadModelTable(table)) return engine::kDataFileError;
  Aftermath after;
  app::DownloadRequest request;
  std::string checked;
  after.code = CheckRequest(o, table, request, after, checked);
  std::vector<int> sectors;
  PlanFacts f;
  if (after.code == engine::kSuccess) {
    after.code = app::PlanRequest(request, engine::flashSectorSizes, sectors, f.fileBytes);
  }
  if (after.code != engine::kSuccess) {
    hints = Hints(o.image, KindOf(o, table), after);
    return after.code;
  }
  const bool builtIn = IsBuiltIn(o, request);
  f.type = TypeText(o.type);
  f.image = o.image;
  f.sha256Checked = !checked.empty();
  f.sha256 = f.sha256Checked ? checked : platform::FileSha256(o.image).value_or("");
  f.interface = o.interface;
  f.port = builtIn ? "the built-in printer" : o.port.empty() ? "the USB printer" : o.port;
  f.baud = request.interface == app::Interface::kSerial ? request.baudRate : 0;
  f.lineBytesPerSecond = app::LineBytesPerSecond(request.interface, builtIn);
  const app::DownloadEstimate e = app::EstimateDownload(
      request.interface, request.type, sectors, engine::flashSectorSizes, f.lineBytesPerSecond);
  if (o.json) {
    std::printf("%s\n", PlanJson(f, e).c_str());
  } else {
    std::fputs(PlanText(f, e).c_str(), stdout);
  }
  std::fflush(stdout);
  return engine::kSuccess;
}

}  // namespace quillon::cli
