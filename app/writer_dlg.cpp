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
#include "platform/file.h"
#include "platform/port_list.h"
#include "res/templates.h"

namespace quillon::app {

namespace {

constexpr const char* kNoFileText = "BINARY FILE";

// The worker has posted its result; it is given this long to return before
// its thread object is deleted.
constexpr uint32_t kBeforeWorkerDeletedMs = 500;

// The controls by what they serve: every download, the serial line only,
// the choice of interface.
constexpr int kEveryDownload[] = {IDC_TYPE_LIST, IDC_FILE_BOX, IDC_BROWSE, IDC_FLASH_NOW};
constexpr int kLineLists[] = {IDC_BAUD_LIST, IDC_PARITY_LIST, IDC_STOP_LIST};
constexpr int kInterfaceButtons[] = {IDC_SERIAL, IDC_PARALLEL, IDC_USB};

// Nothing when the file opens for reading as an image; otherwise the
// platform's text for why it does not.
std::optional<std::string> ReadError(const std::string& path) {
  errno = 0;
  if (std::FILE* file = platform::OpenRegularFile(path)) {
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
}

CWriterDlg::~CWriterDlg() {
  FreeLaunch();
  DeleteSendThread(usbSendThread, /*onlyIfEnded=*/false);
  DeleteSendThread(parallelSendThread, /*onlyIfEnded=*/false);
}

// --- Results and messages -------------------------------------------------

void CWriterDlg::BeginRecord() {
  DownloadRecord r;
  r.startMs = platform::GetClock().WallMs();
#ifdef _WIN32
  r.program = "Quillon.exe";
#else
  r.program = "quillon";
#endif
  const bool usb = request.interface == Interface::kUsb;
  r.interface = usb ? "usb" : request.interface == Interface::kParallel ? "parallel" : "serial";
  r.port = request.portName;
  r.device = usb ? "the USB printer" : platform::ResolveDevice(request.portName).path;
  r.type = ControlText(IDC_TYPE_LIST);
  r.image = request.imagePath;
  std::lock_guard lock(recordMutex_);
  record_ = std::move(r);
  recordStartMs_ = platform::NowMs();
}

void CWriterDlg::EndRecord(int code) {
  std::optional<DownloadRecord> r;
  {
    std::lock_guard lock(recordMutex_);
    r.swap(record_);
    if (r) r->durationMs = platform::NowMs() - recordStartMs_;
  }
  if (!r) return;
  r->code = code;
  r->reached = download ? download->HowFar() : engine::Reached::kNothing;
  std::string ignored;
  RecordDownload(*r, ignored);
}

void CWriterDlg::ShowResult(int code) {
  EndRecord(code);
  if (const std::optional<ResultMessage> message = LookupResult(code)) {
    ShowMessageBox(ResultText(code, message->text),
                   message->icon == ResultIcon::kError ? ui::kMbIconError : ui::kMbIconInformation);
  }
  lastResult = code;
}

std::string CWriterDlg::ResultText([[maybe_unused]] int code, std::string text) const {
#ifndef _WIN32
  // The port may have been opened on the worker's thread: the download
  // object kept the open's error.
  if (download && download->OpenError() == platform::kErrorAccessDenied) {
    if (const std::string hint = PermissionHint(code); !hint.empty()) text += "\n\n" + hint;
  }
#endif
  return text;
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
  EnableSettingsOf(Interface::kSerial, on);
}

void CWriterDlg::EnableSettingsOf(Interface iface, bool on) {
  EnableGroup(kEveryDownload, on);
  EnableControl(IDC_PORT_LIST, iface == Interface::kUsb ? !on : on);
  EnableGroup(kLineLists, iface == Interface::kSerial ? on : !on);
}

void CWriterDlg::EnableGroup(std::span<const int> ids, bool on) {
  for (const int id : ids) EnableControl(id, on);
}

void CWriterDlg::DisableAll() {
  busy = 1;
  EnableSettings(false);
  EnableControl(IDC_EXIT, false);
  EnableGroup(kInterfaceButtons, false);
}

Interface CWriterDlg::GetInterface() {
  if (Check(IDC_SERIAL) == ui::kChecked) return Interface::kSerial;
  if (Check(IDC_PARALLEL) == ui::kChecked) return Interface::kParallel;
  if (Check(IDC_USB) == ui::kChecked) return Interface::kUsb;
  return Interface::kSerial;
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
  useUsb = 0;
  ListReset(IDC_PORT_LIST);
  for (int n = 1; n <= 20; ++n) ListAdd(IDC_PORT_LIST, "COM" + std::to_string(n));
  for (const std::string& path : platform::PresentSerialDevices(deviceFolder)) {
    ListAdd(IDC_PORT_LIST, path);
  }
  EnableSettings(true);
}

void CWriterDlg::OnParallelPort() {
  useUsb = 0;
  ListReset(IDC_PORT_LIST);
  for (int n = 1; n <= 10; ++n) ListAdd(IDC_PORT_LIST, "LPT" + std::to_string(n));
  for (const std::string& path : platform::PresentParallelDevices(deviceFolder)) {
    ListAdd(IDC_PORT_LIST, path);
  }
  EnableSettingsOf(Interface::kParallel, true);
}

void CWriterDlg::OnUsbInterface() {
  useUsb = 1;
  EnableSettingsOf(Interface::kUsb, true);
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
  const std::optional<DownloadType> kind = TypeOfName(type);
  if (!kind) {
    ShowMessageBox("Please select a correct download type!", ui::kMbIconError);
    return;
  }
  const std::string filter = engine::RowOf(*kind).filter;

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
  // A launch that ended without a result (a USB send thread still there)
  // leaves no record for this one to take over.
  {
    std::lock_guard lock(recordMutex_);
    record_.reset();
  }
  FreeLaunch();
  DisableAll();

  DialogSettings in;
  in.interface = GetInterface();
  in.portText = ControlText(IDC_PORT_LIST);
  // A device listed after the numbered ports is taken as it stands.
  in.portIsDevice = in.portText.find('/') != std::string::npos;
  in.typeText = ControlText(IDC_TYPE_LIST);
  in.fileText = fileTitle;
  in.parityText = ControlText(IDC_PARITY_LIST);
  in.baudText = ControlText(IDC_BAUD_LIST);
  in.stopBitsText = ControlText(IDC_STOP_LIST);
  // The check works on the members themselves: what it got through before
  // a problem stays, as the controls' state after a refusal depends on it.
  ValidatedSettings out{portName, parityText, baudRate, stopBits,         firstSector,
                        mainProg, iplProg,    fontProg, launchedInterface};
  const int code = ValidateSettings(in, modelTable, out);
  portName = out.portName;
  parityText = out.parityText;
  baudRate = out.baudRate;
  stopBits = out.stopBits;
  firstSector = out.firstSector;
  mainProg = out.mainProg;
  iplProg = out.iplProg;
  fontProg = out.fontProg;
  launchedInterface = out.interface;
  if (code != engine::kSuccess) {
    ShowResult(code);
    Post(platform::WM_ENABLE_CONTROLS, 0, 1);
    return;
  }
  request = MakeRequest(out, filePath);
  BeginRecord();

  download.reset(new (std::nothrow) engine::CFlashDownload(request.interface));
  if (!download || !download->printer) {
    download.reset();
    ShowResult(engine::kInsufficientMemory);
    Post(platform::WM_ENABLE_CONTROLS, 0, 1);
    return;
  }

  if (PrepareLaunch(request, *download, *this) != engine::kSuccess) {
    Post(platform::WM_ENABLE_CONTROLS, 0, 1);
    if (request.interface == Interface::kUsb) download.reset();
    return;
  }
  switch (request.interface) {
    case Interface::kUsb:
      if (usbSendThread) {
        // The last USB download has not reported its end yet. The printer
        // just opened is let go again rather than left open behind the
        // message.
        ShowMessageBox("Send Thread exist!!", ui::kMbIconError);
        Post(platform::WM_ENABLE_CONTROLS, 0, 1);
        download->ClosePrinterPort();
        return;
      }
      usbSendThread = std::move(StartDownload(request, *download, *this).sender);
      break;
    case Interface::kParallel:
      // A thread whose image check failed ended without an end message.
      DeleteSendThread(parallelSendThread, /*onlyIfEnded=*/false);
      parallelSendThread = std::move(StartDownload(request, *download, *this).sender);
      break;
    case Interface::kSerial:
      pThread = std::move(StartDownload(request, *download, *this).worker);
      break;
  }
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
      // Cancel asks the running download to stop; it is gone only after
      // its result, which this thread shows.
      progressDlg = progress::OpenProgressDialog(static_cast<ui::Dialog*>(this),
                                                 static_cast<int>(wParam), [this] {
                                                   if (download) download->RequestStop();
                                                 });
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
    platform::Pause(kBeforeWorkerDeletedMs);
    pThread.reset();  // joins
  }
  if (useUsb && progressDlg) {
    progress::CProgressDlg* dialog = progressDlg;
    dialog->SetStopFlag(1);
    dialog->DestroyWindow();
    progressDlg = nullptr;
  }
  ShowResult(download && download->StopRequested() ? engine::kCancelled : code);
  download.reset();
}

void CWriterDlg::EnableControls(bool on) {
  EnableGroup(kInterfaceButtons, true);
  // After a USB launch busy stays set: Escape and the close box keep doing
  // nothing until a serial or parallel launch has ended.
  if (launchedInterface != Interface::kUsb) busy = 0;
  EnableSettingsOf(launchedInterface, on);
  EnableControl(IDC_EXIT, on);
}

// --- Threads and the end --------------------------------------------------

void CWriterDlg::DeleteSendThread(std::unique_ptr<SendThread>& thread, bool onlyIfEnded) {
  // An end message names no thread: one that arrives for a thread already
  // deleted, or before the thread held has ended, is not that thread's.
  if (!thread || (onlyIfEnded && !thread->Ended())) return;
  thread.reset();  // waits for it to return
}

void CWriterDlg::FreeLaunch() {
  pThread.reset();  // joins
  download.reset();
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
