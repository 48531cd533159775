#pragma once
// --plan: what a download would do, worked out without opening a port. The
// image is checked as the download checks it (settings, SHA-256, size),
// then its erases and writes, the bytes and the expected time are shown.

#include <string>
#include <vector>

#include "app/download_estimate.h"
#include "cli/options.h"

namespace quillon::cli {

// What the plan shows besides the estimate.
struct PlanFacts {
  std::string type;  // the download type's name
  std::string image;
  int64_t fileBytes = 0;
  std::string sha256;          // the image's
  bool sha256Checked = false;  // against the hash given or the sidecar's
  std::string interface;
  std::string port;  // in words
  int baud = 0;      // serial only
  int lineBytesPerSecond = 0;
};

// The plan as text, for people, and as one JSON object (without a newline).
std::string PlanText(const PlanFacts& facts, const app::DownloadEstimate& estimate);
std::string PlanJson(const PlanFacts& facts, const app::DownloadEstimate& estimate);

// A duration for people: "42 s", "3 min 05 s".
std::string Duration(int64_t ms);

// Checks the download the options describe and prints its plan; the code
// of the first problem otherwise (nothing printed), with its hints.
int ShowPlan(const Options& options, std::vector<std::string>& hints);

}  // namespace quillon::cli
