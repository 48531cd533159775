#pragma once
// Link: the way to the printer over one interface, for one download. It
// owns the open device, the user's stop request, and on the parallel port
// and USB the answer buffer, its event and the receive thread that fills
// them. The download object owns its link; nothing of it is process-wide.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "platform/device.h"
#include "platform/event.h"

namespace quillon::ports {

// The three ways to the printer.
enum class Interface { kSerial, kParallel, kUsb };

// The answer buffer: an answer longer than this is cut down to it.
inline constexpr int kAnswerBufferSize = 300;

namespace timing {
// Between the write calls of a serial or parallel buffer, and how many calls
// one buffer may take.
inline constexpr uint32_t kAfterWriteCallMs = 100;
inline constexpr int kWriteCalls = 3;
// After the USB printer was reconnected, before the chunk goes again.
inline constexpr uint32_t kAfterReconnectMs = 1000;
// A USB receive thread's pace: its start pause, the longest wait of one
// read, and the pause after a read that completed.
inline constexpr uint32_t kUsbReadPaceMs = 50;
// A parallel receive thread's pause after a read (and, at most, after one
// that found nothing).
inline constexpr uint32_t kParallelReadPauseMs = 750;
// The serial line's read time-outs while the write time-outs are set (the
// line check): per byte, and the constant part.
inline constexpr uint32_t kLineCheckReadPerByteMs = 2000;
inline constexpr uint32_t kLineCheckReadConstantMs = 3000;
}  // namespace timing

class Link {
 public:
  explicit Link(Interface iface);
  ~Link();
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  Interface Kind() const { return iface_; }

  // The open device: the serial or parallel port, or the USB printer. A USB
  // link starts with platform::kNoHandle (no printer looked for yet), the
  // others with kInvalidHandle.
  platform::Handle Handle() const { return handle_.load(); }
  void SetHandle(platform::Handle handle) { handle_ = handle; }
  // Closes the device, if one is open; the handle becomes kInvalidHandle.
  void Close();

  // Writes a buffer. The serial line and the parallel port: at most three
  // write calls, each followed by a 100 ms pause; a buffer that needs a
  // third call has failed. USB: chunks of at most platform::kUsbChunk bytes;
  // a printer that has gone (an invalid handle) is reconnected and the chunk
  // that failed written again a second later. A stop request fails the
  // write. True when all of it went out.
  bool WriteLine(const uint8_t* data, int length);
  bool WriteUsb(const uint8_t* data, int length);

  // The parallel port and USB: clears the first `bytes` bytes of the answer
  // buffer, starts a receive thread for them and waits for them up to
  // `seconds` whole seconds of the wall clock (at least N, less than N + 1).
  // The receive thread is stopped and gone when this returns. True when the
  // whole answer came.
  bool AwaitAnswer(int bytes, int seconds);
  // Whether any of the first `bytes` bytes of the answer buffer is set.
  bool AnswerStarted(int bytes);
  uint8_t AnswerByte(int at);

  // The user's stop request (Cancel, Ctrl-C), from any thread.
  void RequestStop() { stop_ = true; }
  bool StopRequested() const { return stop_.load(); }
  void ClearStop() { stop_ = false; }

  // What brings a USB printer back after a write found it gone; true when
  // it did. Without one, such a write fails.
  void SetReconnect(std::function<bool()> reconnect) { reconnect_ = std::move(reconnect); }

  // The receive threads' side. The device lock is held around every write
  // and every read of the parallel reverse channel.
  std::mutex& DeviceMutex() { return deviceMutex_; }
  // Puts `n` received bytes into the answer buffer at `at`; a thread that
  // was stopped cannot write into the next command's answer meanwhile.
  void StoreAnswer(int at, const uint8_t* data, uint32_t n);
  // Set by the receive thread once the whole answer is in.
  platform::Event& AnswerEvent() { return answerEvent_; }

 private:
  const Interface iface_;
  std::atomic<platform::Handle> handle_;
  std::atomic<bool> stop_{false};
  std::function<bool()> reconnect_;
  std::mutex deviceMutex_;
  std::mutex answerMutex_;
  uint8_t answer_[kAnswerBufferSize] = {};  // guarded by answerMutex_
  platform::Event answerEvent_{true};       // manual reset, created clear
};

}  // namespace quillon::ports
