#include "sim/sim_options.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "sim/program_options.h"

namespace quillon::sim {
namespace {

using ::testing::AnyOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(SimOptionsTest, EmptyTextKeepsTheDefaults) {
  SimConfig config;
  std::string error;
  ASSERT_TRUE(ParseSimOptions("", config, &error)) << error;
  ASSERT_TRUE(ParseSimOptions(",,", config, &error)) << error;
  EXPECT_EQ(config.emulator.statusByte, 0x23);
  EXPECT_EQ(config.emulator.bootDelayMs, 1000);
  EXPECT_EQ(config.emulator.restartMs, 3000);
  EXPECT_EQ(config.emulator.answerDelayMs, 0);
  EXPECT_EQ(config.emulator.byteGapMs, 0);
  EXPECT_EQ(config.emulator.silentFrom, 0);
  EXPECT_TRUE(config.emulator.faults.empty());
  EXPECT_TRUE(config.emulator.badCrcSectors.empty());
  EXPECT_FALSE(config.emulator.programClearsBitsOnly);
  EXPECT_TRUE(config.flashOut.empty());
  EXPECT_TRUE(config.logOut.empty());
  EXPECT_TRUE(config.image.empty());
}

TEST(SimOptionsTest, EveryKeyReachesItsKnob) {
  SimConfig config;
  std::string error;
  ASSERT_TRUE(ParseSimOptions(
      "flash=/tmp/f.bin,log=/tmp/t.txt,image=C:\\fw\\old.bin,status=41,boot-ms=20,"
      "restart-ms=300,delay=200,gap=5,silent-from=12,bad-crc=7,bad-crc=70,program=and,"
      "replug-after=switch,replug-during=data:2,replug-gone=never",
      config, &error))
      << error;
  EXPECT_EQ(config.flashOut, "/tmp/f.bin");
  EXPECT_EQ(config.logOut, "/tmp/t.txt");
  EXPECT_EQ(config.image, "C:\\fw\\old.bin");
  EXPECT_EQ(config.emulator.statusByte, 0x41);
  EXPECT_EQ(config.emulator.bootDelayMs, 20);
  EXPECT_EQ(config.emulator.restartMs, 300);
  EXPECT_EQ(config.emulator.answerDelayMs, 200);
  EXPECT_EQ(config.emulator.byteGapMs, 5);
  EXPECT_EQ(config.emulator.silentFrom, 12);
  EXPECT_EQ(config.emulator.badCrcSectors, (std::set<int>{7, 70}));
  EXPECT_TRUE(config.emulator.programClearsBitsOnly);
  EXPECT_THAT(config.emulator.replugs, ElementsAre(Replug{CommandKind::kSwitch, 0, false},
                                                   Replug{CommandKind::kData, 2, true}));
  EXPECT_EQ(config.emulator.replugGoneMs, kGoneForGood);
}

TEST(SimOptionsTest, FaultForms) {
  SimConfig config;
  std::string error;
  ASSERT_TRUE(
      ParseSimOptions("nak=erase:2,nak=status,nak=data:*,silent=select:3,silent=reset,"
                      "reply=status:1:41,reply=checksum:0xAA,reply=recalc:*:00,"
                      "nak=switch:1,nak=checksum:9",
                      config, &error))
      << error;
  EXPECT_THAT(config.emulator.faults, ElementsAre(Fault{CommandKind::kErase, 2, false, kNak},
                                                  Fault{CommandKind::kLineStatus, 0, false, kNak},
                                                  Fault{CommandKind::kData, 0, false, kNak},
                                                  Fault{CommandKind::kSelect, 3, true, kNak},
                                                  Fault{CommandKind::kReset, 0, true, kNak},
                                                  Fault{CommandKind::kLineStatus, 1, false, 0x41},
                                                  Fault{CommandKind::kChecksum, 0, false, 0xAA},
                                                  Fault{CommandKind::kRecalc, 0, false, 0x00},
                                                  Fault{CommandKind::kSwitch, 1, false, kNak},
                                                  Fault{CommandKind::kChecksum, 9, false, kNak}));
}

TEST(SimOptionsTest, BadItemsAreRefusedWithTheirText) {
  // A reply given a count and no byte (reply=status:1) is one of them.
  const char* bad[] = {
      "bogus=1",
      "delay",
      "delay=",
      "delay=-5",
      "delay=12ms",
      "status=123",
      "status=zz",
      "status=",
      "nak=print:1",
      "nak=erase:0",
      "nak=erase:x",
      "nak=erase:1:15",
      "silent=erase:-1",
      "reply=status",
      "reply=status:1:",
      "reply=status:1",
      "reply=status:41",
      "reply=status:*",
      "reply=data:1:2:3",
      "reply=status:1:100",
      "silent-from=0",
      "bad-crc=0",
      "bad-crc=71",
      "program=or",
      "flash=",
      "boot-ms=1e3",
      "replug-after=",
      "replug-after=data:0",
      "replug-during=erase:1",
      "replug-gone=always",
      "replug-gone=-1",
  };
  for (const char* text : bad) {
    SimConfig config;
    std::string error;
    EXPECT_FALSE(ParseSimOptions(text, config, &error)) << text;
    // The message names the whole item, or the key it does not know.
    const std::string item = text;
    const std::string key = item.substr(0, item.find('='));
    EXPECT_THAT(error, AnyOf(HasSubstr("'" + item + "'"), "unknown option '" + key + "'")) << text;
    EXPECT_TRUE(config.emulator.faults.empty()) << text;
  }
}

TEST(SimOptionsTest, StopsAtTheFirstBadItem) {
  SimConfig config;
  std::string error;
  EXPECT_FALSE(ParseSimOptions("delay=10,gap=x,boot-ms=5", config, &error));
  EXPECT_THAT(error, HasSubstr("gap=x"));
  EXPECT_EQ(config.emulator.answerDelayMs, 10);
  EXPECT_EQ(config.emulator.bootDelayMs, 1000);
}

TEST(SimOptionsTest, TheProgramsPorts) {
  const auto parse = [](std::vector<const char*> args, ProgramSettings& s, std::string& message) {
    args.insert(args.begin(), "quillon-printer-sim");
    SimConfig config;
    return ParseProgramArguments(static_cast<int>(args.size()), args.data(), config, s, message);
  };
  ProgramSettings s;
  std::string message;
  ASSERT_EQ(parse({"--device", "/dev/ttyS2", "--baud=9600", "--parity", "even", "--stop-bits", "2"},
                  s, message),
            ProgramArguments::kRun)
      << message;
  EXPECT_EQ(std::tie(s.device, s.baud, s.parity, s.stopBits),
            std::make_tuple(std::string("/dev/ttyS2"), 9600, 'E', 2));
  // Options that do not go together, or a bad value.
  for (const auto& args : std::vector<std::vector<const char*>>{
           {"--device", "/dev/ttyS2", "--usb-gadget", "/dev/g_printer0"},
           {"--replug-after", "switch"},
           {"--gadget", "/cfg/g1"},
           {"--baud", "9600"},
           {"--device", "/dev/ttyS2", "--parity", "mark"},
           {"--device", "/dev/ttyS2", "--stop-bits", "1.5"}}) {
    s = {};
    message.clear();
    EXPECT_EQ(parse(args, s, message), ProgramArguments::kError) << args[0] << " " << args[1];
    EXPECT_THAT(message, HasSubstr(args[0])) << message;
  }
}

TEST(SimOptionsTest, CommandNamesRoundTrip) {
  for (int i = 0; i < kCommandKinds; ++i) {
    const auto kind = static_cast<CommandKind>(i);
    EXPECT_EQ(CommandFromName(CommandName(kind)), kind) << CommandName(kind);
  }
  EXPECT_EQ(CommandFromName("unknown"), std::nullopt);
  EXPECT_EQ(CommandFromName("stray"), std::nullopt);
  EXPECT_EQ(CommandFromName("Status"), std::nullopt);
}

}  // namespace
}  // namespace quillon::sim
