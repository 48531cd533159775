// platform::Thread's priorities as Windows sees them.

#include "platform/thread_priority.h"

#include <gtest/gtest.h>

#include <atomic>

#include "platform/thread.h"

namespace quillon::platform {
namespace {

ThreadPriority PriorityInside(ThreadPriority given) {
  std::atomic<ThreadPriority> seen{given == ThreadPriority::kNormal ? ThreadPriority::kAboveNormal
                                                                    : ThreadPriority::kNormal};
  Thread t([&] { seen = CurrentThreadPriority(); }, given, /*suspended=*/true);
  t.Resume();
  t.Join();
  return seen;
}

TEST(ThreadPriorityWin32, AnAboveNormalThreadRunsAboveNormal) {
  EXPECT_EQ(PriorityInside(ThreadPriority::kAboveNormal), ThreadPriority::kAboveNormal);
}

TEST(ThreadPriorityWin32, ANormalThreadRunsNormal) {
  EXPECT_EQ(PriorityInside(ThreadPriority::kNormal), ThreadPriority::kNormal);
}

TEST(ThreadPriorityWin32, TheCallingThreadCanBeRaisedAndLowered) {
  ASSERT_TRUE(ApplyThreadPriority(ThreadPriority::kAboveNormal));
  EXPECT_EQ(CurrentThreadPriority(), ThreadPriority::kAboveNormal);
  ASSERT_TRUE(ApplyThreadPriority(ThreadPriority::kNormal));
  EXPECT_EQ(CurrentThreadPriority(), ThreadPriority::kNormal);
}

}  // namespace
}  // namespace quillon::platform
