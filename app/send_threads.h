#pragma once
// The send threads of the USB and parallel downloads: each runs one whole
// download in the background (the procedure, then the end of the download)
// and reports the result and its own end to the main window, which deletes
// the thread object.

#include <atomic>
#include <memory>
#include <string>

#include "app/serial_worker.h"
#include "engine/flash_download.h"
#include "platform/event.h"
#include "platform/thread.h"

namespace quillon::app {

class SendThread {
 public:
  virtual ~SendThread();
  SendThread(const SendThread&) = delete;
  SendThread& operator=(const SendThread&) = delete;

  // Hands over the job; the thread waits for it before it starts the
  // download.
  void SetJob(DownloadHost* window, engine::CFlashDownload* download, std::string path, int first,
              int main, int ipl);
  // Whether the thread has posted its end message.
  bool Ended() const { return ended_.load(); }
  // Whether the thread has returned (with or without its end message).
  bool Finished() { return thread_ && thread_->Finished(); }

  platform::Event m_hEventKill{true};
  platform::Event startedEvent{false};
  // The job.
  DownloadHost* notifyWindow = nullptr;
  engine::CFlashDownload* download = nullptr;
  std::string filePath;
  int firstSector = 0;
  int mainProg = 0;
  int iplProg = 0;

 protected:
  // Where the two send threads differ.
  struct Rules {
    uint32_t startPauseMs;  // before the thread looks at its job
    bool checksImage;       // the image is checked before the download
    // The interface's download procedure; its result code.
    int (*download)(SendThread& thread);
    uint32_t beforeEndMs;  // between the result and the end message
    uint32_t endMessage;   // the thread's end message
  };
  // Starts the thread and returns once it runs.
  explicit SendThread(const Rules& rules);

 private:
  // The thread: the job, the procedure, EndDownload, the result and the end
  // message to the window.
  void Run();

  const Rules rules_;
  platform::Event jobSet_{true};
  std::atomic<bool> ended_{false};
  std::unique_ptr<platform::Thread> thread_;
};

// The send threads' own pauses: before each looks at its job, and over USB
// between the result and the end message.
inline constexpr uint32_t kUsbSendStartMs = 2000;
inline constexpr uint32_t kParallelSendStartMs = 1000;
inline constexpr uint32_t kUsbSendEndMs = 1000;

// 2000 ms, then DownloadUSB on the USB printer opened by the launch.
class CSend_USBThread final : public SendThread {
 public:
  CSend_USBThread();
};

// 1000 ms, then CheckImageFile and DownloadParallel on the parallel port
// opened by the launch.
class CSendParallelThread final : public SendThread {
 public:
  CSendParallelThread();
};

}  // namespace quillon::app
