// quillon-flash run from a terminal: the terminal it runs on is not a port.
#include <gtest/gtest.h>
#include <termios.h>

#include "e2e/cli_fixture.h"

namespace quillon::cli {
namespace {

TEST_F(Cli, TheProgramsOwnTerminalIsRefusedAsItsPort) {
  const std::string image = Image("fonts.bin", 1000);
  for (const std::string port : {"/dev/tty", "{tty}"}) {
    const testing::TerminalResult r =
        testing::RunOnTerminal({QUILLON_FLASH, "-t", "font", "-p", port, image}, 30000);
    EXPECT_EQ(r.status, 1) << port << "\n" << r.shown;
    EXPECT_NE(r.shown.find("result 1017: Unable to get serial port handle!"), std::string::npos)
        << port << "\n"
        << r.shown;
    EXPECT_NE(r.shown.find("is the terminal quillon-flash runs on"), std::string::npos)
        << port << "\n"
        << r.shown;
    // The terminal is as the user had it.
    EXPECT_EQ(r.after.c_lflag, r.before.c_lflag) << port;
    EXPECT_EQ(r.after.c_iflag, r.before.c_iflag) << port;
    EXPECT_EQ(r.after.c_oflag, r.before.c_oflag) << port;
    EXPECT_EQ(r.after.c_cflag, r.before.c_cflag) << port;
  }
}

}  // namespace
}  // namespace quillon::cli
