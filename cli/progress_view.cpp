#include "cli/progress_view.h"

#include <algorithm>
#include <cstdint>
#include <nlohmann/json.hpp>

#include "cli/plan.h"

namespace quillon::cli {

void ProgressView::Follow(app::TimeLeft timeLeft, std::function<int64_t()> elapsedMs) {
  std::lock_guard lock(mutex_);
  left_.emplace(std::move(timeLeft));
  elapsed_ = std::move(elapsedMs);
}

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
  if (newText && left_) left_->Status(text, ElapsedLocked());
  if (mode_ == Mode::kJson && newText && !stopped_) JsonLocked();
  if (mode_ == Mode::kLines && !stopped_ && (newText || verbose_)) {
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
  if (mode_ == Mode::kJson && !stopped_ && ElapsedLocked() - lastJsonMs_ >= 1000) JsonLocked();
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
  NoteLocked(text);
}

void ProgressView::Stopped(const std::string& text) {
  std::lock_guard lock(mutex_);
  stopped_ = true;
  NoteLocked(text);
}

void ProgressView::NoteLocked(const std::string& text) {
  if (mode_ == Mode::kJson) {
    const nlohmann::ordered_json line = {
        {"elapsed_s", static_cast<double>(ElapsedLocked() / 100) / 10}, {"note", text}};
    std::fprintf(out_, "%s\n",
                 line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    std::fflush(out_);
    return;
  }
  if (mode_ == Mode::kBar && drawn_) std::fputc('\n', out_);
  std::fprintf(out_, "%s\n", text.c_str());
  std::fflush(out_);
  drawn_ = false;
  lastLine_.clear();
  DrawLocked();
}

void ProgressView::JsonLocked() {
  const int64_t elapsed = ElapsedLocked();
  lastJsonMs_ = elapsed;
  nlohmann::ordered_json line = {{"elapsed_s", static_cast<double>(elapsed / 100) / 10},
                                 {"status", text_}};
  if (left_ && left_->TotalMs() > 0) {
    const int64_t left = left_->LeftMs(elapsed);
    line["percent"] = (left_->TotalMs() - left) * 100 / left_->TotalMs();
    line["left_s"] = (left + 999) / 1000;
  }
  std::fprintf(out_, "%s\n",
               line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  std::fflush(out_);
}

void ProgressView::DrawLocked() {
  if (mode_ != Mode::kBar || !open_ || stopped_) return;
  // The line stays short of the last column, so that the terminal never
  // wraps it: the bar narrows to 10 cells first, then the text is cut.
  constexpr size_t kFullBar = 30;
  constexpr size_t kAround = 8;  // "[", "] " and "100% "
  const int columns = columns_ ? columns_() : 0;
  const size_t room = columns > 0 ? static_cast<size_t>(columns - 1) : SIZE_MAX;
  constexpr size_t kNarrowBar = 10;
  // The time left goes before the text, which is cut first.
  const std::string text =
      left_ ? Duration(left_->LeftMs(ElapsedLocked())) + " left  " + text_ : text_;
  const size_t spare = room > kAround + text.size() ? room - kAround - text.size() : 0;
  size_t bar = std::clamp(spare, kNarrowBar, kFullBar);
  if (kAround + bar > room) bar = room > kAround ? room - kAround : 0;
  const int percent = range_ > 0 ? std::clamp(pos_ * 100 / range_, 0, 100) : 0;
  const size_t filled = static_cast<size_t>(percent) * bar / 100;
  char number[8];
  std::snprintf(number, sizeof number, "%3d%% ", percent);
  std::string line(1, '[');
  line.append(filled, '#').append(bar - filled, '.').append("] ").append(number).append(text);
  if (line.size() > room) line.resize(room);
  if (line == lastLine_) return;
  // Pad to wipe a longer line drawn before, within the room there is.
  const size_t visible = line.size();
  std::string drawn(1, '\r');
  drawn += line;
  if (lastLine_.size() > visible) {
    drawn.append(std::min(lastLine_.size(), room) - visible, ' ');
  }
  std::fputs(drawn.c_str(), out_);
  std::fflush(out_);
  lastLine_ = line;
  drawn_ = true;
}

}  // namespace quillon::cli
