// The dialog templates and strings as the program sees them, and a check
// that the resource compiler makes exactly the same templates out of the
// resource script.

#include "res/resource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "res/styles.h"
#include "res/templates.h"

namespace quillon::res {
namespace {

using Strings = std::vector<std::string>;

const DialogTemplate& Get(int id) {
  const DialogTemplate* t = FindDialogTemplate(id);
  EXPECT_NE(t, nullptr) << id;
  static const DialogTemplate none;
  return t ? *t : none;
}

// What the code relies on in the templates (their full text is checked
// against the compiled script below): each control it names is there, of
// the kind it treats it as, with the styles its behaviour depends on.
TEST(Templates, TheControlsTheCodeNamesAreOfTheKindsItExpects) {
  struct Row {
    int dialog;
    int id;
    ControlKind kind;
    uint32_t set;    // styles it must have
    uint32_t unset;  // and must not
  };
  const Row rows[] = {
      // Lists keep their entries in the order they are added.
      {IDD_MAIN, IDC_TYPE_LIST, ControlKind::kDropDownList, kWsTabStop, kCbsSort | kWsDisabled},
      {IDD_MAIN, IDC_PORT_LIST, ControlKind::kDropDownList, kWsTabStop, kCbsSort | kWsDisabled},
      {IDD_MAIN, IDC_BAUD_LIST, ControlKind::kDropDownList, kWsTabStop, kCbsSort | kWsDisabled},
      {IDD_MAIN, IDC_PARITY_LIST, ControlKind::kDropDownList, kWsTabStop, kCbsSort | kWsDisabled},
      {IDD_MAIN, IDC_STOP_LIST, ControlKind::kDropDownList, kWsTabStop, kCbsSort | kWsDisabled},
      // The file box shows the name and takes focus, but no typing.
      {IDD_MAIN, IDC_FILE_BOX, ControlKind::kEdit, kEsReadOnly, kWsDisabled},
      {IDD_MAIN, IDC_DATA_BITS, ControlKind::kEdit, kWsDisabled, 0},
      {IDD_MAIN, IDC_DATA_FLOW, ControlKind::kEdit, kWsDisabled, 0},
      // Enter presses FLASH NOW.
      {IDD_MAIN, IDC_FLASH_NOW, ControlKind::kDefaultPushButton, 0, kWsDisabled},
      {IDD_MAIN, IDC_BROWSE, ControlKind::kPushButton, 0, kWsDisabled},
      {IDD_MAIN, IDC_ABOUT, ControlKind::kPushButton, 0, kWsDisabled},
      {IDD_MAIN, IDC_EXIT, ControlKind::kPushButton, 0, kWsDisabled},
      // One group of radio buttons, reached by Tab at Parallel Port.
      {IDD_MAIN, IDC_SERIAL, ControlKind::kRadioButton, kBsAutoRadioButton, kWsTabStop},
      {IDD_MAIN, IDC_PARALLEL, ControlKind::kRadioButton, kBsAutoRadioButton | kWsTabStop, 0},
      {IDD_MAIN, IDC_USB, ControlKind::kRadioButton, kBsAutoRadioButton, kWsTabStop},
      {IDD_ABOUT, IDC_ABOUT_OK, ControlKind::kDefaultPushButton, 0, kWsDisabled},
      {IDD_PROGRESS, IDC_PROGRESS_BAR, ControlKind::kProgressBar, 0, 0},
      {IDD_PROGRESS, IDC_PROGRESS_CANCEL, ControlKind::kPushButton, 0, kWsDisabled},
  };
  for (const Row& r : rows) {
    const ControlTemplate* c = Get(r.dialog).Control(r.id);
    ASSERT_NE(c, nullptr) << r.id;
    EXPECT_EQ(KindOf(c->className, c->style), r.kind) << r.id;
    EXPECT_EQ(c->style & r.set, r.set) << r.id;
    EXPECT_EQ(c->style & r.unset, 0u) << r.id;
  }
  // The About dialog shows its icon; the progress window has no close box
  // and is shown by whoever opens it.
  EXPECT_NE(std::find_if(Get(IDD_ABOUT).controls.begin(), Get(IDD_ABOUT).controls.end(),
                         [](const ControlTemplate& c) { return c.imageId == IDI_ABOUT; }),
            Get(IDD_ABOUT).controls.end());
  EXPECT_EQ(Get(IDD_PROGRESS).style & (kWsSysMenu | kWsVisible), 0u);
  EXPECT_NE(Get(IDD_MAIN).style & kWsSysMenu, 0u);

  // The entries the dialog reads back as settings (the type list's are
  // replaced by the model table's).
  const DialogTemplate& main = Get(IDD_MAIN);
  EXPECT_EQ(main.ListItems(IDC_BAUD_LIST), (Strings{"38400", "19200", "9600", "4800"}));
  EXPECT_EQ(main.ListItems(IDC_PARITY_LIST), (Strings{"NONE", "EVEN", "ODD"}));
  EXPECT_EQ(main.ListItems(IDC_STOP_LIST), (Strings{"1", "2"}));
  EXPECT_TRUE(main.ListItems(IDC_PORT_LIST).empty());
}

TEST(Strings, TheTableHoldsTheTitleAndTooltipsOfTheMainDialogsControlsOnly) {
  EXPECT_EQ(LoadText(IDS_APP_TITLE), "Quillon");
  EXPECT_EQ(LoadText(IDS_ABOUT_MENU), std::nullopt);  // so the system menu has no About entry
  for (const auto& [id, text] : StringTable()) {
    EXPECT_TRUE(id == IDS_APP_TITLE || Get(IDD_MAIN).Control(id) != nullptr) << id;
    EXPECT_FALSE(text.empty()) << id;
  }
}

// --- The resource compiler's view -----------------------------------------

// The fields of a resource compiler line ("CONTROL "a\nb", 1, "BUTTON", ...")
// after its keyword: quoted strings unescaped, everything else as written.
Strings Fields(const std::string& line) {
  Strings out;
  std::string field;
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '\\' && i + 1 < line.size()) {
        ++i;
        field += line[i] == 'n' ? '\n' : line[i];
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      out.push_back(field);
      field.clear();
    } else if (c != ' ' || !field.empty()) {
      field += c;
    }
  }
  out.push_back(field);
  return out;
}

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

// The resource script compiled and written back as text lines; empty when
// the resource compiler is not installed.
Strings Decompiled() {
#ifdef _WIN32
  return {};  // the cross tools live on the build machine
#else
  const std::filesystem::path resDir =
      std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "res";
  if (std::system("command -v x86_64-w64-mingw32-windres >/dev/null 2>&1") != 0) return {};
  const auto out =
      std::filesystem::temp_directory_path() /
      ("quillon-rc-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
       ".rc");
  // The build's version header, as the Windows build gives it.
  const std::string command = "x86_64-w64-mingw32-windres -I '" + resDir.string() + "' -I '" +
                              QUILLON_RC_GENERATED_DIR + "' '" + (resDir / "quillon.rc").string() +
                              "' -O rc -o '" + out.string() + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  std::ifstream in(out);
  Strings lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::filesystem::remove(out);
  return lines;
#endif
}

TEST(ResourceScript, CompilesToTheSameTemplatesAndStrings) {
  const Strings rc = Decompiled();
  if (rc.empty()) GTEST_SKIP() << "x86_64-w64-mingw32-windres is not installed";

  int dialogs = 0;
  std::map<int, std::string> strings;
  std::map<int, std::string> icons;  // group icon id -> its entries
  for (size_t i = 0; i < rc.size(); ++i) {
    const std::string& line = rc[i];
    if (line.find(" DIALOGEX ") != std::string::npos) {
      ++dialogs;
      const DialogTemplate& t = Get(std::stoi(line));
      const Strings head = Fields(line.substr(line.find_last_of('E') + 1));
      ASSERT_GE(head.size(), 4u);
      const size_t n = head.size();
      // "... DISCARDABLE 0, 0, 321, 228": the last word of the first field.
      const int x = std::stoi(head[n - 4].substr(head[n - 4].find_last_of(' ') + 1));
      EXPECT_EQ(t.rect,
                (Rect{x, std::stoi(head[n - 3]), std::stoi(head[n - 2]), std::stoi(head[n - 1])}));
      ++i;
      EXPECT_EQ(t.style, std::stoul(rc[i].substr(6), nullptr, 16)) << t.id;
      ++i;
      uint32_t exStyle = 0;
      if (StartsWith(rc[i], "EXSTYLE ")) exStyle = std::stoul(rc[i++].substr(8), nullptr, 16);
      EXPECT_EQ(t.exStyle, exStyle) << t.id;
      ASSERT_TRUE(StartsWith(rc[i], "CAPTION "));
      EXPECT_EQ(t.caption, Fields(rc[i++].substr(8))[0]);
      ASSERT_TRUE(StartsWith(rc[i], "FONT "));
      const Strings font = Fields(rc[i++].substr(5));
      EXPECT_EQ(t.fontSize, std::stoi(font[0]));
      EXPECT_EQ(t.fontName, font[1]);
      ASSERT_EQ(rc[i++], "BEGIN");
      size_t c = 0;
      for (; StartsWith(rc[i], "  CONTROL "); ++i, ++c) {
        ASSERT_LT(c, t.controls.size()) << t.id;
        const ControlTemplate& mine = t.controls[c];
        const Strings f = Fields(rc[i].substr(10));
        ASSERT_EQ(f.size(), 8u) << rc[i];
        if (rc[i][10] == '"') {
          EXPECT_EQ(mine.text, f[0]) << t.id << " #" << c;
        } else {
          EXPECT_EQ(mine.imageId, std::stoi(f[0])) << t.id << " #" << c;
        }
        EXPECT_EQ(mine.id, std::stoi(f[1])) << t.id << " #" << c;
        std::string upper;
        for (char ch : mine.className) upper += static_cast<char>(std::toupper(ch));
        EXPECT_EQ(upper, f[2]) << t.id << " #" << c;
        EXPECT_EQ(mine.style, std::stoul(f[3], nullptr, 16)) << t.id << " #" << c;
        EXPECT_EQ(mine.rect,
                  (Rect{std::stoi(f[4]), std::stoi(f[5]), std::stoi(f[6]), std::stoi(f[7])}))
            << t.id << " #" << c;
      }
      EXPECT_EQ(rc[i], "END");
      EXPECT_EQ(c, t.controls.size()) << t.id;
    } else if (StartsWith(line, "STRINGTABLE")) {
      for (i += 2; rc[i] != "END"; ++i) {
        const Strings f = Fields(rc[i]);
        strings[std::stoi(f[0])] = f[1];
      }
    } else if (line.find(" 14 /* RT_GROUP_ICON */") != std::string::npos) {
      const int id = std::stoi(line);
      for (++i; rc[i] != "END"; ++i) icons[id] += rc[i] + "\n";
    }
  }
  EXPECT_EQ(dialogs, static_cast<int>(DialogTemplates().size()));
  EXPECT_EQ(strings, (std::map<int, std::string>(StringTable().begin(), StringTable().end())));

  // Both icons, each at 32x32 and 16x16 in 32-bit colour.
  ASSERT_EQ(icons.size(), 2u);
  for (const int icon : {IDI_MAIN, IDI_ABOUT}) {
    EXPECT_NE(icons[icon].find(R"("\040\040\000\000", 1, 32,)"), std::string::npos) << icon;
    EXPECT_NE(icons[icon].find(R"("\020\020\000\000", 1, 32,)"), std::string::npos) << icon;
  }
  const std::string all = [&] {
    std::string text;
    for (const std::string& l : rc) text += l + "\n";
    return text;
  }();
  EXPECT_NE(all.find("VALUE \"ProductName\", \"Quillon\""), std::string::npos);
  // The version is the project's.
  const std::string version = QUILLON_PROJECT_VERSION;
  EXPECT_NE(all.find("VALUE \"ProductVersion\", \"" + version + "\""), std::string::npos);
  std::string numbers = version;
  for (size_t dot; (dot = numbers.find('.')) != std::string::npos;) numbers.replace(dot, 1, ", ");
  EXPECT_NE(all.find(" FILEVERSION " + numbers + ", 0"), std::string::npos);
}

}  // namespace
}  // namespace quillon::res
