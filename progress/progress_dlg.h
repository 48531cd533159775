#pragma once
// CProgressDlg: the modeless progress window of a download. The main window
// opens it (WM_OPEN_PROGRESS), feeds it status records and positions, and
// closes it (WM_CLOSE_PROGRESS). A refresh thread shows the members every
// 500 ms and lets the bar run on by one step per refresh between the
// download's own updates.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/thread.h"
#include "platform/window_messages.h"
#include "ui/dialog.h"

namespace quillon::progress {

class CProgressDlg final : public ui::Dialog {
 public:
  CProgressDlg();
  ~CProgressDlg() override;

  // From any thread.
  void SetRangePos(int range, int pos);
  void SetStatusText(const std::string& text);
  void SetStep(int step);
  void SetAutoAdvance(int on);
  void SetStopFlag(int flag);
  int GetStopFlag() const;
  // The refresh: the group box shows statusText, the bar the range
  // 0..progressRange and the position progressPos; then, with the automatic
  // advance on and progressPos below progressRange, progressPos moves on by
  // progressStep (unclamped), to be shown at the next refresh. From another
  // thread than the window's, the showing is handed to the window's thread.
  void Refresh();

  // On the window's thread.
  void EnableCancel(int flag);

  // Starts the refresh thread (normal priority): Refresh every 500 ms until
  // the stop flag is set. The thread is joined when the window is gone.
  void StartRefresh(platform::MessageWindow* mainWindow);

  // The members at one moment.
  struct Values {
    int autoAdvance;
    int stopFlag;
    std::string statusText;
    int progressPos;
    int progressRange;
    int progressStep;
  };
  Values Snapshot() const;

  // The window's controls, and the refresh thread's two switches.
  ui::Control cancelButton;
  ui::Control groupBox;
  ui::Control progressBar;
  std::atomic<int> autoAdvance{1};
  std::atomic<int> stopFlag{0};
  // What Cancel asks of the download (on the window's thread).
  std::function<void()> onCancel;

 protected:
  bool OnInitDialog() override;
  void OnCommand(int id, int code) override;
  void OnOK() override;
  void OnCancel() override;
  intptr_t OnUserMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
  void OnDestroy() override;
  void OnFinalDestroy() override;

 private:
  // What a refresh decided to show.
  struct View {
    std::string text;
    int range = 0;
    int pos = 0;
  };
  void ShowView(const View& view);

  mutable std::mutex mutex_;  // guards the members below
  std::string statusText;
  int progressPos = 0;
  int progressRange = 0;
  int progressStep = 0;
  View shown_;                // the last refresh's view
  bool showPending_ = false;  // handed to the window's thread, not shown yet

  std::unique_ptr<platform::Thread> refreshThread_;
};

// WM_OPEN_PROGRESS: makes the dialog, creates its window from template 134
// without a parent, shows and updates it, enables Cancel as `cancelEnabled`
// says (Cancel then calls `onCancel`) and starts its refresh thread. The
// dialog deletes itself once its window is destroyed. Null when the window
// cannot be made.
CProgressDlg* OpenProgressDialog(platform::MessageWindow* mainWindow, int cancelEnabled,
                                 std::function<void()> onCancel = {});

// WM_CLOSE_PROGRESS: stops the refresh, gives it a second to end and
// destroys the window (and with it the dialog).
void CloseProgressDialog(CProgressDlg* dialog);

}  // namespace quillon::progress
