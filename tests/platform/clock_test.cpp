#include "platform/clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/event.h"
#include "platform/thread.h"
#include "support/virtual_clock.h"

namespace quillon::platform {
namespace {

TEST(VirtualClock, PausesAdvanceTimeExactlyAndAreRecorded) {
  VirtualClock clock;
  ScopedClock scope(clock);
  Pause(100);
  Pause(0);
  Pause(2500);
  EXPECT_EQ(clock.NowMs(), 2600);
  EXPECT_EQ(clock.Timeline(std::this_thread::get_id()), (std::vector<int64_t>{100, 0, 2500}));
}

TEST(VirtualClock, ThreadsWakeInDeadlineOrder) {
  VirtualClock clock;
  ScopedClock scope(clock);
  std::vector<int> order;
  std::mutex m;
  auto note = [&](int who) {
    std::lock_guard lock(m);
    order.push_back(who);
  };
  int64_t endA = 0, endB = 0;
  Thread a([&] {
    Pause(300);
    endA = NowMs();
    note(1);
  });
  Thread b([&] {
    Pause(100);
    endB = NowMs();
    note(2);
  });
  a.Join();
  b.Join();
  EXPECT_EQ(endA, 300);
  EXPECT_EQ(endB, 100);
  EXPECT_EQ(order, (std::vector<int>{2, 1}));
}

// A whole-second wait spans whole seconds of the wall clock, wherever in a
// second it starts: at least n, less than n + 1 seconds.
TEST(VirtualClock, WaitSecondsSpansWholeSeconds) {
  struct Case {
    int64_t msIntoSecond;
    int seconds;
    int64_t expectedMs;
  };
  for (const Case c : {Case{0, 9, 10000}, Case{999, 9, 9001}, Case{500, 5, 5500}, Case{0, 0, 1000},
                       Case{999, 0, 1}}) {
    VirtualClock clock(1'800'000'000'000 + c.msIntoSecond);
    ScopedClock scope(clock);
    const int64_t wallBefore = clock.WallSeconds();
    clock.WaitSeconds(c.seconds);
    EXPECT_EQ(clock.NowMs(), c.expectedMs)
        << c.msIntoSecond << " ms into the second, wait " << c.seconds;
    EXPECT_GT(clock.WallSeconds(), wallBefore + c.seconds);
    ASSERT_EQ(clock.Records().size(), 1u);
    EXPECT_EQ(clock.Records()[0].kind, VirtualClock::Kind::kWaitSeconds);
  }
}

TEST(RealClock, WaitSecondsEndsAtTheNextChangeOfTheSecond) {
  Clock& clock = GetClock();
  const int64_t before = clock.WallSeconds();
  const int64_t start = clock.NowMs();
  clock.WaitSeconds(0);
  EXPECT_GT(clock.WallSeconds(), before);
  EXPECT_LE(clock.NowMs() - start, 1500);  // never a whole second more
}

TEST(Event, TimedWaitTimesOutOnTheClock) {
  VirtualClock clock;
  ScopedClock scope(clock);
  Event event(true);
  EXPECT_FALSE(event.Wait(750));
  EXPECT_EQ(clock.NowMs(), 750);
  EXPECT_FALSE(event.Wait(0));
  EXPECT_EQ(clock.NowMs(), 750);
}

TEST(Event, SetFromAnotherThreadWakesTheWaiterAtThatTime) {
  VirtualClock clock;
  ScopedClock scope(clock);
  Event event(true);
  Thread setter([&] {
    Pause(300);
    event.Set();
  });
  EXPECT_TRUE(event.Wait(1000));
  EXPECT_EQ(clock.NowMs(), 300);
  setter.Join();
}

TEST(Event, ManualResetStaysSetAutoResetIsTakenOnce) {
  VirtualClock clock;
  ScopedClock scope(clock);
  Event manual(true, true);
  EXPECT_TRUE(manual.Wait(0));
  EXPECT_TRUE(manual.Wait(0));
  manual.Reset();
  EXPECT_FALSE(manual.IsSet());

  Event automatic(false);
  automatic.Set();
  EXPECT_TRUE(automatic.IsSet());
  EXPECT_TRUE(automatic.Wait(0));
  EXPECT_FALSE(automatic.Wait(0));
}

TEST(Event, AutoResetWakesOnlyOneOfTwoWaiters) {
  VirtualClock clock;
  ScopedClock scope(clock);
  Event event(false);
  std::atomic<int> taken{0};
  Thread a([&] { taken += event.Wait(1000) ? 1 : 0; });
  Thread b([&] { taken += event.Wait(1000) ? 1 : 0; });
  Pause(10);
  event.Set();
  a.Join();
  b.Join();
  EXPECT_EQ(taken.load(), 1);
}

TEST(Thread, SuspendedThreadRunsOnlyAfterResume) {
  VirtualClock clock;
  ScopedClock scope(clock);
  std::atomic<bool> ran{false};
  Thread t([&] { ran = true; }, ThreadPriority::kAboveNormal, /*suspended=*/true);
  Pause(100);
  EXPECT_FALSE(ran.load());
  EXPECT_FALSE(t.Finished());
  t.Resume();
  t.Join();
  EXPECT_TRUE(ran.load());
  EXPECT_TRUE(t.Finished());
  t.Join();  // a second join is harmless
}

TEST(Thread, AThreadNeverResumedEndsWithoutRunning) {
  std::atomic<bool> ran{false};
  {
    Thread t([&] { ran = true; }, ThreadPriority::kNormal, /*suspended=*/true);
  }
  EXPECT_FALSE(ran.load());
}

}  // namespace
}  // namespace quillon::platform
