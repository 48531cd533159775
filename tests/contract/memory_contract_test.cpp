// The backend contract on the in-memory backend, on the virtual clock: its
// UI thread runs the backend's message loop, the user's actions and the
// message box records are the backend's own.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <thread>

#include "contract/backend_contract.h"
#include "contract/main_dialog_contract.h"
#include "platform/clock.h"
#include "support/memory_desktop.h"
#include "support/ui_thread.h"

namespace quillon::contract {
namespace {

class MemoryHarness : public Harness {
 public:
  // The program's templates, the only windows it makes.
  static constexpr int kTemplates[] = {IDD_ABOUT, IDD_MAIN, IDD_PROGRESS};

  MemoryHarness()
      : ui_(std::make_unique<testing::UiThread>([this] {
          backend().RunMessageLoop([this] { return stop_; });
          return intptr_t{0};
        })) {
    WaitFor([&] { return ui_->Id() != std::thread::id(); }, kPatienceMs);
  }
  ~MemoryHarness() override {
    for (const int id : kTemplates) {
      if (const ui::WindowHandle w = backend().FindDialog(id)) backend().ForceClose(w);
    }
    backend().Touch([this] { stop_ = true; });
    ui_->Join();
  }

  ui::Backend& Backend() override { return desktop_.backend; }
  void OnUi(const std::function<void()>& task) override { backend().RunOnThread(ui_->Id(), task); }
  void StartOnUi(std::function<void()> task) override {
    backend().StartOnThread(ui_->Id(), std::move(task));
  }
  bool WaitFor(const std::function<bool()>& condition, int timeoutMs) override {
    // A pause on the virtual clock ends once every other thread waits too.
    const int64_t deadline = platform::NowMs() + timeoutMs;
    while (!condition()) {
      if (platform::NowMs() >= deadline) return false;
      platform::Pause(1);
    }
    return true;
  }
  bool Click(ui::WindowHandle window, int id) override { return backend().Click(window, id); }
  bool SelectListItem(ui::WindowHandle window, int id, int index) override {
    return backend().SelectListItem(window, id, index);
  }
  bool PressEnter(ui::WindowHandle window) override { return backend().PressEnter(window); }
  bool PressEscape(ui::WindowHandle window) override { return backend().PressEscape(window); }
  bool CloseBox(ui::WindowHandle window) override { return backend().CloseBox(window); }
  ProgressView Progress(ui::WindowHandle window, int id) override {
    const auto bar = backend().Control(window, id);
    return bar ? ProgressView{bar->low, bar->high, bar->pos} : ProgressView{};
  }
  // The backend answers every box at once and records it: the next record.
  std::optional<BoxView> NextMessageBox(int timeoutMs) override {
    if (!WaitFor([&] { return backend().MessageBoxes().size() > seen_; }, timeoutMs)) {
      return std::nullopt;
    }
    const ui::MessageBoxRecord box = backend().MessageBoxes()[seen_++];
    const uint32_t icon = box.flags & 0xF0;
    return BoxView{box.text, box.caption,
                   icon == 0                        ? BoxIcon::kNone
                   : icon == ui::kMbIconError       ? BoxIcon::kError
                   : icon == ui::kMbIconInformation ? BoxIcon::kInformation
                                                    : BoxIcon::kOther};
  }
  void CloseMessageBox() override {}
  bool BoxesStayOpen() const override { return false; }
  ui::WindowHandle FindWindow(const std::string& caption) override {
    for (const int id : kTemplates) {
      const ui::WindowHandle w = backend().FindDialog(id);
      const auto state = w ? backend().Window(w) : std::nullopt;
      if (state && state->visible && state->caption == caption) return w;
    }
    return ui::kNoWindow;
  }
  // The answer is scripted before the click; the dialog's record is read
  // after it.
  std::optional<FileDialogView> Browse(ui::WindowHandle window, int id,
                                       std::optional<std::string> path) override {
    const size_t before = backend().FileDialogs().size();
    if (path) {
      backend().ScriptFileOpen(*path);
    } else {
      backend().ScriptFileCancel();
    }
    if (!Click(window, id) || backend().FileDialogs().size() == before) return std::nullopt;
    // "description|patterns|" pairs: the descriptions are the list's entries.
    FileDialogView view;
    const std::string filter = backend().FileDialogs().back().request.filter;
    bool description = true;
    for (size_t at = 0, bar; (bar = filter.find('|', at)) != std::string::npos; at = bar + 1) {
      if (description) view.fileTypes.push_back(filter.substr(at, bar - at));
      description = !description;
    }
    return view;
  }
  std::optional<std::string> ToolTip(ui::WindowHandle window, int id) override {
    return backend().ToolTip(window, id);
  }

 private:
  ui::MemoryBackend& backend() { return desktop_.backend; }

  testing::MemoryDesktop desktop_;
  bool stop_ = false;  // under the backend's lock
  size_t seen_ = 0;    // message boxes read
  std::unique_ptr<testing::UiThread> ui_;
};

INSTANTIATE_TYPED_TEST_SUITE_P(MemoryContract, BackendContract, MemoryHarness);
INSTANTIATE_TYPED_TEST_SUITE_P(MemoryMainDialog, MainDialogContract, MemoryHarness);

}  // namespace
}  // namespace quillon::contract
