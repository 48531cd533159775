// The program's title: its file's name without folder and extension.
#include <gtest/gtest.h>

#include "platform/program.h"

namespace quillon::platform {
namespace {

TEST(ProgramTitle, IsTheFileNameWithoutFolderAndExtension) {
  struct Case {
    const char* path;
    const char* title;
  };
  const Case cases[] = {
      {"/usr/bin/quillon-flash", "quillon-flash"},
      {"/opt/q/flash.exe", "flash"},
      {"flash.exe", "flash"},
      {"/opt/q/my.flash.tool.exe", "my.flash.tool"},
      {"/opt/q.d/Quillon", "Quillon"},  // a dot in a folder is no extension
      {"/home/u/.hidden", ".hidden"},
#ifdef _WIN32
      {"C:\\Program Files\\Quillon\\Quillon.exe", "Quillon"},
      {"Z:\\tmp\\q.d\\flash", "flash"},
#else
      {"/tmp/back\\slash.exe", "back\\slash"},  // a file name may hold one
#endif
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TitleOfProgramPath(c.path), c.title) << c.path;
  }
  // This very program.
  EXPECT_EQ(ProgramTitle(), "platform_tests");
}

}  // namespace
}  // namespace quillon::platform
