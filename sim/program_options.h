#pragma once
// quillon-printer-sim's command line: --long-options that map onto the keys
// of the emulator's option grammar (sim_options.h), plus --verbose and --help.

#include <string>
#include <string_view>

#include "sim/sim_options.h"

namespace quillon::sim {

// The program's help text.
extern const std::string_view kProgramUsage;

enum class ProgramArguments { kRun, kHelp, kError };

// Parses the program's arguments (argv[0] is the program) into `config` and
// `verbose`. kHelp for --help or -h; kError, with `message` set to the whole
// text the program writes to stderr, for an unknown option, a missing value
// or a bad value.
ProgramArguments ParseProgramArguments(int argc, const char* const* argv, SimConfig& config,
                                       bool& verbose, std::string& message);

}  // namespace quillon::sim
