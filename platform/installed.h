#pragma once
// A process-wide instance that can be replaced: the one in force is the one
// installed last, or the default while none is installed. The clock, the
// window backend and the OS calls of the printer port backends are reached
// this way, so that a test can put its own in their place.

#include <atomic>

namespace quillon::platform {

// `Default` gives the instance in force while none is installed.
template <class T, T& (*Default)()>
class Installed {
 public:
  constexpr Installed() = default;
  Installed(const Installed&) = delete;
  Installed& operator=(const Installed&) = delete;

  T& Get() const {
    T* instance = instance_.load(std::memory_order_acquire);
    return instance ? *instance : Default();
  }
  // Installs `instance` for the whole process (nullptr restores the
  // default). Only while no other thread uses it.
  void Set(T* instance) { instance_.store(instance, std::memory_order_release); }

 private:
  std::atomic<T*> instance_{nullptr};
};

// A default instance: one `Made` for the whole process, made on first use.
template <class T, class Made>
T& MadeOnFirstUse() {
  static Made instance;
  return instance;
}

// Installs an instance through `Install` (SetClock, ...) for the lifetime of
// the object, and restores the default at its end.
template <class T, void (*Install)(T*)>
class Scoped {
 public:
  explicit Scoped(T& instance) { Install(&instance); }
  ~Scoped() { Install(nullptr); }
  Scoped(const Scoped&) = delete;
  Scoped& operator=(const Scoped&) = delete;
};

}  // namespace quillon::platform
