#include "ui/backend.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace quillon::ui {

namespace {
std::atomic<Backend*> installed{nullptr};
}  // namespace

const res::DialogTemplate* Backend::FindTemplate(int templateId) {
  return res::FindDialogTemplate(templateId);
}

Backend& GetBackend() {
  Backend* backend = installed.load(std::memory_order_acquire);
  if (!backend) {
    std::fprintf(stderr, "quillon: no window backend installed\n");
    std::abort();
  }
  return *backend;
}

void SetBackend(Backend* backend) {
  installed.store(backend, std::memory_order_release);
}

}  // namespace quillon::ui
