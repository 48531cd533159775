#include "ui/win32/win32_backend.h"

#include <windows.h>
// The common controls and dialogs need the full <windows.h> set of types.
#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <type_traits>
#include <vector>

#include "ui/dialog.h"

namespace quillon::ui {

namespace {

HWND H(WindowHandle window) {
  return reinterpret_cast<HWND>(window);
}

WindowHandle W(HWND hwnd) {
  return reinterpret_cast<WindowHandle>(hwnd);
}

HINSTANCE Inst(void* instance) {
  return static_cast<HINSTANCE>(instance);
}

// What a window of this backend keeps, under DWLP_USER, from WM_INITDIALOG
// to WM_NCDESTROY. Touched on the window's thread only.
struct WindowData {
  Win32Backend* backend = nullptr;
  Dialog* dialog = nullptr;
  bool modal = false;
  HWND toolTip = nullptr;
  // The text the tooltip shows now: it reads it after TTN_GETDISPINFO.
  std::string tipText;
  std::wstring tipTextWide;
};

// What DialogBoxParamA and CreateDialogParamA hand to WM_INITDIALOG.
struct Creation {
  Win32Backend* backend;
  Dialog* dialog;
  bool modal;
};

// The modeless dialogs of one thread, and the message filter that gives
// them the dialog keyboard inside the thread's modal loops.
struct ThreadDialogs {
  std::vector<HWND> modeless;
  HHOOK filter = nullptr;
  bool filtering = false;  // IsDialogMessage calls the filter itself
};
thread_local ThreadDialogs threadDialogs;

// Runs a std::function<void()> (lParam) on the window's thread.
UINT CallMessage() {
  static const UINT message = RegisterWindowMessageA("Quillon.Win32Backend.Call");
  return message;
}

LRESULT CALLBACK MessageFilter(int code, WPARAM wParam, LPARAM lParam) {
  ThreadDialogs& t = threadDialogs;
  if (code == MSGF_DIALOGBOX && !t.filtering && lParam != 0) {
    MSG* msg = reinterpret_cast<MSG*>(lParam);
    HWND root = msg->hwnd ? GetAncestor(msg->hwnd, GA_ROOT) : nullptr;
    if (root && std::find(t.modeless.begin(), t.modeless.end(), root) != t.modeless.end()) {
      t.filtering = true;
      const BOOL taken = IsDialogMessageA(root, msg);
      t.filtering = false;
      if (taken) return 1;
    }
  }
  return CallNextHookEx(t.filter, code, wParam, lParam);
}

void AddModeless(HWND hwnd) {
  ThreadDialogs& t = threadDialogs;
  t.modeless.push_back(hwnd);
  if (!t.filter) {
    t.filter = SetWindowsHookExA(WH_MSGFILTER, MessageFilter, nullptr, GetCurrentThreadId());
  }
}

void RemoveModeless(HWND hwnd) {
  ThreadDialogs& t = threadDialogs;
  t.modeless.erase(std::remove(t.modeless.begin(), t.modeless.end(), hwnd), t.modeless.end());
  if (t.modeless.empty() && t.filter) {
    UnhookWindowsHookEx(t.filter);
    t.filter = nullptr;
  }
}

bool IsClass(HWND hwnd, const char* className) {
  char name[64] = {};
  return hwnd && GetClassNameA(hwnd, name, sizeof name) > 0 && lstrcmpiA(name, className) == 0;
}

bool IsComboBox(HWND control) {
  return IsClass(control, "ComboBox");
}

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

// The tooltip asks for a control's text: the dialog's ToolTipText, or no
// text (no tip) when it has none.
void AnswerToolTip(WindowData& data, NMHDR* header) {
  HWND control = reinterpret_cast<HWND>(header->idFrom);
  const std::optional<std::string> tip = data.dialog->ToolTipText(GetDlgCtrlID(control));
  data.tipText = tip.value_or(std::string());
  if (header->code == TTN_GETDISPINFOA) {
    auto* info = reinterpret_cast<NMTTDISPINFOA*>(header);
    info->hinst = nullptr;
    info->szText[0] = '\0';
    info->lpszText = data.tipText.data();
  } else {
    data.tipTextWide = Widen(data.tipText);
    auto* info = reinterpret_cast<NMTTDISPINFOW*>(header);
    info->hinst = nullptr;
    info->szText[0] = L'\0';
    info->lpszText = data.tipTextWide.data();
  }
}

// What the backend does for a message the dialog left unhandled, before the
// dialog manager's default processing. Returns the dialog procedure's value.
INT_PTR BackendDefault(HWND hwnd, WindowData& data, UINT message, LPARAM lParam) {
  switch (message) {
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (data.toolTip && header->hwndFrom == data.toolTip &&
          (header->code == TTN_GETDISPINFOA || header->code == TTN_GETDISPINFOW)) {
        AnswerToolTip(data, header);
        return TRUE;
      }
      return FALSE;
    }
    case WM_QUERYDRAGICON:
      // Returned as it is, not through DWLP_MSGRESULT.
      if (data.dialog->IconId() == 0) return FALSE;
      return reinterpret_cast<INT_PTR>(
          LoadIconA(Inst(data.backend->Instance()), MAKEINTRESOURCEA(data.dialog->IconId())));
    case WM_PAINT: {
      if (!IsIconic(hwnd) || data.dialog->IconId() == 0) return FALSE;
      // A minimised dialog shows its icon.
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(hwnd, &paint);
      SendMessageA(hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
      RECT rect;
      GetClientRect(hwnd, &rect);
      const int cx = GetSystemMetrics(SM_CXICON);
      const int cy = GetSystemMetrics(SM_CYICON);
      DrawIcon(dc, (rect.right - cx + 1) / 2, (rect.bottom - cy + 1) / 2,
               LoadIconA(Inst(data.backend->Instance()), MAKEINTRESOURCEA(data.dialog->IconId())));
      EndPaint(hwnd, &paint);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

// Messages whose dialog-procedure value is the message's result itself.
bool ReturnsDirectly(UINT message) {
  switch (message) {
    case WM_CHARTOITEM:
    case WM_COMPAREITEM:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_INITDIALOG:
    case WM_QUERYDRAGICON:
    case WM_VKEYTOITEM:
      return true;
    default:
      return false;
  }
}

INT_PTR CALLBACK DialogThunk(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == CallMessage()) {
    (*reinterpret_cast<const std::function<void()>*>(lParam))();
    SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, 1);
    return TRUE;
  }

  auto* data = reinterpret_cast<WindowData*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (message == WM_INITDIALOG) {
    const auto* creation = reinterpret_cast<const Creation*>(lParam);
    data = new WindowData;
    data->backend = creation->backend;
    data->dialog = creation->dialog;
    data->modal = creation->modal;
    SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(data));
    SetPropA(hwnd, Win32Backend::kDialogProperty, reinterpret_cast<HANDLE>(1));
    if (!data->modal) AddModeless(hwnd);
    data->dialog->AttachWindow(W(hwnd));
    bool handled = false;
    const intptr_t focusFirst = data->dialog->DialogProc(kWmInitDialog, wParam, 0, handled);
    return handled ? focusFirst : TRUE;
  }
  // Before WM_INITDIALOG (WM_SETFONT, ...) the window has no dialog yet.
  if (!data) return FALSE;
  // The dialog manager's own messages in the user range.
  if (message == DM_GETDEFID || message == DM_SETDEFID || message == DM_REPOSITION) return FALSE;

  if (message == WM_NCDESTROY) {
    Dialog* dialog = data->dialog;
    SetWindowLongPtrA(hwnd, DWLP_USER, 0);
    RemovePropA(hwnd, Win32Backend::kDialogProperty);
    if (!data->modal) RemoveModeless(hwnd);
    delete data;
    bool handled = false;
    dialog->DialogProc(message, wParam, lParam, handled);  // the dialog may be gone after this
    return FALSE;  // the dialog manager frees what it keeps for the window
  }

  bool handled = false;
  const intptr_t result = data->dialog->DialogProc(message, wParam, lParam, handled);
  if (message == WM_DESTROY) {
    if (data->toolTip && IsWindow(data->toolTip)) ::DestroyWindow(data->toolTip);
    data->toolTip = nullptr;
    return FALSE;
  }
  if (!handled) return BackendDefault(hwnd, *data, message, lParam);
  if (ReturnsDirectly(message)) return result;
  SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result);
  return TRUE;
}

// Runs `f` on the window's thread: directly when that is the caller's,
// otherwise through a message sent there (the caller waits). Nothing happens
// for a window that is not there or belongs to another process.
template <class F>
auto OnWindowThread(HWND hwnd, F&& f) -> decltype(f()) {
  using R = decltype(f());
  DWORD process = 0;
  const DWORD thread = hwnd ? GetWindowThreadProcessId(hwnd, &process) : 0;
  if (thread == 0 || process != GetCurrentProcessId()) {
    if constexpr (std::is_void_v<R>) {
      return;
    } else {
      return R{};
    }
  }
  if (thread == GetCurrentThreadId()) return f();
  if constexpr (std::is_void_v<R>) {
    const std::function<void()> call = [&] { f(); };
    SendMessageA(hwnd, CallMessage(), 0, reinterpret_cast<LPARAM>(&call));
  } else {
    R result{};
    const std::function<void()> call = [&] { result = f(); };
    SendMessageA(hwnd, CallMessage(), 0, reinterpret_cast<LPARAM>(&call));
    return result;
  }
}

HWND Item(WindowHandle window, int id) {
  return window == kNoWindow ? nullptr : GetDlgItem(H(window), id);
}

// A combo box's entry `index`, or "".
std::string ComboEntry(HWND combo, int index) {
  const LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length < 0) return {};
  std::string text(static_cast<size_t>(length) + 1, '\0');
  const LRESULT got = SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(index),
                                   reinterpret_cast<LPARAM>(text.data()));
  text.resize(got < 0 ? 0 : std::min(static_cast<size_t>(got), text.size() - 1));
  return text;
}

}  // namespace

std::string Win32FileFilter(const std::string& filter) {
  if (filter.empty()) return {};
  std::string out = filter;
  std::replace(out.begin(), out.end(), '|', '\0');
  while (out.size() < 2 || out[out.size() - 1] != '\0' || out[out.size() - 2] != '\0') {
    out.push_back('\0');
  }
  return out;
}

Win32Backend::Win32Backend(void* instance)
    : instance_(instance ? instance : static_cast<void*>(GetModuleHandleA(nullptr))) {
  // The progress bar and the tooltips.
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
}

Win32Backend::~Win32Backend() = default;

// --- Windows --------------------------------------------------------------

intptr_t Win32Backend::RunModal(Dialog& dialog, WindowHandle owner) {
  Creation creation{this, &dialog, true};
  return DialogBoxParamA(Inst(instance_), MAKEINTRESOURCEA(dialog.TemplateId()), H(owner),
                         DialogThunk, reinterpret_cast<LPARAM>(&creation));
}

WindowHandle Win32Backend::CreateModeless(Dialog& dialog, WindowHandle owner) {
  Creation creation{this, &dialog, false};
  return W(CreateDialogParamA(Inst(instance_), MAKEINTRESOURCEA(dialog.TemplateId()), H(owner),
                              DialogThunk, reinterpret_cast<LPARAM>(&creation)));
}

void Win32Backend::EndDialog(WindowHandle window, intptr_t result) {
  OnWindowThread(H(window), [&] { ::EndDialog(H(window), result); });
}

void Win32Backend::DestroyWindow(WindowHandle window) {
  OnWindowThread(H(window), [&] { ::DestroyWindow(H(window)); });
}

void Win32Backend::ShowWindow(WindowHandle window, bool visible) {
  OnWindowThread(H(window), [&] { ::ShowWindow(H(window), visible ? SW_SHOW : SW_HIDE); });
}

void Win32Backend::UpdateWindow(WindowHandle window) {
  OnWindowThread(H(window), [&] { ::UpdateWindow(H(window)); });
}

bool Win32Backend::IsWindowThread(WindowHandle window) {
  return window != kNoWindow &&
         GetWindowThreadProcessId(H(window), nullptr) == GetCurrentThreadId();
}

void Win32Backend::SetIcon(WindowHandle window, int iconId, IconSize size) {
  OnWindowThread(H(window), [&] {
    const bool big = size == IconSize::kBig;
    // Shared: the system keeps one copy and frees it with the program.
    HANDLE icon = LoadImageA(Inst(instance_), MAKEINTRESOURCEA(iconId), IMAGE_ICON,
                             GetSystemMetrics(big ? SM_CXICON : SM_CXSMICON),
                             GetSystemMetrics(big ? SM_CYICON : SM_CYSMICON), LR_SHARED);
    SendMessageA(H(window), WM_SETICON, big ? ICON_BIG : ICON_SMALL,
                 reinterpret_cast<LPARAM>(icon));
  });
}

void Win32Backend::AppendSystemMenu(WindowHandle window, uint32_t command,
                                    const std::string& text) {
  OnWindowThread(H(window), [&] {
    HMENU menu = GetSystemMenu(H(window), FALSE);
    if (!menu) return;
    if (command == 0) {
      AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    } else {
      AppendMenuA(menu, MF_STRING, command, text.c_str());
    }
  });
}

void Win32Backend::EnableToolTips(WindowHandle window, bool enable) {
  OnWindowThread(H(window), [&] {
    HWND hwnd = H(window);
    auto* data = reinterpret_cast<WindowData*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (!data) return;
    if (!data->toolTip) {
      if (!enable) return;
      data->toolTip =
          CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                          WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                          CW_USEDEFAULT, CW_USEDEFAULT, hwnd, nullptr, Inst(instance_), nullptr);
      if (!data->toolTip) return;
      SendMessageA(data->toolTip, TTM_SETMAXTIPWIDTH, 0, 400);  // long tips wrap
      // One tool per control; the text is asked for when the tip shows.
      for (HWND child = GetWindow(hwnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        TOOLINFOA tool{};
        tool.cbSize = TTTOOLINFOA_V2_SIZE;  // understood by every comctl32
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = hwnd;
        tool.uId = reinterpret_cast<UINT_PTR>(child);
        tool.lpszText = LPSTR_TEXTCALLBACKA;
        SendMessageA(data->toolTip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
      }
    }
    SendMessageA(data->toolTip, TTM_ACTIVATE, enable ? TRUE : FALSE, 0);
  });
}

// --- Controls -------------------------------------------------------------

void Win32Backend::EnableControl(WindowHandle window, int id, bool enable) {
  if (HWND control = Item(window, id)) EnableWindow(control, enable ? TRUE : FALSE);
}

bool Win32Backend::IsControlEnabled(WindowHandle window, int id) {
  HWND control = Item(window, id);
  return control && IsWindowEnabled(control);
}

bool Win32Backend::SetControlText(WindowHandle window, int id, const std::string& text) {
  HWND control = Item(window, id);
  // A drop-down list answers CB_ERR: it has no text of its own.
  return control &&
         SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())) == TRUE;
}

std::string Win32Backend::ControlText(WindowHandle window, int id) {
  HWND control = Item(window, id);
  if (!control) return {};
  const LRESULT length = SendMessageA(control, WM_GETTEXTLENGTH, 0, 0);
  if (length <= 0) return {};
  std::string text(static_cast<size_t>(length) + 1, '\0');
  const LRESULT got = SendMessageA(control, WM_GETTEXT, static_cast<WPARAM>(text.size()),
                                   reinterpret_cast<LPARAM>(text.data()));
  text.resize(got < 0 ? 0 : std::min(static_cast<size_t>(got), text.size() - 1));
  return text;
}

void Win32Backend::SetCheck(WindowHandle window, int id, int state) {
  if (HWND control = Item(window, id)) {
    SendMessageA(control, BM_SETCHECK, static_cast<WPARAM>(state), 0);
  }
}

int Win32Backend::Check(WindowHandle window, int id) {
  HWND control = Item(window, id);
  return control ? static_cast<int>(SendMessageA(control, BM_GETCHECK, 0, 0)) : kUnchecked;
}

void Win32Backend::ListReset(WindowHandle window, int id) {
  HWND control = Item(window, id);
  if (IsComboBox(control)) SendMessageA(control, CB_RESETCONTENT, 0, 0);
}

int Win32Backend::ListAdd(WindowHandle window, int id, const std::string& text) {
  HWND control = Item(window, id);
  if (!IsComboBox(control)) return kListNone;
  const LRESULT index =
      SendMessageA(control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  return index < 0 ? kListNone : static_cast<int>(index);
}

int Win32Backend::ListCount(WindowHandle window, int id) {
  HWND control = Item(window, id);
  if (!IsComboBox(control)) return kListNone;
  const LRESULT count = SendMessageA(control, CB_GETCOUNT, 0, 0);
  return count < 0 ? kListNone : static_cast<int>(count);
}

std::string Win32Backend::ListItemText(WindowHandle window, int id, int index) {
  HWND control = Item(window, id);
  return IsComboBox(control) && index >= 0 ? ComboEntry(control, index) : std::string();
}

int Win32Backend::ListSelection(WindowHandle window, int id) {
  HWND control = Item(window, id);
  if (!IsComboBox(control)) return kListNone;
  const LRESULT selection = SendMessageA(control, CB_GETCURSEL, 0, 0);
  return selection < 0 ? kListNone : static_cast<int>(selection);
}

int Win32Backend::ListSetSelection(WindowHandle window, int id, int index) {
  HWND control = Item(window, id);
  if (!IsComboBox(control)) return kListNone;
  // An index outside the list (kListNone among them) clears the selection,
  // as Windows documents it (Wine leaves it for an index past the end).
  const LRESULT count = SendMessageA(control, CB_GETCOUNT, 0, 0);
  if (index < 0 || index >= count) index = -1;
  const LRESULT selection = SendMessageA(control, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  return selection < 0 ? kListNone : static_cast<int>(selection);
}

int Win32Backend::ListSelectText(WindowHandle window, int id, const std::string& text) {
  HWND control = Item(window, id);
  if (!IsComboBox(control)) return kListNone;
  // -1: the whole list from the top. The first entry that begins with the
  // text, ignoring case; without one the selection stays as it is.
  const LRESULT selection = SendMessageA(control, CB_SELECTSTRING, static_cast<WPARAM>(-1),
                                         reinterpret_cast<LPARAM>(text.c_str()));
  return selection < 0 ? kListNone : static_cast<int>(selection);
}

void Win32Backend::SetFocus(WindowHandle window, int id) {
  // The focus belongs to a thread: set it on the window's.
  OnWindowThread(H(window), [&] {
    if (HWND control = Item(window, id)) ::SetFocus(control);
  });
}

void Win32Backend::HideCaret(WindowHandle window) {
  // The caret belongs to the thread whose window has the focus.
  OnWindowThread(H(window), [] { ::HideCaret(nullptr); });
}

void Win32Backend::DestroyCaret(WindowHandle window) {
  OnWindowThread(H(window), [] { ::DestroyCaret(); });
}

void Win32Backend::SetProgressRange(WindowHandle window, int id, int32_t low, int32_t high) {
  HWND control = Item(window, id);
  if (IsClass(control, PROGRESS_CLASSA)) {
    SendMessageA(control, PBM_SETRANGE32, static_cast<WPARAM>(low), static_cast<LPARAM>(high));
  }
}

void Win32Backend::SetProgressPos(WindowHandle window, int id, int32_t pos) {
  HWND control = Item(window, id);
  if (IsClass(control, PROGRESS_CLASSA)) {
    SendMessageA(control, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
  }
}

// --- Common dialogs -------------------------------------------------------

int Win32Backend::ShowMessageBox(WindowHandle owner, const std::string& text,
                                 const std::string& caption, uint32_t flags) {
  return MessageBoxA(H(owner), text.c_str(), caption.c_str(), flags);
}

std::optional<std::string> Win32Backend::OpenFileDialog(WindowHandle owner,
                                                        const FileDialogRequest& request) {
  const std::string filter = Win32FileFilter(request.filter);
  std::vector<char> file(32768, '\0');
  std::memcpy(file.data(), request.initialName.c_str(),
              std::min(request.initialName.size(), file.size() - 1));
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = H(owner);
  ofn.lpstrFilter = filter.empty() ? nullptr : filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.Flags = request.flags;
  ofn.lpstrDefExt = request.defaultExtension.empty() ? nullptr : request.defaultExtension.c_str();
  if (!GetOpenFileNameA(&ofn)) return std::nullopt;  // cancelled (or failed)
  return std::string(file.data());
}

// --- Messages -------------------------------------------------------------

intptr_t Win32Backend::Send(WindowHandle window, uint32_t message, uintptr_t wParam,
                            intptr_t lParam) {
  if (window == kNoWindow) return 0;
  return SendMessageA(H(window), message, wParam, lParam);
}

bool Win32Backend::Post(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return window != kNoWindow && PostMessageA(H(window), message, wParam, lParam) != FALSE;
}

}  // namespace quillon::ui
