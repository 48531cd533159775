#include "platform/fake_serial.h"

#include <algorithm>

#include "platform/clock.h"

namespace quillon::platform {

class FakeSerialDevice final : public SerialDevice {
 public:
  explicit FakeSerialDevice(std::shared_ptr<FakeSerialLine> line)
      : keep_(std::move(line)), line_(*keep_) {}

  bool GetState(Dcb& dcb) override {
    GetClock().Update([&] { dcb = line_.dcb_; });
    return true;
  }
  bool SetState(const Dcb& dcb) override {
    bool ok = false;
    GetClock().Update([&] {
      ++line_.setStateCalls_;
      ok = !line_.stateFails_;
      if (ok) line_.dcb_ = dcb;
    });
    if (!ok) SetLastError(kErrorGenFailure);
    return ok;
  }
  bool GetTimeouts(CommTimeouts& t) override {
    GetClock().Update([&] { t = line_.timeouts_; });
    return true;
  }
  bool SetTimeouts(const CommTimeouts& t) override {
    GetClock().Update([&] { line_.timeouts_ = t; });
    return true;
  }

  bool Read(uint8_t* data, uint32_t n, uint32_t& got) override;
  bool Write(const uint8_t* data, uint32_t n, uint32_t& written) override;

  bool Purge(uint32_t flags) override {
    if (flags & kPurgeRxClear) {
      const int64_t now = GetClock().NowMs();
      GetClock().Update([&] {
        std::erase_if(line_.rx_, [&](const FakeSerialLine::Pending& p) { return p.atMs <= now; });
      });
    }
    return true;
  }
  void Close() override {
    std::shared_ptr<SerialPeer> peer;
    GetClock().Update([&] {
      line_.closed_ = true;
      peer = line_.peer_;
    });
    if (peer) peer->OnHostClosed();
  }

 private:
  std::shared_ptr<FakeSerialLine> keep_;
  FakeSerialLine& line_;
};

bool FakeSerialDevice::Read(uint8_t* data, uint32_t n, uint32_t& got) {
  Clock& clock = GetClock();
  CommTimeouts timeouts;
  clock.Update([&] { timeouts = line_.timeouts_; });
  const ReadPlan plan = PlanRead(timeouts, n);
  const int64_t start = clock.NowMs();
  int64_t lastByteAt = start;
  got = 0;
  for (;;) {
    const int64_t now = clock.NowMs();
    int64_t nextArrival = kForever;
    uint64_t generation = 0;
    clock.Update([&] {
      while (got < n && !line_.rx_.empty() && line_.rx_.front().atMs <= now) {
        data[got++] = line_.rx_.front().byte;
        line_.rx_.pop_front();
        lastByteAt = now;
      }
      if (!line_.rx_.empty()) nextArrival = line_.rx_.front().atMs;
      generation = line_.rxGeneration_;
    });
    if (got == n || plan.returnAtOnce || (plan.returnOnAnyByte && got > 0)) return true;
    int64_t deadline = kForever;
    if (plan.totalMs >= 0) deadline = start + plan.totalMs;
    if (plan.intervalMs >= 0 && got > 0)
      deadline = std::min(deadline, lastByteAt + plan.intervalMs);
    if (now >= deadline) return true;  // timed out: success with what came
    const int64_t wake = std::min(deadline, nextArrival);
    clock.WaitUntil(wake, [&] { return line_.rxGeneration_ != generation; });
  }
}

bool FakeSerialDevice::Write(const uint8_t* data, uint32_t n, uint32_t& written) {
  Clock& clock = GetClock();
  bool fails = false;
  std::shared_ptr<SerialPeer> peer;
  written = 0;
  clock.Update([&] {
    line_.writeCalls_.push_back(n);
    fails = line_.writeFails_;
    if (fails) return;
    written = std::min(n, line_.writeLimit_);
    line_.written_.insert(line_.written_.end(), data, data + written);
    peer = line_.peer_;
  });
  if (fails) {
    SetLastError(kErrorGenFailure);
    return false;
  }
  if (written < n) {
    // The rest does not go out within the write time-outs.
    CommTimeouts t;
    clock.Update([&] { t = line_.timeouts_; });
    const int64_t limit = PlanWriteMs(t, n);
    if (limit > 0) clock.WaitUntil(clock.NowMs() + limit, [] { return false; });
  }
  if (peer && written > 0) peer->OnHostBytes(data, written, clock.NowMs());
  return true;
}

void FakeSerialLine::SetPeer(std::shared_ptr<SerialPeer> peer) {
  GetClock().Update([&] { peer_ = std::move(peer); });
}

void FakeSerialLine::Deliver(const uint8_t* data, size_t n, int64_t atMs) {
  GetClock().Update([&] {
    for (size_t i = 0; i < n; ++i) {
      // Bytes keep their order: one never overtakes the byte before it.
      const int64_t at = rx_.empty() ? atMs : std::max(atMs, rx_.back().atMs);
      rx_.push_back({data[i], at});
    }
    ++rxGeneration_;
  });
}

void FakeSerialLine::SetWriteLimit(uint32_t bytesPerCall) {
  GetClock().Update([&] { writeLimit_ = bytesPerCall; });
}
void FakeSerialLine::SetWriteFails(bool fails) {
  GetClock().Update([&] { writeFails_ = fails; });
}
void FakeSerialLine::SetStateFails(bool fails) {
  GetClock().Update([&] { stateFails_ = fails; });
}

std::vector<uint8_t> FakeSerialLine::Written() {
  std::vector<uint8_t> out;
  GetClock().Update([&] { out = written_; });
  return out;
}
std::vector<uint32_t> FakeSerialLine::WriteCallSizes() {
  std::vector<uint32_t> out;
  GetClock().Update([&] { out = writeCalls_; });
  return out;
}
Dcb FakeSerialLine::State() {
  Dcb out;
  GetClock().Update([&] { out = dcb_; });
  return out;
}
CommTimeouts FakeSerialLine::Timeouts() {
  CommTimeouts out;
  GetClock().Update([&] { out = timeouts_; });
  return out;
}
int FakeSerialLine::SetStateCalls() {
  int out = 0;
  GetClock().Update([&] { out = setStateCalls_; });
  return out;
}
bool FakeSerialLine::Closed() {
  bool out = false;
  GetClock().Update([&] { out = closed_; });
  return out;
}

std::shared_ptr<SerialDevice> FakeSerialLine::Device() {
  GetClock().Update([&] { closed_ = false; });
  return std::make_shared<FakeSerialDevice>(shared_from_this());
}

Handle FakeSerialLine::Open() {
  return RegisterDevice(Device());
}

}  // namespace quillon::platform
