// quillon-flash against printers on pseudo-terminals when things go wrong in
// real time: the printer goes away, the program is killed, two programs want
// one port, four download side by side. Real clock; generous bounds.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include "e2e/cli_fixture.h"

namespace quillon::cli {
namespace {

constexpr const char* kSuccessLine = "result 1: Download successfully completed!";
constexpr size_t kImageSize = 70000;  // two sectors of fonts

std::vector<char> FlashFile(const fs::path& dump) {
  return DumpAt(dump, kFontOffset, kImageSize);
}

TEST_F(Cli, APrinterThatVanishesEndsTheDownloadWithTheFailedStep) {
  // The printer keeps the program waiting for an answer (a minute at most),
  // then its process dies and the terminal hangs up under the program.
  struct Case {
    const char* silent;
    const char* at;
    std::string line;
  };
  const Case cases[] = {
      {"erase:2", "Erasing flash sector 2 of 2...", "result 1001: "},
      {"select:1", "Selecting flash sector 2 of 2...", "result 1002: "},
  };
  const std::string image = Image("fonts.bin", kImageSize);
  struct Run {
    testing::SimProcess sim;
    std::chrono::steady_clock::time_point goneAt, endedAt;
    std::future<ProcessResult> result;
  };
  std::vector<Run> runs(std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    Run& run = runs[i];
    const std::string pty = run.sim.Start({"--silent", cases[i].silent});
    ASSERT_FALSE(pty.empty());
    run.result = std::async(std::launch::async, [this, &run, pty, image, at = cases[i].at] {
      bool gone = false;
      auto watch = [&](const std::string& err, pid_t) {
        if (gone || err.find(at) == std::string::npos) return;
        gone = true;
        // Give the program time to be inside its read.
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        run.sim.Kill();
        run.goneAt = std::chrono::steady_clock::now();
      };
      ProcessResult r = Flash({"-t", "font", "-p", pty, image}, 120000, {}, watch);
      run.endedAt = std::chrono::steady_clock::now();
      return r;
    });
  }
  for (size_t i = 0; i < std::size(cases); ++i) {
    const ProcessResult r = runs[i].result.get();
    EXPECT_EQ(r.status, 1) << cases[i].at << "\n" << r.err;
    EXPECT_EQ(LastLine(r.out).substr(0, cases[i].line.size()), cases[i].line) << r.out;
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(runs[i].endedAt - runs[i].goneAt);
    EXPECT_LT(ms.count(), 10000) << cases[i].at;
  }
}

TEST_F(Cli, AfterTheProgramIsKilledThePortOpensAtOnce) {
  testing::SimProcess sim;
  const std::string pty = sim.Start({});
  ASSERT_FALSE(pty.empty());
  const std::string image = Image("fonts.bin", kImageSize);
  const ProcessResult killed = Flash({"-t", "font", "-p", pty, image}, 60000, {},
                                     SignalsAt({{"Erasing flash sector 2 of 2...", SIGKILL}}));
  ASSERT_EQ(killed.status, 128 + SIGKILL) << killed.err;

  // Nothing of its hold on the port outlives it: the lock is free and the tty
  // is not left exclusive (which would shut out every user but root).
  const int probe = open(pty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(probe, 0) << std::strerror(errno);
  EXPECT_EQ(flock(probe, LOCK_EX | LOCK_NB), 0);
  int exclusiveTty = -1;
  EXPECT_EQ(ioctl(probe, TIOCGEXCL, &exclusiveTty), 0);
  EXPECT_EQ(exclusiveTty, 0);
  close(probe);

  // The next run opens the same port: it gets as far as switching the
  // printer (a stop then ends it, the printer being in no state to switch).
  const ProcessResult next = Flash({"-t", "font", "-p", pty, image}, 60000, {},
                                   SignalsAt({{"Switching printer to download...", SIGTERM}}));
  EXPECT_EQ(next.err.find("in use"), std::string::npos) << next.err;
  EXPECT_EQ(LastLine(next.out), "result 1027: Application was terminated by Cancel button!")
      << next.err;
  ASSERT_EQ(sim.Stop(), 0);

  // A printer started again takes a whole download on the same kind of port.
  const fs::path flash = dir / "flash.bin";
  testing::SimProcess again;
  const std::string port = again.Start({"--flash-out", flash.string()});
  ASSERT_FALSE(port.empty());
  const ProcessResult done = Flash({"-q", "-t", "font", "-p", port, image}, 60000);
  EXPECT_EQ(done.status, 0) << done.err;
  EXPECT_EQ(LastLine(done.out), kSuccessLine);
  ASSERT_EQ(again.Stop(), 0);
  EXPECT_EQ(FlashFile(flash), FileBytes(image));
}

TEST_F(Cli, FourPortsAtOnceEachTakenByOneProgram) {
  // Four downloads side by side, each into its own printer; while the first
  // erases, a fifth program asks for its port and is turned away.
  constexpr int kPorts = 4;
  testing::SimProcess sims[kPorts];
  std::string ptys[kPorts];
  ProcessResult intruder;
  bool intruded = false;
  std::vector<std::future<ProcessResult>> runs;
  for (int i = 0; i < kPorts; ++i) {
    const std::string n = std::to_string(i);
    ptys[i] = sims[i].Start({"--flash-out", (dir / ("flash" + n)).string()});
    ASSERT_FALSE(ptys[i].empty());
    const std::string image = Image("fonts" + n + ".bin", kImageSize, 20 + i);
    testing::OutputWatcher watch;
    if (i == 0) {
      const std::string other = Image("other.bin", kImageSize, 11);
      watch = [this, &intruder, &intruded, pty = ptys[0], other](const std::string& err, pid_t) {
        if (intruded || err.find("Erasing flash sector 1 of 2...") == std::string::npos) return;
        intruded = true;
        intruder = Flash({"-t", "font", "-p", pty, other});
      };
    }
    runs.push_back(std::async(std::launch::async, [this, pty = ptys[i], image, watch] {
      return Flash({"-t", "font", "-p", pty, image}, 120000, {}, watch);
    }));
  }
  for (int i = 0; i < kPorts; ++i) {
    const std::string n = std::to_string(i);
    const ProcessResult r = runs[i].get();
    EXPECT_EQ(r.status, 0) << i << "\n" << r.err;
    EXPECT_EQ(LastLine(r.out), kSuccessLine) << i;
    ASSERT_EQ(sims[i].Stop(), 0);
    EXPECT_EQ(FlashFile(dir / ("flash" + n)), FileBytes((dir / ("fonts" + n + ".bin")).string()))
        << i;
  }
  ASSERT_TRUE(intruded);
  EXPECT_EQ(intruder.status, 1);
  EXPECT_EQ(LastLine(intruder.out), "result 1017: Unable to get serial port handle!");
  EXPECT_NE(intruder.err.find("cannot open " + ptys[0] + ": the port is in use"), std::string::npos)
      << intruder.err;
}

}  // namespace
}  // namespace quillon::cli
