// The dialog templates and strings as the program sees them, and a check
// that the resource compiler makes exactly the same templates out of the
// resource script.

#include "res/resource.h"

#include <gtest/gtest.h>

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

using Ids = std::vector<int>;
using Strings = std::vector<std::string>;

const DialogTemplate& Get(int id) {
  const DialogTemplate* t = FindDialogTemplate(id);
  EXPECT_NE(t, nullptr) << id;
  static const DialogTemplate none;
  return t ? *t : none;
}

Ids ControlIds(const DialogTemplate& t) {
  Ids ids;
  for (const ControlTemplate& c : t.controls) ids.push_back(c.id);
  return ids;
}

ControlKind Kind(const DialogTemplate& t, int id) {
  const ControlTemplate* c = t.Control(id);
  return c ? KindOf(c->className, c->style) : ControlKind::kOther;
}

TEST(Templates, TheMainDialogListsItsControlsInTabOrder) {
  const DialogTemplate& t = Get(IDD_MAIN);
  EXPECT_EQ(t.caption, "Standard Model Quillon  Ver 2.02");
  EXPECT_EQ(t.rect, (Rect{0, 0, 321, 228}));
  EXPECT_EQ(t.fontSize, 8);
  EXPECT_EQ(t.fontName, "MS Sans Serif");
  EXPECT_EQ(t.style,
            kDsSetFont | kDsModalFrame | kWsPopup | kWsCaption | kWsSysMenu | kWsMinimizeBox);
  EXPECT_EQ(t.exStyle, kWsExAppWindow);
  EXPECT_EQ(ControlIds(t),
            (Ids{1012, 1013, 1014, 1015, 1016, 1020, 1,    100, 1030, 1005, 1004, 1007, 1006,
                 1009, 1008, 1010, -1,   1018, 1019, 1017, -1,  -1,   -1,   1041, 1042, 1044}));

  struct Expected {
    size_t index;
    const char* text;
    ControlKind kind;
    Rect rect;
  };
  const Expected expected[] = {
      {0, "", ControlKind::kDropDownList, {80, 68, 81, 73}},
      {1, "", ControlKind::kDropDownList, {80, 83, 81, 100}},
      {2, "", ControlKind::kDropDownList, {80, 98, 81, 85}},
      {3, "", ControlKind::kDropDownList, {80, 114, 81, 53}},
      {4, "", ControlKind::kDropDownList, {80, 130, 81, 53}},
      {5, "Browse...", ControlKind::kPushButton, {269, 68, 35, 12}},
      {6, "FLASH NOW", ControlKind::kDefaultPushButton, {218, 89, 61, 14}},
      {7, "About", ControlKind::kPushButton, {232, 110, 34, 12}},
      {8, "Exit", ControlKind::kPushButton, {277, 207, 36, 13}},
      {9, "Port :", ControlKind::kLabel, {17, 83, 50, 12}},
      {10, "Download Type : ", ControlKind::kLabel, {17, 67, 58, 12}},
      {11, "Parity Bit :", ControlKind::kLabel, {17, 115, 48, 12}},
      {12, "Baud Rate :", ControlKind::kLabel, {17, 99, 49, 12}},
      {13, "Data Bit :", ControlKind::kLabel, {17, 147, 40, 12}},
      {14, "Stop Bit :", ControlKind::kLabel, {17, 131, 43, 12}},
      {15, "Data Flow :", ControlKind::kLabel, {17, 163, 48, 12}},
      {16, " Properties", ControlKind::kGroupBox, {7, 55, 159, 146}},
      {17, "", ControlKind::kEdit, {80, 146, 72, 12}},
      {18, "", ControlKind::kEdit, {80, 162, 72, 12}},
      {19, "", ControlKind::kEdit, {191, 68, 72, 12}},
      {20, "", ControlKind::kGroupBox, {171, 55, 142, 145}},
      {21,
       "Caution:\nPlease do not stop the data transmission\nwhile it is flashing the product's "
       "memory, \nas it may cause serious damage to the\nproduct.",
       ControlKind::kLabel,
       {177, 134, 130, 43}},
      {22, "Communication port", ControlKind::kGroupBox, {53, 7, 215, 40}},
      {23, "Serial Port", ControlKind::kRadioButton, {69, 24, 48, 10}},
      {24, "Parallel Port", ControlKind::kRadioButton, {132, 24, 53, 10}},
      {25, "USB Interface", ControlKind::kRadioButton, {196, 24, 61, 10}},
  };
  ASSERT_EQ(t.controls.size(), std::size(expected));
  for (const Expected& e : expected) {
    const ControlTemplate& c = t.controls[e.index];
    EXPECT_EQ(c.text, e.text) << e.index;
    EXPECT_EQ(KindOf(c.className, c.style), e.kind) << e.index;
    EXPECT_EQ(c.rect, e.rect) << e.index;
    EXPECT_EQ(c.style & (kWsChild | kWsVisible), kWsChild | kWsVisible) << e.index;
  }
}

TEST(Templates, TheMainDialogsControlStyles) {
  const DialogTemplate& t = Get(IDD_MAIN);
  for (const int id :
       {IDC_TYPE_LIST, IDC_PORT_LIST, IDC_BAUD_LIST, IDC_PARITY_LIST, IDC_STOP_LIST}) {
    EXPECT_EQ(t.Control(id)->style & kCbsSort, 0u) << id;  // entries stay in their order
  }
  EXPECT_NE(t.Control(IDC_DATA_BITS)->style & kWsDisabled, 0u);
  EXPECT_NE(t.Control(IDC_DATA_FLOW)->style & kWsDisabled, 0u);
  EXPECT_NE(t.Control(IDC_FILE_BOX)->style & kEsReadOnly, 0u);
  EXPECT_EQ(t.Control(IDC_FILE_BOX)->style & kWsDisabled, 0u);
  EXPECT_EQ(t.Control(IDC_SERIAL)->style & kWsTabStop, 0u);
  EXPECT_NE(t.Control(IDC_PARALLEL)->style & kWsTabStop, 0u);
  EXPECT_EQ(t.Control(IDC_USB)->style & kWsTabStop, 0u);
  EXPECT_EQ(Kind(t, IDC_SERIAL), ControlKind::kRadioButton);
  EXPECT_EQ(t.Control(IDC_SERIAL)->style & kBsTypeMask, kBsAutoRadioButton);

  // A resource script holds no list entries: the template data does.
  EXPECT_EQ(t.ListItems(IDC_TYPE_LIST), (Strings{"MAIN FIRMWARE", "IPL FIRMWARE"}));
  EXPECT_EQ(t.ListItems(IDC_BAUD_LIST), (Strings{"38400", "19200", "9600", "4800"}));
  EXPECT_EQ(t.ListItems(IDC_PARITY_LIST), (Strings{"NONE", "EVEN", "ODD"}));
  EXPECT_EQ(t.ListItems(IDC_STOP_LIST), (Strings{"1", "2"}));
  EXPECT_TRUE(t.ListItems(IDC_PORT_LIST).empty());
}

TEST(Templates, TheAboutAndProgressDialogs) {
  const DialogTemplate& about = Get(IDD_ABOUT);
  EXPECT_EQ(about.caption, "About Standard Model Quillon");
  EXPECT_EQ(about.rect, (Rect{0, 0, 235, 55}));
  EXPECT_EQ(about.fontName, "MS Sans Serif");
  ASSERT_EQ(about.controls.size(), 5u);
  EXPECT_EQ(KindOf(about.controls[0].className, about.controls[0].style), ControlKind::kIcon);
  EXPECT_EQ(about.controls[0].imageId, IDI_ABOUT);
  EXPECT_EQ(about.controls[0].rect.x, 11);
  EXPECT_EQ(about.controls[0].rect.y, 17);
  Strings texts;
  for (size_t i = 1; i < 4; ++i) texts.push_back(about.controls[i].text);
  EXPECT_EQ(texts, (Strings{"Passbook Printer", "Orvane", "Copyright (C) 2026"}));
  EXPECT_EQ(about.controls[1].rect, (Rect{44, 12, 119, 8}));
  EXPECT_EQ(about.controls[2].rect.y, 23);
  EXPECT_EQ(about.controls[3].rect.y, 34);
  EXPECT_EQ(about.controls[4].id, 2);
  EXPECT_EQ(KindOf(about.controls[4].className, about.controls[4].style),
            ControlKind::kDefaultPushButton);
  EXPECT_EQ(about.controls[4].rect, (Rect{178, 18, 50, 14}));

  const DialogTemplate& progress = Get(IDD_PROGRESS);
  EXPECT_EQ(progress.caption, "Quillon - On Transmission...");
  EXPECT_EQ(progress.rect, (Rect{0, 0, 192, 87}));
  EXPECT_EQ(progress.style & kWsSysMenu, 0u);  // no close box
  EXPECT_EQ(progress.style & (kWsPopup | kWsCaption | kDsModalFrame),
            kWsPopup | kWsCaption | kDsModalFrame);
  EXPECT_EQ(progress.style & kWsVisible, 0u);  // shown by whoever opens it
  EXPECT_EQ(ControlIds(progress), (Ids{1022, 1021, 1046}));
  EXPECT_EQ(progress.Control(1022)->text, " Percent: ");
  EXPECT_EQ(progress.Control(1022)->rect, (Rect{7, 7, 178, 73}));
  EXPECT_EQ(Kind(progress, 1021), ControlKind::kProgressBar);
  EXPECT_NE(progress.Control(1021)->style & kWsBorder, 0u);
  EXPECT_EQ(progress.Control(1021)->rect, (Rect{15, 32, 158, 14}));
  EXPECT_EQ(progress.Control(1046)->text, "Cancel");
  EXPECT_EQ(progress.Control(1046)->rect, (Rect{123, 56, 50, 14}));
}

TEST(Strings, TooltipsLiveUnderTheControlIds) {
  const std::map<int, std::string> expected = {
      {1, "Start the download process"},
      {100, "About Brenmoor"},
      {103, "Quillon"},
      {1012, "Choose download type"},
      {1013, "Choose the COM port number"},
      {1014, "Choose the baud rate"},
      {1015, "Choose the parity scheme to be used"},
      {1016, "Choose the number of stop bits to be used"},
      {1020, "Browse file"},
      {1030, "Exit this program"},
  };
  EXPECT_EQ(StringTable().size(), expected.size());
  for (const auto& [id, text] : expected) EXPECT_EQ(LoadText(id), text) << id;
  EXPECT_EQ(LoadText(IDS_ABOUT_MENU), std::nullopt);
  EXPECT_EQ(LoadText(1017), std::nullopt);
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
