#pragma once
// The result of quillon-flash on standard output: its last line, as text
// ("result <code>: <message>") or as one JSON object.

#include <string>
#include <vector>

#include "cli/options.h"

namespace quillon::cli {

// The result line for `code`, without its newline. `port` is the port as
// the result names it.
std::string ResultLine(const Options& options, int code, const std::string& port);

// The line a malformed command line gives with --json: an object with no
// code and the message, without its newline.
std::string UsageErrorLine(const std::string& error);

// Prints the result line and returns the exit status: 0 for success, 1
// otherwise.
int Report(const Options& options, int code, const std::string& port);

// The history records (JSON lines) as a table, a line per download, with
// its heading; lines that are no record are left out.
std::string HistoryTable(const std::vector<std::string>& records);

// --history: prints the last records, as a table or (with --json) as they
// stand; returns the exit status.
int ShowHistory(const Options& options);

}  // namespace quillon::cli
