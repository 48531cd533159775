#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/device.h"
#include "platform/file.h"

namespace quillon::platform {

namespace {

// errno for a file of this mode that is no regular file; 0 for a regular one.
int NotRegular(mode_t mode) {
  if (S_ISREG(mode)) return 0;
  return S_ISDIR(mode) ? EISDIR : EINVAL;
}

std::FILE* Refuse(int error) {
  SetLastErrorFromErrno(error);
  errno = error;
  return nullptr;
}

}  // namespace

std::FILE* OpenRegularFile(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return Refuse(errno);
  if (const int error = NotRegular(info.st_mode)) return Refuse(error);
  // O_NONBLOCK: should a FIFO or device have taken the name since, the open
  // returns instead of waiting for a writer or a carrier; the descriptor is
  // looked at again before it is used.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Refuse(errno);
  int error = 0;
  if (::fstat(fd, &info) != 0) {
    error = errno;
  } else if ((error = NotRegular(info.st_mode)) == 0) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) error = errno;
  }
  if (error != 0) {
    ::close(fd);
    return Refuse(error);
  }
  std::FILE* file = ::fdopen(fd, "rb");
  if (!file) {
    error = errno;
    ::close(fd);
    return Refuse(error);
  }
  std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

}  // namespace quillon::platform
