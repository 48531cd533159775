#include "app/serial_worker.h"

#include <gtest/gtest.h>

#include "engine/result_codes.h"
#include "platform/thread.h"
#include "support/download_fixture.h"

namespace quillon::app {
namespace {

class RecordingHost : public DownloadHost {
 public:
  testing::RecordingWindow messages;
  std::vector<int> shown;
  std::mutex mutex;

  intptr_t Send(uint32_t id, uintptr_t w, intptr_t l) override { return messages.Send(id, w, l); }
  bool Post(uint32_t id, uintptr_t w, intptr_t l) override { return messages.Post(id, w, l); }
  void ShowResult(int code) override {
    std::lock_guard lock(mutex);
    shown.push_back(code);
  }
};

class Worker : public testing::SerialDownload {
 protected:
  RecordingHost host;

  // Runs the worker on a thread of its own, as the dialog launches it.
  void Launch(const std::string& file, const std::string& port = "sim") {
    if (!emulated.printer) MakePrinter();
    download->SetWindow(&host);
    DownloadRequest request;
    request.portName = port;
    request.imagePath = file;
    request.firstSector = 6;
    auto job = std::make_unique<SerialJob>(SerialJob{&host, download.get(), request});
    platform::Thread worker([&job] { SerialWorker(std::move(job)); },
                            platform::ThreadPriority::kAboveNormal, true);
    worker.Resume();
    worker.Join();
  }
};

TEST_F(Worker, ASuccessfulDownloadIsPostedAfterTheEnd) {
  Launch(WriteImage("fw.mfw", testing::Pattern(65536)));
  using namespace platform;
  const auto posted = host.messages.Posted();
  ASSERT_EQ(posted.size(), 2u);
  EXPECT_EQ(posted[0].id, WM_DOWNLOAD_DONE);
  EXPECT_EQ(posted[0].lParam, engine::kSuccess);
  EXPECT_EQ(posted[1].id, WM_ENABLE_CONTROLS);
  EXPECT_EQ(posted[1].lParam, 1);
  EXPECT_TRUE(host.shown.empty());  // the main window shows the result
  EXPECT_EQ(host.messages.Messages().back().id, WM_CLOSE_PROGRESS);
  EXPECT_TRUE(emulated.line->Closed());
}

TEST_F(Worker, EarlyFailuresAreShownFromTheWorker) {
  Launch(WriteImage("fw.mfw", testing::Pattern(10)), "/nonexistent/quillon-port");
  EXPECT_EQ(host.shown, (std::vector<int>{engine::kSerialHandle}));
  EXPECT_TRUE(host.messages.Posted().empty());
  ASSERT_EQ(host.messages.Messages().size(), 1u);
  EXPECT_EQ(host.messages.Messages()[0].id, platform::WM_ENABLE_CONTROLS);

  host.shown.clear();
  Launch((dir / "missing.mfw").string());
  EXPECT_EQ(host.shown, (std::vector<int>{engine::kUnableToOpenFile}));
  EXPECT_TRUE(emulated.line->Closed());
  EXPECT_TRUE(Commands().empty());
}

TEST_F(Worker, TheCancelFlagIsClearedBeforeTheEnd) {
  download->RequestStop();
  Launch(WriteImage("fw.mfw", testing::Pattern(10)));
  EXPECT_FALSE(download->StopRequested());
  const auto posted = host.messages.Posted();
  ASSERT_FALSE(posted.empty());
  EXPECT_EQ(posted[0].lParam, engine::kCancelled);
  // EndDownload, then 500 ms, then the posts.
  EXPECT_EQ(clock.Records().back().value, 500);
}

}  // namespace
}  // namespace quillon::app
