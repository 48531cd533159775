#include "app/launch.h"

#include "app/image_hash.h"
#include "engine/result_codes.h"
#include "platform/clock.h"

namespace quillon::app {

namespace {

int ConnectUsb(const DownloadRequest& request, engine::CFlashDownload& download) {
  const int code = download.ConnectUsbPrinter();
  if (code != engine::kSuccess) return code;
  platform::Pause(kAfterUsbOpenMs);
  return download.CheckImageFile(request.imagePath);
}

}  // namespace

int PrepareLaunch(const DownloadRequest& request, engine::CFlashDownload& download,
                  DownloadHost& host) {
  download.SetWindow(&host);
  // The image is the one released, or nothing is opened.
  int code = CheckImageHash(request.imagePath, request.sha256, request.requireSha256).code;
  if (code != engine::kSuccess) {
    host.ShowResult(code);
    return code;
  }
  switch (request.interface) {
    case Interface::kSerial:
      return engine::kSuccess;
    case Interface::kParallel:
      code = download.OpenParallelPrinter(request.portName, request.IplProg());
      break;
    case Interface::kUsb:
      code = ConnectUsb(request, download);
      break;
  }
  if (code != engine::kSuccess) {
    host.ShowResult(code);
    download.ClosePrinterPort();
  }
  return code;
}

DownloadThread StartDownload(const DownloadRequest& request, engine::CFlashDownload& download,
                             DownloadHost& host) {
  DownloadThread thread;
  if (request.interface != Interface::kSerial) {
    if (request.interface == Interface::kUsb) {
      thread.sender = std::make_unique<CSend_USBThread>();
    } else {
      thread.sender = std::make_unique<CSendParallelThread>();
    }
    thread.sender->SetJob(&host, &download, request.imagePath, request.firstSector,
                          request.MainProg(), request.IplProg());
    return thread;
  }
  auto job = std::make_unique<SerialJob>(SerialJob{&host, &download, request});
  auto handOver = std::make_shared<std::unique_ptr<SerialJob>>(std::move(job));
  thread.worker = std::make_unique<platform::Thread>(
      [handOver] { SerialWorker(std::move(*handOver)); }, platform::ThreadPriority::kAboveNormal,
      /*suspended=*/true);
  thread.worker->Resume();
  return thread;
}

}  // namespace quillon::app
