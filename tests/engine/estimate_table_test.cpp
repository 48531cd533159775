// The estimate of a download against the download itself: for each
// interface and type, a download into the emulated printer on the virtual
// clock shows every status text the estimate lists, at the time it gives
// (each whole-second wait counted at its mean, as the estimate counts it),
// ends when it says, and erases and writes the sectors in its order.
#include <gtest/gtest.h>

#include <ostream>

#include "app/download_estimate.h"
#include "engine/result_codes.h"
#include "support/download_fixture.h"

namespace quillon::engine {
namespace {

using ports::Interface;
using testing::Pattern;

struct EstimateRow {
  const char* name;
  Interface iface;
  DownloadType type;
  size_t size;
};

void PrintTo(const EstimateRow& r, std::ostream* os) {
  *os << r.name;
}

class Estimate : public testing::SerialDownload, public ::testing::WithParamInterface<EstimateRow> {
 protected:
  // The time of a moment of the download with every whole-second wait
  // before it moved to its mean length.
  int64_t AtMean(int64_t ms) {
    int64_t mean = ms;
    for (const auto& r : clock.Records()) {
      if (r.kind == platform::VirtualClock::Kind::kWaitSeconds && r.endMs <= ms) {
        mean -= (r.endMs - r.startMs) - (r.value * 1000 + 500);
      }
    }
    return mean;
  }
};

TEST_P(Estimate, TheDownloadFollowsItsEstimate) {
  const EstimateRow& row = GetParam();
  const std::string extension = row.type == DownloadType::kMain  ? ".mfw"
                                : row.type == DownloadType::kIpl ? ".ipl"
                                                                 : ".bin";
  const std::string path = WriteImage("image" + extension, Pattern(row.size));
  app::DownloadRequest request;
  request.type = row.type;
  request.imagePath = path;
  request.firstSector = RowOf(row.type).firstSector;
  std::vector<int> plan;
  int64_t fileBytes = 0;
  ASSERT_EQ(app::PlanRequest(request, flashSectorSizes, plan, fileBytes), kSuccess);
  EXPECT_EQ(fileBytes, static_cast<int64_t>(row.size));
  const app::DownloadEstimate estimate =
      app::EstimateDownload(row.iface, row.type, plan, flashSectorSizes, 0);

  std::vector<std::pair<std::string, int64_t>> shown;
  window.onSend = [&](uint32_t id, intptr_t lParam) {
    if (id != platform::WM_PROGRESS_STATUS) return;
    const std::string& text = reinterpret_cast<const StatusRecord*>(lParam)->statusText;
    if (shown.empty() || shown.back().first != text) shown.emplace_back(text, clock.NowMs());
  };
  const int64_t start = clock.NowMs();
  const int main = MainProg(row.type);
  const int ipl = IplProg(row.type);
  const int code = row.iface == Interface::kSerial     ? Run(path, main, ipl)
                   : row.iface == Interface::kParallel ? RunParallel(path, main, ipl)
                                                       : RunUsb(path, main, ipl);
  ASSERT_EQ(code, kSuccess);
  const int64_t end = clock.NowMs();

  std::vector<std::pair<std::string, int64_t>> expected;
  for (const auto& s : estimate.statuses) expected.emplace_back(s.text, s.atMs);
  for (auto& s : shown) s.second = AtMean(s.second) - start;
  EXPECT_EQ(shown, expected);
  EXPECT_EQ(AtMean(end) - start, estimate.totalMs);
  EXPECT_EQ(estimate.lineMs, 0);

  std::vector<std::string> operations;
  for (const auto& o : estimate.operations) {
    operations.push_back((o.kind == app::PlanOperation::Kind::kErase ? "erase " : "data ") +
                         std::to_string(o.sector));
    if (o.kind == app::PlanOperation::Kind::kWrite) {
      EXPECT_EQ(o.bytes, flashSectorSizes[o.sector]);
    }
  }
  std::vector<std::string> taken;
  for (const std::string& c : Commands()) {
    if (c.starts_with("erase ") || c.starts_with("data ")) taken.push_back(c);
  }
  EXPECT_EQ(operations, taken);
}

constexpr size_t kIplImage = 0x8000 + 0x8000 + 0x10000;  // the head, sectors 4 and 5

INSTANTIATE_TEST_SUITE_P(
    EveryInterfaceAndType, Estimate,
    ::testing::Values(
        EstimateRow{"SerialMain", Interface::kSerial, DownloadType::kMain, 150000},
        EstimateRow{"SerialIpl", Interface::kSerial, DownloadType::kIpl, kIplImage},
        EstimateRow{"SerialFont", Interface::kSerial, DownloadType::kFont, 70000},
        EstimateRow{"ParallelMain", Interface::kParallel, DownloadType::kMain, 65536},
        EstimateRow{"ParallelIpl", Interface::kParallel, DownloadType::kIpl, kIplImage},
        EstimateRow{"ParallelFont", Interface::kParallel, DownloadType::kFont, 140000},
        EstimateRow{"UsbMain", Interface::kUsb, DownloadType::kMain, 131072},
        EstimateRow{"UsbIpl", Interface::kUsb, DownloadType::kIpl, 40000},
        EstimateRow{"UsbFont", Interface::kUsb, DownloadType::kFont, 1000}),
    [](const ::testing::TestParamInfo<EstimateRow>& info) { return info.param.name; });

// Time left follows the step the download shows: it counts down within a
// step, stops at the next step's start while the step runs late, jumps
// when a step comes early, and ignores a text it does not expect.
TEST(TimeLeft, FollowsTheStatusShown) {
  app::DownloadEstimate e;
  e.statuses = {{"a", 1000}, {"b", 3000}, {"c", 3000}, {"b", 9000}};
  e.totalMs = 10000;
  app::TimeLeft left(e);
  EXPECT_EQ(left.LeftMs(500), 9500);
  EXPECT_EQ(left.LeftMs(4000), 9000);  // "a" not shown yet
  left.Status("a", 2000);
  EXPECT_EQ(left.LeftMs(2500), 8500);
  EXPECT_EQ(left.LeftMs(9000), 7000);  // late: no further than "b"'s start
  left.Status("x", 9100);
  EXPECT_EQ(left.LeftMs(9000), 7000);
  left.Status("c", 9200);  // "b" skipped
  EXPECT_EQ(left.LeftMs(9200), 7000);
  left.Status("b", 9300);  // the second "b"
  EXPECT_EQ(left.LeftMs(9800), 500);
  EXPECT_EQ(left.LeftMs(20000), 0);
}

}  // namespace
}  // namespace quillon::engine
