#pragma once
// What a dialog test runs on: the virtual clock and the in-memory window
// backend, both installed for the lifetime of the object. A fixture derives
// from it before its own members, which thus go first.

#include "platform/clock.h"
#include "support/memory_backend.h"
#include "support/virtual_clock.h"
#include "ui/backend.h"

namespace quillon::testing {

struct MemoryDesktop {
  platform::VirtualClock clock;
  platform::ScopedClock clockScope{clock};
  ui::MemoryBackend backend;
  ui::ScopedBackend backendScope{backend};
};

}  // namespace quillon::testing
