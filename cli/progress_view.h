#pragma once
// The progress of a download on a terminal: a bar redrawn in place on a
// terminal, one line per step otherwise. It follows the progress window's
// rules: range, position, an automatic advance by the step every 500 ms.

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

namespace quillon::cli {

class ProgressView {
 public:
  enum class Mode { kQuiet, kLines, kBar };
  // `columns` gives the terminal's width for the bar, read again at each
  // redraw (0: not known, the bar is drawn at its full width).
  ProgressView(std::FILE* out, Mode mode, bool verbose, std::function<int()> columns = nullptr)
      : out_(out), mode_(mode), verbose_(verbose), columns_(std::move(columns)) {}

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
};

}  // namespace quillon::cli
