#pragma once
// Shared by the Win32 backend's tests: the backend installed for the test,
// a watcher that answers (and records) the message boxes and file dialogs
// of this process, a user-interface thread that pumps its own messages, and
// paths as Windows programs take them.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/thread.h"
#include "support/scratch_dir.h"
#include "support/win32/win32_probe.h"
#include "ui/backend.h"
#include "ui/dialog.h"
#include "ui/win32/win32_backend.h"

namespace quillon::testing {

namespace probe = ui::probe;

// A file name as a Windows program takes it: a POSIX path (Wine runs the
// build's files from the Linux side) is on drive Z:.
inline std::string WindowsPath(std::string path) {
  if (!path.empty() && path.front() == '/') path = "Z:" + path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

// A program's path for a command line: as Windows takes it, in quotes.
inline std::string QuotedProgram(const std::string& path) {
  std::string quoted(1, '"');
  quoted.append(WindowsPath(path));
  quoted.push_back('"');
  return quoted;
}

// A thread with windows: runs `setUp` there, then pumps its messages (with
// the dialog keyboard) until Stop, then runs `tearDown`.
class WindowThread {
 public:
  WindowThread(std::function<void()> setUp, std::function<void()> tearDown = {})
      : thread_([this, setUp = std::move(setUp), tearDown = std::move(tearDown)] {
          id_ = probe::CurrentThreadId();
          if (setUp) setUp();
          ready_ = true;
          probe::PumpUntil([this] { return stop_.load(); }, 600'000);
          if (tearDown) tearDown();
        }) {
    probe::WaitUntil([this] { return ready_.load(); }, 30'000);
  }
  ~WindowThread() { Stop(); }
  WindowThread(const WindowThread&) = delete;
  WindowThread& operator=(const WindowThread&) = delete;

  void Stop() {
    stop_ = true;
    thread_.Join();
  }
  uint32_t Id() const { return id_.load(); }

 private:
  std::atomic<uint32_t> id_{0};
  std::atomic<bool> ready_{false};
  std::atomic<bool> stop_{false};
  platform::Thread thread_;
};

class Win32Test : public ::testing::Test {
 protected:
  ui::Win32Backend backend;
  ui::ScopedBackend installed{backend};
  probe::CommonDialogWatcher watcher;
  ScratchDir scratch;
  const std::filesystem::path dir = scratch.Path();

  std::string WriteFile(const std::string& name, size_t size) {
    const auto path = dir / name;
    std::ofstream out(path, std::ios::binary);
    for (size_t i = 0; i < size; ++i) out.put(static_cast<char>((i * 7 + 3) & 0xFF));
    return path.string();
  }

  std::vector<std::string> BoxTexts() {
    std::vector<std::string> texts;
    for (const auto& box : watcher.MessageBoxes()) texts.push_back(box.text);
    return texts;
  }
};

}  // namespace quillon::testing
