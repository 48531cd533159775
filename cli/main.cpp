// quillon-flash: writes a main firmware, IPL firmware or font image into the
// printer's flash from the command line, with the same checks, procedure and
// result codes as the dialog.

#include <cstdio>
#include <string>

#include "cli/download_host.h"
#include "cli/interrupts.h"
#include "cli/options.h"
#include "cli/report.h"

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
      std::fprintf(stderr, "quillon-flash: %s\n\n%s", error.c_str(), kUsage);
      return 2;
    case Parsed::kRun:
      break;
  }
  std::string port;
  const int code = RunDownload(options, port);
  return Report(options, code, port);
}
