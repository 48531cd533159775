// A dialog's window from its template: the controls as Qt widgets, placed
// in pixels the way Windows turns dialog units into pixels, with the
// dialog font and the resource script's icons.

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QFontMetrics>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "res/resource.h"
#include "res/styles.h"
#include "res/templates.h"
#include "ui/dialog.h"
#include "ui/qt/qt_impl.h"

namespace quillon::ui {

namespace {

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

// The resource path of the resource script's icon `iconId`, or empty.
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

}  // namespace

namespace qt_detail {

QIcon IconOf(int iconId) {
  const QString path = IconPath(iconId);
  return path.isEmpty() ? QIcon() : QIcon(path);
}

}  // namespace qt_detail

int DialogUnitsToPixelsX(int x, int baseX) {
  // MulDiv: rounded half away from zero.
  const long long product = static_cast<long long>(x) * baseX;
  return static_cast<int>(product >= 0 ? (product + 2) / 4 : -((-product + 2) / 4));
}

int DialogUnitsToPixelsY(int y, int baseY) {
  const long long product = static_cast<long long>(y) * baseY;
  return static_cast<int>(product >= 0 ? (product + 4) / 8 : -((-product + 4) / 8));
}

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

}  // namespace quillon::ui
