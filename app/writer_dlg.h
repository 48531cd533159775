#pragma once
// CWriterDlg: the main dialog. The user picks the interface, the download
// type, the port and line settings and the image file, and starts the
// download with FLASH NOW; the dialog validates the settings, launches the
// serial worker and takes its reports (the user messages 0x500-0x518) on the
// user-interface thread: the progress window, the result and the controls'
// state.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/history.h"
#include "app/launch.h"
#include "app/model_table.h"
#include "app/send_threads.h"
#include "app/serial_worker.h"
#include "engine/flash_download.h"
#include "platform/event.h"
#include "platform/port_list.h"
#include "platform/thread.h"
#include "progress/progress_dlg.h"
#include "res/resource.h"
#include "ui/dialog.h"

namespace quillon::app {

// The About dialog: three lines and an OK button.
class CAboutDlg final : public ui::Dialog {
 public:
  CAboutDlg() : ui::Dialog(IDD_ABOUT) {}
};

// The system menu's About entry (shown when the string table has one).
inline constexpr uint32_t kAboutCommand = 0x0010;

class CWriterDlg final : public ui::Dialog, public DownloadHost {
 public:
  // The model table is the built-in one unless a text is given.
  explicit CWriterDlg(std::string modelTableText = kModelTableText);
  ~CWriterDlg() override;

  // DownloadHost, from any thread. A result message box is owned by this
  // dialog and blocks only the calling thread; codes without a message show
  // nothing. Either way the code becomes the last result.
  void ShowResult(int code) override;
  intptr_t Send(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
  bool Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
  int GetLastResult() const { return lastResult; }
  const uint32_t* DownloadSectorTable() override { return sectorTable; }

  // The settings controls: download type, port, baud rate, parity and stop
  // bit lists, file box, Browse and FLASH NOW (not Exit, not the radios).
  void EnableSettings(bool on);
  // Before a download: busy, and every control but About disabled.
  void DisableAll();
  // The settings `iface` uses follow `on`, the others the opposite.
  void EnableSettingsOf(Interface iface, bool on);
  // The interface of the checked radio button (serial if none).
  Interface GetInterface();

  // The model table's own members are reachable under their names.
  ModelTable modelTable;
  const uint32_t* sectorTable = nullptr;
  std::string modelName;
  // The send thread of a USB or parallel download, until it reports its end.
  std::unique_ptr<SendThread> usbSendThread;
  std::unique_ptr<SendThread> parallelSendThread;
  int dialogIcon = IDI_MAIN;
  // The USB radio button was chosen last (the serial and parallel ones
  // clear it): a USB download's progress window stays until its result.
  int useUsb = 0;
  int busy = 0;
  int iplProg = 0;
  int fontProg = 0;
  std::atomic<int> lastResult{-1};
  int mainProg = 0;
  // The interface of the last FLASH NOW, as far as its settings were checked.
  Interface launchedInterface = Interface::kSerial;
  std::vector<std::string>& modelIndexList = modelTable.modelIndexList;
  std::vector<std::string>& tokenList = modelTable.tokenList;
  // The download FLASH NOW started last, until its result is shown.
  std::unique_ptr<engine::CFlashDownload> download;
  progress::CProgressDlg* progressDlg = nullptr;
  std::unique_ptr<platform::Thread> pThread;  // the serial worker
  // The download FLASH NOW launched last.
  DownloadRequest request;
  std::string fileTitle = "BINARY FILE";
  std::string filePath;
  std::string parityText = "NONE";
  std::string portName = "COM1";
  // Where the devices the port lists offer after COMn and LPTn are looked
  // for (Linux).
  std::string deviceFolder = platform::kDeviceFolder;
  std::string (&typeRows)[150] = modelTable.typeRows;
  std::string (&modelPairs)[100] = modelTable.modelPairs;
  int stopBits = 1;
  int baudRate = 38400;
  int firstSector = 0;
  int& rowCount = modelTable.rowCount;
  int& modelTokenIndex = modelTable.modelTokenIndex;
  int& modelCount = modelTable.modelCount;

 protected:
  bool OnInitDialog() override;
  void OnCommand(int id, int code) override;
  void OnOK() override;
  void OnCancel() override;
  intptr_t OnUserMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
  bool OnSysCommand(uint32_t command, intptr_t lParam) override;
  void OnDestroy() override;
  void OnFinalDestroy() override;

 private:
  // A result's message text: on Linux, when the download's port would not
  // open for lack of permission, with what to do about it after a blank
  // line.
  std::string ResultText(int code, std::string text) const;
  void FillDownloadTypes();
  void OnSerialPort();
  void OnParallelPort();
  void OnUsbInterface();
  void OnTypeChanged();
  void OnBrowse();
  void OnAbout();
  void FlashNow();
  // Deletes a send thread object once its thread has returned.
  static void DeleteSendThread(std::unique_ptr<SendThread>& thread, bool onlyIfEnded);
  void EnableControls(bool on);
  void EnableGroup(std::span<const int> ids, bool on);
  void OnDownloadDone(int code);
  void CloseProgress();
  // Joins and frees the worker thread and frees the download object of a
  // launch that has ended (a failed launch leaves them behind).
  void FreeLaunch();

  // The history record of the download FLASH NOW launched, begun when its
  // settings have passed the checks and written when its result is shown
  // (on whichever thread shows it). A history that cannot be written is
  // passed over in silence.
  void BeginRecord();
  void EndRecord(int code);
  std::mutex recordMutex_;
  std::optional<DownloadRecord> record_;  // guarded by recordMutex_
  int64_t recordStartMs_ = 0;             // the process clock's, guarded likewise
};

}  // namespace quillon::app
