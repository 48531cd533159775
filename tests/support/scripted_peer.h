#pragma once
// A far end for a fake serial line that answers from a script: for each host
// write it calls a function that may deliver bytes back.

#include <functional>
#include <memory>
#include <vector>

#include "platform/fake_serial.h"

namespace quillon::testing {

class ScriptedPeer : public platform::SerialPeer {
 public:
  using Reply = std::function<void(const std::vector<uint8_t>& chunk, int64_t nowMs)>;
  explicit ScriptedPeer(Reply reply) : reply_(std::move(reply)) {}
  void OnHostBytes(const uint8_t* data, size_t n, int64_t nowMs) override {
    if (reply_) reply_(std::vector<uint8_t>(data, data + n), nowMs);
  }

 private:
  Reply reply_;
};

// Makes a line whose far end answers through `reply`.
inline std::shared_ptr<platform::FakeSerialLine> ScriptedLine(ScriptedPeer::Reply reply) {
  auto line = std::make_shared<platform::FakeSerialLine>();
  line->SetPeer(std::make_shared<ScriptedPeer>(std::move(reply)));
  return line;
}

}  // namespace quillon::testing
