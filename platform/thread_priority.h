#pragma once
// The OS side of thread priorities: platform::Thread calls this on its new
// thread before the body runs. One implementation per platform.

#include "platform/thread.h"

namespace quillon::platform {

// Gives the calling thread the OS priority that `priority` stands for.
// Returns whether the OS took it. POSIX threads of the normal scheduling class
// have no such priority: there it does nothing and returns true.
bool ApplyThreadPriority(ThreadPriority priority);

// The calling thread's priority as the OS reports it; kNormal on systems
// without per-thread priorities for normal threads.
ThreadPriority CurrentThreadPriority();

}  // namespace quillon::platform
