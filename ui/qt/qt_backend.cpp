#include "ui/qt/qt_backend.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFont>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHelpEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QToolTip>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <type_traits>
#include <vector>

#include "res/resource.h"
#include "res/styles.h"
#include "res/templates.h"
#include "ui/dialog.h"

namespace quillon::ui {

namespace {

using res::ControlKind;

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

std::string S(const QString& text) {
  return text.toStdString();
}

bool BeginsWithNoCase(const QString& entry, const QString& text) {
  return entry.startsWith(text, Qt::CaseInsensitive);
}

// A control of a window, as the template made it.
struct ControlInfo {
  int id = 0;
  ControlKind kind = ControlKind::kOther;
  uint32_t style = 0;
  int group = 0;  // counts the WS_GROUP controls before and at it
  QPointer<QWidget> widget;
};

class DialogWidget;

// A window of this backend. Touched on the GUI thread only, but for
// `alive`, which any thread reads to refuse messages to a window that is
// gone.
struct Window {
  WindowHandle handle = kNoWindow;
  WindowHandle owner = kNoWindow;
  Dialog* dialog = nullptr;  // null from WM_NCDESTROY on
  QPointer<DialogWidget> widget;
  const res::DialogTemplate* templ = nullptr;
  bool modal = false;
  bool hasSystemMenu = false;
  std::vector<ControlInfo> controls;  // in tab order
  std::vector<std::pair<uint32_t, std::string>> systemMenu;
  bool toolTips = false;
  bool ended = false;
  intptr_t result = 0;
  QEventLoop* loop = nullptr;
  bool destroying = false;
  int handling = 0;  // messages being handled now (nested)
  std::atomic<bool> alive{true};

  ControlInfo* Control(int id) {
    for (ControlInfo& c : controls) {
      if (c.id == id && c.widget) return &c;
    }
    return nullptr;
  }
};

// The end of a call carried out on the GUI thread for another thread.
struct Completion {
  std::mutex mutex;
  std::condition_variable done;
  bool running = false;  // on the GUI thread now: no longer cancelled
  bool finished = false;
  bool cancelled = false;  // its window went before it ran
};

const QEvent::Type kCallEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

struct CallEvent final : QEvent {
  CallEvent(WindowHandle target, std::function<void()> task, std::shared_ptr<Completion> completion)
      : QEvent(kCallEvent),
        target(target),
        task(std::move(task)),
        completion(std::move(completion)) {}
  WindowHandle target;
  std::function<void()> task;
  std::shared_ptr<Completion> completion;  // null for a posted message
};

}  // namespace

struct QtBackend::Impl {
  QtBackend* backend = nullptr;
  std::unique_ptr<QApplication> ownApp;
  QThread* gui = nullptr;
  std::unique_ptr<QObject> invoker;

  std::mutex mutex;  // guards windows (the map) and pending
  std::map<WindowHandle, std::shared_ptr<Window>> windows;
  std::vector<std::pair<WindowHandle, std::weak_ptr<Completion>>> pending;
  WindowHandle nextHandle = 0x1000;

  bool OnGui() const { return QThread::currentThread() == gui; }

  std::shared_ptr<Window> Find(WindowHandle handle) {
    std::lock_guard lock(mutex);
    const auto it = windows.find(handle);
    if (it == windows.end() || !it->second->alive.load()) return nullptr;
    return it->second;
  }

  bool Alive(WindowHandle handle) { return Find(handle) != nullptr; }

  // Runs `task` on the GUI thread and waits for it; false when it did not
  // run because `target` (kNoWindow: none) went first.
  bool Call(WindowHandle target, const std::function<void()>& task) {
    if (OnGui()) {
      task();
      return true;
    }
    auto completion = std::make_shared<Completion>();
    {
      std::lock_guard lock(mutex);
      if (target != kNoWindow) {
        const auto it = windows.find(target);
        if (it == windows.end() || !it->second->alive.load()) return false;
        pending.emplace_back(target, completion);
      }
    }
    // Ahead of posted messages, as a sent message goes before them.
    QCoreApplication::postEvent(invoker.get(), new CallEvent(target, task, completion),
                                Qt::HighEventPriority);
    std::unique_lock lock(completion->mutex);
    completion->done.wait(lock, [&] { return completion->finished; });
    return !completion->cancelled;
  }

  template <class F>
  auto OnWindow(WindowHandle window, F&& f) -> decltype(f()) {
    using R = decltype(f());
    if constexpr (std::is_void_v<R>) {
      Call(window, [&] { f(); });
    } else {
      R result{};
      Call(window, [&] { result = f(); });
      return result;
    }
  }

  // Lets the calls still waiting for `window` go unanswered.
  void CancelPending(WindowHandle window) {
    std::vector<std::shared_ptr<Completion>> cancel;
    {
      std::lock_guard lock(mutex);
      for (auto it = pending.begin(); it != pending.end();) {
        auto completion = it->second.lock();
        if (!completion || it->first == window) {
          if (completion) cancel.push_back(std::move(completion));
          it = pending.erase(it);
        } else {
          ++it;
        }
      }
    }
    for (const auto& completion : cancel) {
      // A call that runs now (it may be the one destroying the window)
      // finishes by itself: its caller's data is in use until then.
      std::lock_guard lock(completion->mutex);
      if (completion->running || completion->finished) continue;
      completion->cancelled = true;
      completion->finished = true;
      completion->done.notify_all();
    }
  }

  void RunCall(CallEvent& call) {
    const bool wanted = call.target == kNoWindow || Alive(call.target);
    if (!call.completion) {
      if (wanted) call.task();
      return;
    }
    Completion& completion = *call.completion;
    {
      std::lock_guard lock(completion.mutex);
      if (completion.finished) return;  // cancelled meanwhile
      completion.running = true;
    }
    if (wanted) call.task();
    std::lock_guard lock(completion.mutex);
    completion.cancelled = !wanted;
    completion.finished = true;
    completion.done.notify_all();
  }

  // A message to the dialog, then the default processing of what it left.
  intptr_t Deliver(WindowHandle handle, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    const std::shared_ptr<Window> win = Find(handle);
    if (!win || !win->dialog) return 0;
    bool handled = false;
    ++win->handling;
    const intptr_t result = win->dialog->DialogProc(message, wParam, lParam, handled);
    --win->handling;
    return handled ? result : DefaultProcessing(handle, message, wParam);
  }

  intptr_t DefaultProcessing(WindowHandle handle, uint32_t message, uintptr_t wParam);

  WindowHandle Make(Dialog& dialog, WindowHandle owner, bool modal);
  void Destroy(WindowHandle handle);
  void Clicked(WindowHandle handle, int id);
};

namespace {

// The dialog window: keys, the close box and the context menu go to the
// dialog the Windows way.
class DialogWidget final : public QDialog {
 public:
  DialogWidget(QtBackend::Impl& impl, WindowHandle handle, QWidget* parent, Qt::WindowFlags flags)
      : QDialog(parent, flags), impl_(impl), handle_(handle) {}

  WindowHandle Handle() const { return handle_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    const std::shared_ptr<Window> win = impl_.Find(handle_);
    if (!win) return;
    switch (event->key()) {
      case Qt::Key_Return:
      case Qt::Key_Enter: {
        if (event->modifiers() & ~Qt::KeypadModifier) break;
        int id = kIdOk;
        // The focused push button is the default one while it has the
        // focus; otherwise the template's (nothing while it is disabled).
        const ControlInfo* target = nullptr;
        for (const ControlInfo& c : win->controls) {
          const bool push =
              c.kind == ControlKind::kPushButton || c.kind == ControlKind::kDefaultPushButton;
          if (push && c.widget && c.widget->hasFocus()) target = &c;
        }
        if (!target) {
          for (const ControlInfo& c : win->controls) {
            if (c.kind == ControlKind::kDefaultPushButton && c.widget) {
              target = &c;
              break;
            }
          }
        }
        if (target) {
          if (!target->widget->isEnabled()) return;
          id = target->id;
        }
        impl_.Deliver(handle_, kWmCommand, CommandParam(id, kBnClicked), 0);
        return;
      }
      case Qt::Key_Escape:
        if (event->modifiers() != Qt::NoModifier) break;
        impl_.Deliver(handle_, kWmCommand, CommandParam(kIdCancel, kBnClicked), 0);
        return;
      default:
        break;
    }
    QWidget::keyPressEvent(event);  // not QDialog's: it would close the window itself
  }

  void closeEvent(QCloseEvent* event) override {
    // The dialog decides whether and how its window goes.
    event->ignore();
    const std::shared_ptr<Window> win = impl_.Find(handle_);
    if (win && win->hasSystemMenu && !win->destroying) {
      impl_.Deliver(handle_, kWmSysCommand, kScClose, 0);
    }
  }

  void contextMenuEvent(QContextMenuEvent* event) override {
    const std::shared_ptr<Window> win = impl_.Find(handle_);
    if (!win || win->systemMenu.empty()) return;
    QMenu menu(this);
    for (const auto& [command, text] : win->systemMenu) {
      if (command == 0) {
        menu.addSeparator();
      } else {
        QAction* action = menu.addAction(Q(text));
        action->setData(static_cast<qulonglong>(command));
      }
    }
    const QAction* chosen = menu.exec(event->globalPos());
    if (chosen && impl_.Alive(handle_)) {
      impl_.Deliver(handle_, kWmSysCommand, static_cast<uintptr_t>(chosen->data().toULongLong()),
                    0);
    }
  }

  // Not QDialog's: Escape and the close box are the dialog's to handle.
  void reject() override {}
  void accept() override {}

 private:
  QtBackend::Impl& impl_;
  const WindowHandle handle_;
};

// Hands the calls of other threads to the GUI thread; notifies focus and
// asks for tooltips.
class Invoker final : public QObject {
 public:
  explicit Invoker(QtBackend::Impl& impl) : impl_(impl) {}

  bool event(QEvent* event) override {
    if (event->type() == kCallEvent) {
      impl_.RunCall(*static_cast<CallEvent*>(event));
      return true;
    }
    return QObject::event(event);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget) return false;
    if (event->type() == QEvent::FocusIn) {
      Notify(widget);
    } else if (event->type() == QEvent::ToolTip) {
      ShowTip(widget, static_cast<QHelpEvent*>(event));
      return true;
    }
    return false;
  }

  // An edit or combo box that got the focus tells its dialog.
  void Notify(QWidget* widget) {
    const WindowHandle handle = impl_.backend->WindowOf(widget);
    const std::shared_ptr<Window> win = impl_.Find(handle);
    if (!win) return;
    for (const ControlInfo& c : win->controls) {
      if (c.widget != widget) continue;
      if (c.kind == ControlKind::kEdit) {
        impl_.Deliver(handle, kWmCommand, CommandParam(c.id, kEnSetFocus), 0);
      } else if (c.kind == ControlKind::kDropDownList || c.kind == ControlKind::kComboBox) {
        impl_.Deliver(handle, kWmCommand, CommandParam(c.id, kCbnSetFocus), 0);
      }
      return;
    }
  }

  void ShowTip(QWidget* widget, const QHelpEvent* help) {
    const WindowHandle handle = impl_.backend->WindowOf(widget);
    const std::shared_ptr<Window> win = impl_.Find(handle);
    std::optional<std::string> tip;
    if (win && win->toolTips && win->dialog) {
      for (const ControlInfo& c : win->controls) {
        if (c.widget == widget) {
          tip = win->dialog->ToolTipText(c.id);
          break;
        }
      }
    }
    if (tip && !tip->empty()) {
      QToolTip::showText(help->globalPos(), Q(*tip), widget);
    } else {
      QToolTip::hideText();
    }
  }

 private:
  QtBackend::Impl& impl_;
};

// The dialog font: a sans font of the template's size.
QFont DialogFont(const res::DialogTemplate& t) {
  QFont font(QStringLiteral("Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(t.fontSize > 0 ? t.fontSize : 8);
  return font;
}

// The dialog base units of a font, as Windows measures them.
std::pair<int, int> BaseUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int width = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return {(width / 26 + 1) / 2, metrics.height()};
}

// The resource script's icon `iconId` with every size its .ico holds, or
// a null icon.
QString IconPath(int iconId) {
  switch (iconId) {
    case IDI_MAIN:
      return QStringLiteral(":/quillon/icons/quillon.ico");
    case IDI_ABOUT:
      return QStringLiteral(":/quillon/icons/passbook.ico");
    default:
      return {};
  }
}

QIcon IconOf(int iconId) {
  const QString path = IconPath(iconId);
  return path.isEmpty() ? QIcon() : QIcon(path);
}

}  // namespace

int DialogUnitsToPixelsX(int x, int baseX) {
  // MulDiv: rounded half away from zero.
  const long long product = static_cast<long long>(x) * baseX;
  return static_cast<int>(product >= 0 ? (product + 2) / 4 : -((-product + 2) / 4));
}

int DialogUnitsToPixelsY(int y, int baseY) {
  const long long product = static_cast<long long>(y) * baseY;
  return static_cast<int>(product >= 0 ? (product + 4) / 8 : -((-product + 4) / 8));
}

std::string QtFileFilter(const std::string& filter) {
  // Pairs of description and patterns, each ended by '|'.
  std::vector<std::string> parts;
  std::string part;
  for (const char c : filter) {
    if (c == '|') {
      parts.push_back(part);
      part.clear();
    } else {
      part.push_back(c);
    }
  }
  if (!part.empty()) parts.push_back(part);
  std::string out;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    std::string description = parts[i];
    // Qt reads the patterns from the parentheses: the description keeps its
    // words, the patterns are the pair's second part.
    if (const size_t open = description.find('('); open != std::string::npos) {
      description.erase(open);
    }
    while (!description.empty() && description.back() == ' ') description.pop_back();
    std::string patterns = parts[i + 1];
    std::replace(patterns.begin(), patterns.end(), ';', ' ');
    if (!out.empty()) out += ";;";
    out += description + " (" + patterns + ")";
  }
  return out;
}

std::string IconBytes(int iconId) {
  const QString path = IconPath(iconId);
  if (path.isEmpty()) return {};
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QByteArray bytes = file.readAll();
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

intptr_t QtBackend::Impl::DefaultProcessing(WindowHandle handle, uint32_t message,
                                            uintptr_t wParam) {
  if (message == kWmSysCommand) {
    const std::shared_ptr<Window> win = Find(handle);
    switch (wParam & 0xFFF0) {
      case kScClose:
        return Deliver(handle, kWmClose, 0, 0);
      case kScMinimize:
        if (win && win->widget) win->widget->showMinimized();
        return 0;
      case kScRestore:
        if (win && win->widget) win->widget->showNormal();
        return 0;
      default:
        return 0;
    }
  }
  if (message == kWmClose) {
    // As if Cancel were pressed, unless the dialog's Cancel button is
    // there and disabled.
    const std::shared_ptr<Window> win = Find(handle);
    const ControlInfo* cancel = win ? win->Control(kIdCancel) : nullptr;
    if (!cancel || cancel->widget->isEnabled()) {
      Deliver(handle, kWmCommand, CommandParam(kIdCancel, kBnClicked), 0);
    }
  }
  return 0;
}

// --- Windows --------------------------------------------------------------

WindowHandle QtBackend::Impl::Make(Dialog& dialog, WindowHandle owner, bool modal) {
  const res::DialogTemplate* t = backend->FindTemplate(dialog.TemplateId());
  if (!t) return kNoWindow;

  auto win = std::make_shared<Window>();
  win->templ = t;
  win->owner = owner;
  win->modal = modal;
  win->dialog = &dialog;
  win->hasSystemMenu = (t->style & res::kWsSysMenu) != 0;
  const std::shared_ptr<Window> ownerWin = Find(owner);
  QWidget* parent = ownerWin ? ownerWin->widget.data() : nullptr;

  Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  if (win->hasSystemMenu) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  if (t->style & res::kWsMinimizeBox) flags |= Qt::WindowMinimizeButtonHint;
  {
    std::lock_guard lock(mutex);
    win->handle = nextHandle++;
    windows[win->handle] = win;
  }
  auto* widget = new DialogWidget(*this, win->handle, parent, flags);
  win->widget = widget;
  widget->setWindowTitle(Q(t->caption));
  widget->setAttribute(Qt::WA_DeleteOnClose, false);
  const QFont font = DialogFont(*t);
  widget->setFont(font);
  const auto [baseX, baseY] = BaseUnits(font);
  auto px = [&](int x) { return DialogUnitsToPixelsX(x, baseX); };
  auto py = [&](int y) { return DialogUnitsToPixelsY(y, baseY); };
  widget->setFixedSize(px(t->rect.cx), py(t->rect.cy));

  int group = 0;
  std::vector<QWidget*> groupBoxes;
  for (const res::ControlTemplate& c : t->controls) {
    ControlInfo info;
    info.id = c.id;
    info.kind = res::KindOf(c.className, c.style);
    info.style = c.style;
    if (c.style & res::kWsGroup) ++group;
    info.group = group;
    QWidget* control = nullptr;
    const QRect rect(px(c.rect.x), py(c.rect.y), px(c.rect.cx), py(c.rect.cy));
    switch (info.kind) {
      case ControlKind::kGroupBox: {
        control = new QGroupBox(Q(c.text), widget);
        groupBoxes.push_back(control);
        break;
      }
      case ControlKind::kRadioButton: {
        auto* radio = new QRadioButton(Q(c.text), widget);
        // Windows groups radio buttons by WS_GROUP and checks them one by
        // one; the backend clears the others itself on a click.
        radio->setAutoExclusive(false);
        control = radio;
        break;
      }
      case ControlKind::kCheckBox:
        control = new QCheckBox(Q(c.text), widget);
        break;
      case ControlKind::kPushButton:
      case ControlKind::kDefaultPushButton: {
        auto* button = new QPushButton(Q(c.text), widget);
        button->setAutoDefault(false);
        button->setDefault(info.kind == ControlKind::kDefaultPushButton);
        control = button;
        break;
      }
      case ControlKind::kLabel: {
        auto* label = new QLabel(Q(c.text), widget);
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setTextFormat(Qt::PlainText);
        control = label;
        break;
      }
      case ControlKind::kIcon: {
        auto* label = new QLabel(widget);
        const QIcon icon = IconOf(c.imageId);
        label->setPixmap(icon.pixmap(32, 32));
        control = label;
        break;
      }
      case ControlKind::kEdit: {
        auto* edit = new QLineEdit(Q(c.text), widget);
        edit->setReadOnly((c.style & res::kEsReadOnly) != 0);
        edit->setFrame((c.style & res::kWsBorder) != 0);
        control = edit;
        break;
      }
      case ControlKind::kDropDownList:
      case ControlKind::kComboBox: {
        auto* combo = new QComboBox(widget);
        combo->setEditable(info.kind == ControlKind::kComboBox);
        control = combo;
        break;
      }
      case ControlKind::kProgressBar: {
        auto* bar = new QProgressBar(widget);
        bar->setTextVisible(false);
        bar->setRange(0, 100);
        bar->setValue(0);
        control = bar;
        break;
      }
      case ControlKind::kOther:
        control = new QWidget(widget);
        break;
    }
    QRect placed = rect;
    if (info.kind == ControlKind::kDropDownList || info.kind == ControlKind::kComboBox) {
      // The template's height is the dropped-down list's; the box itself is
      // as high as its font needs.
      placed.setHeight(std::min(rect.height(), control->sizeHint().height()));
    } else if (info.kind == ControlKind::kIcon) {
      placed.setSize(QSize(32, 32));
    }
    control->setGeometry(placed);
    control->setEnabled((c.style & res::kWsDisabled) == 0);
    switch (info.kind) {
      case ControlKind::kGroupBox:
      case ControlKind::kLabel:
      case ControlKind::kIcon:
      case ControlKind::kProgressBar:
      case ControlKind::kOther:
        control->setFocusPolicy(Qt::NoFocus);
        break;
      default:
        control->setFocusPolicy((c.style & res::kWsTabStop) ? Qt::StrongFocus : Qt::ClickFocus);
        break;
    }
    control->installEventFilter(invoker.get());
    info.widget = control;
    win->controls.push_back(info);

    const WindowHandle handle = win->handle;
    const int id = c.id;
    if (auto* button = qobject_cast<QAbstractButton*>(control)) {
      QObject::connect(button, &QAbstractButton::clicked, invoker.get(),
                       [this, handle, id] { Clicked(handle, id); });
    } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
      QObject::connect(combo, &QComboBox::activated, invoker.get(), [this, handle, id] {
        Deliver(handle, kWmCommand, CommandParam(id, kCbnSelChange), 0);
      });
    }
  }
  // A group box frames the controls it holds: it lies beneath them.
  for (QWidget* box : groupBoxes) box->lower();

  if (modal) widget->setWindowModality(parent ? Qt::WindowModal : Qt::NonModal);
  dialog.AttachWindow(win->handle);
  const intptr_t focusFirst = Deliver(win->handle, kWmInitDialog, 0, 0);
  if (focusFirst && win->alive.load()) {
    for (const ControlInfo& c : win->controls) {
      if ((c.style & res::kWsTabStop) && c.widget && c.widget->isEnabled()) {
        c.widget->setFocus(Qt::OtherFocusReason);
        break;
      }
    }
  }
  return win->handle;
}

void QtBackend::Impl::Clicked(WindowHandle handle, int id) {
  const std::shared_ptr<Window> win = Find(handle);
  if (!win) return;
  if (const ControlInfo* c = win->Control(id);
      c && (c->style & res::kBsTypeMask) == res::kBsAutoRadioButton &&
      c->kind == ControlKind::kRadioButton) {
    // An automatic radio button is checked, and the others of its group
    // cleared.
    for (const ControlInfo& other : win->controls) {
      if (other.group != c->group || other.kind != ControlKind::kRadioButton || !other.widget) {
        continue;
      }
      if ((other.style & res::kBsTypeMask) != res::kBsAutoRadioButton) continue;
      static_cast<QRadioButton*>(other.widget.data())->setChecked(other.widget == c->widget);
    }
  }
  Deliver(handle, kWmCommand, CommandParam(id, kBnClicked), 0);
}

void QtBackend::Impl::Destroy(WindowHandle handle) {
  std::shared_ptr<Window> win = Find(handle);
  if (!win || win->destroying) return;
  win->destroying = true;
  // The windows it owns go first, as on Windows.
  std::vector<WindowHandle> owned;
  {
    std::lock_guard lock(mutex);
    for (const auto& [h, w] : windows) {
      if (w->owner == handle && w->alive.load()) owned.push_back(h);
    }
  }
  for (const WindowHandle h : owned) Destroy(h);

  if (win->widget) win->widget->hide();
  Deliver(handle, kWmDestroy, 0, 0);
  win->alive.store(false);
  CancelPending(handle);
  if (Dialog* dialog = win->dialog) {
    win->dialog = nullptr;
    bool handled = false;
    dialog->DialogProc(kWmNcDestroy, 0, 0, handled);  // the dialog may be gone after this
  }
  if (win->loop) win->loop->quit();
  if (DialogWidget* widget = win->widget) {
    // Still in one of its own handlers: deleted once they are over.
    if (win->handling > 0) {
      widget->deleteLater();
    } else {
      delete widget;
    }
  }
  std::lock_guard lock(mutex);
  windows.erase(handle);
}

QtBackend::QtBackend(int& argc, char** argv) : impl_(new Impl) {
  impl_->backend = this;
  if (!QApplication::instance()) impl_->ownApp = std::make_unique<QApplication>(argc, argv);
  impl_->gui = QApplication::instance()->thread();
  impl_->invoker = std::make_unique<Invoker>(*impl_);
  impl_->invoker->moveToThread(impl_->gui);
}

QtBackend::~QtBackend() {
  std::vector<WindowHandle> left;
  {
    std::lock_guard lock(impl_->mutex);
    for (const auto& [h, w] : impl_->windows) left.push_back(h);
  }
  for (const WindowHandle h : left) impl_->Destroy(h);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::removePostedEvents(impl_->invoker.get());
  impl_->invoker.reset();
  impl_->ownApp.reset();
  delete impl_;
}

intptr_t QtBackend::RunModal(Dialog& dialog, WindowHandle owner) {
  intptr_t result = -1;
  impl_->Call(kNoWindow, [&] {
    const WindowHandle handle = impl_->Make(dialog, owner, true);
    if (handle == kNoWindow) return;
    std::shared_ptr<Window> win = impl_->Find(handle);
    if (win && !win->ended && win->widget) {
      win->widget->show();
      win->widget->raise();
      win->widget->activateWindow();
      QEventLoop loop;
      win->loop = &loop;
      loop.exec(QEventLoop::DialogExec);
      win->loop = nullptr;
    }
    if (!win) {
      std::lock_guard lock(impl_->mutex);
      const auto it = impl_->windows.find(handle);
      if (it != impl_->windows.end()) win = it->second;
    }
    result = win && win->ended ? win->result : -1;
    impl_->Destroy(handle);
  });
  return result;
}

WindowHandle QtBackend::CreateModeless(Dialog& dialog, WindowHandle owner) {
  WindowHandle handle = kNoWindow;
  impl_->Call(kNoWindow, [&] {
    handle = impl_->Make(dialog, owner, false);
    const std::shared_ptr<Window> win = impl_->Find(handle);
    if (win && win->widget && (win->templ->style & res::kWsVisible)) win->widget->show();
  });
  return handle;
}

void QtBackend::EndDialog(WindowHandle window, intptr_t result) {
  impl_->OnWindow(window, [&] {
    const std::shared_ptr<Window> win = impl_->Find(window);
    if (!win) return;
    win->ended = true;
    win->result = result;
    if (win->loop) {
      win->loop->quit();
    } else if (!win->modal && win->widget) {
      win->widget->hide();
    }
  });
}

void QtBackend::DestroyWindow(WindowHandle window) {
  impl_->OnWindow(window, [&] { impl_->Destroy(window); });
}

void QtBackend::ShowWindow(WindowHandle window, bool visible) {
  impl_->OnWindow(window, [&] {
    if (QWidget* w = Widget(window)) w->setVisible(visible);
  });
}

void QtBackend::UpdateWindow(WindowHandle window) {
  impl_->OnWindow(window, [&] {
    if (QWidget* w = Widget(window)) w->repaint();
  });
}

bool QtBackend::IsWindowThread(WindowHandle window) {
  return impl_->OnGui() && impl_->Alive(window);
}

void QtBackend::SetIcon(WindowHandle window, int iconId, IconSize) {
  impl_->OnWindow(window, [&] {
    if (QWidget* w = Widget(window)) w->setWindowIcon(IconOf(iconId));
  });
}

void QtBackend::AppendSystemMenu(WindowHandle window, uint32_t command, const std::string& text) {
  impl_->OnWindow(window, [&] {
    if (const auto win = impl_->Find(window); win && win->hasSystemMenu) {
      win->systemMenu.emplace_back(command, text);
    }
  });
}

void QtBackend::EnableToolTips(WindowHandle window, bool enable) {
  impl_->OnWindow(window, [&] {
    if (const auto win = impl_->Find(window)) win->toolTips = enable;
  });
}

// --- Controls -------------------------------------------------------------

QWidget* QtBackend::Widget(WindowHandle window) {
  const auto win = impl_->Find(window);
  return win ? win->widget.data() : nullptr;
}

QWidget* QtBackend::ControlWidget(WindowHandle window, int id) {
  const auto win = impl_->Find(window);
  const ControlInfo* c = win ? win->Control(id) : nullptr;
  return c ? c->widget.data() : nullptr;
}

WindowHandle QtBackend::WindowOf(const QWidget* widget) {
  for (; widget; widget = widget->parentWidget()) {
    if (const auto* dialog = dynamic_cast<const DialogWidget*>(widget)) return dialog->Handle();
  }
  return kNoWindow;
}

void QtBackend::EnableControl(WindowHandle window, int id, bool enable) {
  impl_->OnWindow(window, [&] {
    if (QWidget* c = ControlWidget(window, id)) c->setEnabled(enable);
  });
}

bool QtBackend::IsControlEnabled(WindowHandle window, int id) {
  return impl_->OnWindow(window, [&] {
    const QWidget* c = ControlWidget(window, id);
    return c && c->isEnabled();
  });
}

bool QtBackend::SetControlText(WindowHandle window, int id, const std::string& text) {
  return impl_->OnWindow(window, [&] {
    QWidget* c = ControlWidget(window, id);
    if (auto* button = qobject_cast<QAbstractButton*>(c)) {
      button->setText(Q(text));
    } else if (auto* box = qobject_cast<QGroupBox*>(c)) {
      box->setTitle(Q(text));
    } else if (auto* label = qobject_cast<QLabel*>(c)) {
      label->setText(Q(text));
    } else if (auto* edit = qobject_cast<QLineEdit*>(c)) {
      edit->setText(Q(text));
    } else if (auto* combo = qobject_cast<QComboBox*>(c); combo && combo->isEditable()) {
      combo->setEditText(Q(text));
    } else {
      return false;  // a drop-down list has no text of its own
    }
    return true;
  });
}

std::string QtBackend::ControlText(WindowHandle window, int id) {
  return impl_->OnWindow(window, [&]() -> std::string {
    QWidget* c = ControlWidget(window, id);
    if (const auto* button = qobject_cast<QAbstractButton*>(c)) return S(button->text());
    if (const auto* box = qobject_cast<QGroupBox*>(c)) return S(box->title());
    if (const auto* label = qobject_cast<QLabel*>(c)) return S(label->text());
    if (const auto* edit = qobject_cast<QLineEdit*>(c)) return S(edit->text());
    if (const auto* combo = qobject_cast<QComboBox*>(c)) return S(combo->currentText());
    return {};
  });
}

void QtBackend::SetCheck(WindowHandle window, int id, int state) {
  impl_->OnWindow(window, [&] {
    if (auto* button = qobject_cast<QAbstractButton*>(ControlWidget(window, id));
        button && button->isCheckable()) {
      button->setChecked(state == kChecked);
    }
  });
}

int QtBackend::Check(WindowHandle window, int id) {
  return impl_->OnWindow(window, [&] {
    const auto* button = qobject_cast<QAbstractButton*>(ControlWidget(window, id));
    return button && button->isCheckable() && button->isChecked() ? kChecked : kUnchecked;
  });
}

namespace {

QComboBox* Combo(QtBackend& backend, WindowHandle window, int id) {
  return qobject_cast<QComboBox*>(backend.ControlWidget(window, id));
}

}  // namespace

void QtBackend::ListReset(WindowHandle window, int id) {
  impl_->OnWindow(window, [&] {
    if (QComboBox* combo = Combo(*this, window, id)) combo->clear();
  });
}

int QtBackend::ListAdd(WindowHandle window, int id, const std::string& text) {
  return impl_->OnWindow(window, [&] {
    QComboBox* combo = Combo(*this, window, id);
    if (!combo) return kListNone;
    const QSignalBlocker quiet(combo);
    const int selection = combo->currentIndex();
    combo->addItem(Q(text));
    // Adding an entry selects nothing, as on Windows.
    combo->setCurrentIndex(selection);
    return combo->count() - 1;
  });
}

int QtBackend::ListCount(WindowHandle window, int id) {
  return impl_->OnWindow(window, [&] {
    const QComboBox* combo = Combo(*this, window, id);
    return combo ? combo->count() : kListNone;
  });
}

std::string QtBackend::ListItemText(WindowHandle window, int id, int index) {
  return impl_->OnWindow(window, [&]() -> std::string {
    const QComboBox* combo = Combo(*this, window, id);
    if (!combo || index < 0 || index >= combo->count()) return {};
    return S(combo->itemText(index));
  });
}

int QtBackend::ListSelection(WindowHandle window, int id) {
  return impl_->OnWindow(window, [&] {
    const QComboBox* combo = Combo(*this, window, id);
    return combo && combo->currentIndex() >= 0 ? combo->currentIndex() : kListNone;
  });
}

int QtBackend::ListSetSelection(WindowHandle window, int id, int index) {
  return impl_->OnWindow(window, [&] {
    QComboBox* combo = Combo(*this, window, id);
    if (!combo) return kListNone;
    const QSignalBlocker quiet(combo);
    // An index outside the list clears the selection.
    if (index < 0 || index >= combo->count()) {
      combo->setCurrentIndex(-1);
      return kListNone;
    }
    combo->setCurrentIndex(index);
    return index;
  });
}

int QtBackend::ListSelectText(WindowHandle window, int id, const std::string& text) {
  return impl_->OnWindow(window, [&] {
    QComboBox* combo = Combo(*this, window, id);
    if (!combo) return kListNone;
    const QString wanted = Q(text);
    for (int i = 0; i < combo->count(); ++i) {
      if (BeginsWithNoCase(combo->itemText(i), wanted)) {
        const QSignalBlocker quiet(combo);
        combo->setCurrentIndex(i);
        return i;
      }
    }
    return kListNone;
  });
}

void QtBackend::SetFocus(WindowHandle window, int id) {
  impl_->OnWindow(window, [&] {
    QWidget* c = ControlWidget(window, id);
    if (!c || c->hasFocus()) return;
    const bool active = c->window()->isActiveWindow();
    c->setFocus(Qt::OtherFocusReason);
    // A window that is not active gets no focus events until it is; the
    // dialog hears of the new focus now, as on Windows.
    if (!active || !c->hasFocus()) static_cast<Invoker*>(impl_->invoker.get())->Notify(c);
  });
}

void QtBackend::HideCaret(WindowHandle) {
  // A read-only line edit shows no caret.
}

void QtBackend::DestroyCaret(WindowHandle) {}

void QtBackend::SetProgressRange(WindowHandle window, int id, int32_t low, int32_t high) {
  impl_->OnWindow(window, [&] {
    if (auto* bar = qobject_cast<QProgressBar*>(ControlWidget(window, id))) {
      // The position is kept, within the new range (Qt would reset it).
      const int pos = bar->value();
      bar->setRange(low, high);
      bar->setValue(std::clamp(pos, std::min(low, high), std::max(low, high)));
    }
  });
}

void QtBackend::SetProgressPos(WindowHandle window, int id, int32_t pos) {
  impl_->OnWindow(window, [&] {
    if (auto* bar = qobject_cast<QProgressBar*>(ControlWidget(window, id))) {
      // The bar shows a position outside its range at the nearer end.
      bar->setValue(std::clamp(pos, bar->minimum(), bar->maximum()));
    }
  });
}

// --- Common dialogs -------------------------------------------------------

int QtBackend::ShowMessageBox(WindowHandle owner, const std::string& text,
                              const std::string& caption, uint32_t flags) {
  impl_->Call(kNoWindow, [&] {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    if ((flags & 0xF0) == kMbIconError) icon = QMessageBox::Critical;
    if ((flags & 0xF0) == kMbIconInformation) icon = QMessageBox::Information;
    QMessageBox box(icon, Q(caption), Q(text), QMessageBox::Ok, Widget(owner));
    box.setTextFormat(Qt::PlainText);
    box.exec();
  });
  return kIdOkAnswer;
}

std::optional<std::string> QtBackend::OpenFileDialog(WindowHandle owner,
                                                     const FileDialogRequest& request) {
  std::optional<std::string> chosen;
  impl_->Call(kNoWindow, [&] {
    QFileDialog dialog(Widget(owner));
    dialog.setFileMode((request.flags & kOfnFileMustExist) ? QFileDialog::ExistingFile
                                                           : QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (!request.filter.empty()) dialog.setNameFilter(Q(QtFileFilter(request.filter)));
    if (!request.defaultExtension.empty()) dialog.setDefaultSuffix(Q(request.defaultExtension));
    if (!request.initialName.empty()) dialog.selectFile(Q(request.initialName));
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
      chosen = S(dialog.selectedFiles().front());
    }
  });
  return chosen;
}

// --- Messages -------------------------------------------------------------

intptr_t QtBackend::Send(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (window == kNoWindow) return 0;
  intptr_t result = 0;
  impl_->Call(window, [&] { result = impl_->Deliver(window, message, wParam, lParam); });
  return result;
}

bool QtBackend::Post(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (!impl_->Alive(window)) return false;
  Impl* impl = impl_;
  QCoreApplication::postEvent(impl->invoker.get(), new CallEvent(
                                                       window,
                                                       [impl, window, message, wParam, lParam] {
                                                         impl->Deliver(window, message, wParam,
                                                                       lParam);
                                                       },
                                                       nullptr));
  return true;
}

}  // namespace quillon::ui
