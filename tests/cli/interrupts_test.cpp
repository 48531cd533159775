// The command line's Ctrl-C rules, on the virtual clock.

#include "cli/interrupts.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "sim/temp_dir.h"
#include "support/virtual_clock.h"

#ifndef _WIN32
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace quillon::cli {
namespace {

class InterruptsTest : public ::testing::Test {
 protected:
  InterruptsTest() { PrepareInterrupts(); }
  ~InterruptsTest() override { std::fclose(out_); }

  // What the progress display has shown so far.
  std::string Shown() {
    std::fflush(out_);
    return sim::testing::ReadFileText(file_);
  }

  platform::VirtualClock clock_;
  platform::ScopedClock scoped_{clock_};
  sim::testing::TempDir dir_;
  const std::string file_ = dir_.File("progress.txt");
  std::FILE* out_ = std::fopen(file_.c_str(), "wb");
  ProgressView view_{out_, ProgressView::Mode::kLines, false};
  std::atomic<int> phase_{kStarting};
  // The download's stop request, as the interrupts set it.
  std::atomic<int> userTerminate{0};
  std::function<void()> stop_ = [this] { userTerminate = 1; };
};

TEST_F(InterruptsTest, WhileThePrinterIsSwitchedCtrlCCancels) {
  ASSERT_NE(out_, nullptr);
  Interrupts interrupts(phase_, view_, stop_);
  interrupts.OnInterrupt();
  EXPECT_EQ(userTerminate, 1);
  EXPECT_FALSE(interrupts.Forced());  // a cancel, with the cancel's own result
  EXPECT_NE(Shown().find("cancelling"), std::string::npos) << Shown();
}

TEST_F(InterruptsTest, WhileFlashingTheFirstCtrlCOnlyWarns) {
  ASSERT_NE(out_, nullptr);
  phase_ = kFlashing;
  Interrupts interrupts(phase_, view_, stop_);
  interrupts.OnInterrupt();
  EXPECT_EQ(userTerminate, 0);
  EXPECT_FALSE(interrupts.Forced());
  EXPECT_NE(Shown().find("Press Ctrl-C again within 5 s"), std::string::npos) << Shown();

  clock_.Advance(5000);  // still within the 5 s
  interrupts.OnInterrupt();
  EXPECT_EQ(userTerminate, 1);
  EXPECT_TRUE(interrupts.Forced());
  EXPECT_NE(Shown().find("stopping the download"), std::string::npos) << Shown();
}

TEST_F(InterruptsTest, ASecondCtrlCAfterFiveSecondsOnlyWarnsAgain) {
  ASSERT_NE(out_, nullptr);
  phase_ = kFlashing;
  Interrupts interrupts(phase_, view_, stop_);
  interrupts.OnInterrupt();
  clock_.Advance(5001);
  interrupts.OnInterrupt();
  EXPECT_EQ(userTerminate, 0);
  EXPECT_FALSE(interrupts.Forced());
  clock_.Advance(4000);  // within 5 s of the second warning
  interrupts.OnInterrupt();
  EXPECT_TRUE(interrupts.Forced());
  EXPECT_EQ(userTerminate, 1);
}

TEST_F(InterruptsTest, AfterTheDownloadCtrlCDoesNothing) {
  ASSERT_NE(out_, nullptr);
  phase_ = kEnded;
  Interrupts interrupts(phase_, view_, stop_);
  interrupts.OnInterrupt();
  interrupts.OnInterrupt();
  EXPECT_EQ(userTerminate, 0);
  EXPECT_FALSE(interrupts.Forced());
  EXPECT_EQ(Shown(), "");
}

TEST_F(InterruptsTest, ARequestToTerminateStopsInEveryPhase) {
  ASSERT_NE(out_, nullptr);
  for (int phase : {kStarting, kFlashing, kEnded}) {
    userTerminate = 0;
    phase_ = phase;
    Interrupts interrupts(phase_, view_, stop_);
    interrupts.OnTerminate();
    EXPECT_TRUE(interrupts.Forced()) << phase;
    EXPECT_EQ(userTerminate, 1) << phase;
  }
  EXPECT_NE(Shown().find("terminated"), std::string::npos) << Shown();
}

TEST_F(InterruptsTest, AStopSaysWhatTheDownloadHasDone) {
  ASSERT_NE(out_, nullptr);
  struct Case {
    engine::Reached reached;
    const char* done;
  };
  for (const Case c : {
           Case{engine::Reached::kNothing, "nothing has been erased"},
           Case{engine::Reached::kLoader, "nothing has been erased"},
           Case{engine::Reached::kChangingFlash, "the printer's flash is now incomplete"},
           Case{engine::Reached::kFirstSectorErased, "the printer's flash is now incomplete"},
           Case{engine::Reached::kAllBlocksSent,
                "every block has been written; only the final checks are skipped"},
           Case{engine::Reached::kCompleted, "the download had already completed"},
       }) {
    for (const bool terminate : {false, true}) {
      userTerminate = 0;
      phase_ = kFlashing;
      const size_t from = Shown().size();
      Interrupts interrupts(phase_, view_, stop_);
      interrupts.Follow([&c] { return c.reached; });
      if (terminate) {
        interrupts.OnTerminate();
      } else {
        interrupts.OnInterrupt();
        interrupts.OnInterrupt();
      }
      EXPECT_TRUE(interrupts.Forced());
      const std::string stop =
          std::string(terminate ? "quillon-flash: terminated: " : "quillon-flash: ") +
          "stopping the download: " + c.done + "\n";
      const std::string shown = Shown().substr(from);
      ASSERT_GE(shown.size(), stop.size()) << shown;
      EXPECT_EQ(shown.substr(shown.size() - stop.size()), stop) << shown;
    }
  }
}

TEST_F(InterruptsTest, AHangUpCancelsOnlyWhileThePrinterIsSwitched) {
  ASSERT_NE(out_, nullptr);
  struct Case {
    int phase;
    int stop;
  };
  for (const Case c : {Case{kStarting, 1}, Case{kFlashing, 0}, Case{kEnded, 0}}) {
    userTerminate = 0;
    phase_ = c.phase;
    platform::Event stopped(true);
    Interrupts interrupts(phase_, view_, stop_, &stopped);
    interrupts.OnHangUp();
    interrupts.OnHangUp();  // a second one changes nothing either
    EXPECT_EQ(userTerminate, c.stop) << c.phase;
    EXPECT_FALSE(interrupts.Forced()) << c.phase;
    EXPECT_FALSE(stopped.IsSet()) << c.phase;
  }
  // Only the cancel said anything.
  const std::string shown = Shown();
  EXPECT_NE(shown.find("cancelling"), std::string::npos) << shown;
  EXPECT_EQ(shown.find("Press Ctrl-C again"), std::string::npos) << shown;
}

TEST_F(InterruptsTest, OnlyAStopByForceSetsTheStopEvent) {
  ASSERT_NE(out_, nullptr);
  struct Case {
    const char* name;
    int phase;
    void (Interrupts::*request)();
    int times;
    bool stopped;
  };
  const Case cases[] = {
      {"cancel", kStarting, &Interrupts::OnInterrupt, 1, false},
      {"warning", kFlashing, &Interrupts::OnInterrupt, 1, false},
      {"second Ctrl-C", kFlashing, &Interrupts::OnInterrupt, 2, true},
      {"terminate while starting", kStarting, &Interrupts::OnTerminate, 1, true},
      {"terminate while flashing", kFlashing, &Interrupts::OnTerminate, 1, true},
  };
  for (const Case& c : cases) {
    userTerminate = 0;
    phase_ = c.phase;
    platform::Event stopped(true);
    Interrupts interrupts(phase_, view_, stop_, &stopped);
    for (int i = 0; i < c.times; ++i) (interrupts.*c.request)();
    EXPECT_EQ(stopped.IsSet(), c.stopped) << c.name;
    EXPECT_EQ(interrupts.Forced(), c.stopped) << c.name;
  }
}

#ifndef _WIN32
// The POSIX part: real signals reach the rules through the signal thread.
TEST_F(InterruptsTest, SignalsReachTheRules) {
  ASSERT_NE(out_, nullptr);
  for (int signal : {SIGINT, SIGHUP}) {
    userTerminate = 0;
    Interrupts interrupts(phase_, view_, stop_);
    ASSERT_EQ(kill(getpid(), signal), 0);
    for (int waited = 0; waited < 5000 && userTerminate == 0; waited += 10) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(userTerminate, 1) << signal;
  }
}

TEST(ProcessTest, WritingIntoABrokenPipeIsAnErrorNotTheEnd) {
  PrepareProcess();
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  const char byte = 'x';
  errno = 0;
  EXPECT_EQ(write(fds[1], &byte, 1), -1);
  EXPECT_EQ(errno, EPIPE);
  close(fds[1]);
}
#endif

}  // namespace
}  // namespace quillon::cli
