#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/journal.h"

namespace quillon::platform {

std::string StateDirectory() {
  if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/') return state;
  if (const char* home = std::getenv("HOME"); home && *home)
    return std::string(home) + "/.local/state";
  return {};
}

std::string HostName() {
  char name[256] = {};
  return ::gethostname(name, sizeof name - 1) == 0 ? name : "";
}

std::string UserName() {
  // The reentrant lookup: downloads may be recorded from several threads.
  passwd entry{};
  passwd* user = nullptr;
  char buffer[4096];
  if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &user) == 0 && user) {
    return user->pw_name;
  }
  const char* name = std::getenv("USER");
  return name ? name : "";
}

bool AppendLine(const std::string& path, const std::string& line, std::string& error) {
  std::error_code made;
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder, made);
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  const std::string text = line + "\n";
  bool ok = ::flock(fd, LOCK_EX) == 0;
  for (size_t done = 0; ok && done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  if (!ok) error = std::strerror(errno);
  ::close(fd);  // lets the lock go
  return ok;
}

void SystemLog(bool failure, const std::string& text) {
  ::openlog("quillon", LOG_PID, LOG_USER);
  ::syslog(failure ? LOG_ERR : LOG_INFO, "%s", text.c_str());
  ::closelog();
}

}  // namespace quillon::platform
