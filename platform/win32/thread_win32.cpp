#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "platform/thread_priority.h"

namespace quillon::platform {

bool ApplyThreadPriority(ThreadPriority priority) {
  const int level = priority == ThreadPriority::kAboveNormal ? THREAD_PRIORITY_ABOVE_NORMAL
                                                             : THREAD_PRIORITY_NORMAL;
  return ::SetThreadPriority(::GetCurrentThread(), level) != 0;
}

ThreadPriority CurrentThreadPriority() {
  return ::GetThreadPriority(::GetCurrentThread()) == THREAD_PRIORITY_ABOVE_NORMAL
             ? ThreadPriority::kAboveNormal
             : ThreadPriority::kNormal;
}

}  // namespace quillon::platform
