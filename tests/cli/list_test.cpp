// --list: the ports the environment names join the system's list, and each
// port's state reads as the user needs it.
#include "cli/list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "platform/device.h"
#include "support/environment.h"
#include "support/scratch_dir.h"

namespace quillon::cli {
namespace {

using platform::PortEntry;

TEST(PortList, PortsTheEnvironmentNamesAreListedAsNamed) {
  testing::ScratchDir scratch;
  const std::string there = scratch.Write("lp7", {});
  const std::string gone = (scratch.Path() / "gone").string();
  struct Case {
    std::string var, value;
    PortEntry::Kind kind;
    std::string name, path;
    int error;
  };
  const std::vector<Case> cases = {
      {"QUILLON_COM17", "sim:status=23", PortEntry::Kind::kSerial, "COM17", "sim:status=23", 0},
      {"QUILLON_LPT9", gone, PortEntry::Kind::kParallel, "LPT9", gone,
       platform::kErrorFileNotFound},
      {"QUILLON_USB", there, PortEntry::Kind::kUsb, "", there, 0},
  };
  for (const Case& c : cases) ASSERT_TRUE(testing::SetEnvironment(c.var, c.value));
  const std::vector<PortEntry> ports = platform::ListPorts();
  for (const Case& c : cases) testing::UnsetEnvironment(c.var);

  for (const Case& c : cases) {
    const auto it = std::find_if(ports.begin(), ports.end(),
                                 [&](const PortEntry& p) { return p.namedBy == c.var; });
    ASSERT_NE(it, ports.end()) << c.var;
    EXPECT_EQ(std::tie(it->kind, it->name, it->path, it->error),
              std::tie(c.kind, c.name, c.path, c.error))
        << c.var;
  }
  // Serial ports first, then parallel ports, then USB printers.
  EXPECT_TRUE(std::is_sorted(ports.begin(), ports.end(),
                             [](const auto& a, const auto& b) { return a.kind < b.kind; }));
}

TEST(PortList, EachStateReadsAsTheUserNeedsIt) {
  PortEntry usb;
  usb.kind = PortEntry::Kind::kUsb;
  usb.path = "/dev/usb/lp0";
  usb.vendorId = "0f1d";
  usb.productId = "a02b";
  usb.busPath = "1-1";
  usb.deviceId = "MFG:Quillon;MDL:Passbook;";
  usb.error = platform::kErrorAccessDenied;
  PortEntry serial;
  serial.name = "COM2";
  serial.path = "sim";
  serial.namedBy = "QUILLON_COM2";

  const std::string table = PortTable({serial, usb});
  for (const char* line :
       {"Serial ports:\n  COM2   sim                      usable   named by QUILLON_COM2\n",
        "Parallel ports:\n  none found\n",
        "  -      /dev/usb/lp0             denied   0f1d:a02b, bus 1-1, device ID "
        "MFG:Quillon;MDL:Passbook;\n         "}) {
    EXPECT_NE(table.find(line), std::string::npos) << table;
  }
  const auto json = nlohmann::json::parse(PortJson({serial, usb}));
  EXPECT_EQ(json["parallel"], nlohmann::json::array());
  EXPECT_EQ(json["serial"][0]["state"], "usable");
  EXPECT_EQ(json["serial"][0]["hint"], nullptr);
  EXPECT_EQ(json["usb"][0]["state"], "denied");
  EXPECT_EQ(json["usb"][0]["device_id"], usb.deviceId);
  // The hint says what to do: the group on Linux, the other program on Windows.
  EXPECT_NE(json["usb"][0]["hint"].get<std::string>().find(
                platform::kDeniedWhenInUse ? "another program" : "usermod -aG lp"),
            std::string::npos)
      << json;
}

}  // namespace
}  // namespace quillon::cli
