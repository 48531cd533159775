#include "app/serial_worker.h"

#include "engine/result_codes.h"
#include "engine/sector_plan.h"
#include "platform/clock.h"

namespace quillon::app {

int SerialWorker(std::unique_ptr<SerialJob> job) {
  const SerialJob j = *job;
  job.reset();
  const DownloadRequest& r = j.request;

  // Failures before the procedure are shown from here, and end the thread.
  int code = j.download->OpenSerialPort(r.portName, r.baudRate, r.parityText, r.stopBits);
  if (code == engine::kSuccess) code = j.download->CheckImageFile(r.imagePath);
  if (code != engine::kSuccess) {
    j.window->ShowResult(code);
    j.window->Send(platform::WM_ENABLE_CONTROLS, 0, 1);
    return 0;
  }

  const engine::SerialSettings settings{r.portName, r.baudRate, r.parityText, r.stopBits};
  const int result = j.download->DownloadSerial(r.imagePath, r.firstSector, r.MainProg(),
                                                r.IplProg(), engine::flashSectorSizes, settings);

  j.download->ClearStop();
  j.download->EndDownload();
  platform::Pause(kBeforeResultMs);
  j.window->Post(platform::WM_DOWNLOAD_DONE, 0, result);
  j.window->Post(platform::WM_ENABLE_CONTROLS, 0, 1);
  return 0;
}

}  // namespace quillon::app
