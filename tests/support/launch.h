#pragma once
// A download launched as the program launches it: app::PrepareLaunch on the
// calling thread, then the download's thread from app::StartDownload, into a
// recording window; waited for until that thread gives the controls back.

#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "app/launch.h"
#include "engine/result_codes.h"
#include "platform/event.h"
#include "platform/window_messages.h"
#include "support/recording_window.h"

namespace quillon::testing {

class LaunchHost final : public app::DownloadHost {
 public:
  // Every message, as the window saw it.
  RecordingWindow window;

  LaunchHost() {
    window.onMessage = [this](uint32_t id, intptr_t lParam) { Note(id, lParam); };
  }
  intptr_t Send(uint32_t id, uintptr_t w, intptr_t l) override { return window.Send(id, w, l); }
  bool Post(uint32_t id, uintptr_t w, intptr_t l) override { return window.Post(id, w, l); }
  void ShowResult(int code) override {
    std::lock_guard lock(mutex_);
    result_ = code;
    shown_.push_back(code);
  }

  // The result shown or posted last.
  std::optional<int> Result() { return Locked(result_); }
  // The results shown by the download's side (not posted to the window), in
  // order.
  std::vector<int> Shown() { return Locked(shown_); }
  // The thread that gave the controls back: the download's.
  std::thread::id DownloadThread() { return Locked(thread_); }
  platform::Event controlsBack{/*manualReset=*/true};

 private:
  template <class T>
  T Locked(const T& field) {
    std::lock_guard lock(mutex_);
    return field;
  }
  void Note(uint32_t id, intptr_t lParam) {
    std::lock_guard lock(mutex_);
    if (id == platform::WM_DOWNLOAD_DONE) result_ = static_cast<int>(lParam);
    if (id == platform::WM_ENABLE_CONTROLS) {
      thread_ = std::this_thread::get_id();
      controlsBack.Set();
    }
  }

  std::mutex mutex_;
  std::optional<int> result_;
  std::vector<int> shown_;
  std::thread::id thread_;
};

// Launches `request` with `download` into `host` and waits for the
// download's thread to end; the result it showed.
inline int Launch(const app::DownloadRequest& request, engine::CFlashDownload& download,
                  LaunchHost& host) {
  host.controlsBack.Reset();
  const int code = app::PrepareLaunch(request, download, host);
  if (code != engine::kSuccess) return code;
  app::DownloadThread thread = app::StartDownload(request, download, host);
  host.controlsBack.Wait();
  thread = {};  // joins
  return host.Result().value_or(-1);
}

}  // namespace quillon::testing
