#pragma once
// The progress of a download on a terminal: a bar redrawn in place on a
// terminal, one line per step otherwise. It follows the progress window's
// rules: range, position, an automatic advance by the step every 500 ms.
// Given the download's estimate, the bar shows the time left; for programs,
// the progress can be JSON lines instead.

#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "app/download_estimate.h"

namespace quillon::cli {

class ProgressView {
 public:
  // kJson: a JSON object per line at each new status text and at most once
  // a second between them (elapsed_s, status, percent of the expected time,
  // left_s); notes are objects with elapsed_s and note.
  enum class Mode { kQuiet, kLines, kBar, kJson };
  // `columns` gives the terminal's width for the bar, read again at each
  // redraw (0: not known, the bar is drawn at its full width).
  ProgressView(std::FILE* out, Mode mode, bool verbose, std::function<int()> columns = nullptr)
      : out_(out), mode_(mode), verbose_(verbose), columns_(std::move(columns)) {}

  // The download's estimate, and the time since its launch began.
  void Follow(app::TimeLeft timeLeft, std::function<int64_t()> elapsedMs);
  void Open();
  void Status(const std::string& text, int range, int pos, int step);
  void SetRangePos(int range, int pos);
  void SetAutoAdvance(bool on);
  // The 500 ms refresh: advances by the step while the automatic advance is
  // on and the position is below the range.
  void Tick();
  void Close();
  // A line of its own between redraws (warnings).
  void Note(const std::string& text);
  // The note that the download is being stopped: no progress is shown after
  // it, only further notes.
  void Stopped(const std::string& text);

 private:
  void DrawLocked();
  void NoteLocked(const std::string& text);
  void JsonLocked();
  int64_t ElapsedLocked() const { return elapsed_ ? elapsed_() : 0; }

  std::mutex mutex_;
  std::FILE* out_;
  const Mode mode_;
  const bool verbose_;
  const std::function<int()> columns_;
  bool stopped_ = false;
  bool open_ = false;
  bool drawn_ = false;
  bool autoAdvance_ = false;
  std::string text_;
  std::string lastLine_;
  int range_ = 0, pos_ = 0, step_ = 0;
  std::optional<app::TimeLeft> left_;
  std::function<int64_t()> elapsed_;
  int64_t lastJsonMs_ = 0;
};

}  // namespace quillon::cli
