// The command line's Ctrl-C rules, on the virtual clock.

#include "cli/interrupts.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "ports/port_state.h"
#include "sim/temp_dir.h"
#include "support/virtual_clock.h"

#ifndef _WIN32
#include <signal.h>
#include <unistd.h>
#endif

namespace quillon::cli {
namespace {

class InterruptsTest : public ::testing::Test {
 protected:
  InterruptsTest() {
    PrepareInterrupts();
    ports::userTerminate = 0;
  }
  ~InterruptsTest() override {
    ports::userTerminate = 0;
    std::fclose(out_);
  }

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
};

TEST_F(InterruptsTest, WhileThePrinterIsSwitchedCtrlCCancels) {
  ASSERT_NE(out_, nullptr);
  Interrupts interrupts(phase_, view_);
  interrupts.OnInterrupt();
  EXPECT_EQ(ports::userTerminate, 1);
  EXPECT_FALSE(interrupts.Forced());  // a cancel, with the cancel's own result
  EXPECT_NE(Shown().find("cancelling"), std::string::npos) << Shown();
}

TEST_F(InterruptsTest, WhileFlashingTheFirstCtrlCOnlyWarns) {
  ASSERT_NE(out_, nullptr);
  phase_ = kFlashing;
  Interrupts interrupts(phase_, view_);
  interrupts.OnInterrupt();
  EXPECT_EQ(ports::userTerminate, 0);
  EXPECT_FALSE(interrupts.Forced());
  EXPECT_NE(Shown().find("Press Ctrl-C again within 5 s"), std::string::npos) << Shown();

  clock_.Advance(5000);  // still within the 5 s
  interrupts.OnInterrupt();
  EXPECT_EQ(ports::userTerminate, 1);
  EXPECT_TRUE(interrupts.Forced());
  EXPECT_NE(Shown().find("stopping the download"), std::string::npos) << Shown();
}

TEST_F(InterruptsTest, ASecondCtrlCAfterFiveSecondsOnlyWarnsAgain) {
  ASSERT_NE(out_, nullptr);
  phase_ = kFlashing;
  Interrupts interrupts(phase_, view_);
  interrupts.OnInterrupt();
  clock_.Advance(5001);
  interrupts.OnInterrupt();
  EXPECT_EQ(ports::userTerminate, 0);
  EXPECT_FALSE(interrupts.Forced());
  clock_.Advance(4000);  // within 5 s of the second warning
  interrupts.OnInterrupt();
  EXPECT_TRUE(interrupts.Forced());
  EXPECT_EQ(ports::userTerminate, 1);
}

TEST_F(InterruptsTest, AfterTheDownloadCtrlCDoesNothing) {
  ASSERT_NE(out_, nullptr);
  phase_ = kEnded;
  Interrupts interrupts(phase_, view_);
  interrupts.OnInterrupt();
  interrupts.OnInterrupt();
  EXPECT_EQ(ports::userTerminate, 0);
  EXPECT_FALSE(interrupts.Forced());
  EXPECT_EQ(Shown(), "");
}

TEST_F(InterruptsTest, ARequestToTerminateStopsInEveryPhase) {
  ASSERT_NE(out_, nullptr);
  for (int phase : {kStarting, kFlashing, kEnded}) {
    ports::userTerminate = 0;
    phase_ = phase;
    Interrupts interrupts(phase_, view_);
    interrupts.OnTerminate();
    EXPECT_TRUE(interrupts.Forced()) << phase;
    EXPECT_EQ(ports::userTerminate, 1) << phase;
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
      ports::userTerminate = 0;
      phase_ = kFlashing;
      const size_t from = Shown().size();
      Interrupts interrupts(phase_, view_);
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

#ifndef _WIN32
// The POSIX part: a real SIGINT reaches the rules through the signal thread.
TEST_F(InterruptsTest, ASignalReachesTheRules) {
  ASSERT_NE(out_, nullptr);
  Interrupts interrupts(phase_, view_);
  ASSERT_EQ(kill(getpid(), SIGINT), 0);
  for (int waited = 0; waited < 5000 && ports::userTerminate == 0; waited += 10) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(ports::userTerminate, 1);
}
#endif

}  // namespace
}  // namespace quillon::cli
