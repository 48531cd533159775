#include <windows.h>

#include "platform/thread_priority.h"

namespace quillon::platform {

bool ApplyThreadPriority(ThreadPriority priority) {
  int level = THREAD_PRIORITY_NORMAL;
  if (priority == ThreadPriority::kAboveNormal) level = THREAD_PRIORITY_ABOVE_NORMAL;
  if (priority == ThreadPriority::kTimeCritical) level = THREAD_PRIORITY_TIME_CRITICAL;
  return ::SetThreadPriority(::GetCurrentThread(), level) != 0;
}

ThreadPriority CurrentThreadPriority() {
  switch (::GetThreadPriority(::GetCurrentThread())) {
    case THREAD_PRIORITY_ABOVE_NORMAL:
      return ThreadPriority::kAboveNormal;
    case THREAD_PRIORITY_TIME_CRITICAL:
      return ThreadPriority::kTimeCritical;
    default:
      return ThreadPriority::kNormal;
  }
}

}  // namespace quillon::platform
