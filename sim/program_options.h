#pragma once
// quillon-printer-sim's command line: --long-options that map onto the keys
// of the emulator's option grammar (sim_options.h), plus the port it serves,
// --verbose and --help.

#include <string>
#include <string_view>

#include "sim/sim_options.h"

namespace quillon::sim {

// The program's help text.
extern const std::string_view kProgramUsage;

enum class ProgramArguments { kRun, kHelp, kError };

// Where the printer is served, and how.
struct ProgramSettings {
  bool verbose = false;
  // A serial device to serve instead of a new pseudo-terminal, and the line
  // settings the host uses until the switch (the loader then talks at
  // 38400 baud, 8N1, as the printer does).
  std::string device;
  int baud = 38400;
  char parity = 'N';  // N, E or O
  int stopBits = 1;
  // A USB printer gadget's file (/dev/g_printerN) to serve instead, and the
  // gadget's configfs folder, for leaving the bus (empty: the only gadget
  // with a printer function that is bound to a controller).
  std::string usbGadget;
  std::string gadgetDir;
};

// Parses the program's arguments (argv[0] is the program) into `config` and
// `settings`. kHelp for --help or -h; kError, with `message` set to the
// whole text the program writes to stderr, for an unknown option, a missing
// value, a bad value or options that do not go together.
ProgramArguments ParseProgramArguments(int argc, const char* const* argv, SimConfig& config,
                                       ProgramSettings& settings, std::string& message);

}  // namespace quillon::sim
