#pragma once
// The emulator tests' names for the scratch folder and the file helpers.

#include "support/scratch_dir.h"

namespace quillon::sim::testing {

using TempDir = quillon::testing::ScratchDir;
using quillon::testing::ReadFileBytes;
using quillon::testing::ReadFileText;
using quillon::testing::WriteFileBytes;

}  // namespace quillon::sim::testing
