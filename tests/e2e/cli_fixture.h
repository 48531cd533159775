#pragma once
// What the tests of quillon-flash as a program share: a scratch folder per
// test, images, runs of the program and a look at the emulator's flash.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "support/process.h"
#include "support/scratch_dir.h"

namespace quillon::cli {

namespace fs = std::filesystem;
using testing::ProcessResult;
using testing::RunProcess;

inline std::string LastLine(const std::string& text) {
  std::string t = text;
  while (!t.empty() && t.back() == '\n') t.pop_back();
  const size_t nl = t.rfind('\n');
  return nl == std::string::npos ? t : t.substr(nl + 1);
}

class Cli : public ::testing::Test {
 protected:
  testing::ScratchDir scratch;
  const fs::path dir = scratch.Path();
  // An image whose bytes follow a pattern; another `seed`, another pattern.
  std::string Image(const std::string& name, size_t size, int seed = 3) {
    std::vector<char> data(size);
    for (size_t i = 0; i < size; ++i)
      data[i] = static_cast<char>(i * 7 + static_cast<size_t>(seed));
    std::ofstream(dir / name, std::ios::binary).write(data.data(), static_cast<long>(size));
    return (dir / name).string();
  }
  ProcessResult Flash(std::vector<std::string> args, int limitMs = 20000,
                      const std::vector<std::string>& env = {},
                      const testing::OutputWatcher& watch = nullptr,
                      const testing::Streams& streams = {}) {
    args.insert(args.begin(), QUILLON_FLASH);
    return RunProcess(args, limitMs, env, watch, streams);
  }
};

// Where a font image lands in the emulator's flash: sectors 1-4 fill the
// first 64 KiB, and fonts start at sector 18.
inline constexpr size_t kFontOffset = 0x10000 * 14;

// Sends each signal once, in order, when the standard error first shows its
// text; `sentAt` (if given) is when the last one went.
inline testing::OutputWatcher SignalsAt(std::vector<std::pair<std::string, int>> marks,
                                        std::chrono::steady_clock::time_point* sentAt = nullptr) {
  return [marks, sentAt, next = size_t{0}](const std::string& err, pid_t pid) mutable {
    while (next < marks.size() && err.find(marks[next].first) != std::string::npos) {
      kill(pid, marks[next].second);
      if (sentAt) *sentAt = std::chrono::steady_clock::now();
      ++next;
    }
  };
}

// Sends SIGINT once each time the standard error first shows one of `marks`,
// in order.
inline testing::OutputWatcher InterruptAt(const std::vector<std::string>& marks) {
  std::vector<std::pair<std::string, int>> signals;
  for (const std::string& m : marks) signals.emplace_back(m, SIGINT);
  return SignalsAt(signals);
}

// The bytes of the emulator's flash dump from `offset` on, as many as `size`.
inline std::vector<char> DumpAt(const fs::path& dump, size_t offset, size_t size) {
  std::ifstream in(dump, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  std::vector<char> bytes(size);
  in.read(bytes.data(), static_cast<std::streamsize>(size));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

inline std::vector<char> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace quillon::cli
