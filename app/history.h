#pragma once
// The history of every download: one JSON line per download, whatever its
// result, appended to a file of the user's, and on Linux the same to syslog.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/flash_download.h"

namespace quillon::app {

// What a front end knows of a download once it has ended.
struct DownloadRecord {
  int64_t startMs = 0;  // wall clock, milliseconds since 1970 (UTC)
  int64_t durationMs = 0;
  std::string program;    // "quillon-flash", "quillon", "Quillon.exe"
  std::string interface;  // serial, parallel or usb
  std::string port;       // as given
  std::string device;     // what it resolved to
  std::string type;       // the download type's name
  std::string image;      // the image's path
  int code = 0;
  engine::Reached reached = engine::Reached::kNothing;
};

// The history file: QUILLON_HISTORY if set ("off": none, empty result),
// else history.jsonl in the user's state folder (quillon/ on Linux,
// Quillon\ on Windows).
std::string HistoryPath();

// The record as one JSON line: the fields above (start as ISO 8601 UTC,
// duration in seconds, how far by name), with the program's version, the
// host, the user, the image's size and SHA-256, and the result's message.
std::string HistoryLine(const DownloadRecord& record);

// Appends the record to the history and sends it to the system log (not
// when the history is off). False,
// with the reason in `error`, when the history cannot be written; the
// download's result does not change for it.
bool RecordDownload(const DownloadRecord& record, std::string& error);

// The last `count` lines of the history file at `path`, oldest first.
std::vector<std::string> LastHistoryLines(const std::string& path, size_t count);

// The name of how far a download got, as the history gives it.
const char* ReachedName(engine::Reached reached);

}  // namespace quillon::app
