// quillon-flash: writes a main firmware, IPL firmware or font image into the
// printer's flash from the command line, with the same checks, procedure and
// result codes as the dialog.

#include <cstdio>
#include <string>
#include <vector>

#include "cli/download_host.h"
#include "cli/interrupts.h"
#include "cli/list.h"
#include "cli/options.h"
#include "cli/plan.h"
#include "cli/report.h"
#include "engine/result_codes.h"

int main(int argc, char** argv) {
  using namespace quillon::cli;
  PrepareProcess();
  Options options;
  std::string error;
  switch (ParseCommandLine(argc, argv, options, error)) {
    case Parsed::kHelp:
      std::fputs(kUsage, stdout);
      return 0;
    case Parsed::kVersion:
      std::printf("quillon-flash %s\n", QUILLON_VERSION);
      return 0;
    case Parsed::kError:
      if (options.json) std::printf("%s\n", UsageErrorLine(error).c_str());
      std::fprintf(stderr, "quillon-flash: %s\n\n%s", error.c_str(), kUsage);
      return 2;
    case Parsed::kHistory:
      return ShowHistory(options);
    case Parsed::kList:
      return ShowPorts(options);
    case Parsed::kRun:
      break;
    case Parsed::kPlan: {
      std::vector<std::string> hints;
      const int code = ShowPlan(options, hints);
      if (code == quillon::engine::kSuccess) return 0;
      const int status = Report(options, code, options.port);
      for (const std::string& hint : hints) std::fprintf(stderr, "%s\n", hint.c_str());
      return status;
    }
  }
  std::string port;
  std::vector<std::string> hints;
  const int code = RunDownload(options, port, hints);
  const int status = Report(options, code, port);
  for (const std::string& hint : hints) std::fprintf(stderr, "%s\n", hint.c_str());
  return status;
}
