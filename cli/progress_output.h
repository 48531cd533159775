#pragma once
// Where the progress of a download is written: standard error, but through a
// stream that never blocks. A standard error that nobody reads (a full pipe,
// a terminal stopped with Ctrl-S) must not hold the download up between a
// command and its answer; what cannot be passed on is lost, as output that
// cannot be written is.

#include <cstdio>
#include <memory>

namespace quillon::cli {

class ProgressOutput {
 public:
  explicit ProgressOutput(std::FILE* to);
  // Passes on what is left, waiting for it at most a second.
  ~ProgressOutput();
  ProgressOutput(const ProgressOutput&) = delete;
  ProgressOutput& operator=(const ProgressOutput&) = delete;

  // The stream to write to (`to` itself where there is no need for more).
  std::FILE* Stream() const { return stream_; }

 private:
  struct Forwarder;
  std::shared_ptr<Forwarder> forwarder_;
  std::FILE* stream_;
};

}  // namespace quillon::cli
