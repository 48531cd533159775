#pragma once
// Process-wide state of the printer interfaces. One instance each for the
// whole process; flags that threads share are atomic.

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/device.h"

namespace quillon::ports {

// The three ways to the printer.
enum class Interface { kSerial, kParallel, kUsb };

// The USB interface is selected (takes precedence over useParallel).
inline std::atomic<int> useUsb{0};
// The parallel interface is selected; neither flag set means the serial port.
inline std::atomic<int> useParallel{0};
// The interface the two flags select.
inline Interface CurrentInterface() {
  if (useUsb) return Interface::kUsb;
  return useParallel ? Interface::kParallel : Interface::kSerial;
}
// Set when the user presses Cancel in the progress window.
inline std::atomic<int> userTerminate{0};
// The opened USB printer device.
inline std::atomic<platform::Handle> usbHandle{platform::kNoHandle};
// Copy of the parallel port's handle for the parallel receive thread.
inline std::atomic<platform::Handle> parallelHandle{platform::kInvalidHandle};
// Held around every port write call and every parallel reverse-channel read.
inline std::mutex portMutex;

// The answer buffers: the USB and the parallel receive thread put the bytes
// they read there, the first one at position 0. The answer event of the
// interface tells the waiting command when they are complete; answerMutex
// keeps a late write of a stopped thread apart from the command's reads.
inline constexpr int kReceivedBufferSize = 300;
inline constexpr int kParallelAnswerSize = 304;
inline uint8_t receivedBuffer[kReceivedBufferSize];
inline uint8_t parallelAnswer[kParallelAnswerSize];
inline std::mutex answerMutex;

}  // namespace quillon::ports
