// The progress stream on Windows: the console or file itself.

#include "cli/progress_output.h"

namespace quillon::cli {

struct ProgressOutput::Forwarder {};

ProgressOutput::ProgressOutput(std::FILE* to) : stream_(to) {}

ProgressOutput::~ProgressOutput() = default;

}  // namespace quillon::cli
