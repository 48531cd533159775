#include "app/serial_worker.h"

#include <gtest/gtest.h>

#include "engine/result_codes.h"
#include "support/download_fixture.h"

namespace quillon::app {
namespace {

// The serial worker as the launch starts it.
using Worker = testing::SerialDownload;

TEST_F(Worker, ASuccessfulDownloadIsPostedAfterTheEnd) {
  ASSERT_EQ(Run(WriteImage("fw.mfw", testing::Pattern(65536)), 1, 0), engine::kSuccess);
  using namespace platform;
  const auto posted = window.Posted();
  ASSERT_EQ(posted.size(), 2u);
  EXPECT_EQ(posted[0].id, WM_DOWNLOAD_DONE);
  EXPECT_EQ(posted[0].lParam, engine::kSuccess);
  EXPECT_EQ(posted[1].id, WM_ENABLE_CONTROLS);
  EXPECT_EQ(posted[1].lParam, 1);
  EXPECT_TRUE(host.Shown().empty());  // the main window shows the result
  EXPECT_EQ(window.Messages().back().id, WM_CLOSE_PROGRESS);
  EXPECT_TRUE(emulated.line->Closed());
}

TEST_F(Worker, EarlyFailuresAreShownFromTheWorker) {
  const std::string image = WriteImage("fw.mfw", testing::Pattern(10));
  EXPECT_EQ(Launch(ports::Interface::kSerial, "/nonexistent/quillon-port", image, 1, 0),
            engine::kSerialHandle);
  EXPECT_EQ(host.Shown(), (std::vector<int>{engine::kSerialHandle}));
  EXPECT_TRUE(window.Posted().empty());
  ASSERT_EQ(window.Messages().size(), 1u);
  EXPECT_EQ(window.Messages()[0].id, platform::WM_ENABLE_CONTROLS);

  EXPECT_EQ(Run((dir / "missing.mfw").string(), 1, 0), engine::kUnableToOpenFile);
  EXPECT_EQ(host.Shown(), (std::vector<int>{engine::kSerialHandle, engine::kUnableToOpenFile}));
  EXPECT_TRUE(emulated.line->Closed());
  EXPECT_TRUE(Commands().empty());
}

TEST_F(Worker, TheCancelFlagIsClearedBeforeTheEnd) {
  download->RequestStop();
  Run(WriteImage("fw.mfw", testing::Pattern(10)), 1, 0);
  EXPECT_FALSE(download->StopRequested());
  const auto posted = window.Posted();
  ASSERT_FALSE(posted.empty());
  EXPECT_EQ(posted[0].lParam, engine::kCancelled);
  // EndDownload, then 500 ms, then the posts.
  EXPECT_EQ(clock.Records().back().value, 500);
}

}  // namespace
}  // namespace quillon::app
