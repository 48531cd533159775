#include "app/send_threads.h"

#include "engine/result_codes.h"
#include "platform/clock.h"

namespace quillon::app {

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

void SendThread::EndStep(uint32_t message) {
  ended_.store(true);
  notifyWindow->Post(message, 0, 0);
}

void SendThread::Finish() {
  // A thread whose job never came has nothing to do.
  jobSet_.Set();
  thread_.reset();  // joins
}

CSend_USBThread::CSend_USBThread() {
  Start();
}

CSend_USBThread::~CSend_USBThread() {
  Finish();
}

void CSend_USBThread::Run() {
  platform::Pause(2000);
  AwaitJob();
  if (!pPrinter || !notifyWindow) return;
  const int result =
      pPrinter->DownloadUSB(notifyWindow->DownloadModelName(), filePath, firstSector, mainProg,
                            iplProg, 2, notifyWindow->DownloadSectorTable());
  pPrinter->EndDownload();
  platform::Pause(500);
  notifyWindow->Post(platform::WM_DOWNLOAD_DONE, 0, result);
  notifyWindow->Post(platform::WM_ENABLE_CONTROLS, 0, 1);
  platform::Pause(1000);
  EndStep(platform::WM_USB_SEND_ENDED);
  notifyWindow->StopUsbReceive();
}

CSendParallelThread::CSendParallelThread() {
  Start();
}

CSendParallelThread::~CSendParallelThread() {
  Finish();
}

void CSendParallelThread::Run() {
  platform::Pause(1000);
  AwaitJob();
  if (!pPrinter || !notifyWindow) return;
  if (const int code = pPrinter->CheckImageFile(filePath); code != engine::kSuccess) {
    // Ends without an end message: the launch deletes this thread object.
    notifyWindow->ShowResult(code);
    notifyWindow->Post(platform::WM_ENABLE_CONTROLS, 0, 1);
    return;
  }
  const int result =
      pPrinter->DownloadParallel(notifyWindow->DownloadModelName(), filePath, firstSector, mainProg,
                                 iplProg, notifyWindow->DownloadSectorTable());
  pPrinter->EndDownload();
  platform::Pause(500);
  notifyWindow->Post(platform::WM_DOWNLOAD_DONE, 0, result);
  notifyWindow->Post(platform::WM_ENABLE_CONTROLS, 0, 1);
  EndStep(platform::WM_PARALLEL_SEND_ENDED);
}

}  // namespace quillon::app
