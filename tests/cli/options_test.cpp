// quillon-flash's command line: every option and alias, the malformed
// lines, and the result line as text and as JSON.

#include "cli/options.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/report.h"
#include "engine/result_codes.h"

namespace quillon::cli {
namespace {

Parsed Parse(std::vector<std::string> args, Options& o, std::string& error) {
  args.insert(args.begin(), "quillon-flash");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  return ParseCommandLine(static_cast<int>(argv.size()), argv.data(), o, error);
}

TEST(CommandLine, EveryOptionAndAliasIsTaken) {
  struct Case {
    std::vector<std::string> args;
    Options expected;
  };
  const auto with = [](auto change) {
    Options o;
    o.type = "main";
    o.image = "x.mfw";
    o.port = "COM1";
    change(o);
    return o;
  };
  const std::vector<Case> cases = {
      {{"-t", "main", "x.mfw"}, with([](Options&) {})},
      {{"x.mfw", "--type=main"}, with([](Options&) {})},
      {{"--type", "main", "-i", "USB", "x.mfw"},
       with([](Options& o) { o.interface = "usb", o.port = ""; })},
      {{"--interface=parallel", "-t", "main", "x.mfw"},
       with([](Options& o) { o.interface = "parallel", o.port = "LPT1"; })},
      {{"-t", "main", "-p", "/dev/ttyUSB0", "x.mfw"},
       with([](Options& o) { o.port = "/dev/ttyUSB0"; })},
      {{"-t", "main", "--port=sim:flash=f.bin", "x.mfw"},
       with([](Options& o) { o.port = "sim:flash=f.bin"; })},
      {{"-t", "main", "-b", "9600", "--parity", "odd", "--stop-bits", "2", "x.mfw"},
       with([](Options& o) { o.baud = "9600", o.parity = "odd", o.stopBits = "2"; })},
      {{"-t", "main", "--baud=1200", "--parity=EVEN", "--stop-bits=1", "x.mfw"},
       with([](Options& o) { o.baud = "1200", o.parity = "EVEN"; })},
      {{"-t", "main", "--json", "-q", "-v", "x.mfw"},
       with([](Options& o) { o.json = o.quiet = o.verbose = true; })},
      {{"-t", "main", "--quiet", "--verbose", "x.mfw"},
       with([](Options& o) { o.quiet = o.verbose = true; })},
      {{"-t", "ipl", "-t", "main", "x.mfw"}, with([](Options&) {})},  // the last one counts
      // After "--" everything is the image, even what looks like an option.
      {{"-t", "main", "--", "-x.mfw"}, with([](Options& o) { o.image = "-x.mfw"; })},
      {{"-t", "main", "-p", "sim", "--", "--json"},
       with([](Options& o) { o.image = "--json", o.port = "sim"; })},
      {{"-i", "usb", "-p", "/dev/usb/lp0", "-t", "main", "x.mfw"},
       with([](Options& o) { o.interface = "usb", o.port = "/dev/usb/lp0"; })},
  };
  for (const Case& c : cases) {
    Options o;
    std::string error;
    ASSERT_EQ(Parse(c.args, o, error), Parsed::kRun) << c.args.front() << ": " << error;
    const Options& e = c.expected;
    EXPECT_EQ(std::tie(o.type, o.interface, o.port, o.baud, o.parity, o.stopBits, o.image, o.json,
                       o.quiet, o.verbose),
              std::tie(e.type, e.interface, e.port, e.baud, e.parity, e.stopBits, e.image, e.json,
                       e.quiet, e.verbose))
        << c.args.front() << ' ' << c.args.back();
  }
}

TEST(CommandLine, HelpVersionAndMalformedLines) {
  struct Case {
    std::vector<std::string> args;
    Parsed parsed;
  };
  for (const Case& c : std::vector<Case>{
           {{"--help"}, Parsed::kHelp},
           {{"-h", "-t", "main"}, Parsed::kHelp},
           {{"--version"}, Parsed::kVersion},
           {{"-t", "main", "--version", "x.mfw"}, Parsed::kVersion},
           {{}, Parsed::kError},
           {{"--type", "main"}, Parsed::kError},
           {{"x.mfw"}, Parsed::kError},
           {{"--bogus", "x.mfw"}, Parsed::kError},
           {{"-t", "main", "-p"}, Parsed::kError},
           {{"-t", "main", "-i", "firewire", "x.mfw"}, Parsed::kError},
           {{"-t", "main", "x.mfw", "y.mfw"}, Parsed::kError},
           {{"-t", "main", "-p", "", "x.mfw"}, Parsed::kError},
           {{"-t", "main", "-i", "parallel", "--port=", "x.mfw"}, Parsed::kError},
           {{"-t", "main", "-i", "usb", "-p", "COM1", "x.mfw"}, Parsed::kError},
           {{"-t", "main", "-i", "USB", "-p", "lpt2", "x.mfw"}, Parsed::kError},
           {{"-t", "main", "--", "x.mfw", "-t"}, Parsed::kError},
           {{"-t", "main", "--plan", "x.mfw"}, Parsed::kPlan},
           {{"--list", "--json"}, Parsed::kList},
           {{"--list", "x.mfw"}, Parsed::kError},
           {{"-t", "main", "--progress=json", "x.mfw"}, Parsed::kRun},
           {{"-t", "main", "--progress", "xml", "x.mfw"}, Parsed::kError},
       }) {
    Options o;
    std::string error;
    const std::string line = c.args.empty() ? "(none)" : c.args.front();
    EXPECT_EQ(Parse(c.args, o, error), c.parsed) << line;
    EXPECT_EQ(error.empty(), c.parsed != Parsed::kError) << line << ": " << error;
  }
}

TEST(CommandLine, AMalformedLineStillAnswersInJsonWhenAskedTo) {
  struct Case {
    std::vector<std::string> args;
    bool json;
  };
  for (const Case& c : std::vector<Case>{
           {{"--json", "--bogus", "x.mfw"}, true},
           {{"-t", "main", "--json"}, true},
           {{"--json", "-t"}, true},
           {{"--json", "-i", "usb", "-p", "COM2", "-t", "main", "x.mfw"}, true},
           {{"--bogus", "x.mfw"}, false},
           {{"-t", "main", "--", "--json", "y.mfw"}, false},
       }) {
    Options o;
    std::string error;
    ASSERT_EQ(Parse(c.args, o, error), Parsed::kError) << c.args.front();
    EXPECT_EQ(o.json, c.json) << c.args.front() << " " << c.args.back();
  }
  const nlohmann::json line = nlohmann::json::parse(UsageErrorLine("no IMAGE given \xff"));
  EXPECT_EQ(line, nlohmann::json::parse(
                      R"({"code":null,"success":false,"message":"no IMAGE given \ufffd"})"));
}

TEST(CommandLine, TheResultLineAsTextAndAsJson) {
  Options o;
  o.type = "font";
  o.image = "/tmp/f.bin";
  EXPECT_EQ(ResultLine(o, engine::kSuccess, "COM1"), "result 1: Download successfully completed!");
  o.json = true;
  EXPECT_EQ(ResultLine(o, engine::kCannotErase, "sim"),
            R"({"code":1001,"success":false,"message":"Cannot erase a sector!",)"
            R"("type":"US&EU FONT","image":"/tmp/f.bin","port":"sim"})");

  // A file name that is not UTF-8 still gives valid JSON, the stray byte
  // replaced; quotes, backslashes and control characters are escaped.
  o.image = "/tmp/\xff\"a\\b\x01.bin";
  const nlohmann::json parsed = nlohmann::json::parse(ResultLine(o, engine::kSuccess, "COM1"));
  EXPECT_EQ(parsed.at("image"), "/tmp/\xEF\xBF\xBD\"a\\b\x01.bin");
  EXPECT_EQ(parsed.at("success"), true);
  EXPECT_EQ(parsed.at("code"), 1);
}

}  // namespace
}  // namespace quillon::cli
