#include "app/send_threads.h"

#include "engine/result_codes.h"
#include "platform/clock.h"

namespace quillon::app {

namespace {

// Over USB the checksum's progress follows the sector size.
constexpr int kUsbChecksumPace = 2;

}  // namespace

SendThread::~SendThread() {
  Finish();
}

void SendThread::SetJob(DownloadHost* window, engine::CFlashDownload* printer, std::string path,
                        int first, int main, int ipl) {
  notifyWindow = window;
  pPrinter = printer;
  filePath = std::move(path);
  firstSector = first;
  mainProg = main;
  iplProg = ipl;
  jobSet_.Set();  // publishes the job to the thread
}

void SendThread::Start() {
  thread_ = std::make_unique<platform::Thread>([this] {
    startedEvent.Set();
    Run();
  });
  startedEvent.Wait();
}

void SendThread::Finish() {
  // A thread whose job never came has nothing to do.
  jobSet_.Set();
  thread_.reset();  // joins
}

void SendThread::Run() {
  platform::Pause(rules_.startPauseMs);
  jobSet_.Wait();
  if (!pPrinter || !notifyWindow) return;
  if (rules_.checksImage) {
    if (const int code = pPrinter->CheckImageFile(filePath); code != engine::kSuccess) {
      // Ends without an end message: the next launch deletes this thread
      // object.
      notifyWindow->ShowResult(code);
      notifyWindow->Post(platform::WM_ENABLE_CONTROLS, 0, 1);
      return;
    }
  }
  const int result = Download();
  pPrinter->EndDownload();
  platform::Pause(kBeforeResultMs);
  notifyWindow->Post(platform::WM_DOWNLOAD_DONE, 0, result);
  notifyWindow->Post(platform::WM_ENABLE_CONTROLS, 0, 1);
  if (rules_.beforeEndMs) platform::Pause(rules_.beforeEndMs);
  ended_.store(true);
  notifyWindow->Post(rules_.endMessage, 0, 0);
  if (rules_.stopsUsbReceive) notifyWindow->StopUsbReceive();
}

CSend_USBThread::CSend_USBThread()
    : SendThread({2000, /*checksImage=*/false, 1000, platform::WM_USB_SEND_ENDED,
                  /*stopsUsbReceive=*/true}) {
  Start();
}

CSend_USBThread::~CSend_USBThread() {
  Finish();
}

int CSend_USBThread::Download() {
  return pPrinter->DownloadUSB(notifyWindow->DownloadModelName(), filePath, firstSector, mainProg,
                               iplProg, kUsbChecksumPace, notifyWindow->DownloadSectorTable());
}

CSendParallelThread::CSendParallelThread()
    : SendThread({1000, /*checksImage=*/true, 0, platform::WM_PARALLEL_SEND_ENDED,
                  /*stopsUsbReceive=*/false}) {
  Start();
}

CSendParallelThread::~CSendParallelThread() {
  Finish();
}

int CSendParallelThread::Download() {
  return pPrinter->DownloadParallel(notifyWindow->DownloadModelName(), filePath, firstSector,
                                    mainProg, iplProg, notifyWindow->DownloadSectorTable());
}

}  // namespace quillon::app
