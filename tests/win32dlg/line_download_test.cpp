// A download through Quillon.exe on a real serial port: the port named by
// QUILLON_TEST_PORT (COM1), behind which quillon-printer-sim serves a fresh
// emulated printer; scripts/wine-line-test.sh sets this up under Wine. The
// test plays the user: Serial Port, the port, the download type, the file
// through Browse, FLASH NOW; it watches the progress window and reads the
// result box and the exit code.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "res/resource.h"
#include "support/environment.h"
#include "win32dlg/win32_fixture.h"

namespace quillon::app {
namespace {

namespace probe = ui::probe;
using ui::kNoWindow;

constexpr const char* kMainCaption = "Standard Model Quillon  Ver 2.02";
constexpr const char* kProgressCaption = "Quillon - On Transmission...";

class Win32OnCom1 : public testing::Win32Test {};

TEST_F(Win32OnCom1, AFontDownloadThroughQuillonExe) {
  const char* port = std::getenv("QUILLON_TEST_PORT");
  if (!port || !*port) GTEST_SKIP() << "QUILLON_TEST_PORT is not set (scripts/wine-line-test.sh)";
  const std::string file = testing::WindowsPath(WriteFile("fonts.bin", 40000));

  auto process = probe::Process::Start(testing::QuotedProgram(QUILLON_EXE));
  ASSERT_NE(process, nullptr);
  probe::CommonDialogWatcher program(process->Id());
  const ui::WindowHandle main = probe::WaitForTopLevel(kMainCaption, 20000, process->Id());
  ASSERT_NE(main, kNoWindow);

  probe::Click(main, IDC_SERIAL);
  ASSERT_TRUE(probe::PickListEntry(main, IDC_PORT_LIST, port));
  ASSERT_TRUE(probe::PickListEntry(main, IDC_TYPE_LIST, "US&EU FONT"));
  program.AnswerFileDialog(file);
  ASSERT_TRUE(probe::PostClick(main, IDC_BROWSE));
  ASSERT_TRUE(program.WaitForFileDialogs(1, 20000));
  ASSERT_TRUE(probe::WaitUntil(
      [&] { return probe::ControlText(main, IDC_FILE_BOX) == "fonts.bin"; }, 10000));

  ASSERT_TRUE(probe::PostClick(main, IDC_FLASH_NOW));
  const ui::WindowHandle progress = probe::WaitForTopLevel(kProgressCaption, 30000, process->Id());
  ASSERT_NE(progress, kNoWindow);
  EXPECT_FALSE(probe::ControlEnabled(main, IDC_FLASH_NOW));
  EXPECT_FALSE(probe::ControlEnabled(main, IDC_EXIT));

  // What the progress window shows until the download closes it.
  std::set<std::string> texts;
  int32_t furthest = 0;
  int32_t range = 0;
  probe::WaitUntil(
      [&] {
        if (!probe::Exists(progress)) return true;
        const std::string text = probe::ControlText(progress, IDC_PROGRESS_GROUP);
        if (!text.empty()) texts.insert(text);
        const probe::ProgressState bar = probe::Progress(progress, IDC_PROGRESS_BAR);
        furthest = std::max(furthest, bar.pos);
        range = std::max(range, bar.high);
        return false;
      },
      180000);
  EXPECT_FALSE(probe::Exists(progress));
  EXPECT_GT(range, 0);
  EXPECT_GT(furthest, 0);
  EXPECT_EQ(texts.count("Switching printer to download..."), 1u);
  EXPECT_GE(texts.size(), 2u);

  ASSERT_TRUE(program.WaitForMessageBoxes(1, 60000));
  const auto boxes = program.MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Download successfully completed!");
  EXPECT_EQ(boxes[0].caption, "Quillon");

  ASSERT_TRUE(probe::WaitUntil([&] { return probe::ControlEnabled(main, IDC_EXIT); }, 10000));
  EXPECT_TRUE(probe::ControlEnabled(main, IDC_FLASH_NOW));
  ASSERT_TRUE(probe::PostClick(main, IDC_EXIT));
  const std::optional<uint32_t> code = process->Wait(20000);
  ASSERT_TRUE(code.has_value());
  EXPECT_EQ(*code, 1u);  // the last result shown: success
  for (const std::string& text : texts) std::printf("progress: %s\n", text.c_str());
}

// The same download into the built-in emulated printer reached as a USB
// printer or through LPT1, with no serial line at all.
class Win32PrinterPorts : public testing::Win32Test {
 protected:
  void TearDown() override {
    testing::UnsetEnvironment("QUILLON_USB");
    testing::UnsetEnvironment("QUILLON_LPT1");
    testing::Win32Test::TearDown();
  }
  // Runs Quillon.exe through one download; the texts the progress window
  // showed.
  std::set<std::string> Download(int radio, const char* port) {
    std::set<std::string> texts;
    const std::string file = testing::WindowsPath(WriteFile("fonts.bin", 40000));
    auto process = probe::Process::Start(testing::QuotedProgram(QUILLON_EXE));
    EXPECT_NE(process, nullptr);
    if (!process) return texts;
    probe::CommonDialogWatcher program(process->Id());
    const ui::WindowHandle main = probe::WaitForTopLevel(kMainCaption, 20000, process->Id());
    EXPECT_NE(main, kNoWindow);
    probe::Click(main, radio);
    if (port) {
      EXPECT_TRUE(probe::PickListEntry(main, IDC_PORT_LIST, port));
    }
    EXPECT_TRUE(probe::PickListEntry(main, IDC_TYPE_LIST, "US&EU FONT"));
    program.AnswerFileDialog(file);
    EXPECT_TRUE(probe::PostClick(main, IDC_BROWSE));
    EXPECT_TRUE(program.WaitForFileDialogs(1, 20000));
    EXPECT_TRUE(probe::PostClick(main, IDC_FLASH_NOW));
    const ui::WindowHandle progress =
        probe::WaitForTopLevel(kProgressCaption, 30000, process->Id());
    EXPECT_NE(progress, kNoWindow);
    // Cancel never reacts over these interfaces.
    EXPECT_FALSE(probe::ControlEnabled(progress, IDC_PROGRESS_CANCEL));
    probe::WaitUntil(
        [&] {
          if (!probe::Exists(progress)) return true;
          const std::string text = probe::ControlText(progress, IDC_PROGRESS_GROUP);
          if (!text.empty()) texts.insert(text);
          return false;
        },
        180000);
    EXPECT_TRUE(program.WaitForMessageBoxes(1, 60000));
    const auto boxes = program.MessageBoxes();
    EXPECT_EQ(boxes.size(), 1u);
    if (!boxes.empty()) {
      EXPECT_EQ(boxes[0].text, "Download successfully completed!");
    }
    EXPECT_TRUE(probe::WaitUntil([&] { return probe::ControlEnabled(main, IDC_EXIT); }, 10000));
    EXPECT_TRUE(probe::PostClick(main, IDC_EXIT));
    const std::optional<uint32_t> code = process->Wait(20000);
    EXPECT_EQ(code.value_or(0), 1u);
    return texts;
  }
};

TEST_F(Win32PrinterPorts, AFontDownloadOverUsb) {
  ASSERT_TRUE(testing::SetEnvironment("QUILLON_USB", "sim"));
  const auto texts = Download(IDC_USB, nullptr);
  EXPECT_EQ(texts.count("Calculating checksum"), 1u);
}

TEST_F(Win32PrinterPorts, AFontDownloadThroughTheParallelPort) {
  ASSERT_TRUE(testing::SetEnvironment("QUILLON_LPT1", "sim"));
  const auto texts = Download(IDC_PARALLEL, "LPT1");
  EXPECT_EQ(texts.count("Checking communication line status..."), 1u);
}

}  // namespace
}  // namespace quillon::app
