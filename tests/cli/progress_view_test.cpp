// The progress display on the standard error stream: the bar stays within
// the terminal's width as it changes, and nothing follows a stop.

#include "cli/progress_view.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/temp_dir.h"

namespace quillon::cli {
namespace {

class ProgressViewTest : public ::testing::Test {
 protected:
  ~ProgressViewTest() override {
    if (out_) std::fclose(out_);
  }
  std::string Shown() {
    std::fflush(out_);
    return sim::testing::ReadFileText(file_);
  }
  // What was drawn since `from`, as the pieces between carriage returns and
  // line feeds.
  std::vector<std::string> Pieces(size_t from) {
    std::vector<std::string> pieces;
    std::string piece;
    for (const char c : Shown().substr(from)) {
      if (c == '\r' || c == '\n') {
        if (!piece.empty()) pieces.push_back(piece);
        piece.clear();
      } else {
        piece += c;
      }
    }
    if (!piece.empty()) pieces.push_back(piece);
    return pieces;
  }

  sim::testing::TempDir dir_;
  const std::string file_ = dir_.File("progress.txt");
  std::FILE* out_ = std::fopen(file_.c_str(), "wb");
  std::atomic<int> columns_{0};
};

TEST_F(ProgressViewTest, TheBarFitsTheTerminalAsItIsResized) {
  ASSERT_NE(out_, nullptr);
  ProgressView view(out_, ProgressView::Mode::kBar, false, [this] { return columns_.load(); });
  view.Open();
  const std::string text = "Downloading data to flash sector 12 of 65...";
  struct Case {
    int columns;
    size_t bar;  // the bar's cells, between its brackets
  };
  int pos = 0;
  for (const Case c : {Case{0, 30}, Case{200, 30}, Case{80, 27}, Case{60, 10}, Case{30, 10},
                       Case{12, 3}, Case{1, 0}}) {
    columns_ = c.columns;
    const size_t from = Shown().size();
    view.Status(text, 100, pos += 5, 1);  // a new position: always redrawn
    const std::vector<std::string> pieces = Pieces(from);
    for (const std::string& piece : pieces) {
      if (c.columns > 0) {
        EXPECT_LT(piece.size(), static_cast<size_t>(c.columns)) << c.columns << ": " << piece;
      }
    }
    if (c.bar == 0) continue;
    ASSERT_FALSE(pieces.empty()) << c.columns;
    const std::string& last = pieces.back();
    EXPECT_EQ(last.find(']'), c.bar + 1) << c.columns << ": " << last;
    EXPECT_EQ(last.find("%"), c.bar + 6) << c.columns << ": " << last;
    if (c.columns == 0 || c.columns >= 100) {
      EXPECT_EQ(last.find(text), c.bar + 8) << last;
    }
  }

  // A resize alone is followed at the next tick.
  columns_ = 100;
  view.Status(text, 100, 50, 1);
  columns_ = 40;
  const size_t from = Shown().size();
  view.Tick();
  const std::vector<std::string> pieces = Pieces(from);
  ASSERT_FALSE(pieces.empty());
  for (const std::string& piece : pieces) EXPECT_LT(piece.size(), 40u) << piece;
}

TEST_F(ProgressViewTest, NothingButNotesFollowsAStop) {
  ASSERT_NE(out_, nullptr);
  for (const ProgressView::Mode mode : {ProgressView::Mode::kBar, ProgressView::Mode::kLines}) {
    ProgressView view(out_, mode, true);
    view.Open();
    view.Status("Erasing flash sector 1 of 2...", 100, 10, 5);
    view.SetAutoAdvance(true);
    view.Stopped("quillon-flash: stopping the download");
    const size_t from = Shown().size();
    view.Status("Selecting flash sector 2 of 2...", 100, 20, 5);
    view.SetRangePos(100, 50);
    view.Tick();
    view.Note("quillon-flash: a note");
    view.Close();
    EXPECT_EQ(Shown().substr(from), "quillon-flash: a note\n");
  }
}

}  // namespace
}  // namespace quillon::cli
