// What the Windows dialog manager does for a dialog: Enter, Escape and the
// default button, the close box and the system menu, the focus and the
// tooltips, the automatic radio buttons, and the default processing of
// what the dialog leaves unhandled.

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QRadioButton>
#include <QToolTip>
#include <memory>
#include <optional>
#include <string>

#include "res/styles.h"
#include "ui/dialog.h"
#include "ui/qt/qt_impl.h"

namespace quillon::ui {

namespace qt_detail {

void DialogWidget::keyPressEvent(QKeyEvent* event) {
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

void DialogWidget::closeEvent(QCloseEvent* event) {
  // The dialog decides whether and how its window goes.
  event->ignore();
  const std::shared_ptr<Window> win = impl_.Find(handle_);
  if (win && win->hasSystemMenu && !win->destroying) {
    impl_.Deliver(handle_, kWmSysCommand, kScClose, 0);
  }
}

void DialogWidget::contextMenuEvent(QContextMenuEvent* event) {
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
    impl_.Deliver(handle_, kWmSysCommand, static_cast<uintptr_t>(chosen->data().toULongLong()), 0);
  }
}

bool Invoker::eventFilter(QObject* watched, QEvent* event) {
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

void Invoker::Notify(QWidget* widget) {
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

void Invoker::ShowTip(QWidget* widget, const QHelpEvent* help) {
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

}  // namespace qt_detail

intptr_t QtBackend::Impl::Deliver(WindowHandle handle, uint32_t message, uintptr_t wParam,
                                  intptr_t lParam) {
  const std::shared_ptr<Window> win = Find(handle);
  if (!win || !win->dialog) return 0;
  bool handled = false;
  ++win->handling;
  const intptr_t result = win->dialog->DialogProc(message, wParam, lParam, handled);
  --win->handling;
  return handled ? result : DefaultProcessing(handle, message, wParam);
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

}  // namespace quillon::ui
