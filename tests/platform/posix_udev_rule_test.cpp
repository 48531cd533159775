// The udev rule shipped for the USB printer, against the ids the program
// looks for; and how the program tells whether the rule is in force, in a
// scratch root laid out like a system's.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/device.h"
#include "platform/udev_rule.h"

namespace quillon::platform {
namespace {

namespace fs = std::filesystem;

std::string Hex4(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", value);
  return text;
}

// Every rule line (comments and blank lines left out) as its KEY, operator
// and value triples, key by key.
using Rule = std::map<std::string, std::pair<std::string, std::string>>;

// One `KEY op "value"` pair from `at` on (after blanks), or false.
bool ReadPair(const std::string& line, size_t& at, std::string& key, std::string_view& op,
              std::string& value) {
  const auto blanks = [&] {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
  };
  blanks();
  const size_t keyStart = at;
  while (at < line.size() && std::isalpha(static_cast<unsigned char>(line[at]))) ++at;
  if (at < line.size() && line[at] == '{') {
    const size_t close = line.find('}', at);
    if (close == std::string::npos) return false;
    at = close + 1;
  }
  key = line.substr(keyStart, at - keyStart);
  blanks();
  op = {};
  for (const std::string_view candidate : {"==", "!=", "+=", ":=", "="}) {
    if (line.compare(at, candidate.size(), candidate) == 0) {
      op = candidate;
      break;
    }
  }
  if (key.empty() || op.empty()) return false;
  at += op.size();
  blanks();
  if (at >= line.size() || line[at] != '"') return false;
  const size_t close = line.find('"', at + 1);
  if (close == std::string::npos) return false;
  value = line.substr(at + 1, close - at - 1);
  at = close + 1;
  blanks();
  // Pairs are separated by commas.
  if (at == line.size()) return true;
  if (line[at] != ',') return false;
  ++at;
  return true;
}

std::vector<Rule> ReadRules(const std::string& path) {
  std::ifstream in(path);
  EXPECT_TRUE(in) << path;
  std::vector<Rule> rules;
  std::string line;
  while (std::getline(in, line)) {
    if (line.find_first_not_of(" \t") == std::string::npos || line.starts_with("#")) continue;
    Rule rule;
    size_t at = 0;
    std::string key, value;
    std::string_view op;
    while (at < line.size()) {
      if (!ReadPair(line, at, key, op, value)) {
        ADD_FAILURE() << "unparsed text in: " << line;
        break;
      }
      EXPECT_TRUE(rule.emplace(key, std::make_pair(std::string(op), value)).second)
          << "a key given twice in: " << line;
    }
    rules.push_back(rule);
  }
  return rules;
}

// One line per USB id, in the order the program looks for them, each for
// the usblp device node and giving both kinds of access: the ids cannot
// drift from the program's.
TEST(UdevRule, ItCoversExactlyThePrintersUsbIds) {
  const std::vector<Rule> rules = ReadRules(QUILLON_UDEV_RULE);
  ASSERT_EQ(rules.size(), std::size(kPrinterUsbIds));
  const Rule common = {
      {"SUBSYSTEM", {"==", "usbmisc"}}, {"KERNEL", {"==", "lp[0-9]*"}}, {"TAG", {"+=", "uaccess"}},
      {"GROUP", {"=", "lp"}},           {"MODE", {"=", "0660"}},
  };
  for (size_t i = 0; i < rules.size(); ++i) {
    Rule expected = common;
    expected["ATTRS{idVendor}"] = {"==", Hex4(kPrinterUsbIds[i].vendor)};
    expected["ATTRS{idProduct}"] = {"==", Hex4(kPrinterUsbIds[i].product)};
    EXPECT_EQ(rules[i], expected) << "line " << i + 1;
  }
}

TEST(UdevRule, ItIsInForceWhenTheFirstFolderThatHoldsItHasTheRule) {
  const fs::path root = fs::temp_directory_path() / ("quillon-udev-" + std::to_string(getpid()));
  const std::string name = kUdevRuleName;
  enum class Entry { kRule, kEmpty, kNullLink, kRuleLink, kFolder };
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, Entry>> entries;  // folder under root, what is there
    bool missing;
  };
  const Case cases[] = {
      {"nowhere", {}, true},
      {"the packages' folder", {{"usr/lib/udev/rules.d", Entry::kRule}}, false},
      {"the folder before the /usr merge", {{"lib/udev/rules.d", Entry::kRule}}, false},
      {"the administrator's", {{"etc/udev/rules.d", Entry::kRule}}, false},
      {"the administrator's as a link", {{"etc/udev/rules.d", Entry::kRuleLink}}, false},
      {"switched off by a link to /dev/null",
       {{"etc/udev/rules.d", Entry::kNullLink}, {"usr/lib/udev/rules.d", Entry::kRule}},
       true},
      {"switched off by an empty file",
       {{"etc/udev/rules.d", Entry::kEmpty}, {"lib/udev/rules.d", Entry::kRule}},
       true},
      {"an empty file alone", {{"usr/lib/udev/rules.d", Entry::kEmpty}}, true},
      {"a folder of that name", {{"usr/lib/udev/rules.d", Entry::kFolder}}, true},
      {"somewhere udev does not look", {{"usr/local/lib/udev/rules.d", Entry::kRule}}, true},
  };
  for (const Case& c : cases) {
    fs::remove_all(root);
    fs::create_directories(root / "elsewhere");
    std::ofstream(root / "elsewhere" / name) << "KERNEL==\"lp0\"\n";
    for (const auto& [folder, entry] : c.entries) {
      const fs::path dir = root / folder;
      fs::create_directories(dir);
      switch (entry) {
        case Entry::kRule:
          std::ofstream(dir / name) << "KERNEL==\"lp0\"\n";
          break;
        case Entry::kEmpty:
          std::ofstream(dir / name) << "";
          break;
        case Entry::kNullLink:
          fs::create_symlink("/dev/null", dir / name);
          break;
        case Entry::kRuleLink:
          fs::create_symlink(root / "elsewhere" / name, dir / name);
          break;
        case Entry::kFolder:
          fs::create_directories(dir / name);
          break;
      }
    }
    EXPECT_EQ(UdevRuleMissing(root.string()), c.missing) << c.what;
  }
  fs::remove_all(root);
}

}  // namespace
}  // namespace quillon::platform
