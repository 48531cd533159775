// The OS calls of the parallel port and USB printer backends, and what their
// devices share.
#include "platform/posix/printer_posix.h"

#include <fcntl.h>
#include <unistd.h>

namespace quillon::platform::posix {

namespace {

class SystemCalls final : public PrinterOs {
 public:
  int Open(const char* path, int flags) override { return ::open(path, flags); }
  int Close(int fd) override { return ::close(fd); }
  ssize_t Read(int fd, void* data, size_t n) override { return ::read(fd, data, n); }
  ssize_t Write(int fd, const void* data, size_t n) override { return ::write(fd, data, n); }
  int Ioctl(int fd, unsigned long request, void* arg) override { return ::ioctl(fd, request, arg); }
  int Poll(pollfd* fds, nfds_t n, int timeoutMs) override { return ::poll(fds, n, timeoutMs); }
};

}  // namespace

PrinterOs& RealPrinterOs() {
  return MadeOnFirstUse<PrinterOs, SystemCalls>();
}

Installed<PrinterOs, RealPrinterOs> printerOs;

}  // namespace quillon::platform::posix
