#pragma once
// quillon-flash's command line: the options, their parsing, and the
// download request they describe.

#include <string>

#include "app/launch.h"
#include "app/model_table.h"

namespace quillon::cli {

extern const char* const kUsage;

struct Options {
  std::string type;
  std::string interface = "serial";  // lower case once parsed
  std::string port;                  // default by interface
  std::string baud = "38400";
  std::string parity = "NONE";
  std::string stopBits = "1";
  std::string image;
  std::string sha256;  // the image's, as given (64 hexadecimal digits)
  bool requireSha256 = false;
  size_t historyCount = 10;   // --history N
  bool plan = false;          // --plan: show what the download would do, and end
  bool list = false;          // --list: show the ports present, and end
  bool jsonProgress = false;  // --progress=json
  bool json = false;
  bool quiet = false;
  bool verbose = false;
};

// kHistory: show the download history (Options::historyCount records);
// kPlan: show the plan of the download (Options::plan); kList: show the
// ports present.
enum class Parsed { kRun, kHelp, kVersion, kError, kHistory, kPlan, kList };

// Parses the arguments; kError with `error` set for a malformed command line.
Parsed ParseCommandLine(int argc, const char* const* argv, Options& options, std::string& error);

// The download type as the model table names it: main, ipl and font (or
// fonts) in any case stand for the built-in table's names; any other text is
// taken as it stands.
std::string TypeText(const std::string& type);

// Checks the options as the main dialog checks its settings and gives the
// download they describe: kSuccess, or the code of the first problem.
int MakeRequest(const Options& options, const app::ModelTable& table,
                app::DownloadRequest& request);

}  // namespace quillon::cli
