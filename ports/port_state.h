#pragma once
// Process-wide state of the printer interfaces. One instance each for the
// whole process; flags that threads share are atomic.

#include <atomic>
#include <mutex>

#include "platform/device.h"

namespace quillon::ports {

// The USB interface is selected (takes precedence over useParallel).
inline std::atomic<int> useUsb{0};
// The parallel interface is selected; neither flag set means the serial port.
inline std::atomic<int> useParallel{0};
// Set when the user presses Cancel in the progress window.
inline std::atomic<int> userTerminate{0};
// The opened USB printer device.
inline std::atomic<platform::Handle> usbHandle{platform::kNoHandle};
// Copy of the parallel port's handle for the parallel receive thread.
inline std::atomic<platform::Handle> parallelHandle{platform::kInvalidHandle};
// Held around every port write call and every parallel reverse-channel read.
inline std::mutex portMutex;

}  // namespace quillon::ports
