#include "progress/progress_dlg.h"

#include "platform/clock.h"
#include "res/resource.h"

namespace quillon::progress {

namespace {

// Hands a refresh's view to the window's thread.
constexpr uint32_t kWmShowRefresh = ui::kWmApp + 1;

// What the refresh thread is given; it frees it when it ends.
struct RefreshRecord {
  platform::MessageWindow* mainWindow;
  CProgressDlg* dialog;
};

}  // namespace

CProgressDlg::CProgressDlg()
    : ui::Dialog(IDD_PROGRESS),
      cancelButton(*this, IDC_PROGRESS_CANCEL),
      groupBox(*this, IDC_PROGRESS_GROUP),
      progressBar(*this, IDC_PROGRESS_BAR) {}

CProgressDlg::~CProgressDlg() = default;

void CProgressDlg::SetRangePos(int range, int pos) {
  std::lock_guard lock(mutex_);
  progressRange = range;
  progressPos = pos;
}

void CProgressDlg::SetStatusText(const std::string& text) {
  std::lock_guard lock(mutex_);
  statusText = text;
}

void CProgressDlg::SetStep(int step) {
  std::lock_guard lock(mutex_);
  progressStep = step;
}

void CProgressDlg::SetAutoAdvance(int on) {
  autoAdvance = on;
}

void CProgressDlg::SetStopFlag(int flag) {
  stopFlag = flag;
}

int CProgressDlg::GetStopFlag() const {
  return stopFlag;
}

CProgressDlg::Values CProgressDlg::Snapshot() const {
  std::lock_guard lock(mutex_);
  return {autoAdvance, stopFlag, statusText, progressPos, progressRange, progressStep};
}

void CProgressDlg::Refresh() {
  const bool here = IsWindowThread();
  View view;
  bool post = false;
  {
    std::lock_guard lock(mutex_);
    view = {statusText, progressRange, progressPos};
    if (autoAdvance && progressPos < progressRange) progressPos += progressStep;
    shown_ = view;
    if (!here) {
      post = !showPending_;
      showPending_ = true;
    }
  }
  if (here) {
    ShowView(view);
  } else if (post) {
    // The refresh thread never waits for the window's thread: it hands the
    // view over and goes back to its pause.
    Post(kWmShowRefresh, 0, 0);
  }
}

void CProgressDlg::ShowView(const View& view) {
  groupBox.SetText(view.text);
  progressBar.SetRange32(0, view.range);
  progressBar.SetPos(view.pos);
}

void CProgressDlg::EnableCancel(int flag) {
  cancelButton.Enable(flag != 0);
}

void CProgressDlg::StartRefresh(platform::MessageWindow* mainWindow) {
  auto* record = new RefreshRecord{mainWindow, this};
  refreshThread_ = std::make_unique<platform::Thread>(
      [record] {
        std::unique_ptr<RefreshRecord> own(record);
        while (own->dialog->GetStopFlag() == 0) {
          own->dialog->Refresh();
          platform::Pause(500);
        }
      },
      platform::ThreadPriority::kNormal);
}

bool CProgressDlg::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  groupBox.SetText("");
  return true;
}

void CProgressDlg::OnCommand(int id, int code) {
  if (id == IDC_PROGRESS_CANCEL && code == ui::kBnClicked) {
    OnCancel();
    return;
  }
  ui::Dialog::OnCommand(id, code);
}

void CProgressDlg::OnOK() {
  // Enter does not close the progress window.
}

void CProgressDlg::OnCancel() {
  // The download sees the stop request at its next cancellable point; the
  // window stays until the download closes it.
  stopFlag = 1;
  if (onCancel) onCancel();
}

intptr_t CProgressDlg::OnUserMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message != kWmShowRefresh) return ui::Dialog::OnUserMessage(message, wParam, lParam);
  View view;
  {
    std::lock_guard lock(mutex_);
    view = shown_;
    showPending_ = false;
  }
  ShowView(view);
  return 0;
}

void CProgressDlg::OnDestroy() {
  ui::Dialog::OnDestroy();
  if (platform::MessageWindow* main = ui::MainWindow()) {
    main->Send(platform::WM_PROGRESS_DESTROYED, 0, 0);
  }
}

void CProgressDlg::OnFinalDestroy() {
  // The refresh thread uses this object: it must have ended before the
  // object goes. It never waits for this thread, so the join cannot hang.
  stopFlag = 1;
  if (refreshThread_) refreshThread_->Join();
  delete this;
}

CProgressDlg* OpenProgressDialog(platform::MessageWindow* mainWindow, int cancelEnabled,
                                 std::function<void()> onCancel) {
  auto* dialog = new CProgressDlg();
  dialog->onCancel = std::move(onCancel);
  if (!dialog->Create(ui::kNoWindow)) {
    delete dialog;
    return nullptr;
  }
  dialog->Show(true);
  dialog->Update();
  dialog->EnableCancel(cancelEnabled);
  dialog->StartRefresh(mainWindow);
  return dialog;
}

void CloseProgressDialog(CProgressDlg* dialog) {
  if (!dialog) return;
  dialog->SetStopFlag(1);
  platform::Pause(1000);
  dialog->DestroyWindow();
}

}  // namespace quillon::progress
