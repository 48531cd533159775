#include "support/memory_backend.h"

#include <algorithm>
#include <cctype>
#include <type_traits>

#include "platform/clock.h"
#include "res/styles.h"
#include "ui/dialog.h"

namespace quillon::ui {

namespace {

using res::ControlKind;

int64_t Now() {
  return platform::GetClock().NowMs();
}

bool IsList(ControlKind kind) {
  return kind == ControlKind::kDropDownList || kind == ControlKind::kComboBox;
}

bool IsButton(ControlKind kind) {
  return kind == ControlKind::kPushButton || kind == ControlKind::kDefaultPushButton ||
         kind == ControlKind::kRadioButton || kind == ControlKind::kCheckBox;
}

bool BeginsWithNoCase(const std::string& text, const std::string& prefix) {
  if (prefix.size() > text.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(text[i])) !=
        std::toupper(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

bool LessNoCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::toupper(static_cast<unsigned char>(x)) <
           std::toupper(static_cast<unsigned char>(y));
  });
}

}  // namespace

MemoryBackend::MemoryBackend() = default;
MemoryBackend::~MemoryBackend() = default;

void MemoryBackend::Locked(const std::function<void()>& f) {
  platform::GetClock().Update(f);
}

MemoryBackend::Win* MemoryBackend::FindLocked(WindowHandle window) {
  const auto it = windows_.find(window);
  return it == windows_.end() ? nullptr : it->second.get();
}

MemoryBackend::Win* MemoryBackend::LiveLocked(WindowHandle window) {
  Win* win = FindLocked(window);
  return win && !win->state.destroyed ? win : nullptr;
}

ControlState* MemoryBackend::ControlLocked(WindowHandle window, int id) {
  Win* win = LiveLocked(window);
  if (!win) return nullptr;
  for (ControlState& c : win->state.controls) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

std::shared_ptr<MemoryBackend::Queue> MemoryBackend::QueueLocked(std::thread::id thread) {
  std::shared_ptr<Queue>& queue = queues_[thread];
  if (!queue) queue = std::make_shared<Queue>();
  return queue;
}

bool MemoryBackend::Foreign(WindowHandle window) {
  bool foreign = false;
  Locked([&] {
    const Win* win = LiveLocked(window);
    foreign = win && win->state.thread != std::this_thread::get_id();
  });
  return foreign;
}

void MemoryBackend::RunOnOwner(WindowHandle window, const std::function<void()>& f) {
  auto completion = std::make_shared<Completion>();
  bool queued = false;
  const auto from = std::this_thread::get_id();
  Locked([&] {
    Win* win = LiveLocked(window);
    if (!win) return;
    win->queue->sent.push_back(Item{window, 0, 0, 0, f, completion, Delivery::kSent, from});
    queued = true;
  });
  if (queued) platform::GetClock().WaitUntil(platform::kForever, [&] { return completion->done; });
}

// A window operation runs on the window's thread; from another thread it is
// carried out there while the caller waits, like a cross-thread SendMessage.
template <class F>
auto MemoryBackend::OnOwner(WindowHandle window, F&& f) -> decltype(f()) {
  using R = decltype(f());
  if (!Foreign(window)) return f();
  if constexpr (std::is_void_v<R>) {
    RunOnOwner(window, [&] { f(); });
  } else {
    R result{};
    RunOnOwner(window, [&] { result = f(); });
    return result;
  }
}

template <class T, class F>
T MemoryBackend::OnControl(WindowHandle window, int id, T none, F&& f) {
  return OnOwner(window, [&] {
    T out = none;
    Locked([&] {
      if (ControlState* c = ControlLocked(window, id)) out = f(*c);
    });
    return out;
  });
}

void MemoryBackend::AddTemplate(res::DialogTemplate t) {
  Locked([&] { templates_.push_back(std::move(t)); });
}

const res::DialogTemplate* MemoryBackend::FindTemplate(int templateId) {
  const res::DialogTemplate* found = nullptr;
  Locked([&] {
    for (auto it = templates_.rbegin(); it != templates_.rend() && !found; ++it) {
      if (it->id == templateId) found = &*it;
    }
  });
  return found ? found : Backend::FindTemplate(templateId);
}

// --- Windows --------------------------------------------------------------

WindowHandle MemoryBackend::Make(Dialog& dialog, WindowHandle owner, bool modal) {
  const res::DialogTemplate* t = FindTemplate(dialog.TemplateId());
  if (!t) return kNoWindow;
  auto win = std::make_unique<Win>();
  WindowState& s = win->state;
  s.templateId = t->id;
  s.caption = t->caption;
  s.style = t->style;
  s.exStyle = t->exStyle;
  s.owner = owner;
  s.modal = modal;
  s.enabled = (t->style & res::kWsDisabled) == 0;
  s.thread = std::this_thread::get_id();
  for (const res::ControlTemplate& c : t->controls) {
    ControlState control;
    control.kind = res::KindOf(c.className, c.style);
    control.id = c.id;
    control.className = c.className;
    control.style = c.style;
    control.rect = c.rect;
    control.imageId = c.imageId;
    if (control.kind != ControlKind::kDropDownList) control.text = c.text;
    control.enabled = (c.style & res::kWsDisabled) == 0;
    control.visible = (c.style & res::kWsVisible) != 0;
    s.controls.push_back(std::move(control));
  }
  win->dialog = &dialog;
  WindowHandle handle = kNoWindow;
  Locked([&] {
    handle = nextHandle_;
    nextHandle_ += 4;
    win->state.handle = handle;
    win->queue = QueueLocked(win->state.thread);
    windows_[handle] = std::move(win);
    ++generation_;
  });
  dialog.AttachWindow(handle);
  return handle;
}

void MemoryBackend::Initialise(WindowHandle window) {
  const intptr_t focusFirst =
      Deliver(window, kWmInitDialog, 0, 0, Delivery::kSystem, std::this_thread::get_id());
  int first = 0;
  Locked([&] {
    Win* win = LiveLocked(window);
    if (!win) return;
    if (focusFirst) {
      for (const ControlState& c : win->state.controls) {
        if (c.enabled && c.visible && (c.style & res::kWsTabStop)) {
          first = c.id;
          break;
        }
      }
    }
    if (win->state.modal || (win->state.style & res::kWsVisible)) win->state.visible = true;
  });
  if (first != 0) SetFocus(window, first);
  Locked([&] {
    if (Win* win = LiveLocked(window)) {
      win->state.initialised = true;
      ++generation_;
    }
  });
}

void MemoryBackend::SetWindowEnabled(WindowHandle window, bool enable) {
  Locked([&] {
    if (Win* win = LiveLocked(window)) {
      win->state.enabled = enable;
      ++generation_;
    }
  });
}

intptr_t MemoryBackend::RunModal(Dialog& dialog, WindowHandle owner) {
  const WindowHandle window = Make(dialog, owner, true);
  if (window == kNoWindow) return -1;
  if (owner != kNoWindow) SetWindowEnabled(owner, false);
  Initialise(window);
  std::shared_ptr<Queue> queue;
  Locked([&] { queue = FindLocked(window)->queue; });
  Pump(*queue, [this, window] {
    const Win* win = FindLocked(window);
    return !win || win->state.ended || win->state.destroyed;
  });
  intptr_t result = 0;
  Locked([&] { result = FindLocked(window)->state.result; });
  if (owner != kNoWindow) SetWindowEnabled(owner, true);
  DestroyWindow(window);
  return result;
}

WindowHandle MemoryBackend::CreateModeless(Dialog& dialog, WindowHandle owner) {
  const WindowHandle window = Make(dialog, owner, false);
  if (window != kNoWindow) Initialise(window);
  return window;
}

void MemoryBackend::EndDialog(WindowHandle window, intptr_t result) {
  OnOwner(window, [&] {
    Locked([&] {
      if (Win* win = LiveLocked(window)) {
        win->state.ended = true;
        win->state.result = result;
        win->state.visible = false;
        ++generation_;
      }
    });
  });
}

void MemoryBackend::DestroyWindow(WindowHandle window) {
  OnOwner(window, [&] {
    Dialog* dialog = nullptr;
    Locked([&] {
      Win* win = LiveLocked(window);
      if (!win || win->destroying) return;
      win->destroying = true;
      dialog = win->dialog;
    });
    if (!dialog) return;
    Deliver(window, kWmDestroy, 0, 0, Delivery::kSystem, std::this_thread::get_id());
    Locked([&] {
      Win* win = FindLocked(window);
      win->state.destroyed = true;
      win->state.visible = false;
      win->state.focus = 0;
      win->state.caret = CaretState::kNone;
      win->dialog = nullptr;
      // Whatever still waits for the window is answered: it is gone.
      for (std::deque<Item>* items : {&win->queue->sent, &win->queue->posted, &win->queue->input}) {
        for (auto it = items->begin(); it != items->end();) {
          if (it->window != window) {
            ++it;
            continue;
          }
          if (it->completion) it->completion->done = true;
          it = items->erase(it);
        }
      }
      ++generation_;
    });
    bool handled = false;
    dialog->DialogProc(kWmNcDestroy, 0, 0, handled);  // the object may be gone after this
  });
}

void MemoryBackend::ShowWindow(WindowHandle window, bool visible) {
  OnOwner(window, [&] {
    Locked([&] {
      if (Win* win = LiveLocked(window)) {
        win->state.visible = visible;
        ++generation_;
      }
    });
  });
}

void MemoryBackend::UpdateWindow(WindowHandle window) {
  OnOwner(window, [&] {
    Locked([&] {
      if (Win* win = LiveLocked(window)) ++win->state.updates;
    });
  });
}

bool MemoryBackend::IsWindowThread(WindowHandle window) {
  bool mine = false;
  Locked([&] {
    const Win* win = LiveLocked(window);
    mine = win && win->state.thread == std::this_thread::get_id();
  });
  return mine;
}

void MemoryBackend::SetIcon(WindowHandle window, int iconId, IconSize size) {
  OnOwner(window, [&] {
    Locked([&] {
      if (Win* win = LiveLocked(window)) {
        (size == IconSize::kBig ? win->state.bigIcon : win->state.smallIcon) = iconId;
        ++generation_;
      }
    });
  });
}

void MemoryBackend::AppendSystemMenu(WindowHandle window, uint32_t command,
                                     const std::string& text) {
  OnOwner(window, [&] {
    Locked([&] {
      if (Win* win = LiveLocked(window)) {
        win->state.systemMenu.emplace_back(command, text);
        ++generation_;
      }
    });
  });
}

void MemoryBackend::EnableToolTips(WindowHandle window, bool enable) {
  OnOwner(window, [&] {
    Locked([&] {
      if (Win* win = LiveLocked(window)) win->state.toolTips = enable;
    });
  });
}

// --- Controls -------------------------------------------------------------

void MemoryBackend::EnableControl(WindowHandle window, int id, bool enable) {
  OnControl(window, id, false, [&](ControlState& c) { return Changed(c.enabled = enable, true); });
}

bool MemoryBackend::IsControlEnabled(WindowHandle window, int id) {
  return OnControl(window, id, false, [](const ControlState& c) { return c.enabled; });
}

bool MemoryBackend::SetControlText(WindowHandle window, int id, const std::string& text) {
  // The time is the window thread's, read before the lock is taken.
  return OnOwner(window, [&] {
    const int64_t now = Now();
    bool set = false;
    Locked([&] {
      ControlState* c = ControlLocked(window, id);
      if (!c || c->kind == ControlKind::kDropDownList) return;
      c->text = text;
      c->textChanges.push_back({now, text, 0});
      set = true;
      ++generation_;
    });
    return set;
  });
}

std::string MemoryBackend::ControlText(WindowHandle window, int id) {
  return OnControl(window, id, std::string(), [](const ControlState& c) {
    return c.kind == ControlKind::kDropDownList ? c.SelectedText() : c.text;
  });
}

void MemoryBackend::SetCheck(WindowHandle window, int id, int state) {
  OnControl(window, id, false, [&](ControlState& c) { return Changed(c.check = state, true); });
}

int MemoryBackend::Check(WindowHandle window, int id) {
  return OnControl(window, id, int{kUnchecked}, [](const ControlState& c) { return c.check; });
}

void MemoryBackend::ListReset(WindowHandle window, int id) {
  OnControl(window, id, false, [&](ControlState& c) {
    if (!IsList(c.kind)) return false;
    c.items.clear();
    c.selection = kListNone;
    ++generation_;
    return true;
  });
}

int MemoryBackend::ListAdd(WindowHandle window, int id, const std::string& text) {
  return OnControl(window, id, int{kListNone}, [&](ControlState& c) {
    if (!IsList(c.kind)) return int{kListNone};
    auto at = c.items.end();
    if (c.style & res::kCbsSort)
      at = std::upper_bound(c.items.begin(), c.items.end(), text, LessNoCase);
    const int index = static_cast<int>(at - c.items.begin());
    c.items.insert(at, text);
    if (c.selection >= index) ++c.selection;
    ++generation_;
    return index;
  });
}

int MemoryBackend::ListCount(WindowHandle window, int id) {
  return OnControl(window, id, int{kListNone}, [](const ControlState& c) {
    return IsList(c.kind) ? static_cast<int>(c.items.size()) : int{kListNone};
  });
}

std::string MemoryBackend::ListItemText(WindowHandle window, int id, int index) {
  return OnControl(window, id, std::string(), [&](const ControlState& c) {
    return index >= 0 && index < static_cast<int>(c.items.size())
               ? c.items[static_cast<size_t>(index)]
               : std::string();
  });
}

int MemoryBackend::ListSelection(WindowHandle window, int id) {
  return OnControl(window, id, int{kListNone}, [](const ControlState& c) { return c.selection; });
}

int MemoryBackend::ListSetSelection(WindowHandle window, int id, int index) {
  return OnControl(window, id, int{kListNone}, [&](ControlState& c) {
    if (!IsList(c.kind)) return int{kListNone};
    // An index outside the list clears the selection.
    c.selection = index >= 0 && index < static_cast<int>(c.items.size()) ? index : kListNone;
    ++generation_;
    return c.selection;
  });
}

int MemoryBackend::ListSelectText(WindowHandle window, int id, const std::string& text) {
  return OnControl(window, id, int{kListNone}, [&](ControlState& c) {
    for (size_t i = 0; IsList(c.kind) && i < c.items.size(); ++i) {
      if (BeginsWithNoCase(c.items[i], text)) {
        c.selection = static_cast<int>(i);
        ++generation_;
        return c.selection;
      }
    }
    return int{kListNone};
  });
}

void MemoryBackend::SetFocus(WindowHandle window, int id) {
  OnOwner(window, [&] {
    bool moved = false;
    ControlKind kind = ControlKind::kOther;
    Locked([&] {
      Win* win = LiveLocked(window);
      const ControlState* c = ControlLocked(window, id);
      if (!win || !c || win->state.focus == id) return;
      win->state.focus = id;
      kind = c->kind;
      // An edit box makes its caret when it gets the focus and destroys it
      // when it loses it.
      win->state.caret = kind == ControlKind::kEdit ? CaretState::kShown : CaretState::kNone;
      moved = true;
      ++generation_;
    });
    if (!moved) return;
    const auto self = std::this_thread::get_id();
    if (kind == ControlKind::kEdit) {
      Deliver(window, kWmCommand, CommandParam(id, kEnSetFocus), 0, Delivery::kSystem, self);
    } else if (IsList(kind)) {
      Deliver(window, kWmCommand, CommandParam(id, kCbnSetFocus), 0, Delivery::kSystem, self);
    }
  });
}

void MemoryBackend::HideCaret(WindowHandle window) {
  OnOwner(window, [&] {
    Locked([&] {
      Win* win = LiveLocked(window);
      if (win && win->state.caret == CaretState::kShown) {
        win->state.caret = CaretState::kHidden;
        ++generation_;
      }
    });
  });
}

void MemoryBackend::DestroyCaret(WindowHandle window) {
  OnOwner(window, [&] {
    Locked([&] {
      if (Win* win = LiveLocked(window)) {
        win->state.caret = CaretState::kNone;
        ++generation_;
      }
    });
  });
}

void MemoryBackend::SetProgressRange(WindowHandle window, int id, int32_t low, int32_t high) {
  OnOwner(window, [&] {
    Locked([&] {
      ControlState* c = ControlLocked(window, id);
      if (!c || c->kind != ControlKind::kProgressBar) return;
      c->low = low;
      c->high = high;
      c->pos = std::clamp(c->pos, low, std::max(low, high));
      ++generation_;
    });
  });
}

void MemoryBackend::SetProgressPos(WindowHandle window, int id, int32_t pos) {
  OnOwner(window, [&] {
    const int64_t now = Now();
    Locked([&] {
      ControlState* c = ControlLocked(window, id);
      if (!c || c->kind != ControlKind::kProgressBar) return;
      // The bar shows a position within its range, as the common control does.
      c->pos = std::clamp(pos, c->low, std::max(c->low, c->high));
      c->posChanges.push_back({now, {}, c->pos});
      ++generation_;
    });
  });
}

// --- Common dialogs -------------------------------------------------------

int MemoryBackend::ShowMessageBox(WindowHandle owner, const std::string& text,
                                  const std::string& caption, uint32_t flags) {
  const int64_t now = Now();
  Locked([&] {
    const Win* win = FindLocked(owner);
    boxes_.push_back(MessageBoxRecord{now, owner, win ? win->state.templateId : 0, text, caption,
                                      flags, std::this_thread::get_id()});
    ++generation_;
  });
  return kIdOkAnswer;
}

std::optional<std::string> MemoryBackend::OpenFileDialog(WindowHandle owner,
                                                         const FileDialogRequest& request) {
  std::optional<std::string> answer;
  Locked([&] {
    FileDialogRecord record{owner, request, !fileAnswers_.empty(), std::nullopt};
    if (!fileAnswers_.empty()) {
      answer = fileAnswers_.front();
      fileAnswers_.pop_front();
    }
    record.answer = answer;
    fileDialogs_.push_back(std::move(record));
    ++generation_;
  });
  return answer;
}

void MemoryBackend::ScriptFileOpen(std::string path) {
  Locked([&] { fileAnswers_.emplace_back(std::move(path)); });
}

void MemoryBackend::ScriptFileCancel() {
  Locked([&] { fileAnswers_.emplace_back(std::nullopt); });
}

// --- Messages -------------------------------------------------------------

intptr_t MemoryBackend::Send(WindowHandle window, uint32_t message, uintptr_t wParam,
                             intptr_t lParam) {
  const auto from = std::this_thread::get_id();
  std::shared_ptr<Completion> completion;
  bool direct = false;
  Locked([&] {
    Win* win = LiveLocked(window);
    if (!win) return;
    if (win->state.thread == from) {
      direct = true;
      return;
    }
    completion = std::make_shared<Completion>();
    win->queue->sent.push_back(
        Item{window, message, wParam, lParam, {}, completion, Delivery::kSent, from});
  });
  if (direct) return Deliver(window, message, wParam, lParam, Delivery::kDirect, from);
  if (!completion) return 0;
  platform::GetClock().WaitUntil(platform::kForever, [&] { return completion->done; });
  return completion->result;
}

bool MemoryBackend::Post(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  bool queued = false;
  const auto from = std::this_thread::get_id();
  Locked([&] {
    Win* win = LiveLocked(window);
    if (!win) return;
    win->queue->posted.push_back(
        Item{window, message, wParam, lParam, {}, nullptr, Delivery::kPosted, from});
    queued = true;
  });
  return queued;
}

bool MemoryBackend::TakeLocked(Queue& queue, Item& item) {
  // Sent messages first, then posted ones, then input, as Windows orders them.
  for (std::deque<Item>* items : {&queue.sent, &queue.posted, &queue.input}) {
    if (items->empty()) continue;
    item = std::move(items->front());
    items->pop_front();
    if (item.completion) item.completion->started = true;
    return true;
  }
  return false;
}

void MemoryBackend::Pump(Queue& queue, const std::function<bool()>& stop) {
  platform::Clock& clock = platform::GetClock();
  for (;;) {
    Item item;
    bool over = false;
    const std::function<bool()> take = [&] {
      if (stop()) {
        over = true;
      } else if (!TakeLocked(queue, item)) {
        return false;
      }
      queue.idle = false;
      return true;
    };
    bool ready = false;
    clock.Update([&] {
      ready = take();
      if (!ready) queue.idle = true;  // lets a waiting user action see it
    });
    if (!ready) clock.WaitUntil(platform::kForever, take);
    if (over) return;
    Execute(item);
  }
}

void MemoryBackend::Execute(Item& item) {
  intptr_t result = 0;
  if (item.task) {
    item.task();
  } else {
    result = Deliver(item.window, item.message, item.wParam, item.lParam, item.delivery, item.from);
  }
  if (item.completion) {
    Locked([&] {
      if (!item.task) item.completion->result = result;
      item.completion->done = true;
    });
  }
}

intptr_t MemoryBackend::Deliver(WindowHandle window, uint32_t message, uintptr_t wParam,
                                intptr_t lParam, Delivery delivery, std::thread::id from) {
  const int64_t now = Now();
  Dialog* dialog = nullptr;
  MessageRecord record;
  std::function<void(const MessageRecord&)> observer;
  Locked([&] {
    Win* win = LiveLocked(window);
    if (!win || !win->dialog) return;
    dialog = win->dialog;
    record = {now, window, win->state.templateId, message, wParam, lParam, delivery, from};
    messages_.push_back(record);
    observer = observer_;
    ++generation_;
  });
  if (!dialog) return 0;
  if (observer) observer(record);
  bool handled = false;
  const intptr_t result = dialog->DialogProc(message, wParam, lParam, handled);
  return handled ? result : DefaultProcessing(window, message, wParam);
}

intptr_t MemoryBackend::DefaultProcessing(WindowHandle window, uint32_t message, uintptr_t wParam) {
  const auto self = std::this_thread::get_id();
  if (message == kWmSysCommand) {
    switch (wParam & 0xFFF0) {
      case kScClose:
        return Deliver(window, kWmClose, 0, 0, Delivery::kSystem, self);
      case kScMinimize:
      case kScRestore:
        Locked([&] {
          if (Win* win = LiveLocked(window)) {
            win->state.minimised = (wParam & 0xFFF0) == kScMinimize;
            ++generation_;
          }
        });
        return 0;
      default:
        return 0;
    }
  }
  if (message == kWmClose) {
    // A dialog closes as if Cancel were pressed, unless its Cancel button
    // is there and disabled.
    bool blocked = false;
    Locked([&] {
      const ControlState* cancel = ControlLocked(window, kIdCancel);
      blocked = cancel && !cancel->enabled;
    });
    if (!blocked) {
      Deliver(window, kWmCommand, CommandParam(kIdCancel, kBnClicked), 0, Delivery::kSystem, self);
    }
  }
  return 0;
}

// --- The user -------------------------------------------------------------

bool MemoryBackend::Usable(WindowHandle window) {
  const Win* win = LiveLocked(window);
  return win && win->state.initialised && !win->state.ended && win->state.visible &&
         win->state.enabled;
}

bool MemoryBackend::Act(WindowHandle window, std::function<bool()> check,
                        std::function<void()> perform) {
  auto completion = std::make_shared<Completion>();
  std::shared_ptr<Queue> queue;
  const auto from = std::this_thread::get_id();
  Locked([&] {
    Win* win = LiveLocked(window);
    if (!win) return;
    queue = win->queue;
    queue->input.push_back(Item{window, 0, 0, 0,
                                [this, completion, check, perform] {
                                  const bool can = check();
                                  Locked([&] { completion->result = can ? 1 : 0; });
                                  if (can) perform();
                                },
                                completion, Delivery::kInput, from});
  });
  if (!queue) return false;
  bool taken = false;
  platform::GetClock().WaitUntil(Now() + kPatienceMs, [&] {
    if (!completion->done && !(completion->started && queue->idle)) return false;
    taken = completion->result != 0;
    return true;
  });
  return taken;
}

bool MemoryBackend::UserAct(WindowHandle window, const std::function<bool(const Win&)>& also,
                            std::function<void()> perform) {
  return Act(
      window,
      [=, this] {
        bool can = false;
        Locked([&] {
          const Win* win = LiveLocked(window);
          can = Usable(window) && win && (!also || also(*win));
        });
        return can;
      },
      std::move(perform));
}

bool MemoryBackend::UserActOn(WindowHandle window, int id,
                              const std::function<bool(const ControlState&)>& also,
                              std::function<void()> perform) {
  return UserAct(
      window,
      [=, this](const Win&) {
        const ControlState* c = ControlLocked(window, id);
        return c && c->enabled && also(*c);
      },
      std::move(perform));
}

void MemoryBackend::Input(WindowHandle window, uint32_t message, uintptr_t wParam) {
  Deliver(window, message, wParam, 0, Delivery::kInput, std::this_thread::get_id());
}

bool MemoryBackend::Click(WindowHandle window, int id) {
  return UserActOn(
      window, id, [](const ControlState& c) { return c.visible && IsButton(c.kind); },
      [=, this] {
        Locked([&] {
          Win* win = LiveLocked(window);
          if (!win) return;
          auto& controls = win->state.controls;
          for (size_t i = 0; i < controls.size(); ++i) {
            ControlState& c = controls[i];
            if (c.id != id) continue;
            const uint32_t type = c.style & res::kBsTypeMask;
            if (type == res::kBsAutoCheckBox) c.check = c.check == kChecked ? kUnchecked : kChecked;
            if (type == res::kBsAutoRadioButton) {
              // Checks it and clears the other radio buttons of its group
              // (from a WS_GROUP control to the next).
              size_t first = i;
              while (first > 0 && !(controls[first].style & res::kWsGroup)) --first;
              size_t end = i + 1;
              while (end < controls.size() && !(controls[end].style & res::kWsGroup)) ++end;
              for (size_t j = first; j < end; ++j) {
                if (controls[j].kind == ControlKind::kRadioButton &&
                    (controls[j].style & res::kBsTypeMask) == res::kBsAutoRadioButton) {
                  controls[j].check = kUnchecked;
                }
              }
              c.check = kChecked;
            }
            ++generation_;
            break;
          }
        });
        Input(window, kWmCommand, CommandParam(id, kBnClicked));
      });
}

bool MemoryBackend::SelectListItem(WindowHandle window, int id, int index) {
  return UserActOn(
      window, id,
      [=](const ControlState& c) {
        return IsList(c.kind) && index >= 0 && index < static_cast<int>(c.items.size());
      },
      [=, this] {
        Locked([&] {
          if (ControlState* c = ControlLocked(window, id)) {
            c->selection = index;
            ++generation_;
          }
        });
        Input(window, kWmCommand, CommandParam(id, kCbnSelChange));
      });
}

bool MemoryBackend::SelectListItem(WindowHandle window, int id, const std::string& text) {
  int index = kListNone;
  if (const auto c = Control(window, id)) {
    const auto it = std::find(c->items.begin(), c->items.end(), text);
    if (it != c->items.end()) index = static_cast<int>(it - c->items.begin());
  }
  return index != kListNone && SelectListItem(window, id, index);
}

bool MemoryBackend::Focus(WindowHandle window, int id) {
  return UserActOn(
      window, id, [](const ControlState& c) { return c.visible; },
      [=, this] { SetFocus(window, id); });
}

bool MemoryBackend::PressEnter(WindowHandle window) {
  return UserAct(window, {}, [=, this] {
    int id = kIdOk;
    bool enabled = true;
    Locked([&] {
      if (const Win* win = LiveLocked(window)) {
        for (const ControlState& c : win->state.controls) {
          if (c.kind == ControlKind::kDefaultPushButton) {
            id = c.id;
            enabled = c.enabled;
            break;
          }
        }
      }
    });
    if (enabled) Input(window, kWmCommand, CommandParam(id, kBnClicked));
  });
}

bool MemoryBackend::PressEscape(WindowHandle window) {
  return UserAct(window, {},
                 [=, this] { Input(window, kWmCommand, CommandParam(kIdCancel, kBnClicked)); });
}

bool MemoryBackend::CloseBox(WindowHandle window) {
  return UserAct(
      window, [](const Win& win) { return (win.state.style & res::kWsSysMenu) != 0; },
      [=, this] { Input(window, kWmSysCommand, kScClose); });
}

bool MemoryBackend::AltF4(WindowHandle window) {
  return SystemCommand(window, kScClose);
}

bool MemoryBackend::SystemCommand(WindowHandle window, uint32_t command) {
  return UserAct(window, {}, [=, this] { Input(window, kWmSysCommand, command); });
}

std::optional<std::string> MemoryBackend::ToolTip(WindowHandle window, int id) {
  auto tip = std::make_shared<std::optional<std::string>>();
  RunOnWindowThread(window, [=, this] {
    Dialog* dialog = nullptr;
    Locked([&] {
      const Win* win = LiveLocked(window);
      if (win && win->state.toolTips && ControlLocked(window, id)) dialog = win->dialog;
    });
    if (dialog) *tip = dialog->ToolTipText(id);
  });
  return *tip;
}

bool MemoryBackend::RunOnWindowThread(WindowHandle window, const std::function<void()>& task) {
  return Act(
      window, [] { return true; }, task);
}

void MemoryBackend::RunMessageLoop(const std::function<bool()>& stop) {
  std::shared_ptr<Queue> queue;
  Locked([&] { queue = QueueLocked(std::this_thread::get_id()); });
  Pump(*queue, stop);
}

void MemoryBackend::RunOnThread(std::thread::id thread, const std::function<void()>& task) {
  const auto from = std::this_thread::get_id();
  if (thread == from) {
    task();
    return;
  }
  auto completion = std::make_shared<Completion>();
  Locked([&] {
    QueueLocked(thread)->sent.push_back(
        Item{kNoWindow, 0, 0, 0, task, completion, Delivery::kSent, from});
  });
  platform::GetClock().WaitUntil(platform::kForever, [&] { return completion->done; });
}

void MemoryBackend::StartOnThread(std::thread::id thread, std::function<void()> task) {
  const auto from = std::this_thread::get_id();
  Locked([&] {
    QueueLocked(thread)->posted.push_back(
        Item{kNoWindow, 0, 0, 0, std::move(task), nullptr, Delivery::kPosted, from});
  });
}

Dialog* MemoryBackend::DialogOf(WindowHandle window) {
  Dialog* dialog = nullptr;
  Locked([&] {
    if (const Win* win = LiveLocked(window)) dialog = win->dialog;
  });
  return dialog;
}

void MemoryBackend::ForceClose(WindowHandle window) {
  RunOnWindowThread(window, [=, this] {
    bool modal = false;
    Locked([&] {
      if (const Win* win = LiveLocked(window)) modal = win->state.modal;
    });
    if (modal) {
      EndDialog(window, -1);
    } else {
      DestroyWindow(window);
    }
  });
}

// --- Reading and waiting --------------------------------------------------

WindowHandle MemoryBackend::FindDialog(int templateId) {
  WindowHandle found = kNoWindow;
  Locked([&] {
    for (const auto& [handle, win] : windows_) {
      if (win->state.templateId == templateId && win->state.initialised && !win->state.destroyed) {
        found = handle;
      }
    }
  });
  return found;
}

std::optional<WindowState> MemoryBackend::Window(WindowHandle window) {
  std::optional<WindowState> state;
  Locked([&] {
    if (const Win* win = FindLocked(window)) state = win->state;
  });
  return state;
}

std::optional<ControlState> MemoryBackend::Control(WindowHandle window, int id) {
  std::optional<ControlState> state;
  Locked([&] {
    const Win* win = FindLocked(window);
    if (!win) return;
    for (const ControlState& c : win->state.controls) {
      if (c.id == id) {
        state = c;
        return;
      }
    }
  });
  return state;
}

std::vector<MessageRecord> MemoryBackend::Messages() {
  std::vector<MessageRecord> out;
  Locked([&] { out = messages_; });
  return out;
}

std::vector<MessageBoxRecord> MemoryBackend::MessageBoxes() {
  std::vector<MessageBoxRecord> out;
  Locked([&] { out = boxes_; });
  return out;
}

std::vector<FileDialogRecord> MemoryBackend::FileDialogs() {
  std::vector<FileDialogRecord> out;
  Locked([&] { out = fileDialogs_; });
  return out;
}

bool MemoryBackend::WaitFor(const std::function<bool()>& condition, int64_t timeoutMs) {
  const int64_t deadline = Now() + timeoutMs;
  for (;;) {
    uint64_t seen = 0;
    Locked([&] { seen = generation_; });
    if (condition()) return true;
    if (!platform::GetClock().WaitUntil(deadline, [&] { return generation_ != seen; })) {
      return condition();
    }
  }
}

WindowHandle MemoryBackend::WaitForDialog(int templateId, int64_t timeoutMs) {
  WindowHandle found = kNoWindow;
  WaitFor([&] { return (found = FindDialog(templateId)) != kNoWindow; }, timeoutMs);
  return found;
}

void MemoryBackend::Touch(const std::function<void()>& change) {
  Locked([&] {
    change();
    ++generation_;
  });
}

void MemoryBackend::Peek(const std::function<void()>& read) {
  Locked(read);
}

void MemoryBackend::SetMessageObserver(std::function<void(const MessageRecord&)> observer) {
  Locked([&] { observer_ = std::move(observer); });
}

}  // namespace quillon::ui
