// quillon-flash as a process: its standard streams broken, full or closed,
// the signals a session sends it, and a stop that has to end it.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <future>
#include <thread>

#include "e2e/cli_fixture.h"

namespace quillon::cli {
namespace {

using testing::Sink;
using testing::Streams;

constexpr const char* kCancelledLine = "result 1027: Application was terminated by Cancel button!";

std::string ReadText(const fs::path& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST_F(Cli, OutputThatCannotBeWrittenDoesNotStopTheDownload) {
  struct Case {
    const char* name;
    Streams streams;
  };
  const Case cases[] = {
      {"broken-pipes", {false, Sink::kBrokenPipe, Sink::kBrokenPipe}},
      {"broken-stdout", {false, Sink::kBrokenPipe, Sink::kCaptured}},
      {"full", {false, Sink::kFull, Sink::kFull}},
      {"stuck-stderr", {false, Sink::kCaptured, Sink::kStuck}},
  };
  const std::string image = Image("fonts.bin", 70000);
  std::vector<std::future<ProcessResult>> runs;
  for (const Case& c : cases) {
    const fs::path flash = dir / (std::string(c.name) + ".flash");
    runs.push_back(std::async(std::launch::async, [this, c, flash, image] {
      return Flash({"-t", "font", "-p", "sim:flash=" + flash.string(), image}, 60000, {}, nullptr,
                   c.streams);
    }));
  }
  for (size_t i = 0; i < std::size(cases); ++i) {
    const ProcessResult r = runs[i].get();
    EXPECT_EQ(r.status, 0) << cases[i].name << "\n" << r.err;
    const fs::path flash = dir / (std::string(cases[i].name) + ".flash");
    EXPECT_EQ(DumpAt(flash, kFontOffset, 70000), FileBytes(image)) << cases[i].name;
  }
}

TEST_F(Cli, ClosedStandardDescriptorsNeverLeadToThePrinter) {
  struct Case {
    const char* name;
    Streams streams;
  };
  const Case cases[] = {
      {"stderr-closed", {false, Sink::kCaptured, Sink::kClosed}},
      {"all-closed", {true, Sink::kClosed, Sink::kClosed}},
  };
  const std::string image = Image("fonts.bin", 70000);
  struct Run {
    testing::SimProcess sim;
    std::string pty;
    std::future<ProcessResult> result;
  };
  std::vector<Run> runs(std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const std::string name = cases[i].name;
    runs[i].pty = runs[i].sim.Start({"--log", (dir / (name + ".log")).string(), "--flash-out",
                                     (dir / (name + ".flash")).string()});
    ASSERT_FALSE(runs[i].pty.empty());
    runs[i].result =
        std::async(std::launch::async, [this, pty = runs[i].pty, image, s = cases[i].streams] {
          return Flash({"-t", "font", "-p", pty, image}, 60000, {}, nullptr, s);
        });
  }
  for (size_t i = 0; i < std::size(cases); ++i) {
    const std::string name = cases[i].name;
    const ProcessResult r = runs[i].result.get();
    EXPECT_EQ(r.status, 0) << name << "\n" << r.out;
    if (cases[i].streams.out == Sink::kCaptured) {
      EXPECT_EQ(LastLine(r.out), "result 1: Download successfully completed!") << name;
    }
    ASSERT_EQ(runs[i].sim.Stop(), 0) << name;
    const std::string transcript = ReadText(dir / (name + ".log"));
    EXPECT_NE(transcript.find("erase"), std::string::npos) << name << "\n" << transcript;
    EXPECT_EQ(transcript.find("stray"), std::string::npos) << name << "\n" << transcript;
    EXPECT_EQ(transcript.find("unknown"), std::string::npos) << name << "\n" << transcript;
    EXPECT_EQ(DumpAt(dir / (name + ".flash"), kFontOffset, 70000), FileBytes(image)) << name;
  }
}

TEST_F(Cli, AHangUpCancelsWhileSwitchingAndIsIgnoredOnceFlashing) {
  struct Case {
    const char* at;
    int status;
    std::string line;
  };
  const Case cases[] = {
      {"Switching printer to download...", 1, kCancelledLine},
      {"Selecting flash sector 2 of 2...", 0, "result 1: Download successfully completed!"},
  };
  const std::string image = Image("fonts.bin", 70000);
  std::vector<std::future<ProcessResult>> runs;
  std::vector<std::chrono::steady_clock::time_point> hungUpAt(std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const fs::path flash = dir / ("hup" + std::to_string(i) + ".flash");
    runs.push_back(
        std::async(std::launch::async, [this, flash, image, at = cases[i].at, &sent = hungUpAt[i]] {
          return Flash({"-t", "font", "-p", "sim:flash=" + flash.string(), image}, 60000, {},
                       SignalsAt({{at, SIGHUP}}, &sent));
        }));
  }
  for (size_t i = 0; i < std::size(cases); ++i) {
    const ProcessResult r = runs[i].get();
    EXPECT_NE(hungUpAt[i], std::chrono::steady_clock::time_point{}) << cases[i].at << "\n" << r.err;
    EXPECT_EQ(r.status, cases[i].status) << cases[i].at << "\n" << r.err;
    EXPECT_EQ(LastLine(r.out), cases[i].line) << cases[i].at;
  }
  // The download that went on has written the whole image.
  EXPECT_EQ(DumpAt(dir / "hup1.flash", kFontOffset, 70000), FileBytes(image));
}

TEST_F(Cli, AForcedStopEndsTheProgramWhileAReadIsStuck) {
  // The printer never answers the second erase: the program waits a minute
  // for the answer, inside a read. The stop comes once it is surely there.
  struct Case {
    const char* name;
    std::vector<int> signals;  // sent 300 ms apart
  };
  const Case cases[] = {
      {"SIGTERM", {SIGTERM}},
      {"second Ctrl-C", {SIGINT, SIGINT}},
  };
  const std::string image = Image("fonts.bin", 70000);
  struct Run {
    testing::SimProcess sim;
    std::promise<pid_t> erasing;  // the program's id, once it erases the second sector
    std::future<pid_t> erasingSeen = erasing.get_future();
    std::future<ProcessResult> result;
    std::chrono::steady_clock::time_point stoppedAt, endedAt;
  };
  std::vector<Run> runs(std::size(cases));
  for (Run& run : runs) {
    const std::string pty = run.sim.Start({"--silent", "erase:2"});
    ASSERT_FALSE(pty.empty());
    run.result = std::async(std::launch::async, [this, &run, pty, image] {
      bool seen = false;
      auto watch = [&](const std::string& err, pid_t pid) {
        if (seen || err.find("Erasing flash sector 2 of 2...") == std::string::npos) return;
        seen = true;
        run.erasing.set_value(pid);
      };
      ProcessResult r = Flash({"-t", "font", "-p", pty, image}, 120000, {}, watch);
      run.endedAt = std::chrono::steady_clock::now();
      if (!seen) run.erasing.set_value(-1);
      return r;
    });
  }
  std::vector<pid_t> pids;
  for (Run& run : runs) pids.push_back(run.erasingSeen.get());
  std::this_thread::sleep_for(std::chrono::milliseconds(2000));
  for (size_t i = 0; i < std::size(cases); ++i) {
    for (int signal : cases[i].signals) {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      if (pids[i] > 0) kill(pids[i], signal);
    }
    runs[i].stoppedAt = std::chrono::steady_clock::now();
  }
  for (size_t i = 0; i < std::size(cases); ++i) {
    const ProcessResult r = runs[i].result.get();
    ASSERT_GT(pids[i], 0) << cases[i].name << "\n" << r.err;
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(runs[i].endedAt - runs[i].stoppedAt);
    EXPECT_LT(ms.count(), 6000) << cases[i].name << "\n" << r.err;
    EXPECT_EQ(r.status, 1) << cases[i].name << "\n" << r.err;
    EXPECT_EQ(LastLine(r.out), kCancelledLine) << cases[i].name;
  }
}

}  // namespace
}  // namespace quillon::cli
