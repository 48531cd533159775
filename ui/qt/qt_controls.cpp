// The operations on a window's controls: their text, enabling, checks,
// lists, focus and progress bars, on the GUI thread.

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSignalBlocker>
#include <algorithm>
#include <string>

#include "ui/qt/qt_impl.h"

namespace quillon::ui {

namespace {

bool BeginsWithNoCase(const QString& entry, const QString& text) {
  return entry.startsWith(text, Qt::CaseInsensitive);
}

}  // namespace

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

}  // namespace quillon::ui
