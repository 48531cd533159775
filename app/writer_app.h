#pragma once
// CWriterApp: the dialog program's start-up. It makes the main dialog,
// loads the model table and runs the dialog; the exit code is the last
// result shown (-1 when none was).

#include <cstdint>
#include <string>

#include "app/model_table.h"

namespace quillon::app {

class CWriterApp {
 public:
  explicit CWriterApp(std::string modelTableText = kModelTableText)
      : modelTableText_(std::move(modelTableText)) {}

  // Runs the program on the calling thread (which becomes the
  // user-interface thread); returns the exit code. The command line plays
  // no part.
  int Run();
  // The exit code as the process reports it (-1 is 0xFFFFFFFF).
  uint32_t ProcessExitCode() const { return static_cast<uint32_t>(exitCode); }

  int exitCode = -1;

 private:
  // The 3-D look of the controls: every supported system has it.
  void Enable3dControls() {}

  std::string modelTableText_;
};

}  // namespace quillon::app
