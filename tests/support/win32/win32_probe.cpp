#include "support/win32/win32_probe.h"

#include <windows.h>
// The common controls and dialogs need the full <windows.h> set of types.
#include <commctrl.h>
#include <commdlg.h>
#include <dlgs.h>

#include <algorithm>
#include <chrono>

#include "ui/win32/win32_backend.h"

namespace quillon::ui::probe {

namespace {

HWND H(WindowHandle window) {
  return reinterpret_cast<HWND>(window);
}

WindowHandle W(HWND hwnd) {
  return reinterpret_cast<WindowHandle>(hwnd);
}

HWND Item(WindowHandle dialog, int id) {
  return dialog == kNoWindow ? nullptr : GetDlgItem(H(dialog), id);
}

// WM_GETTEXT, which the system carries across processes.
std::string TextOf(HWND hwnd) {
  if (!hwnd) return {};
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) {
    return {};
  }
  std::string text(static_cast<size_t>(length) + 1, '\0');
  DWORD_PTR got = 0;
  SendMessageTimeoutA(hwnd, WM_GETTEXT, static_cast<WPARAM>(text.size()),
                      reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG, 5000, &got);
  text.resize(std::min(static_cast<size_t>(got), text.size() - 1));
  return text;
}

std::string ClassOf(HWND hwnd) {
  char name[128] = {};
  return hwnd && GetClassNameA(hwnd, name, sizeof name) > 0 ? std::string(name) : std::string();
}

// Asked for in UTF-16: Wine hands a list entry to another process's ANSI
// request unconverted.
std::string ComboEntry(HWND combo, int index) {
  const LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length < 0) return {};
  std::wstring wide(static_cast<size_t>(length) + 1, L'\0');
  const LRESULT got = SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index),
                                   reinterpret_cast<LPARAM>(wide.data()));
  if (got <= 0) return {};
  const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(got), nullptr, 0,
                                    nullptr, nullptr);
  std::string text(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(got), text.data(), n, nullptr,
                      nullptr);
  return text;
}

std::vector<std::string> ComboEntries(HWND combo) {
  std::vector<std::string> entries;
  if (!combo) return entries;
  const LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) entries.push_back(ComboEntry(combo, static_cast<int>(i)));
  return entries;
}

uint32_t ProcessOrSelf(uint32_t processId) {
  return processId == 0 ? GetCurrentProcessId() : processId;
}

struct TopLevelSearch {
  DWORD processId;  // 0: any
  std::vector<WindowHandle> found;
};

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM lParam) {
  auto* search = reinterpret_cast<TopLevelSearch*>(lParam);
  DWORD process = 0;
  GetWindowThreadProcessId(hwnd, &process);
  if ((search->processId == 0 || process == search->processId) && IsWindowVisible(hwnd)) {
    search->found.push_back(W(hwnd));
  }
  return TRUE;
}

std::vector<WindowHandle> TopLevelOf(DWORD processId) {
  TopLevelSearch search{processId, {}};
  EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace

// --- Threads, processes, time ----------------------------------------------

uint32_t CurrentThreadId() {
  return GetCurrentThreadId();
}

uint32_t CurrentProcessId() {
  return GetCurrentProcessId();
}

uint32_t WindowThread(WindowHandle window) {
  return window == kNoWindow ? 0 : GetWindowThreadProcessId(H(window), nullptr);
}

uint32_t WindowProcess(WindowHandle window) {
  DWORD process = 0;
  if (window != kNoWindow) GetWindowThreadProcessId(H(window), &process);
  return process;
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    Sleep(10);
  }
}

// --- Finding windows ---------------------------------------------------------

std::vector<WindowHandle> TopLevelWindows(uint32_t processId) {
  return TopLevelOf(ProcessOrSelf(processId));
}

WindowHandle FindTopLevel(const std::string& caption, uint32_t processId) {
  for (const WindowHandle window : TopLevelOf(ProcessOrSelf(processId))) {
    if (TextOf(H(window)) == caption) return window;
  }
  return kNoWindow;
}

WindowHandle WaitForTopLevel(const std::string& caption, int timeoutMs, uint32_t processId) {
  WindowHandle found = kNoWindow;
  WaitUntil([&] { return (found = FindTopLevel(caption, processId)) != kNoWindow; }, timeoutMs);
  return found;
}

WindowHandle FindTopLevelAnywhere(const std::string& caption) {
  for (const WindowHandle window : TopLevelOf(0)) {
    if (TextOf(H(window)) == caption) return window;
  }
  return kNoWindow;
}

// --- One window --------------------------------------------------------------

bool Exists(WindowHandle window) {
  return window != kNoWindow && IsWindow(H(window));
}

bool IsVisible(WindowHandle window) {
  return window != kNoWindow && IsWindowVisible(H(window));
}

bool IsEnabled(WindowHandle window) {
  return window != kNoWindow && IsWindowEnabled(H(window));
}

std::string Text(WindowHandle window) {
  return TextOf(H(window));
}

std::string ClassName(WindowHandle window) {
  return ClassOf(H(window));
}

uint32_t Style(WindowHandle window) {
  return window == kNoWindow ? 0 : static_cast<uint32_t>(GetWindowLongA(H(window), GWL_STYLE));
}

WindowHandle Owner(WindowHandle window) {
  return window == kNoWindow ? kNoWindow : W(GetWindow(H(window), GW_OWNER));
}

std::vector<WindowHandle> Children(WindowHandle window) {
  std::vector<WindowHandle> children;
  if (window == kNoWindow) return children;
  for (HWND child = GetWindow(H(window), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    children.push_back(W(child));
  }
  return children;
}

WindowHandle Control(WindowHandle dialog, int id) {
  return W(Item(dialog, id));
}

int ControlId(WindowHandle control) {
  return control == kNoWindow ? 0 : GetDlgCtrlID(H(control));
}

bool IsBackendDialog(WindowHandle window) {
  return window != kNoWindow && GetPropA(H(window), Win32Backend::kDialogProperty) != nullptr;
}

Rect WindowRect(WindowHandle window) {
  RECT r{};
  if (window != kNoWindow) GetWindowRect(H(window), &r);
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

// --- Controls ------------------------------------------------------------------

bool ControlEnabled(WindowHandle dialog, int id) {
  HWND control = Item(dialog, id);
  return control && IsWindowEnabled(control);
}

std::string ControlText(WindowHandle dialog, int id) {
  return TextOf(Item(dialog, id));
}

int ButtonCheck(WindowHandle dialog, int id) {
  HWND control = Item(dialog, id);
  return control ? static_cast<int>(SendMessageA(control, BM_GETCHECK, 0, 0)) : -1;
}

std::vector<std::string> ListEntries(WindowHandle dialog, int id) {
  return ComboEntries(Item(dialog, id));
}

int ListSelection(WindowHandle dialog, int id) {
  HWND control = Item(dialog, id);
  return control ? static_cast<int>(SendMessageA(control, CB_GETCURSEL, 0, 0)) : kListNone;
}

ProgressState Progress(WindowHandle dialog, int id) {
  HWND control = Item(dialog, id);
  if (!control) return {};
  return {static_cast<int32_t>(SendMessageA(control, PBM_GETRANGE, TRUE, 0)),
          static_cast<int32_t>(SendMessageA(control, PBM_GETRANGE, FALSE, 0)),
          static_cast<int32_t>(SendMessageA(control, PBM_GETPOS, 0, 0))};
}

// --- The user -------------------------------------------------------------

void Click(WindowHandle dialog, int id) {
  if (HWND control = Item(dialog, id)) SendMessageA(control, BM_CLICK, 0, 0);
}

bool PostClick(WindowHandle dialog, int id) {
  HWND control = Item(dialog, id);
  return control && PostMessageA(control, BM_CLICK, 0, 0);
}

bool PickListEntry(WindowHandle dialog, int id, const std::string& text) {
  HWND combo = Item(dialog, id);
  const std::vector<std::string> entries = ComboEntries(combo);
  const auto it = std::find(entries.begin(), entries.end(), text);
  if (it == entries.end()) return false;
  SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(it - entries.begin()), 0);
  SendMessageA(H(dialog), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(combo));
  return true;
}

bool PostListPick(WindowHandle dialog, int id, int index) {
  HWND combo = Item(dialog, id);
  if (!combo || index < 0 || index >= SendMessageA(combo, CB_GETCOUNT, 0, 0)) return false;
  return PostMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0) &&
         PostMessageA(H(dialog), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                      reinterpret_cast<LPARAM>(combo));
}

bool PostKey(WindowHandle window, int virtualKey) {
  if (window == kNoWindow) return false;
  const UINT scan = MapVirtualKeyA(static_cast<UINT>(virtualKey), MAPVK_VK_TO_VSC);
  const LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16);
  const LPARAM up = down | (1LL << 30) | (1LL << 31);
  return PostMessageA(H(window), WM_KEYDOWN, static_cast<WPARAM>(virtualKey), down) &&
         PostMessageA(H(window), WM_KEYUP, static_cast<WPARAM>(virtualKey), up);
}

intptr_t Send(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return SendMessageA(H(window), message, wParam, lParam);
}

bool Post(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return PostMessageA(H(window), message, wParam, lParam) != FALSE;
}

// --- Focus and caret ---------------------------------------------------------

WindowHandle FocusOf(uint32_t threadId) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(threadId, &info) ? W(info.hwndFocus) : kNoWindow;
}

WindowHandle CaretOwnerOf(uint32_t threadId) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(threadId, &info) ? W(info.hwndCaret) : kNoWindow;
}

// --- Icons, the system menu, tooltips ------------------------------------------

bool HasIcon(WindowHandle window, IconSize size) {
  return SendMessageA(H(window), WM_GETICON, size == IconSize::kBig ? ICON_BIG : ICON_SMALL, 0) !=
         0;
}

uintptr_t ResourceIcon(int iconId) {
  return reinterpret_cast<uintptr_t>(
      LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(iconId)));
}

uintptr_t DragIcon(WindowHandle window) {
  return static_cast<uintptr_t>(SendMessageA(H(window), WM_QUERYDRAGICON, 0, 0));
}

std::vector<std::pair<uint32_t, std::string>> SystemMenu(WindowHandle window) {
  std::vector<std::pair<uint32_t, std::string>> entries;
  HMENU menu = GetSystemMenu(H(window), FALSE);
  if (!menu) return entries;
  const int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    char text[256] = {};
    MENUITEMINFOA item{};
    item.cbSize = sizeof item;
    item.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
    item.dwTypeData = text;
    item.cch = sizeof text - 1;
    if (!GetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &item)) continue;
    if (item.fType & MFT_SEPARATOR) {
      entries.emplace_back(0, std::string());
    } else {
      entries.emplace_back(item.wID, std::string(text));
    }
  }
  return entries;
}

WindowHandle ToolTipOf(WindowHandle dialog) {
  // Tooltips are hidden most of the time: look at every top-level window.
  struct Search {
    HWND dialog;
    HWND found;
  } search{H(dialog), nullptr};
  EnumWindows(
      [](HWND hwnd, LPARAM lParam) -> BOOL {
        auto* s = reinterpret_cast<Search*>(lParam);
        if (GetWindow(hwnd, GW_OWNER) == s->dialog &&
            lstrcmpiA(ClassOf(hwnd).c_str(), TOOLTIPS_CLASSA) == 0) {
          s->found = hwnd;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return W(search.found);
}

int ToolCount(WindowHandle toolTip) {
  return toolTip == kNoWindow ? 0
                              : static_cast<int>(SendMessageA(H(toolTip), TTM_GETTOOLCOUNT, 0, 0));
}

bool HasTool(WindowHandle toolTip, WindowHandle dialog, int id) {
  HWND control = Item(dialog, id);
  if (toolTip == kNoWindow || !control) return false;
  char text[256] = {};
  TOOLINFOA tool{};
  tool.cbSize = TTTOOLINFOA_V2_SIZE;
  tool.hwnd = H(dialog);
  tool.uId = reinterpret_cast<UINT_PTR>(control);
  tool.lpszText = text;  // a callback tool gives LPSTR_TEXTCALLBACK back instead
  return SendMessageA(H(toolTip), TTM_GETTOOLINFOA, 0, reinterpret_cast<LPARAM>(&tool)) != 0 &&
         (tool.uFlags & TTF_IDISHWND) != 0 && tool.lpszText == LPSTR_TEXTCALLBACKA;
}

std::optional<std::string> AskToolTip(WindowHandle dialog, int id, bool wide) {
  HWND control = Item(dialog, id);
  const WindowHandle toolTip = ToolTipOf(dialog);
  if (!control || toolTip == kNoWindow) return std::nullopt;
  if (!wide) {
    NMTTDISPINFOA info{};
    info.hdr.hwndFrom = H(toolTip);
    info.hdr.idFrom = reinterpret_cast<UINT_PTR>(control);
    info.hdr.code = TTN_GETDISPINFOA;
    info.uFlags = TTF_IDISHWND;
    SendMessageA(H(dialog), WM_NOTIFY, info.hdr.idFrom, reinterpret_cast<LPARAM>(&info));
    std::string text = info.lpszText ? std::string(info.lpszText) : std::string(info.szText);
    if (text.empty()) return std::nullopt;
    return text;
  }
  NMTTDISPINFOW info{};
  info.hdr.hwndFrom = H(toolTip);
  info.hdr.idFrom = reinterpret_cast<UINT_PTR>(control);
  info.hdr.code = TTN_GETDISPINFOW;
  info.uFlags = TTF_IDISHWND;
  SendMessageW(H(dialog), WM_NOTIFY, info.hdr.idFrom, reinterpret_cast<LPARAM>(&info));
  const wchar_t* wideText = info.lpszText ? info.lpszText : info.szText;
  const int n = WideCharToMultiByte(CP_ACP, 0, wideText, -1, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(std::max(n, 1)), '\0');
  WideCharToMultiByte(CP_ACP, 0, wideText, -1, text.data(), n, nullptr, nullptr);
  text.resize(text.size() - 1);
  if (text.empty()) return std::nullopt;
  return text;
}

// --- Message boxes and file dialogs --------------------------------------------

CommonDialogWatcher::CommonDialogWatcher(uint32_t processId)
    : processId_(ProcessOrSelf(processId)), thread_([this] { Run(); }) {}

CommonDialogWatcher::~CommonDialogWatcher() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  thread_.join();
}

void CommonDialogWatcher::AnswerFileDialog(std::string path) {
  std::lock_guard lock(mutex_);
  fileAnswers_.push_back(std::move(path));
}

void CommonDialogWatcher::Hold(bool hold) {
  std::lock_guard lock(mutex_);
  hold_ = hold;
}

std::vector<MessageBoxSeen> CommonDialogWatcher::MessageBoxes() {
  std::lock_guard lock(mutex_);
  return boxes_;
}

std::vector<FileDialogSeen> CommonDialogWatcher::FileDialogs() {
  std::lock_guard lock(mutex_);
  return fileDialogs_;
}

bool CommonDialogWatcher::WaitForMessageBoxes(size_t count, int timeoutMs) {
  return WaitUntil(
      [&] {
        std::lock_guard lock(mutex_);
        return boxes_.size() >= count;
      },
      timeoutMs);
}

bool CommonDialogWatcher::WaitForFileDialogs(size_t count, int timeoutMs) {
  return WaitUntil(
      [&] {
        std::lock_guard lock(mutex_);
        return fileDialogs_.size() >= count;
      },
      timeoutMs);
}

void CommonDialogWatcher::Run() {
  for (;;) {
    bool hold = false;
    {
      std::lock_guard lock(mutex_);
      if (stop_) return;
      hold = hold_;
    }
    if (!hold) Look();
    Sleep(15);
  }
}

namespace {

BoxIcon IconOfBox(HWND box) {
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (lstrcmpiA(ClassOf(child).c_str(), "Static") != 0) continue;
    if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) continue;
    const auto icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
    if (!icon) return BoxIcon::kNone;
    if (icon == LoadIconA(nullptr, IDI_HAND)) return BoxIcon::kError;
    if (icon == LoadIconA(nullptr, IDI_ASTERISK)) return BoxIcon::kInformation;
    return BoxIcon::kOther;
  }
  return BoxIcon::kNone;
}

// The text of a message box: its static controls that show text.
std::string TextOfBox(HWND box) {
  std::string text;
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (lstrcmpiA(ClassOf(child).c_str(), "Static") != 0) continue;
    if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) continue;
    const std::string line = TextOf(child);
    if (line.empty()) continue;
    if (!text.empty()) text += "\n";
    text += line;
  }
  return text;
}

MessageBoxSeen SeeMessageBox(HWND box) {
  return {W(GetWindow(box, GW_OWNER)), TextOf(box), TextOfBox(box), IconOfBox(box),
          GetWindowThreadProcessId(box, nullptr)};
}

// A file dialog's file name box: the combo box or, in older layouts, the
// edit box.
HWND FileNameBox(HWND dialog) {
  if (HWND box = GetDlgItem(dialog, cmb13)) return box;
  return GetDlgItem(dialog, edt1);
}

}  // namespace

std::vector<std::pair<WindowHandle, MessageBoxSeen>> OpenMessageBoxes() {
  std::vector<std::pair<WindowHandle, MessageBoxSeen>> boxes;
  for (const WindowHandle window : TopLevelOf(GetCurrentProcessId())) {
    HWND hwnd = H(window);
    if (ClassOf(hwnd) != "#32770" || IsBackendDialog(window) || !GetDlgItem(hwnd, IDOK) ||
        GetDlgItem(hwnd, cmb1)) {
      continue;
    }
    boxes.emplace_back(window, SeeMessageBox(hwnd));
  }
  return boxes;
}

void AnswerMessageBox(WindowHandle box) {
  HWND hwnd = H(box);
  PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(hwnd, IDOK)));
}

void CommonDialogWatcher::Look() {
  std::vector<WindowHandle> shown = TopLevelOf(processId_);
  {
    // Forget the dialogs that are gone: their handles may come back.
    std::lock_guard lock(mutex_);
    std::erase_if(answered_, [&](WindowHandle w) {
      return std::find(shown.begin(), shown.end(), w) == shown.end();
    });
  }
  for (const WindowHandle window : shown) {
    HWND hwnd = H(window);
    if (ClassOf(hwnd) != "#32770" || IsBackendDialog(window)) continue;
    {
      std::lock_guard lock(mutex_);
      if (std::find(answered_.begin(), answered_.end(), window) != answered_.end()) continue;
    }
    HWND fileTypes = GetDlgItem(hwnd, cmb1);
    HWND fileName = FileNameBox(hwnd);
    if (fileTypes && fileName) {
      FileDialogSeen seen{W(GetWindow(hwnd, GW_OWNER)), TextOf(hwnd), ComboEntries(fileTypes), {}};
      {
        std::lock_guard lock(mutex_);
        if (!fileAnswers_.empty()) {
          seen.fileName = fileAnswers_.front();
          fileAnswers_.erase(fileAnswers_.begin());
        }
      }
      if (seen.fileName.empty()) {
        PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      } else {
        SendMessageTimeoutA(fileName, WM_SETTEXT, 0,
                            reinterpret_cast<LPARAM>(seen.fileName.c_str()), SMTO_ABORTIFHUNG, 5000,
                            nullptr);
        PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(hwnd, IDOK)));
      }
      std::lock_guard lock(mutex_);
      answered_.push_back(window);
      fileDialogs_.push_back(std::move(seen));
      continue;
    }
    if (!GetDlgItem(hwnd, IDOK)) continue;
    MessageBoxSeen seen = SeeMessageBox(hwnd);
    AnswerMessageBox(window);
    std::lock_guard lock(mutex_);
    answered_.push_back(window);
    boxes_.push_back(std::move(seen));
  }
}

// --- The calling thread's messages ------------------------------------------

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
      if (root && IsBackendDialog(W(root)) && IsDialogMessageA(root, &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (done()) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min<int64_t>(left, 10)),
                              QS_ALLINPUT);
  }
}

// --- Tasks on a thread ------------------------------------------------------

namespace {

// wParam 0: lParam is a std::function<void()>* to run (sent); 1: a
// heap-made one to run and delete (posted).
constexpr UINT kRunTask = WM_APP + 1;
constexpr const char* kTaskClass = "Quillon.Probe.Tasks";

LRESULT CALLBACK TaskProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != kRunTask) return DefWindowProcA(hwnd, message, wParam, lParam);
  auto* task = reinterpret_cast<std::function<void()>*>(lParam);
  (*task)();
  if (wParam == 1) delete task;
  return 0;
}

}  // namespace

TaskWindow::TaskWindow() {
  static const ATOM registered = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = TaskProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kTaskClass;
    return RegisterClassA(&wc);
  }();
  (void)registered;
  window_ = W(CreateWindowExA(0, kTaskClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleA(nullptr), nullptr));
}

TaskWindow::~TaskWindow() {
  MSG msg;
  while (PeekMessageA(&msg, H(window_), kRunTask, kRunTask, PM_REMOVE)) {
    if (msg.wParam == 1) delete reinterpret_cast<std::function<void()>*>(msg.lParam);
  }
  ::DestroyWindow(H(window_));
}

void TaskWindow::Run(const std::function<void()>& task) {
  SendMessageA(H(window_), kRunTask, 0,
               reinterpret_cast<LPARAM>(const_cast<std::function<void()>*>(&task)));
}

void TaskWindow::Start(std::function<void()> task) {
  auto* queued = new std::function<void()>(std::move(task));
  if (!PostMessageA(H(window_), kRunTask, 1, reinterpret_cast<LPARAM>(queued))) delete queued;
}

// --- Programs -------------------------------------------------------------

std::unique_ptr<Process> Process::Start(const std::string& commandLine,
                                        const std::string& directory) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::string line = commandLine;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      directory.empty() ? nullptr : directory.c_str(), &startup, &info)) {
    return nullptr;
  }
  CloseHandle(info.hThread);
  return std::unique_ptr<Process>(new Process(info.hProcess, info.dwProcessId));
}

Process::~Process() {
  CloseHandle(static_cast<HANDLE>(process_));
}

std::optional<uint32_t> Process::Wait(int timeoutMs) {
  if (WaitForSingleObject(static_cast<HANDLE>(process_), static_cast<DWORD>(timeoutMs)) !=
      WAIT_OBJECT_0) {
    return std::nullopt;
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(static_cast<HANDLE>(process_), &code)) return std::nullopt;
  return code;
}

void Process::Kill() {
  TerminateProcess(static_cast<HANDLE>(process_), 0xDEAD);
  WaitForSingleObject(static_cast<HANDLE>(process_), 5000);
}

}  // namespace quillon::ui::probe
