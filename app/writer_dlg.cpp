#include "app/writer_dlg.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>

#include "app/result_table.h"
#include "app/validate_settings.h"
#include "engine/result_codes.h"
#include "engine/sector_plan.h"
#include "platform/clock.h"
#include "platform/device.h"
#include "ports/port_state.h"
#include "res/templates.h"

namespace quillon::app {

namespace {

constexpr const char* kNoFileText = "BINARY FILE";

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// Nothing when the file opens for reading; otherwise the platform's text
// for why it does not.
std::optional<std::string> ReadError(const std::string& path) {
  errno = 0;
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    std::fclose(file);
    return std::nullopt;
  }
  const int error = errno;
#ifdef _WIN32
  return std::string(std::strerror(error));
#else
  platform::SetLastErrorFromErrno(error);
  return platform::LastErrorText();
#endif
}

}  // namespace

CWriterDlg::CWriterDlg(std::string modelTableText)
    : ui::Dialog(IDD_MAIN), modelTable(std::move(modelTableText)) {
  modelTable.rowCount = -1;
  modelTable.modelTokenIndex = -1;
  modelTable.modelCount = 0;
  ports::useUsb = 0;
  ports::mainWindow.store(this);
}

CWriterDlg::~CWriterDlg() {
  FreeLaunch();
  DeleteSendThread(usbSendThread, /*onlyIfEnded=*/false);
  DeleteSendThread(parallelSendThread, /*onlyIfEnded=*/false);
  ports::PortWindow* self = this;
  ports::mainWindow.compare_exchange_strong(self, nullptr);
}

// --- Results and messages -------------------------------------------------

void CWriterDlg::ShowResult(int code) {
  if (const std::optional<ResultMessage> message = LookupResult(code)) {
    ShowMessageBox(message->text,
                   message->icon == ResultIcon::kError ? ui::kMbIconError : ui::kMbIconInformation);
  }
  lastResult = code;
}

intptr_t CWriterDlg::Send(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return ui::Dialog::Send(message, wParam, lParam);
}

bool CWriterDlg::Post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return ui::Dialog::Post(message, wParam, lParam);
}

// --- Initialisation -------------------------------------------------------

bool CWriterDlg::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  EnableToolTips(true);

  if (const auto about = res::LoadText(IDS_ABOUT_MENU); about && !about->empty()) {
    AppendSystemMenuSeparator();
    AppendSystemMenu(kAboutCommand, *about);
  }
  SetIcon(dialogIcon, ui::IconSize::kBig);
  SetIcon(dialogIcon, ui::IconSize::kSmall);

  ports::userTerminate = 0;
  FillDownloadTypes();
  ListSelectText(IDC_PORT_LIST, portName);
  ListSelectText(IDC_PARITY_LIST, parityText);
  SetControlText(IDC_DATA_BITS, "8");
  SetControlText(IDC_DATA_FLOW, "DTR / DSR");
  SetControlText(IDC_FILE_BOX, fileTitle);
  ListSelectText(IDC_BAUD_LIST, std::to_string(baudRate));
  ListSelectText(IDC_STOP_LIST, std::to_string(stopBits));
  EnableSettings(false);
  return false;  // the focus is on the download type list
}

void CWriterDlg::FillDownloadTypes() {
  if (modelTable.SplitDownloadTypes() == 1) {
    const std::vector<DownloadTypeRow> rows = modelTable.Rows();
    ListReset(IDC_TYPE_LIST);
    for (const DownloadTypeRow& row : rows) {
      // A drop-down list takes no text; the entries are what it shows.
      SetControlText(IDC_TYPE_LIST, rows.front().name);
      ListAdd(IDC_TYPE_LIST, row.name);
    }
  } else {
    ShowResult(engine::kDataFileError);  // the list keeps its template entries
  }
  SetFocus(IDC_TYPE_LIST);
  sectorTable = engine::flashSectorSizes;
  modelName = "PBOOK";
}

void CWriterDlg::EnableSettings(bool on) {
  for (const int id : {IDC_TYPE_LIST, IDC_PORT_LIST, IDC_BAUD_LIST, IDC_PARITY_LIST, IDC_STOP_LIST,
                       IDC_FILE_BOX, IDC_BROWSE, IDC_FLASH_NOW}) {
    EnableControl(id, on);
  }
}

void CWriterDlg::DisableAll() {
  busy = 1;
  for (const int id :
       {IDC_TYPE_LIST, IDC_PORT_LIST, IDC_BAUD_LIST, IDC_PARITY_LIST, IDC_STOP_LIST, IDC_FILE_BOX,
        IDC_BROWSE, IDC_FLASH_NOW, IDC_EXIT, IDC_SERIAL, IDC_PARALLEL, IDC_USB}) {
    EnableControl(id, false);
  }
}

int CWriterDlg::GetInterface() {
  if (Check(IDC_SERIAL) == ui::kChecked) return kSerialInterface;
  if (Check(IDC_PARALLEL) == ui::kChecked) return kParallelInterface;
  if (Check(IDC_USB) == ui::kChecked) return kUsbInterface;
  return kSerialInterface;
}

// --- The user -------------------------------------------------------------

void CWriterDlg::OnCommand(int id, int code) {
  switch (id) {
    case IDC_SERIAL:
      if (code == ui::kBnClicked) OnSerialPort();
      return;
    case IDC_PARALLEL:
      if (code == ui::kBnClicked) OnParallelPort();
      return;
    case IDC_USB:
      if (code == ui::kBnClicked) OnUsbInterface();
      return;
    case IDC_TYPE_LIST:
      if (code == ui::kCbnSelChange) OnTypeChanged();
      return;
    case IDC_PORT_LIST:
      return;  // a new port takes effect at FLASH NOW
    case IDC_FILE_BOX:
      // The box is read-only: no caret in it.
      if (code == ui::kEnSetFocus) DestroyCaret();
      return;
    case IDC_BROWSE:
      if (code == ui::kBnClicked) OnBrowse();
      return;
    case IDC_ABOUT:
      if (code == ui::kBnClicked) OnAbout();
      return;
    case IDC_EXIT:
      if (code == ui::kBnClicked) EndDialog(engine::kCancelled);
      return;
    default:
      ui::Dialog::OnCommand(id, code);
  }
}

void CWriterDlg::OnSerialPort() {
  ports::useUsb = 0;
  ListReset(IDC_PORT_LIST);
  for (int n = 1; n <= 20; ++n) ListAdd(IDC_PORT_LIST, "COM" + std::to_string(n));
  EnableSettings(true);
}

void CWriterDlg::OnParallelPort() {
  ports::useUsb = 0;
  ListReset(IDC_PORT_LIST);
  for (int n = 1; n <= 10; ++n) ListAdd(IDC_PORT_LIST, "LPT" + std::to_string(n));
  for (const int id : {IDC_TYPE_LIST, IDC_PORT_LIST, IDC_FILE_BOX, IDC_BROWSE, IDC_FLASH_NOW}) {
    EnableControl(id, true);
  }
  for (const int id : {IDC_BAUD_LIST, IDC_PARITY_LIST, IDC_STOP_LIST}) EnableControl(id, false);
}

void CWriterDlg::OnUsbInterface() {
  ports::useUsb = 1;
  for (const int id : {IDC_TYPE_LIST, IDC_FILE_BOX, IDC_BROWSE, IDC_FLASH_NOW}) {
    EnableControl(id, true);
  }
  for (const int id : {IDC_PORT_LIST, IDC_BAUD_LIST, IDC_PARITY_LIST, IDC_STOP_LIST}) {
    EnableControl(id, false);
  }
}

void CWriterDlg::OnTypeChanged() {
  // A file chosen for another type no longer fits; the placeholder stays.
  if (ControlText(IDC_FILE_BOX) != kNoFileText) {
    filePath.clear();
    fileTitle.clear();
    SetControlText(IDC_FILE_BOX, "");
  }
}

void CWriterDlg::OnBrowse() {
  const std::string type = ControlText(IDC_TYPE_LIST);
  if (type.empty()) {
    ShowMessageBox("Please determine the download type!", ui::kMbIconError);
    return;
  }
  // The key word is the text before the first blank; without one there is
  // none.
  const size_t blank = type.find(' ');
  const std::string key = blank == std::string::npos ? std::string() : type.substr(0, blank);
  std::string filter;
  if (EqualNoCase(key, "IPL")) {
    filter = "IPL Program Files (*.ipl)|*.ipl|";
  } else if (EqualNoCase(key, "MAIN")) {
    filter = "Main Firmware Files (*.mfw)|*.mfw|";
  } else if (EqualNoCase(key, "US&EU")) {
    filter = "US & EU Font Files (*.bin)|*.bin|";
  } else {
    ShowMessageBox("Please select a correct download type!", ui::kMbIconError);
    return;
  }

  if (const std::optional<std::string> path =
          OpenFileDialog(filter, ui::kOfnHideReadOnly | ui::kOfnPathMustExist)) {
    if (const std::optional<std::string> error = ReadError(*path)) {
      ShowMessageBox(*error, ui::kMbOk | ui::kMbIconError);  // the last choice stands
    } else {
      filePath = *path;
      fileTitle = std::filesystem::path(*path).filename().string();
    }
  }
  SetControlText(IDC_FILE_BOX, fileTitle);
}

void CWriterDlg::OnAbout() {
  CAboutDlg about;
  about.DoModal(Handle());
}

bool CWriterDlg::OnSysCommand(uint32_t command, intptr_t) {
  if ((command & ~0xFu) == kAboutCommand) {
    OnAbout();
    return true;
  }
  return false;
}

void CWriterDlg::OnOK() {
  FlashNow();
}

void CWriterDlg::OnCancel() {
  // Escape, the close box and Alt+F4 do nothing while a download runs.
  if (busy == 0) EndDialog(engine::kCancelled);
}

// --- FLASH NOW ------------------------------------------------------------

void CWriterDlg::FlashNow() {
  FreeLaunch();
  DisableAll();

  DialogSettings in;
  in.interface = GetInterface();
  in.portText = ControlText(IDC_PORT_LIST);
  in.typeText = ControlText(IDC_TYPE_LIST);
  in.fileText = fileTitle;
  in.parityText = ControlText(IDC_PARITY_LIST);
  in.baudText = ControlText(IDC_BAUD_LIST);
  in.stopBitsText = ControlText(IDC_STOP_LIST);
  // The check works on the members themselves: what it got through before
  // a problem stays, as the controls' state after a refusal depends on it.
  ValidatedSettings out{portName, parityText, baudRate, stopBits, firstSector,
                        mainProg, iplProg,    fontProg, isSerial, isParallel};
  const int code = ValidateSettings(in, modelTable, out);
  portName = out.portName;
  parityText = out.parityText;
  baudRate = out.baudRate;
  stopBits = out.stopBits;
  firstSector = out.firstSector;
  mainProg = out.mainProg;
  iplProg = out.iplProg;
  fontProg = out.fontProg;
  isSerial = out.isSerial;
  isParallel = out.isParallel;
  if (code != engine::kSuccess) {
    ShowResult(code);
    Post(platform::WM_ENABLE_CONTROLS, 0, 1);
    return;
  }

  pPrinter = new (std::nothrow) engine::CFlashDownload();
  if (!pPrinter || !pPrinter->printer) {
    delete pPrinter;
    pPrinter = nullptr;
    ShowResult(engine::kInsufficientMemory);
    Post(platform::WM_ENABLE_CONTROLS, 0, 1);
    return;
  }

  if (ports::useUsb) {
    LaunchUsb();
  } else if (isParallel) {
    LaunchParallel();
  } else {
    LaunchSerial();
  }
}

void CWriterDlg::LaunchUsb() {
  pPrinter->SetWindow(static_cast<DownloadHost*>(this));
  int code = pPrinter->ConnectUsbPrinter();
  if (code == engine::kSuccess) {
    platform::Pause(1000);
    code = pPrinter->CheckImageFile(filePath);
  }
  if (code != engine::kSuccess) {
    ShowResult(code);
    Post(platform::WM_ENABLE_CONTROLS, 0, 1);
    pPrinter->ClosePrinterPort();
    delete pPrinter;
    pPrinter = nullptr;
    return;
  }
  if (usbSendThread) {
    // The last USB download has not reported its end yet. The printer just
    // opened is let go again rather than left open behind the message.
    ShowMessageBox("Send Thread exist!!", ui::kMbIconError);
    Post(platform::WM_ENABLE_CONTROLS, 0, 1);
    pPrinter->ClosePrinterPort();
    return;
  }
  usbSendThread = new CSend_USBThread();
  usbSendThread->SetJob(this, pPrinter, filePath, firstSector, mainProg, iplProg);
}

void CWriterDlg::LaunchParallel() {
  pPrinter->SetWindow(static_cast<DownloadHost*>(this));
  if (const int code = pPrinter->OpenParallelPrinter(portName, iplProg); code != engine::kSuccess) {
    ShowResult(code);
    pPrinter->ClosePrinterPort();
    Post(platform::WM_ENABLE_CONTROLS, 0, 1);
    return;
  }
  // A thread whose image check failed ended without an end message.
  DeleteSendThread(parallelSendThread, /*onlyIfEnded=*/false);
  parallelSendThread = new CSendParallelThread();
  parallelSendThread->SetJob(this, pPrinter, filePath, firstSector, mainProg, iplProg);
}

void CWriterDlg::StopUsbReceive() {
  receiveThreads.StopUsb();
}

void CWriterDlg::StopParallelReceive() {
  receiveThreads.StopParallel();
}

bool CWriterDlg::ReopenUsbPrinter() {
  // Called by the download's own thread while the download object lives.
  if (!pPrinter) return false;
  pPrinter->ClosePrinterPort();
  return pPrinter->ConnectUsbPrinter() == engine::kSuccess;
}

void CWriterDlg::LaunchSerial() {
  auto job = std::make_unique<SerialJob>();
  job->window = this;
  job->download = pPrinter;
  job->portName = portName;
  job->parity = parityText;
  job->file = filePath;
  job->stopBits = stopBits;
  job->baud = baudRate;
  job->firstSector = firstSector;
  job->mainProg = mainProg;
  job->iplProg = iplProg;
  job->isSerial = isSerial;
  auto handOver = std::make_shared<std::unique_ptr<SerialJob>>(std::move(job));
  pThread = new platform::Thread([handOver] { SerialWorker(std::move(*handOver)); },
                                 platform::ThreadPriority::kAboveNormal, /*suspended=*/true);
  pPrinter->SetWindow(static_cast<DownloadHost*>(this));
  pThread->Resume();
}

// --- Messages from the download -------------------------------------------

intptr_t CWriterDlg::OnUserMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  using namespace platform;
  switch (message) {
    case WM_PROGRESS_DESTROYED:
      // Whoever destroyed it, the pointer is stale now.
      progressDlg = nullptr;
      return 0;
    case WM_CLOSE_PROGRESS:
      CloseProgress();
      return 0;
    case WM_OPEN_PROGRESS:
      if (progressDlg) progressDlg->DestroyWindow();
      progressDlg =
          progress::OpenProgressDialog(static_cast<ui::Dialog*>(this), static_cast<int>(wParam));
      return 0;
    case WM_PROGRESS_STATUS:
      if (progressDlg) {
        const auto* record = reinterpret_cast<const engine::StatusRecord*>(lParam);
        progressDlg->SetRangePos(record->progressRange, record->progressPos);
        progressDlg->SetStatusText(record->statusText);
        progressDlg->SetStep(record->progressStep);
      }
      return 0;
    case WM_DOWNLOAD_DONE:
      OnDownloadDone(static_cast<int>(lParam));
      return 0;
    case WM_ENABLE_CONTROLS:
      EnableControls(lParam != 0);
      return 0;
    case WM_PROGRESS_SETPOS:
      if (progressDlg) progressDlg->SetRangePos(static_cast<int>(wParam), static_cast<int>(lParam));
      return 0;
    case WM_PROGRESS_AUTOSTEP:
      if (progressDlg) progressDlg->SetAutoAdvance(static_cast<int>(lParam));
      return 0;
    case WM_DISABLE_PROGRESS:
      if (progressDlg) progressDlg->EnableCancel(0);
      return 0;
    case WM_USB_SEND_ENDED:
      DeleteSendThread(usbSendThread, /*onlyIfEnded=*/true);
      return 0;
    case WM_USB_RECEIVE_ENDED:
      receiveThreads.UsbEnded();
      return 0;
    case WM_START_USB_RECEIVE:
      receiveThreads.StartUsb(static_cast<int>(wParam));
      return 0;
    case WM_START_PARALLEL_RECEIVE:
      receiveThreads.StartParallel(static_cast<int>(wParam));
      return 0;
    case WM_PARALLEL_RECEIVE_ENDED:
      receiveThreads.ParallelEnded();
      return 0;
    case WM_PARALLEL_SEND_ENDED:
      DeleteSendThread(parallelSendThread, /*onlyIfEnded=*/true);
      return 0;
    default:
      return ui::Dialog::OnUserMessage(message, wParam, lParam);
  }
}

void CWriterDlg::CloseProgress() {
  progress::CProgressDlg* dialog = progressDlg;
  if (!dialog) return;
  progress::CloseProgressDialog(dialog);  // the dialog is gone after this
  progressDlg = nullptr;
}

void CWriterDlg::OnDownloadDone(int code) {
  if (pThread) {
    platform::Pause(500);
    DeleteThread(pThread);
  }
  if (ports::useUsb && progressDlg) {
    progress::CProgressDlg* dialog = progressDlg;
    dialog->SetStopFlag(1);
    dialog->DestroyWindow();
    progressDlg = nullptr;
  }
  ShowResult(ports::userTerminate ? engine::kCancelled : code);
  delete pPrinter;
  pPrinter = nullptr;
}

void CWriterDlg::EnableControls(bool on) {
  for (const int id : {IDC_SERIAL, IDC_PARALLEL, IDC_USB}) EnableControl(id, true);
  if (isSerial) {
    busy = 0;
    for (const int id : {IDC_TYPE_LIST, IDC_PORT_LIST, IDC_BAUD_LIST, IDC_PARITY_LIST,
                         IDC_STOP_LIST, IDC_FILE_BOX, IDC_BROWSE, IDC_FLASH_NOW, IDC_EXIT}) {
      EnableControl(id, on);
    }
  } else if (isParallel) {
    busy = 0;
    for (const int id :
         {IDC_TYPE_LIST, IDC_PORT_LIST, IDC_FILE_BOX, IDC_BROWSE, IDC_FLASH_NOW, IDC_EXIT}) {
      EnableControl(id, on);
    }
    for (const int id : {IDC_BAUD_LIST, IDC_PARITY_LIST, IDC_STOP_LIST}) EnableControl(id, !on);
  } else {
    // USB: the USB download's own end clears busy.
    for (const int id : {IDC_TYPE_LIST, IDC_FILE_BOX, IDC_BROWSE, IDC_FLASH_NOW, IDC_EXIT}) {
      EnableControl(id, on);
    }
    for (const int id : {IDC_PORT_LIST, IDC_BAUD_LIST, IDC_PARITY_LIST, IDC_STOP_LIST}) {
      EnableControl(id, !on);
    }
  }
}

// --- Threads and the end --------------------------------------------------

void CWriterDlg::DeleteThread(platform::Thread*& thread) {
  delete thread;  // joins it
  thread = nullptr;
}

template <typename T>
void CWriterDlg::DeleteSendThread(T*& thread, bool onlyIfEnded) {
  // An end message names no thread: one that arrives for a thread already
  // deleted, or before the thread held has ended, is not that thread's.
  if (!thread || (onlyIfEnded && !thread->Ended())) return;
  delete thread;  // waits for it to return
  thread = nullptr;
}

void CWriterDlg::FreeLaunch() {
  DeleteThread(pThread);
  delete pPrinter;
  pPrinter = nullptr;
}

void CWriterDlg::OnDestroy() {
  if (progressDlg) {
    progress::CProgressDlg* dialog = progressDlg;
    dialog->SetStopFlag(1);
    dialog->DestroyWindow();
    progressDlg = nullptr;
  }
  ui::Dialog::OnDestroy();
}

void CWriterDlg::OnFinalDestroy() {
  // Once the window is gone a worker's messages come back unanswered, so a
  // worker still running cannot hold up the join.
  FreeLaunch();
  DeleteSendThread(usbSendThread, /*onlyIfEnded=*/false);
  DeleteSendThread(parallelSendThread, /*onlyIfEnded=*/false);
}

}  // namespace quillon::app
