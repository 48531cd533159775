#include "ui/dialog.h"

#include "platform/program.h"
#include "res/resource.h"
#include "res/templates.h"
#include "ui/backend.h"

namespace quillon::ui {

namespace {
std::atomic<platform::MessageWindow*> mainWindow{nullptr};
}  // namespace

platform::MessageWindow* MainWindow() {
  return mainWindow.load(std::memory_order_acquire);
}

void SetMainWindow(platform::MessageWindow* window) {
  mainWindow.store(window, std::memory_order_release);
}

std::string AppTitle() {
  const std::string title = platform::ProgramTitle();
  return title.empty() ? "Quillon" : title;
}

Dialog::Dialog(int templateId) : templateId_(templateId) {}

Dialog::~Dialog() {
  if (const WindowHandle window = Handle(); window != kNoWindow) {
    GetBackend().DestroyWindow(window);
  }
}

intptr_t Dialog::DoModal(WindowHandle owner) {
  return GetBackend().RunModal(*this, owner);
}

bool Dialog::Create(WindowHandle owner) {
  return GetBackend().CreateModeless(*this, owner) != kNoWindow;
}

void Dialog::Show(bool visible) {
  GetBackend().ShowWindow(Handle(), visible);
}

void Dialog::Update() {
  GetBackend().UpdateWindow(Handle());
}

void Dialog::DestroyWindow() {
  if (const WindowHandle window = Handle(); window != kNoWindow) {
    GetBackend().DestroyWindow(window);
  }
}

void Dialog::EndDialog(intptr_t result) {
  GetBackend().EndDialog(Handle(), result);
}

bool Dialog::IsWindowThread() {
  return GetBackend().IsWindowThread(Handle());
}

void Dialog::EnableControl(int id, bool enable) {
  GetBackend().EnableControl(Handle(), id, enable);
}

bool Dialog::IsControlEnabled(int id) {
  return GetBackend().IsControlEnabled(Handle(), id);
}

bool Dialog::SetControlText(int id, const std::string& text) {
  return GetBackend().SetControlText(Handle(), id, text);
}

std::string Dialog::ControlText(int id) {
  return GetBackend().ControlText(Handle(), id);
}

void Dialog::SetCheck(int id, int state) {
  GetBackend().SetCheck(Handle(), id, state);
}

int Dialog::Check(int id) {
  return GetBackend().Check(Handle(), id);
}

void Dialog::ListReset(int id) {
  GetBackend().ListReset(Handle(), id);
}

int Dialog::ListAdd(int id, const std::string& text) {
  return GetBackend().ListAdd(Handle(), id, text);
}

int Dialog::ListCount(int id) {
  return GetBackend().ListCount(Handle(), id);
}

std::string Dialog::ListItemText(int id, int index) {
  return GetBackend().ListItemText(Handle(), id, index);
}

int Dialog::ListSelection(int id) {
  return GetBackend().ListSelection(Handle(), id);
}

int Dialog::ListSetSelection(int id, int index) {
  return GetBackend().ListSetSelection(Handle(), id, index);
}

int Dialog::ListSelectText(int id, const std::string& text) {
  return GetBackend().ListSelectText(Handle(), id, text);
}

void Dialog::SetFocus(int id) {
  GetBackend().SetFocus(Handle(), id);
}

void Dialog::HideCaret() {
  GetBackend().HideCaret(Handle());
}

void Dialog::DestroyCaret() {
  GetBackend().DestroyCaret(Handle());
}

void Dialog::SetProgressRange(int id, int32_t low, int32_t high) {
  GetBackend().SetProgressRange(Handle(), id, low, high);
}

void Dialog::SetProgressPos(int id, int32_t pos) {
  GetBackend().SetProgressPos(Handle(), id, pos);
}

void Dialog::SetIcon(int iconId, IconSize size) {
  iconId_ = iconId;
  GetBackend().SetIcon(Handle(), iconId, size);
}

void Dialog::AppendSystemMenu(uint32_t command, const std::string& text) {
  GetBackend().AppendSystemMenu(Handle(), command, text);
}

void Dialog::AppendSystemMenuSeparator() {
  GetBackend().AppendSystemMenu(Handle(), 0, {});
}

void Dialog::EnableToolTips(bool enable) {
  GetBackend().EnableToolTips(Handle(), enable);
}

int Dialog::ShowMessageBox(const std::string& text, uint32_t flags) {
  return GetBackend().ShowMessageBox(Handle(), text, AppTitle(), flags);
}

std::optional<std::string> Dialog::OpenFileDialog(const std::string& filter, uint32_t flags,
                                                  const std::string& initialName,
                                                  const std::string& defaultExtension) {
  return GetBackend().OpenFileDialog(
      Handle(), FileDialogRequest{filter, flags, initialName, defaultExtension});
}

intptr_t Dialog::Send(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  const WindowHandle window = Handle();
  return window == kNoWindow ? 0 : GetBackend().Send(window, message, wParam, lParam);
}

bool Dialog::Post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  const WindowHandle window = Handle();
  return window != kNoWindow && GetBackend().Post(window, message, wParam, lParam);
}

intptr_t Dialog::DialogProc(uint32_t message, uintptr_t wParam, intptr_t lParam, bool& handled) {
  handled = true;
  switch (message) {
    case kWmInitDialog:
      return OnInitDialog() ? 1 : 0;
    case kWmCommand:
      OnCommand(CommandId(wParam), CommandCode(wParam));
      return 0;
    case kWmSysCommand:
      handled = OnSysCommand(static_cast<uint32_t>(wParam), lParam);
      return 0;
    case kWmDestroy:
      OnDestroy();
      return 0;
    case kWmNcDestroy:
      AttachWindow(kNoWindow);
      OnFinalDestroy();  // may delete this
      return 0;
    default:
      if (message >= kWmUser) return OnUserMessage(message, wParam, lParam);
      handled = false;
      return 0;
  }
}

std::optional<std::string> Dialog::ToolTipText(int controlId) {
  return res::LoadText(controlId);
}

bool Dialog::OnInitDialog() {
  if (const res::DialogTemplate* t = GetBackend().FindTemplate(templateId_)) {
    for (const res::ListItemTemplate& item : t->listItems) ListAdd(item.controlId, item.text);
  }
  return true;
}

void Dialog::OnCommand(int id, int code) {
  if (code != kBnClicked) return;
  if (id == kIdOk) OnOK();
  if (id == kIdCancel) OnCancel();
}

void Dialog::OnOK() {
  EndDialog(kIdOk);
}

void Dialog::OnCancel() {
  EndDialog(kIdCancel);
}

intptr_t Dialog::OnUserMessage(uint32_t, uintptr_t, intptr_t) {
  return 0;
}

bool Dialog::OnSysCommand(uint32_t, intptr_t) {
  return false;
}

void Dialog::OnDestroy() {}

void Dialog::OnFinalDestroy() {}

}  // namespace quillon::ui
