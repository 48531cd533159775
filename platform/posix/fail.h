#pragma once
// The two ways the POSIX devices report a failed call through the seam.

#include "platform/device.h"

namespace quillon::platform::posix {

// A call that failed with `err`: its Win32-numbered code and its text.
inline bool Fail(int err) {
  SetLastErrorFromErrno(err);
  return false;
}

// A call on a device that has been closed.
inline bool FailClosed() {
  SetLastError(kErrorInvalidHandle);
  return false;
}

}  // namespace quillon::platform::posix
