#pragma once
// The launch of a download, the same from the main dialog and from the
// command line: both turn their settings into one DownloadRequest, get the
// printer ready and start the download's thread.

#include <memory>
#include <string>

#include "app/download_request.h"
#include "app/send_threads.h"
#include "app/serial_worker.h"
#include "engine/flash_download.h"
#include "platform/thread.h"

namespace quillon::app {

// The USB printer settles for a second after the launch has opened it.
inline constexpr uint32_t kAfterUsbOpenMs = 1000;

// Gets the printer ready for the download's thread, on the calling thread,
// and makes `host` the download's window. First of all the image's SHA-256
// is checked (app/image_hash.h): a refused image opens nothing. Over USB the printer is
// connected, then after 1000 ms the image is checked; the parallel port is
// opened in its modes; the serial worker opens its port itself. Returns
// kSuccess, or the code of the failure, which is shown through `host` with
// the port closed again.
int PrepareLaunch(const DownloadRequest& request, engine::CFlashDownload& download,
                  DownloadHost& host);

// The thread a launch started: the serial worker, or the interface's send
// thread. Whoever holds it deletes it once the download has reported its
// end (deleting joins the thread).
struct DownloadThread {
  std::unique_ptr<platform::Thread> worker;
  std::unique_ptr<SendThread> sender;
};

// Starts the download's thread with its job: the serial worker at above
// normal priority (created suspended, then resumed), or a new send thread
// of the interface.
DownloadThread StartDownload(const DownloadRequest& request, engine::CFlashDownload& download,
                             DownloadHost& host);

}  // namespace quillon::app
