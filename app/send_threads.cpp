#include "app/send_threads.h"

#include "engine/result_codes.h"
#include "platform/clock.h"

namespace quillon::app {

namespace {

// Over USB the checksum's progress follows the sector size.
constexpr int kUsbChecksumPace = 2;

}  // namespace

SendThread::SendThread(const Rules& rules) : rules_(rules) {
  thread_ = std::make_unique<platform::Thread>([this] {
    startedEvent.Set();
    Run();
  });
  startedEvent.Wait();
}

SendThread::~SendThread() {
  // A thread whose job never came has nothing to do.
  jobSet_.Set();
  thread_.reset();  // joins
}

void SendThread::SetJob(DownloadHost* window, engine::CFlashDownload* job, std::string path,
                        int first, int main, int ipl) {
  notifyWindow = window;
  download = job;
  filePath = std::move(path);
  firstSector = first;
  mainProg = main;
  iplProg = ipl;
  jobSet_.Set();  // publishes the job to the thread
}

void SendThread::Run() {
  platform::Pause(rules_.startPauseMs);
  jobSet_.Wait();
  if (!download || !notifyWindow) return;
  if (rules_.checksImage) {
    if (const int code = download->CheckImageFile(filePath); code != engine::kSuccess) {
      // Ends without an end message: the next launch deletes this thread
      // object.
      notifyWindow->ShowResult(code);
      notifyWindow->Post(platform::WM_ENABLE_CONTROLS, 0, 1);
      return;
    }
  }
  const int result = rules_.download(*this);
  download->EndDownload();
  platform::Pause(kBeforeResultMs);
  notifyWindow->Post(platform::WM_DOWNLOAD_DONE, 0, result);
  notifyWindow->Post(platform::WM_ENABLE_CONTROLS, 0, 1);
  if (rules_.beforeEndMs) platform::Pause(rules_.beforeEndMs);
  ended_.store(true);
  notifyWindow->Post(rules_.endMessage, 0, 0);
}

CSend_USBThread::CSend_USBThread()
    : SendThread({kUsbSendStartMs, /*checksImage=*/false,
                  [](SendThread& t) {
                    return t.download->DownloadUSB(t.filePath, t.firstSector, t.mainProg, t.iplProg,
                                                   kUsbChecksumPace,
                                                   t.notifyWindow->DownloadSectorTable());
                  },
                  kUsbSendEndMs, platform::WM_USB_SEND_ENDED}) {}

CSendParallelThread::CSendParallelThread()
    : SendThread({kParallelSendStartMs, /*checksImage=*/true,
                  [](SendThread& t) {
                    return t.download->DownloadParallel(t.filePath, t.firstSector, t.mainProg,
                                                        t.iplProg,
                                                        t.notifyWindow->DownloadSectorTable());
                  },
                  0, platform::WM_PARALLEL_SEND_ENDED}) {}

}  // namespace quillon::app
