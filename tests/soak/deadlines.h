#pragma once
// The longest a download may take in virtual time, from the launch to the
// end of its thread: every fixed pause and whole-second wait of the
// procedure, every command's answer wait run out, every line check retried
// to the last attempt. Built from the named waits of engine/flash_download.cpp,
// protocol/flash_printer.cpp, ports/receive_threads.cpp and app/, restated
// here because they are private to their files.

#include <cstdint>

#include "soak/scenario.h"

namespace quillon::soak {

int64_t DurationBoundMs(const Scenario& s);

}  // namespace quillon::soak
