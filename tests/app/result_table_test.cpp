#include "app/result_table.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "platform/device.h"

namespace quillon::app {
namespace {

TEST(ResultTable, TextsAndIcons) {
  EXPECT_EQ(LookupResult(1)->text, "Download successfully completed!");
  EXPECT_EQ(LookupResult(1)->icon, ResultIcon::kInformation);
  EXPECT_EQ(LookupResult(1005)->text, "Different CRC detected!");
  EXPECT_EQ(LookupResult(1027)->text, "Application was terminated by Cancel button!");
  EXPECT_EQ(LookupResult(1033)->text, "Invalid parallel port selection !");
  EXPECT_EQ(LookupResult(1041)->text, "Printer is not Standard Model!");
  EXPECT_EQ(LookupResult(1044)->text, "Incorrect file selected. Peculiar code not match!");
  for (int code = 1001; code <= 1044; ++code) {
    if (auto row = LookupResult(code)) {
      EXPECT_EQ(row->icon, ResultIcon::kError) << code;
    }
  }
}

TEST(ResultTable, CodesWithoutARowShowNothing) {
  for (int code : {0, -1, 2, 1000, 1031, 1032, 1045}) EXPECT_FALSE(LookupResult(code)) << code;
  int rows = 0;
  for (int code = 1001; code <= 1044; ++code) rows += LookupResult(code) ? 1 : 0;
  EXPECT_EQ(rows, 42);
}

TEST(ResultTable, TheUsbMessageHasTwoLines) {
  const std::string text = LookupResult(1038)->text;
  EXPECT_EQ(text, LookupResult(1040)->text);
  EXPECT_EQ(text,
            "1.Ensure that the printer is the default printer.\n2.Check that the USB cable is "
            "plugged into the printer and the printer's interface is set to USB!");
}

TEST(ResultTable, TheLastErrorSpeaksForItself) {
#ifdef _WIN32
  // The system's own message, as one line.
  platform::SetLastError(platform::kErrorAccessDenied);
  const std::string text = LookupResult(1039)->text;
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(text, platform::LastErrorText());
  EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
#else
  platform::SetLastErrorFromErrno(EACCES);
  EXPECT_EQ(LookupResult(1039)->text, std::strerror(EACCES));
#endif
  platform::SetLastError(0);
  EXPECT_EQ(LookupResult(1039)->text, "");
}

}  // namespace
}  // namespace quillon::app
