// The devices the port list offers after COMn and LPTn: found by name in a
// device folder built in a scratch folder, in the order of their numbers.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/port_list.h"

namespace quillon::platform {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

TEST(PortList, DevicesAreFoundByNameAndListedInTheOrderOfTheirNumbers) {
  const fs::path root =
      fs::temp_directory_path() / ("quillon-port-list-" + std::to_string(getpid()));
  struct Case {
    const char* name;
    Strings files;    // made in the folder
    Strings folders;  // made in the folder as folders
    Strings serial;   // expected, relative to the folder
    Strings parallel;
  };
  const Case cases[] = {
      {"mixed",
       {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyS3", "parport1", "foo"},
       {},
       {"ttyUSB2", "ttyUSB10", "ttyACM0"},
       {"parport1"}},
      {"USB adapters come before modems whatever their numbers",
       {"ttyACM11", "ttyACM9", "ttyACM1", "ttyUSB30", "ttyUSB0"},
       {},
       {"ttyUSB0", "ttyUSB30", "ttyACM1", "ttyACM9", "ttyACM11"},
       {}},
      {"names that only begin like a device",
       {"ttyUSB", "ttyUSBx", "ttyUSB1a", "ttyusb1", "xttyUSB1", "parport", "parport0.bak", "lp0",
        "ttyS0", "ttyACM", "ttyUSB3"},
       {},
       {"ttyUSB3"},
       {}},
      {"numbers compared as numbers",
       {"parport10", "parport2", "parport0", "parport100", "parport9"},
       {},
       {},
       {"parport0", "parport2", "parport9", "parport10", "parport100"}},
      {"folders are no devices", {"ttyACM2"}, {"ttyUSB0", "parport0", "serial"}, {"ttyACM2"}, {}},
      {"nothing present", {}, {}, {}, {}},
  };
  for (const Case& c : cases) {
    fs::remove_all(root);
    fs::create_directories(root);
    for (const std::string& f : c.files) std::ofstream(root / f) << "";
    for (const std::string& f : c.folders) fs::create_directories(root / f);
    Strings serial;
    Strings parallel;
    for (const std::string& s : c.serial) serial.push_back(root.string() + "/" + s);
    for (const std::string& p : c.parallel) parallel.push_back(root.string() + "/" + p);
    EXPECT_EQ(PresentSerialDevices(root.string()), serial) << c.name;
    EXPECT_EQ(PresentParallelDevices(root.string()), parallel) << c.name;
    // A folder named with its closing slash gives the same paths.
    EXPECT_EQ(PresentSerialDevices(root.string() + "/"), serial) << c.name;
  }
  fs::remove_all(root);
  // A folder that is not there has no devices.
  EXPECT_EQ(PresentSerialDevices(root.string()), Strings{});
  EXPECT_EQ(PresentParallelDevices(root.string()), Strings{});
}

}  // namespace
}  // namespace quillon::platform
