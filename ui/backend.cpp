#include "ui/backend.h"

#include <cstdio>
#include <cstdlib>

namespace quillon::ui {

namespace {

[[noreturn]] Backend& NoBackend() {
  std::fprintf(stderr, "quillon: no window backend installed\n");
  std::abort();
}

platform::Installed<Backend, NoBackend> installed;

}  // namespace

const res::DialogTemplate* Backend::FindTemplate(int templateId) {
  return res::FindDialogTemplate(templateId);
}

Backend& GetBackend() {
  return installed.Get();
}

void SetBackend(Backend* backend) {
  installed.Set(backend);
}

}  // namespace quillon::ui
