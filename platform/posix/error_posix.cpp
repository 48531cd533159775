#include <cerrno>
#include <cstring>

#include "platform/device.h"

namespace quillon::platform {

namespace {
thread_local int lastErrno = 0;
}  // namespace

void ClearLastErrno() {
  lastErrno = 0;
}

void SetLastErrorFromErrno(int err) {
  lastErrno = err;
  int code = kErrorGenFailure;
  switch (err) {
    case 0:
      code = kErrorSuccess;
      break;
    case ENOENT:
    case ENXIO:
      code = kErrorFileNotFound;
      break;
    case EACCES:
    case EPERM:
      code = kErrorAccessDenied;
      break;
    case EBUSY:
      code = kErrorSharingViolation;
      break;
    case EBADF:
    case ENODEV:  // the device behind an open descriptor has gone (a USB printer unplugged)
      code = kErrorInvalidHandle;
      break;
    case EINVAL:
    case ENOTTY:
      code = kErrorInvalidParameter;
      break;
    default:
      break;
  }
  SetLastError(code);  // clears lastErrno
  lastErrno = err;
}

std::string LastErrorText() {
  if (lastErrno != 0) return std::strerror(lastErrno);
  switch (LastError()) {
    case kErrorSuccess:
      return "";
    case kErrorFileNotFound:
      return std::strerror(ENOENT);
    case kErrorAccessDenied:
      return std::strerror(EACCES);
    case kErrorInvalidHandle:
      return std::strerror(EBADF);
    case kErrorSharingViolation:
      return std::strerror(EBUSY);
    case kErrorInvalidParameter:
      return std::strerror(EINVAL);
    default:
      return std::strerror(EIO);
  }
}

}  // namespace quillon::platform
