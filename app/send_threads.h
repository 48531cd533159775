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
  void SetJob(DownloadHost* window, engine::CFlashDownload* printer, std::string path, int first,
              int main, int ipl);
  // Whether the thread has posted its end message.
  bool Ended() const { return ended_.load(); }
  // Whether the thread has returned (with or without its end message).
  bool Finished() { return thread_ && thread_->Finished(); }

  platform::Event m_hEventKill{true};
  platform::Event startedEvent{false};
  // The job.
  DownloadHost* notifyWindow = nullptr;
  engine::CFlashDownload* pPrinter = nullptr;
  std::string filePath;
  int firstSector = 0;
  int mainProg = 0;
  int iplProg = 0;

 protected:
  SendThread() = default;
  // Starts the thread and returns once it runs.
  void Start();
  // Waits until the job is there.
  void AwaitJob() { jobSet_.Wait(); }
  // The end step: reports the thread's end with `message`.
  void EndStep(uint32_t message);
  // Waits until the thread has returned; every subclass's destructor calls it.
  void Finish();
  virtual void Run() = 0;

 private:
  platform::Event jobSet_{true};
  std::atomic<bool> ended_{false};
  std::unique_ptr<platform::Thread> thread_;
};

// DownloadUSB on the USB printer opened by the launch, then EndDownload.
class CSend_USBThread final : public SendThread {
 public:
  CSend_USBThread();
  ~CSend_USBThread() override;

 private:
  void Run() override;
};

// CheckImageFile, DownloadParallel on the parallel port opened by the
// launch, then EndDownload.
class CSendParallelThread final : public SendThread {
 public:
  CSendParallelThread();
  ~CSendParallelThread() override;

 private:
  void Run() override;
};

}  // namespace quillon::app
