// The backend contract on the Win32 backend, under the real window system:
// the UI thread pumps its messages (with the dialog keyboard) and runs the
// tasks of a hidden window of its own; the user's actions are window
// messages posted as the system would make them, followed by a posted task
// that tells when the UI thread has got past them; message boxes are read
// and answered on the screen.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>

#include "contract/backend_contract.h"
#include "contract/main_dialog_contract.h"
#include "res/styles.h"
#include "win32dlg/win32_fixture.h"

namespace quillon::contract {
namespace {

namespace probe = ui::probe;

class Win32Harness : public Harness {
 public:
  Win32Harness()
      : ui_([this] {
          tasks_ = std::make_unique<probe::TaskWindow>();
          ready_ = true;
          probe::PumpUntil([this] { return stop_.load(); }, 3'600'000);
          tasks_.reset();
        }) {
    probe::WaitUntil([this] { return ready_.load(); }, kPatienceMs);
  }
  ~Win32Harness() override {
    // What a failed test left open: its boxes, then its windows.
    for (const auto& [box, seen] : probe::OpenMessageBoxes()) probe::AnswerMessageBox(box);
    for (const ui::WindowHandle w : probe::TopLevelWindows()) {
      if (probe::IsBackendDialog(w)) backend_.DestroyWindow(w);
    }
    stop_ = true;
    ui_.Join();
  }

  ui::Backend& Backend() override { return backend_; }
  void OnUi(const std::function<void()>& task) override { tasks_->Run(task); }
  void StartOnUi(std::function<void()> task) override { tasks_->Start(std::move(task)); }
  bool WaitFor(const std::function<bool()>& condition, int timeoutMs) override {
    return probe::WaitUntil(condition, timeoutMs);
  }
  bool Click(ui::WindowHandle window, int id) override {
    return Usable(window) && probe::ControlEnabled(window, id) && probe::PostClick(window, id) &&
           Settle();
  }
  bool SelectListItem(ui::WindowHandle window, int id, int index) override {
    return Usable(window) && probe::ControlEnabled(window, id) &&
           probe::PostListPick(window, id, index) && Settle();
  }
  bool PressEnter(ui::WindowHandle window) override {
    return Usable(window) && probe::PostKey(window, probe::kVkReturn) && Settle();
  }
  bool PressEscape(ui::WindowHandle window) override {
    return Usable(window) && probe::PostKey(window, probe::kVkEscape) && Settle();
  }
  bool CloseBox(ui::WindowHandle window) override {
    return Usable(window) && (probe::Style(window) & res::kWsSysMenu) != 0 &&
           probe::Post(window, ui::kWmSysCommand, ui::kScClose, 0) && Settle();
  }
  ProgressView Progress(ui::WindowHandle window, int id) override {
    const probe::ProgressState bar = probe::Progress(window, id);
    return {bar.low, bar.high, bar.pos};
  }
  std::optional<BoxView> NextMessageBox(int timeoutMs) override {
    std::optional<BoxView> found;
    probe::WaitUntil(
        [&] {
          for (const auto& [box, seen] : probe::OpenMessageBoxes()) {
            if (box == box_) continue;  // the one read before, not closed
            box_ = box;
            found = BoxView{seen.text, seen.caption, Icon(seen.icon)};
            return true;
          }
          return false;
        },
        timeoutMs);
    return found;
  }
  void CloseMessageBox() override {
    probe::AnswerMessageBox(box_);
    probe::WaitUntil([&] { return !probe::Exists(box_); }, kPatienceMs);
    box_ = ui::kNoWindow;
  }
  bool BoxesStayOpen() const override { return true; }
  ui::WindowHandle FindWindow(const std::string& caption) override {
    const ui::WindowHandle w = probe::FindTopLevel(caption);
    return w != ui::kNoWindow && probe::IsVisible(w) ? w : ui::kNoWindow;
  }
  // A watcher of the common dialogs answers it while it is there.
  std::optional<FileDialogView> Browse(ui::WindowHandle window, int id,
                                       std::optional<std::string> path) override {
    probe::CommonDialogWatcher watcher;
    watcher.AnswerFileDialog(path ? testing::WindowsPath(*path) : std::string());
    if (!Click(window, id) || !watcher.WaitForFileDialogs(1, kPatienceMs)) return std::nullopt;
    // Answered; gone once its owner is given back.
    if (!probe::WaitUntil([&] { return probe::IsEnabled(window); }, kPatienceMs) || !Settle()) {
      return std::nullopt;
    }
    return FileDialogView{watcher.FileDialogs()[0].fileTypes};
  }
  std::optional<std::string> ToolTip(ui::WindowHandle window, int id) override {
    return probe::AskToolTip(window, id);
  }

 private:
  static BoxIcon Icon(probe::BoxIcon icon) {
    switch (icon) {
      case probe::BoxIcon::kNone:
        return BoxIcon::kNone;
      case probe::BoxIcon::kError:
        return BoxIcon::kError;
      case probe::BoxIcon::kInformation:
        return BoxIcon::kInformation;
      default:
        return BoxIcon::kOther;
    }
  }
  // A modal dialog shows itself once its loop first runs out of messages:
  // the user waits for a window that is there to appear.
  static bool Usable(ui::WindowHandle window) {
    probe::WaitUntil([&] { return !probe::Exists(window) || probe::IsVisible(window); },
                     kPatienceMs);
    return probe::Exists(window) && probe::IsVisible(window) && probe::IsEnabled(window);
  }
  // The user's messages were posted to the UI thread; a task posted after
  // them runs once its loop (its own or a modal one the action opened) has
  // dispatched them.
  bool Settle() {
    const auto done = std::make_shared<std::atomic<bool>>(false);
    tasks_->Start([done] { *done = true; });
    return probe::WaitUntil([&] { return done->load(); }, kPatienceMs);
  }

  ui::Win32Backend backend_;
  ui::ScopedBackend installed_{backend_};
  std::atomic<bool> ready_{false};
  std::atomic<bool> stop_{false};
  std::unique_ptr<probe::TaskWindow> tasks_;  // made and destroyed on the UI thread
  ui::WindowHandle box_ = ui::kNoWindow;      // the box NextMessageBox read
  platform::Thread ui_;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Win32Contract, BackendContract, Win32Harness);
INSTANTIATE_TYPED_TEST_SUITE_P(Win32MainDialog, MainDialogContract, Win32Harness);

}  // namespace
}  // namespace quillon::contract
