#include "app/serial_worker.h"

#include "engine/result_codes.h"
#include "engine/sector_plan.h"
#include "platform/clock.h"
#include "ports/port_state.h"

namespace quillon::app {

int SerialWorker(std::unique_ptr<SerialJob> job) {
  const SerialJob j = *job;
  job.reset();

  if (j.isSerial) {
    const int code = j.download->OpenSerialPort(j.portName, j.baud, j.parity, j.stopBits);
    if (code != engine::kSuccess) {
      j.window->ShowResult(code);
      j.window->Send(platform::WM_ENABLE_CONTROLS, 0, 1);
      return 0;
    }
  }
  if (const int code = j.download->CheckImageFile(j.file); code != engine::kSuccess) {
    j.window->ShowResult(code);
    j.window->Send(platform::WM_ENABLE_CONTROLS, 0, 1);
    return 0;
  }

  auto settings = std::make_unique<engine::SerialSettings>(
      engine::SerialSettings{j.portName, j.baud, j.parity, j.stopBits});
  const int result = j.download->DownloadSerial("", j.file, j.firstSector, j.mainProg, j.iplProg, 0,
                                                engine::flashSectorSizes, *settings);
  settings.reset();

  ports::userTerminate = 0;
  j.download->EndDownload();
  platform::Pause(500);
  j.window->Post(platform::WM_DOWNLOAD_DONE, 0, result);
  j.window->Post(platform::WM_ENABLE_CONTROLS, 0, 1);
  return 0;
}

}  // namespace quillon::app
