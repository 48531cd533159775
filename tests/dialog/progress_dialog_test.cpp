// The progress window on its own: opening, Cancel, the refresh and its
// automatic advance, closing.

#include <gtest/gtest.h>

#include "progress/progress_dlg.h"
#include "res/resource.h"
#include "res/styles.h"
#include "support/memory_desktop.h"
#include "support/ui_thread.h"
#include "support/virtual_clock.h"

namespace quillon::progress {
namespace {

using Strings = std::vector<std::string>;
using Values = std::vector<int32_t>;
constexpr int kHostTemplate = 9100;

// The main window the progress window reports to.
class Host : public ui::Dialog {
 public:
  Host() : ui::Dialog(kHostTemplate) {}
  Strings received;  // on the window's thread

 protected:
  intptr_t OnUserMessage(uint32_t message, uintptr_t, intptr_t) override {
    received.push_back(platform::MessageName(message));
    return 0;
  }
};

class ProgressDialog : public ::testing::Test, protected testing::MemoryDesktop {
 protected:
  Host host;
  std::unique_ptr<testing::UiThread> ui;
  ui::WindowHandle hostWindow = ui::kNoWindow;
  CProgressDlg* dialog = nullptr;  // touched on the window's thread only
  ui::WindowHandle window = ui::kNoWindow;

  // How often Cancel asked the download to stop.
  std::atomic<int> stops{0};

  void SetUp() override {
    res::DialogTemplate t;
    t.id = kHostTemplate;
    t.style = res::kWsPopup | res::kWsCaption;
    backend.AddTemplate(t);
    ui = std::make_unique<testing::UiThread>([this] { return host.DoModal(); });
    hostWindow = backend.WaitForDialog(kHostTemplate);
    ui::SetMainWindow(&host);
  }
  void TearDown() override {
    while (const ui::WindowHandle w = backend.FindDialog(IDD_PROGRESS)) backend.ForceClose(w);
    backend.ForceClose(hostWindow);
    ui->Join();
    ui::SetMainWindow(nullptr);
  }

  template <class F>
  void OnUi(F f) {
    ASSERT_TRUE(backend.RunOnWindowThread(hostWindow, f));
  }
  // Opens the window as WM_OPEN_PROGRESS does.
  void Open(int cancel) {
    OnUi([&] { dialog = OpenProgressDialog(&host, cancel, [this] { ++stops; }); });
    ASSERT_NE(dialog, nullptr);
    window = dialog->Handle();
  }
  // Opens it and waits for the refresh at the opening to show; the members
  // set by `setUp` (at the same moment) show from the next refresh on.
  void OpenAndSet(const std::function<void(CProgressDlg&)>& setUp) {
    Open(1);
    ASSERT_TRUE(WaitForRefreshes(1));
    OnUi([&] { setUp(*dialog); });
  }
  bool WaitForRefreshes(size_t n) {
    return backend.WaitFor([&] { return Bar().posChanges.size() >= n; });
  }
  ui::ControlState Bar() { return *backend.Control(window, IDC_PROGRESS_BAR); }
  Values Shown() {
    Values out;
    for (const auto& c : Bar().posChanges) out.push_back(c.value);
    return out;
  }
  CProgressDlg::Values Members() {
    CProgressDlg::Values v{};
    OnUi([&] { v = dialog->Snapshot(); });
    return v;
  }
};

TEST_F(ProgressDialog, OpensWithoutParentShownWithCancelAsAskedAndAnEmptyCaption) {
  Open(1);
  const ui::WindowState state = *backend.Window(window);
  EXPECT_EQ(state.caption, "Quillon - On Transmission...");
  EXPECT_TRUE(state.visible);
  EXPECT_FALSE(state.modal);
  EXPECT_EQ(state.owner, ui::kNoWindow);
  EXPECT_GE(state.updates, 1);
  EXPECT_EQ(state.thread, ui->Id());
  EXPECT_TRUE(backend.Control(window, IDC_PROGRESS_CANCEL)->enabled);
  EXPECT_EQ(backend.Control(window, IDC_PROGRESS_GROUP)->textChanges.front().text, "");
  const auto members = Members();
  EXPECT_EQ(members.autoAdvance, 1);
  EXPECT_EQ(members.stopFlag, 0);
  EXPECT_EQ(members.statusText, "");
  EXPECT_EQ(members.progressPos, 0);
  EXPECT_EQ(members.progressRange, 0);
  EXPECT_EQ(members.progressStep, 0);

  CProgressDlg* second = nullptr;
  OnUi([&] { second = OpenProgressDialog(&host, 0); });
  EXPECT_FALSE(backend.Control(second->Handle(), IDC_PROGRESS_CANCEL)->enabled);
}

TEST_F(ProgressDialog, CancelAndEscapeStopTheRefreshAndAskTheDownloadToEndOnce) {
  Open(1);
  ASSERT_TRUE(WaitForRefreshes(2));
  ASSERT_TRUE(backend.Click(window, IDC_PROGRESS_CANCEL));
  const int64_t cancelledAt = clock.NowMs();
  EXPECT_EQ(stops.load(), 1);
  EXPECT_EQ(Members().stopFlag, 1);
  ASSERT_TRUE(backend.Click(window, IDC_PROGRESS_CANCEL));
  EXPECT_EQ(stops.load(), 2);
  EXPECT_EQ(Members().stopFlag, 1);

  // It stays open; Enter does not close it, and it has no close box.
  ASSERT_TRUE(backend.PressEnter(window));
  EXPECT_FALSE(backend.CloseBox(window));
  ASSERT_TRUE(backend.PressEscape(window));
  EXPECT_EQ(stops.load(), 3);
  EXPECT_TRUE(backend.Window(window)->visible);
  EXPECT_FALSE(backend.Window(window)->destroyed);

  platform::Pause(2000);
  for (const auto& c : Bar().posChanges) EXPECT_LE(c.timeMs, cancelledAt);
}

TEST_F(ProgressDialog, TheBarAdvancesOneStepPerRefreshUpToTheRange) {
  OpenAndSet([](CProgressDlg& d) {
    d.SetRangePos(100, 10);
    d.SetStep(5);
    d.SetStatusText("Downloading");
  });
  ASSERT_TRUE(WaitForRefreshes(22));
  Values expected = {0};  // the refresh at the opening
  for (int pos = 10; pos <= 100; pos += 5) expected.push_back(pos);
  expected.insert(expected.end(), {100, 100});
  const Values shown = Shown();
  EXPECT_EQ(Values(shown.begin(), shown.begin() + 22), expected);
  const auto changes = Bar().posChanges;
  for (size_t i = 1; i < changes.size(); ++i) {
    EXPECT_EQ(changes[i].timeMs - changes[i - 1].timeMs, 500) << i;
  }
  EXPECT_EQ(Bar().high, 100);
  EXPECT_EQ(backend.Control(window, IDC_PROGRESS_GROUP)->text, "Downloading");
  EXPECT_EQ(Members().progressPos, 100);
}

TEST_F(ProgressDialog, TheLastStepMayOvershootTheRangeWithoutMovingOn) {
  OpenAndSet([](CProgressDlg& d) {
    d.SetRangePos(100, 90);
    d.SetStep(7);
  });
  ASSERT_TRUE(WaitForRefreshes(5));
  // 90, 97, then 104 (the bar shows its top), then no further.
  EXPECT_EQ(Shown(), (Values{0, 90, 97, 100, 100}));
  EXPECT_EQ(Members().progressPos, 104);
}

TEST_F(ProgressDialog, WithoutTheAutomaticAdvanceThePositionStays) {
  OpenAndSet([](CProgressDlg& d) {
    d.SetAutoAdvance(0);
    d.SetRangePos(100, 40);
    d.SetStep(5);
  });
  ASSERT_TRUE(WaitForRefreshes(4));
  EXPECT_EQ(Shown(), (Values{0, 40, 40, 40}));
  OnUi([&] { dialog->SetAutoAdvance(1); });
  ASSERT_TRUE(WaitForRefreshes(6));
  const Values shown = Shown();
  EXPECT_EQ(Values(shown.begin() + 4, shown.begin() + 6), (Values{40, 45}));
}

TEST_F(ProgressDialog, AnEmptyRangeShowsNothingAndNeverAdvances) {
  OpenAndSet([](CProgressDlg& d) {
    d.SetRangePos(0, 0);
    d.SetStep(5);
  });
  ASSERT_TRUE(WaitForRefreshes(4));
  EXPECT_EQ(Shown(), (Values{0, 0, 0, 0}));
  EXPECT_EQ(Bar().low, 0);
  EXPECT_EQ(Bar().high, 0);
  EXPECT_EQ(Members().progressPos, 0);
}

TEST_F(ProgressDialog, ANewStatusShowsAtTheNextRefresh) {
  OpenAndSet([](CProgressDlg& d) { d.SetStatusText("Erasing flash sector 1 of 2..."); });
  EXPECT_EQ(backend.Control(window, IDC_PROGRESS_GROUP)->text, "");
  ASSERT_TRUE(WaitForRefreshes(2));
  const auto caption = backend.Control(window, IDC_PROGRESS_GROUP)->textChanges.back();
  EXPECT_EQ(caption.text, "Erasing flash sector 1 of 2...");
  EXPECT_EQ(caption.timeMs, Bar().posChanges[1].timeMs);
}

TEST_F(ProgressDialog, ClosingStopsTheRefreshWaitsASecondAndTellsTheMainWindow) {
  Open(1);
  ASSERT_TRUE(WaitForRefreshes(2));
  const int64_t start = clock.NowMs();
  OnUi([&] { CloseProgressDialog(dialog); });
  EXPECT_EQ(clock.NowMs() - start, 1000);
  EXPECT_EQ(clock.Timeline(ui->Id()), (std::vector<int64_t>{1000}));
  EXPECT_TRUE(backend.Window(window)->destroyed);
  // The refresh thread saw the stop during the second and showed nothing
  // more.
  EXPECT_EQ(Bar().posChanges.back().timeMs, start);
  Strings received;
  OnUi([&] { received = host.received; });
  EXPECT_EQ(received, (Strings{"WM_PROGRESS_DESTROYED"}));
  const auto destroyed = backend.Messages().back();
  EXPECT_EQ(destroyed.message, platform::WM_PROGRESS_DESTROYED);
  EXPECT_EQ(destroyed.delivery, ui::Delivery::kDirect);
}

TEST_F(ProgressDialog, DestroyedWithoutAStopItStillEndsItsRefresh) {
  Open(0);
  ASSERT_TRUE(WaitForRefreshes(1));
  OnUi([&] { dialog->DestroyWindow(); });  // no stop flag, no pause
  EXPECT_TRUE(backend.Window(window)->destroyed);
  Strings received;
  OnUi([&] { received = host.received; });
  EXPECT_EQ(received, (Strings{"WM_PROGRESS_DESTROYED"}));
}

}  // namespace
}  // namespace quillon::progress
