// Quillon.exe as a program: started as its own process, driven from this
// one through the window system, and judged by its full 32-bit exit code.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "res/resource.h"
#include "win32dlg/win32_fixture.h"

namespace quillon::app {
namespace {

namespace probe = ui::probe;
using ui::kNoWindow;

constexpr const char* kMainCaption = "Standard Model Quillon  Ver 2.02";

class Win32QuillonExe : public ::testing::Test {
 protected:
  std::unique_ptr<probe::Process> process;
  ui::WindowHandle main = kNoWindow;

  void TearDown() override {
    if (process && !process->Wait(0)) process->Kill();
  }

  // Starts Quillon.exe, or a copy of it (with command-line text, which it
  // ignores) and waits for its main dialog.
  void Start(const std::string& arguments = {}, const std::string& program = QUILLON_EXE) {
    std::string line = testing::QuotedProgram(program);
    if (!arguments.empty()) line += " " + arguments;
    process = probe::Process::Start(line);
    ASSERT_NE(process, nullptr) << line;
    main = probe::WaitForTopLevel(kMainCaption, 20000, process->Id());
    ASSERT_NE(main, kNoWindow);
  }
};

TEST_F(Win32QuillonExe, ExitEndsTheProcessWithMinusOneAsItsFullExitCode) {
  Start("--port COM7 whatever.bin");
  EXPECT_EQ(probe::WindowProcess(main), process->Id());
  EXPECT_TRUE(probe::IsBackendDialog(main));
  EXPECT_EQ(probe::ButtonCheck(main, IDC_SERIAL), 0);  // the command line changed nothing
  EXPECT_EQ(probe::ListEntries(main, IDC_PORT_LIST).size(), 0u);
  ASSERT_TRUE(probe::PostClick(main, IDC_EXIT));
  const std::optional<uint32_t> code = process->Wait(20000);
  ASSERT_TRUE(code.has_value());
  EXPECT_EQ(*code, 0xFFFFFFFFu);
}

TEST_F(Win32QuillonExe, TheLastResultShownIsTheExitCode) {
  Start();
  probe::CommonDialogWatcher watcher(process->Id());
  probe::Click(main, IDC_SERIAL);
  const std::vector<std::string> ports = probe::ListEntries(main, IDC_PORT_LIST);
  ASSERT_EQ(ports.size(), 20u);
  EXPECT_EQ(ports.front(), "COM1");
  EXPECT_EQ(ports.back(), "COM20");
  ASSERT_TRUE(probe::PostClick(main, IDC_FLASH_NOW));
  ASSERT_TRUE(watcher.WaitForMessageBoxes(1, 20000));
  EXPECT_EQ(watcher.MessageBoxes()[0].text, "Illegal COM port set!");
  EXPECT_EQ(watcher.MessageBoxes()[0].caption, "Quillon");
  EXPECT_EQ(watcher.MessageBoxes()[0].owner, main);

  ASSERT_TRUE(probe::WaitUntil([&] { return probe::ControlEnabled(main, IDC_EXIT); }, 10000));
  ASSERT_TRUE(probe::PostClick(main, IDC_EXIT));
  const std::optional<uint32_t> code = process->Wait(20000);
  ASSERT_TRUE(code.has_value());
  EXPECT_EQ(*code, 1013u);
}

TEST_F(Win32QuillonExe, ARenamedCopyTitlesItsMessageBoxesWithItsOwnName) {
  namespace fs = std::filesystem;
  // Next to the original, with whatever the program finds there.
  const fs::path original = testing::WindowsPath(QUILLON_EXE);
  const fs::path copy = original.parent_path() / "flash.exe";
  fs::copy_file(original, copy, fs::copy_options::overwrite_existing);
  Start({}, copy.string());
  probe::CommonDialogWatcher watcher(process->Id());
  probe::Click(main, IDC_SERIAL);
  ASSERT_TRUE(probe::PostClick(main, IDC_FLASH_NOW));
  ASSERT_TRUE(watcher.WaitForMessageBoxes(1, 20000));
  EXPECT_EQ(watcher.MessageBoxes()[0].text, "Illegal COM port set!");
  EXPECT_EQ(watcher.MessageBoxes()[0].caption, "flash");

  ASSERT_TRUE(probe::WaitUntil([&] { return probe::ControlEnabled(main, IDC_EXIT); }, 10000));
  ASSERT_TRUE(probe::PostClick(main, IDC_EXIT));
  ASSERT_TRUE(process->Wait(20000).has_value());
  std::error_code ignored;
  fs::remove(copy, ignored);
}

}  // namespace
}  // namespace quillon::app
