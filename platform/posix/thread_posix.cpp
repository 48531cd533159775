#include "platform/thread_priority.h"

namespace quillon::platform {

// Threads of the normal (SCHED_OTHER) class have one static priority on
// POSIX systems, and raising a thread's nice value needs privileges a user
// does not have: the above-normal priority is a Windows matter only.
bool ApplyThreadPriority(ThreadPriority) {
  return true;
}

ThreadPriority CurrentThreadPriority() {
  return ThreadPriority::kNormal;
}

}  // namespace quillon::platform
