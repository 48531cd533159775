#include "cli/progress_view.h"

#include <algorithm>

namespace quillon::cli {

void ProgressView::Open() {
  std::lock_guard lock(mutex_);
  open_ = true;
}

void ProgressView::Status(const std::string& text, int range, int pos, int step) {
  std::lock_guard lock(mutex_);
  const bool newText = text != text_;
  text_ = text;
  range_ = range;
  pos_ = pos;
  step_ = step;
  if (mode_ == Mode::kLines && (newText || verbose_)) {
    if (verbose_) {
      std::fprintf(out_, "%s [%d/%d, step %d]\n", text.c_str(), pos, range, step);
    } else {
      std::fprintf(out_, "%s\n", text.c_str());
    }
    std::fflush(out_);
  }
  DrawLocked();
}

void ProgressView::SetRangePos(int range, int pos) {
  std::lock_guard lock(mutex_);
  range_ = range;
  pos_ = pos;
  DrawLocked();
}

void ProgressView::SetAutoAdvance(bool on) {
  std::lock_guard lock(mutex_);
  autoAdvance_ = on;
}

void ProgressView::Tick() {
  std::lock_guard lock(mutex_);
  if (!open_) return;
  if (autoAdvance_ && pos_ < range_) pos_ = std::min(range_, pos_ + step_);
  DrawLocked();
}

void ProgressView::Close() {
  std::lock_guard lock(mutex_);
  if (mode_ == Mode::kBar && drawn_) {
    std::fputc('\n', out_);
    std::fflush(out_);
  }
  open_ = false;
  drawn_ = false;
}

void ProgressView::Note(const std::string& text) {
  std::lock_guard lock(mutex_);
  if (mode_ == Mode::kBar && drawn_) std::fputc('\n', out_);
  std::fprintf(out_, "%s\n", text.c_str());
  std::fflush(out_);
  drawn_ = false;
  lastLine_.clear();
  DrawLocked();
}

void ProgressView::DrawLocked() {
  if (mode_ != Mode::kBar || !open_) return;
  constexpr int kWidth = 30;
  const int percent = range_ > 0 ? std::clamp(pos_ * 100 / range_, 0, 100) : 0;
  const int filled = percent * kWidth / 100;
  std::string line = "\r[" + std::string(static_cast<size_t>(filled), '#') +
                     std::string(static_cast<size_t>(kWidth - filled), '.') + "] ";
  char number[8];
  std::snprintf(number, sizeof number, "%3d%% ", percent);
  line += number + text_;
  if (line == lastLine_) return;
  // Pad to wipe a longer line drawn before.
  const size_t visible = line.size();
  if (lastLine_.size() > visible) line += std::string(lastLine_.size() - visible, ' ');
  std::fputs(line.c_str(), out_);
  std::fflush(out_);
  lastLine_ = line.substr(0, visible);
  drawn_ = true;
}

}  // namespace quillon::cli
