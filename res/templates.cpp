#include "res/templates.h"

#include "platform/text.h"
#include "res/resource.h"
#include "res/styles.h"

namespace quillon::res {

namespace {

// The Windows names that dialogs.def uses, for the macro expansions below.
// This file never sees the Windows headers, so they cannot collide.
constexpr uint32_t WS_POPUP = kWsPopup;
constexpr uint32_t WS_CHILD = kWsChild;
constexpr uint32_t WS_VISIBLE = kWsVisible;
constexpr uint32_t WS_DISABLED = kWsDisabled;
constexpr uint32_t WS_CAPTION = kWsCaption;
constexpr uint32_t WS_BORDER = kWsBorder;
constexpr uint32_t WS_VSCROLL = kWsVScroll;
constexpr uint32_t WS_SYSMENU = kWsSysMenu;
constexpr uint32_t WS_GROUP = kWsGroup;
constexpr uint32_t WS_TABSTOP = kWsTabStop;
constexpr uint32_t WS_MINIMIZEBOX = kWsMinimizeBox;
constexpr uint32_t WS_EX_APPWINDOW = kWsExAppWindow;
constexpr uint32_t DS_SETFONT = kDsSetFont;
constexpr uint32_t DS_MODALFRAME = kDsModalFrame;
constexpr uint32_t BS_PUSHBUTTON = kBsPushButton;
constexpr uint32_t BS_DEFPUSHBUTTON = kBsDefPushButton;
constexpr uint32_t BS_GROUPBOX = kBsGroupBox;
constexpr uint32_t BS_AUTORADIOBUTTON = kBsAutoRadioButton;
constexpr uint32_t SS_LEFT = kSsLeft;
constexpr uint32_t SS_ICON = kSsIcon;
constexpr uint32_t ES_AUTOHSCROLL = kEsAutoHScroll;
constexpr uint32_t ES_READONLY = kEsReadOnly;
constexpr uint32_t CBS_DROPDOWNLIST = kCbsDropDownList;

struct RawDialog {
  int id;
  Rect rect;
  uint32_t style;
  uint32_t exStyle;
  const char* caption;
  int fontSize;
  const char* fontName;
};

struct RawControl {
  int dialog;
  const char* text;
  int id;
  const char* className;
  uint32_t style;
  Rect rect;
  int imageId;
};

struct RawItem {
  int dialog;
  int control;
  const char* text;
};

#define QBEGIN(id)
#define QEND(id)

constexpr RawDialog kDialogs[] = {
#define QDIALOG(id, x, y, cx, cy, style, exStyle, caption, fontSize, fontName) \
  {id, {x, y, cx, cy}, style, exStyle, caption, fontSize, fontName},
#define QCONTROL(dialog, text, id, className, style, x, y, cx, cy)
#define QIMAGE(dialog, image, id, className, style, x, y, cx, cy)
#define QITEM(dialog, control, text)
#include "res/dialogs.def"
#undef QDIALOG
#undef QCONTROL
#undef QIMAGE
#undef QITEM
};

constexpr RawControl kControls[] = {
#define QDIALOG(id, x, y, cx, cy, style, exStyle, caption, fontSize, fontName)
#define QCONTROL(dialog, text, id, className, style, x, y, cx, cy) \
  {dialog, text, id, className, (style) | WS_CHILD | WS_VISIBLE, {x, y, cx, cy}, 0},
#define QIMAGE(dialog, image, id, className, style, x, y, cx, cy) \
  {dialog, "", id, className, (style) | WS_CHILD | WS_VISIBLE, {x, y, cx, cy}, image},
#define QITEM(dialog, control, text)
#include "res/dialogs.def"
#undef QDIALOG
#undef QCONTROL
#undef QIMAGE
#undef QITEM
};

constexpr RawItem kItems[] = {
#define QDIALOG(id, x, y, cx, cy, style, exStyle, caption, fontSize, fontName)
#define QCONTROL(dialog, text, id, className, style, x, y, cx, cy)
#define QIMAGE(dialog, image, id, className, style, x, y, cx, cy)
#define QITEM(dialog, control, text) {dialog, control, text},
#include "res/dialogs.def"
#undef QDIALOG
#undef QCONTROL
#undef QIMAGE
#undef QITEM
};

#undef QBEGIN
#undef QEND

std::vector<DialogTemplate> Build() {
  std::vector<DialogTemplate> out;
  for (const RawDialog& d : kDialogs) {
    DialogTemplate t;
    t.id = d.id;
    t.rect = d.rect;
    t.style = d.style;
    t.exStyle = d.exStyle;
    t.caption = d.caption;
    t.fontSize = d.fontSize;
    t.fontName = d.fontName;
    for (const RawControl& c : kControls) {
      if (c.dialog == d.id) {
        t.controls.push_back({c.text, c.id, c.className, c.style, c.rect, c.imageId});
      }
    }
    for (const RawItem& i : kItems) {
      if (i.dialog == d.id) t.listItems.push_back({i.control, i.text});
    }
    out.push_back(std::move(t));
  }
  return out;
}

}  // namespace

const ControlTemplate* DialogTemplate::Control(int controlId) const {
  for (const ControlTemplate& c : controls) {
    if (c.id == controlId) return &c;
  }
  return nullptr;
}

std::vector<std::string> DialogTemplate::ListItems(int controlId) const {
  std::vector<std::string> out;
  for (const ListItemTemplate& i : listItems) {
    if (i.controlId == controlId) out.push_back(i.text);
  }
  return out;
}

ControlKind KindOf(std::string_view className, uint32_t style) {
  if (platform::EqualNoCase(className, "Button")) {
    switch (style & kBsTypeMask) {
      case kBsPushButton:
        return ControlKind::kPushButton;
      case kBsDefPushButton:
        return ControlKind::kDefaultPushButton;
      case kBsCheckBox:
      case kBsAutoCheckBox:
        return ControlKind::kCheckBox;
      case kBsRadioButton:
      case kBsAutoRadioButton:
        return ControlKind::kRadioButton;
      case kBsGroupBox:
        return ControlKind::kGroupBox;
      default:
        return ControlKind::kOther;
    }
  }
  if (platform::EqualNoCase(className, "Static")) {
    return (style & kSsTypeMask) == kSsIcon ? ControlKind::kIcon : ControlKind::kLabel;
  }
  if (platform::EqualNoCase(className, "Edit")) return ControlKind::kEdit;
  if (platform::EqualNoCase(className, "ComboBox")) {
    return (style & kCbsTypeMask) == kCbsDropDownList ? ControlKind::kDropDownList
                                                      : ControlKind::kComboBox;
  }
  if (platform::EqualNoCase(className, "msctls_progress32")) return ControlKind::kProgressBar;
  return ControlKind::kOther;
}

const std::vector<DialogTemplate>& DialogTemplates() {
  static const std::vector<DialogTemplate> templates = Build();
  return templates;
}

const DialogTemplate* FindDialogTemplate(int id) {
  for (const DialogTemplate& t : DialogTemplates()) {
    if (t.id == id) return &t;
  }
  return nullptr;
}

}  // namespace quillon::res
