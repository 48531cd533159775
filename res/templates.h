#pragma once
// The program's copy of the resource script's dialog templates and string
// table, built from the same files as the script (dialogs.def, strings.def).
// Window backends that cannot read compiled resources create their windows
// from these; every backend takes the drop-down lists' initial entries from
// here, since a resource script has no place for them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::res {

// A rectangle in dialog units.
struct Rect {
  int x = 0;
  int y = 0;
  int cx = 0;
  int cy = 0;
  bool operator==(const Rect&) const = default;
};

enum class ControlKind {
  kGroupBox,
  kRadioButton,
  kCheckBox,
  kPushButton,
  kDefaultPushButton,
  kLabel,
  kIcon,
  kEdit,
  kDropDownList,  // a combo box without an edit field
  kComboBox,      // a combo box with one
  kProgressBar,
  kOther,
};

struct ControlTemplate {
  std::string text;
  int id = -1;
  std::string className;  // "Button", "Static", "Edit", "ComboBox", "msctls_progress32"
  uint32_t style = 0;     // with WS_CHILD | WS_VISIBLE, as the compiled template has it
  Rect rect;
  int imageId = 0;  // the image resource a picture control shows; 0 for none
};

// An entry a drop-down list holds when its dialog starts.
struct ListItemTemplate {
  int controlId = 0;
  std::string text;
};

struct DialogTemplate {
  int id = 0;
  Rect rect;
  uint32_t style = 0;
  uint32_t exStyle = 0;
  std::string caption;
  int fontSize = 0;
  std::string fontName;
  std::vector<ControlTemplate> controls;  // in tab order
  std::vector<ListItemTemplate> listItems;

  // The first control with `id`, or null.
  const ControlTemplate* Control(int id) const;
  // The initial entries of one list, in order.
  std::vector<std::string> ListItems(int controlId) const;
};

// What a control is, from its window class and style, as Windows decides it.
ControlKind KindOf(std::string_view className, uint32_t style);

// The template with resource id `id`, or null.
const DialogTemplate* FindDialogTemplate(int id);
// Every template, in the order of the resource script.
const std::vector<DialogTemplate>& DialogTemplates();

// The string table entry `id`, or nothing when the table has none.
std::optional<std::string> LoadText(int id);
// Every string table entry as (id, text), in the order of the script.
const std::vector<std::pair<int, std::string>>& StringTable();

}  // namespace quillon::res
