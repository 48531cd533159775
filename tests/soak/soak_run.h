#pragma once
// One soak run: the scenario's download launched as quillon-flash launches
// it (app::PrepareLaunch and app::StartDownload with the command line's
// window, the serial worker or a send thread, the receive threads) into the
// in-process printer emulator on a virtual clock, and every invariant checked
// afterwards.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "soak/scenario.h"

namespace quillon::soak {

struct RunResult {
  int code = 0;
  int64_t durationMs = 0;  // virtual
  int64_t boundMs = 0;
  // One line per invariant broken; empty when the run passed.
  std::vector<std::string> failures;
  // Reported done with the first IPL sector not holding the image, in a run
  // with faults, and the printer never took in a block for that sector: its
  // block is never checksummed (the loader restarts instead), so a block
  // the printer refused or never carried out, answered with a byte the
  // serial line accepts or taken for a late answer to an earlier command,
  // goes unnoticed by the protocol itself.
  bool firstIplSectorUnverified = false;
  std::string transcript;  // the printer's, when asked for
};

// Runs the scenario; image files go to `dir`. With `keepTranscript` the
// printer's transcript is returned as text.
RunResult RunScenario(const Scenario& s, const std::filesystem::path& dir, bool keepTranscript);

// Entries of /proc/self/fd and /proc/self/task.
int OpenDescriptors();
int Threads();

}  // namespace quillon::soak
