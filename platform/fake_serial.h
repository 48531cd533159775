#pragma once
// An in-memory serial line, the built-in emulator's (and the tests'). What the
// host writes goes to a peer (the printer side); what the peer answers is
// queued with the time at which each byte reaches the host. Reads honour the
// Win32 time-out rules on the process clock.

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "platform/device.h"

namespace quillon::platform {

// The far end of a fake line.
class SerialPeer {
 public:
  virtual ~SerialPeer() = default;
  // Bytes the host wrote, at monotonic time nowMs. Called on the writing
  // thread; the peer answers through the line's Deliver.
  virtual void OnHostBytes(const uint8_t* data, size_t n, int64_t nowMs) = 0;
  // The host closed the line.
  virtual void OnHostClosed() {}
};

class FakeSerialLine : public std::enable_shared_from_this<FakeSerialLine> {
 public:
  // Make lines with std::make_shared: the devices opened on a line share it.
  FakeSerialLine() = default;
  FakeSerialLine(const FakeSerialLine&) = delete;
  FakeSerialLine& operator=(const FakeSerialLine&) = delete;

  void SetPeer(std::shared_ptr<SerialPeer> peer);
  // Queues bytes for the host, each reaching it at `atMs` (monotonic).
  void Deliver(const uint8_t* data, size_t n, int64_t atMs);
  void Deliver(const std::vector<uint8_t>& data, int64_t atMs) {
    Deliver(data.data(), data.size(), atMs);
  }

  // Knobs of the host side.
  // At most this many bytes are taken per write call (the rest times out).
  void SetWriteLimit(uint32_t bytesPerCall);
  // Write calls fail (as a broken driver would).
  void SetWriteFails(bool fails);
  // SetState fails.
  void SetStateFails(bool fails);

  // What the host did.
  std::vector<uint8_t> Written();
  std::vector<uint32_t> WriteCallSizes();
  Dcb State();
  CommTimeouts Timeouts();
  int SetStateCalls();
  bool Closed();

  // The device object to register as the host's handle.
  std::shared_ptr<SerialDevice> Device();
  // Registers a new device on this line and returns its handle.
  Handle Open();

 private:
  friend class FakeSerialDevice;
  struct Pending {
    uint8_t byte;
    int64_t atMs;
  };
  // All guarded by the clock's lock (see Clock::Update).
  std::shared_ptr<SerialPeer> peer_;
  std::deque<Pending> rx_;
  uint64_t rxGeneration_ = 0;
  std::vector<uint8_t> written_;
  std::vector<uint32_t> writeCalls_;
  uint32_t writeLimit_ = 0xFFFFFFFF;
  bool writeFails_ = false;
  bool stateFails_ = false;
  Dcb dcb_{};
  CommTimeouts timeouts_{};
  int setStateCalls_ = 0;
  bool closed_ = false;
};

}  // namespace quillon::platform
