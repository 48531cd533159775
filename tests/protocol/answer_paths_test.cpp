// The printer commands over USB and the parallel port: how each frame is cut
// into writes, and how its answer is collected by a receive thread of the
// link, against the printer emulator or answers the test queues.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/device.h"
#include "platform/fake_printer_port.h"
#include "platform/fake_serial.h"
#include "platform/window_messages.h"
#include "ports/link.h"
#include "protocol/crc.h"
#include "protocol/flash_printer.h"
#include "protocol/frames.h"
#include "sim/emulated_line.h"
#include "support/counting_device.h"
#include "support/scripted_peer.h"
#include "support/virtual_clock.h"

namespace quillon::protocol {
namespace {

using Bytes = std::vector<uint8_t>;
using Sizes = std::vector<uint32_t>;
using Times = std::vector<int64_t>;
using sim::CommandKind;

// The virtual clock, with a count of the waits each thread makes on it and
// the times threads (here: receive threads) start and end.
class CountingClock final : public platform::Clock {
 public:
  explicit CountingClock(platform::VirtualClock& inner) : inner_(inner) {}

  int64_t NowMs() override { return inner_.NowMs(); }
  int64_t WallMs() override { return inner_.WallMs(); }
  void Pause(uint32_t ms) override {
    Count();
    inner_.Pause(ms);
  }
  void WaitSeconds(int seconds) override {
    Count();
    inner_.WaitSeconds(seconds);
  }
  bool WaitUntil(int64_t deadlineMs, const std::function<bool()>& ready) override {
    Count();
    return inner_.WaitUntil(deadlineMs, ready);
  }
  void Update(const std::function<void()>& change) override { inner_.Update(change); }
  void ThreadStarting() override {
    Note(starts_);
    inner_.ThreadStarting();
  }
  void ThreadEnded() override {
    Note(ends_);
    inner_.ThreadEnded();
  }

  int Waits(std::thread::id thread) {
    std::lock_guard lock(mutex_);
    return waits_[thread];
  }
  Times Starts() {
    std::lock_guard lock(mutex_);
    return starts_;
  }
  Times Ends() {
    std::lock_guard lock(mutex_);
    return ends_;
  }

 private:
  void Note(Times& times) {
    const int64_t now = inner_.NowMs();
    std::lock_guard lock(mutex_);
    times.push_back(now);
  }
  void Count() {
    std::lock_guard lock(mutex_);
    ++waits_[std::this_thread::get_id()];
  }

  platform::VirtualClock& inner_;
  std::mutex mutex_;
  std::map<std::thread::id, int> waits_;  // guarded by mutex_
  Times starts_;                          // guarded by mutex_
  Times ends_;                            // guarded by mutex_
};

class AnswerPaths : public ::testing::Test {
 protected:
  platform::VirtualClock virtualClock;
  CountingClock clock{virtualClock};
  platform::ScopedClock scope{clock};
  std::shared_ptr<platform::PrinterPortKnobs> knobs =
      std::make_shared<platform::PrinterPortKnobs>();
  sim::EmulatorOptions options;
  std::shared_ptr<platform::FakeSerialLine> line;
  std::shared_ptr<sim::PrinterEmulator> emulator;
  // Scripted far end: once the host has written `answerAfter` bytes in all,
  // `answer` comes back 5 ms later.
  Bytes answer;
  size_t answerAfter = 0;
  size_t total = 0;
  Times writeTimes;  // of every write that reached the far end
  // The calls that reach the printer's ports.
  std::shared_ptr<testing::DeviceCalls> portCalls = std::make_shared<testing::DeviceCalls>();
  std::unique_ptr<CFlashPrinter> printer;

  void TearDown() override {
    if (printer) printer->ClosePort();
  }

  // The far end: the emulated printer, or the test's script.
  void Emulated() {
    options.bootDelayMs = 0;
    const sim::EmulatedLine e = sim::MakeEmulatedLine(options);
    line = e.line;
    emulator = e.printer;
  }
  void Scripted() {
    line = testing::ScriptedLine([this](const Bytes& chunk, int64_t now) {
      total += chunk.size();
      writeTimes.push_back(now);
      if (!answer.empty() && total == answerAfter) line->Deliver(answer, now + 5);
    });
  }
  void Reply(size_t frameBytes, Bytes a) {
    answer = std::move(a);
    answerAfter = total + frameBytes;
  }

  // The printer as a USB printer or on a parallel port; the emulated one is
  // switched into download mode first.
  void OverUsb() { Connect(ports::Interface::kUsb, platform::DeviceClass::kUsbPrinter); }
  void OverParallel() { Connect(ports::Interface::kParallel, platform::DeviceClass::kParallel); }
  void Over(bool usb) { usb ? OverUsb() : OverParallel(); }
  void Connect(ports::Interface iface, platform::DeviceClass device) {
    if (printer) printer->ClosePort();
    printer = std::make_unique<CFlashPrinter>(iface);
    printer->link.SetHandle(platform::RegisterDevice(testing::Counted(
        std::make_shared<platform::FakePrinterPort>(line->Device(), device, knobs), portCalls)));
    if (emulator) {
      ASSERT_EQ(printer->SwitchToDownloadMode(kSwitchToDownloadFrame, 3), 1);
    }
  }
  void Fault(CommandKind kind, int nth, uint8_t byte, bool silent = false) {
    options.faults.push_back({kind, nth, silent, byte});
  }

  int Select(int sector) {
    return printer->SelectFlashSector(kSelectSectorPrefix, 2, static_cast<uint8_t>(sector));
  }
  int Erase(int sector) {
    return printer->EraseFlashSector(kEraseSectorPrefix, 2, static_cast<uint8_t>(sector));
  }
  int LineStatus(int& stdModel) { return printer->CheckLineStatus(kLineStatusFrame, 2, stdModel); }
  int Checksum(uint16_t& value) {
    return printer->AcknowledgeChecksum(kAckChecksumFrame, 2, value);
  }
  int Recalc(uint16_t& value) { return printer->RecalculateCrc(kRecalculateCrcFrame, 2, value); }
  // A data block of `pieces.size()` pieces, all as long as the first.
  int Block(std::vector<Bytes>& pieces) {
    uint8_t* p[4] = {};
    for (size_t j = 0; j < pieces.size(); ++j) p[j] = pieces[j].data();
    const int pieceLength = static_cast<int>(pieces.front().size());
    return printer->SendDataBlock(kDataBlockPrefix, 2, 0, static_cast<uint32_t>(pieceLength) * 4u,
                                  pieceLength, p, nullptr);
  }

  // The write calls (their sizes) and the bytes on the line since `calls`
  // calls and `bytes` bytes.
  Sizes WritesSince(size_t calls) {
    const Sizes all = knobs->WriteCallSizes();
    return Sizes(all.begin() + static_cast<std::ptrdiff_t>(calls), all.end());
  }
  Bytes BytesSince(size_t bytes) {
    const Bytes all = line->Written();
    return Bytes(all.begin() + static_cast<std::ptrdiff_t>(bytes), all.end());
  }
  // When the receive threads started and ended: one each per answer.
  Times Starts() { return clock.Starts(); }
  Times Stops() { return clock.Ends(); }
  // The bytes each receive thread asked for in its first read.
  std::vector<int> StartBytes() {
    std::vector<int> out;
    std::vector<int> seen;
    for (const auto& r : portCalls->Reads()) {
      if (std::find(seen.begin(), seen.end(), r.thread) != seen.end()) continue;
      seen.push_back(r.thread);
      out.push_back(static_cast<int>(r.bytes));
    }
    return out;
  }
  Times Pauses() { return virtualClock.Timeline(std::this_thread::get_id()); }
  // Lets the clock run until `ms` milliseconds into a second of the wall
  // clock.
  void PauseUntilPhase(int64_t ms) {
    const int64_t wait = (ms - virtualClock.WallMs() % 1000 + 1000) % 1000;
    if (wait > 0) platform::Pause(static_cast<uint32_t>(wait));
  }
  static Bytes Pattern(size_t n, uint8_t seed) {
    Bytes data(n);
    for (size_t i = 0; i < n; ++i) data[i] = static_cast<uint8_t>(i * 31 + seed + (i >> 8));
    return data;
  }
};

TEST_F(AnswerPaths, AUsbNakFailsTheCommandAtOnce) {
  Fault(CommandKind::kSelect, 1, kNak);
  Emulated();
  OverUsb();
  const int64_t t0 = platform::NowMs();
  EXPECT_EQ(Select(5), 0);
  EXPECT_LE(platform::NowMs() - t0, 100);
  EXPECT_EQ(StartBytes(), (std::vector<int>{1}));
  EXPECT_EQ(Stops().size(), 1u);

  EXPECT_EQ(Select(5), 1);  // the next one is answered ACK
  EXPECT_EQ(Stops().size(), 2u);
}

TEST_F(AnswerPaths, AParallelNakFailsTheCommandAfterOneRead) {
  Fault(CommandKind::kErase, 1, kNak);
  Emulated();
  OverParallel();
  const int64_t t0 = platform::NowMs();
  EXPECT_EQ(Erase(5), 0);
  // Two writes, then the read that takes the answer and its 750 ms pause.
  EXPECT_LE(platform::NowMs() - t0, 100 + 100 + 750 + 50);
  EXPECT_EQ(Starts().size(), 1u);
  EXPECT_EQ(Stops().size(), 1u);
  EXPECT_EQ(Erase(5), 1);
}

TEST_F(AnswerPaths, AUsbCommandWithoutAnswerFailsAfter30To31Seconds) {
  options.silentFrom = 2;  // the switch is taken, then nothing
  Emulated();
  OverUsb();
  for (const int64_t phase : {0, 1, 500, 999}) {
    // The wait begins `phase` ms into a second of the wall clock.
    PauseUntilPhase(phase);
    const size_t stops = Stops().size();
    EXPECT_EQ(Select(5), 0) << phase;
    ASSERT_FALSE(Starts().empty());
    const int64_t start = Starts().back();
    EXPECT_EQ(start % 1000, phase);
    // The receive thread was stopped when the time ran out: it ends within
    // one read's wait of 50 ms.
    const Times stopped = Stops();
    ASSERT_EQ(stopped.size(), stops + 1);
    EXPECT_GE(stopped.back() - start, 30000) << phase;
    EXPECT_LE(stopped.back() - start, 31000 + 50) << phase;
    // ...and no longer reads.
    const int reads = portCalls->read;
    platform::Pause(500);
    EXPECT_EQ(portCalls->read, reads) << phase;
  }
}

TEST_F(AnswerPaths, AParallelCommandWithoutAnswerFailsAfter30To31Seconds) {
  options.silentFrom = 2;
  Emulated();
  OverParallel();
  for (const int64_t phase : {0, 999}) {
    PauseUntilPhase(phase);
    EXPECT_EQ(Select(5), 0);
    ASSERT_FALSE(Starts().empty());
    const int64_t start = Starts().back();
    const Times stopped = Stops();
    ASSERT_FALSE(stopped.empty());
    EXPECT_GE(stopped.back() - start, 30000) << phase;
    EXPECT_LE(stopped.back() - start, 31000) << phase;
    const int reads = portCalls->read;
    platform::Pause(2000);
    EXPECT_EQ(portCalls->read, reads);
  }
  EXPECT_EQ(Stops().size(), 2u);
}

// The command sleeps on the answer event: while it waits, the device is read
// only by the receive thread, at its own pace, and the waiting thread makes a
// handful of clock waits.
TEST_F(AnswerPaths, TheAnswerWaitSleepsOnTheEvent) {
  options.silentFrom = 2;
  Emulated();
  OverUsb();
  const std::thread::id self = std::this_thread::get_id();
  int waits = clock.Waits(self);
  int reads = portCalls->read;
  int64_t t0 = platform::NowMs();
  EXPECT_EQ(Erase(5), 0);
  int64_t elapsed = platform::NowMs() - t0;
  ASSERT_GE(elapsed, 30000);
  EXPECT_LE(clock.Waits(self) - waits, 6);
  // One read per 50 ms after the receive thread's first 50 ms.
  EXPECT_GE(portCalls->read - reads, (elapsed - 100) / 50);
  EXPECT_LE(portCalls->read - reads, elapsed / 50 + 1);

  // The same over the parallel port, where the receive thread reads every
  // 750 ms.
  Emulated();
  OverParallel();
  waits = clock.Waits(self);
  reads = portCalls->read;
  t0 = platform::NowMs();
  EXPECT_EQ(Erase(5), 0);
  elapsed = platform::NowMs() - t0;
  ASSERT_GE(elapsed, 30000);
  // The two writes and their pauses, and the wait itself.
  EXPECT_LE(clock.Waits(self) - waits, 2 + 6);
  EXPECT_GE(portCalls->read - reads, (elapsed - 200) / 750);
  EXPECT_LE(portCalls->read - reads, elapsed / 750 + 1);
}

TEST_F(AnswerPaths, LineStatusNeedsTheStandardModelOverParallelAndOnlyTheAckOverUsb) {
  // The answer, and what comes of it over parallel and over USB: the
  // result and stdModel (7: left alone).
  struct Row {
    Bytes reply;
    int parallel;
    int usb;
  };
  const Row rows[] = {
      {{kAck, 0x41}, 0, 1},
      {{kAck, kStandardModel}, 1, 1},
      {{kNak, kStandardModel}, -1, -1},
      {{kNak}, -1, -1},
      {{kAck}, -1, -1},
      {{}, -1, -1},
  };
  for (const bool usb : {false, true}) {
    SCOPED_TRACE(usb ? "USB" : "parallel");
    Scripted();
    Over(usb);
    const size_t starts = StartBytes().size();
    const size_t stops = Stops().size();
    for (const Row& r : rows) {
      const int expected = usb ? r.usb : r.parallel;
      int stdModel = 7;
      Reply(2, r.reply);
      const int64_t t0 = platform::NowMs();
      EXPECT_EQ(LineStatus(stdModel), std::max(expected, 0)) << r.reply.size();
      EXPECT_EQ(stdModel, expected < 0 ? 7 : expected) << r.reply.size();
      // Over USB a whole answer fails at once, anything less after 4 to 5 s.
      const int64_t took = platform::NowMs() - t0;
      const bool whole = r.reply.size() == 2;
      EXPECT_TRUE(!usb || ((whole || took >= 4000) && took <= 1000 + 5000 + 50)) << took;
    }
    // One receive thread per command, each asking for both bytes, and
    // ended by it.
    EXPECT_EQ(Stops().size() - stops, 6u);
    const std::vector<int> all = StartBytes();
    EXPECT_EQ(std::vector<int>(all.begin() + static_cast<long>(starts), all.end()),
              std::vector<int>(6, 2));
  }
}

TEST_F(AnswerPaths, ParallelChecksumComesWithItsAckInOneAnswer) {
  Scripted();
  OverParallel();
  uint16_t value = 0x1234;
  Reply(2, {kAck, 0x3D, 0xBB});
  EXPECT_EQ(Checksum(value), 1);
  EXPECT_EQ(value, 0xBB3D);

  value = 0x1234;
  Reply(2, {kNak, 0x3D, 0xBB});
  EXPECT_EQ(Checksum(value), 0);
  EXPECT_EQ(value, 0x1234);
  Reply(2, {kNak});
  const int64_t t0 = platform::NowMs();
  EXPECT_EQ(Checksum(value), 0);
  EXPECT_GE(platform::NowMs() - t0, 50000);  // a whole answer was awaited
  EXPECT_EQ(value, 0x1234);
  EXPECT_EQ(StartBytes(), (std::vector<int>{3, 3, 3}));

  Reply(2, {kAck, 0x34, 0x12});
  value = 0;
  EXPECT_EQ(Recalc(value), 1);
  EXPECT_EQ(value, 0x1234);
  Reply(2, {0x41, 0x34, 0x12});
  value = 7;
  EXPECT_EQ(Recalc(value), 0);
  EXPECT_EQ(value, 7);
  EXPECT_EQ(StartBytes(), (std::vector<int>{3, 3, 3, 3, 3}));
}

TEST_F(AnswerPaths, UsbChecksumAndCrcAreAskedForTheirWaitAfterTheFrameAckFirst) {
  struct Row {
    const char* what;
    int64_t waitMs;
    uint8_t refusal;
    bool crc;
  };
  const Row rows[] = {{"checksum", 10000, kNak, false}, {"CRC", 50000, 0x41, true}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    const auto ask = [&](uint16_t& v) { return r.crc ? Recalc(v) : Checksum(v); };
    Scripted();
    OverUsb();
    const size_t frames = writeTimes.size();
    const size_t first = Starts().size();
    const size_t stops = Stops().size();
    uint16_t value = 0;
    Reply(2, {kAck, 0x34, 0x12});
    EXPECT_EQ(ask(value), 1);
    EXPECT_EQ(value, 0x1234);
    Times starts = Starts();
    ASSERT_EQ(starts.size(), first + 2);
    ASSERT_EQ(writeTimes.size(), frames + 1);
    // The ACK first, then the two value bytes in a receive of their own.
    const std::vector<int> bytes = StartBytes();
    EXPECT_EQ(std::vector<int>(bytes.end() - 2, bytes.end()), (std::vector<int>{1, 2}));
    EXPECT_GE(starts[first] - writeTimes[frames], r.waitMs);
    EXPECT_LE(starts[first] - writeTimes[frames], r.waitMs + 50);
    EXPECT_EQ(Stops().size(), stops + 2);

    value = 7;
    Reply(2, {r.refusal, 0x34, 0x12});
    EXPECT_EQ(ask(value), 0);
    EXPECT_EQ(value, 7);
    starts = Starts();
    ASSERT_EQ(starts.size(), first + 3);  // no second receive after a refusal
    ASSERT_EQ(writeTimes.size(), frames + 2);
    EXPECT_GE(starts[first + 2] - writeTimes[frames + 1], r.waitMs);
  }
}

TEST_F(AnswerPaths, AFailedFrameWriteAsksForNoAnswer) {
  for (const bool usb : {true, false}) {
    SCOPED_TRACE(usb ? "usb" : "parallel");
    Scripted();
    Over(usb);
    line->SetWriteFails(true);
    int stdModel = 7;
    uint16_t value = 9;
    std::vector<Bytes> pieces = {Bytes(100, 1)};
    EXPECT_EQ(LineStatus(stdModel), 0);
    EXPECT_EQ(Select(5), 0);
    EXPECT_EQ(Erase(5), 0);
    EXPECT_EQ(Block(pieces), 0);
    EXPECT_EQ(Checksum(value), 0);
    EXPECT_EQ(Recalc(value), 0);
    EXPECT_EQ(stdModel, 7);
    EXPECT_EQ(value, 9);
    EXPECT_TRUE(Starts().empty());
    // Nor does it wait for the printer's computations.
    EXPECT_LT(platform::NowMs(), 1000);

    // A data block whose piece fails after its header went out.
    line->SetWriteFails(false);
    knobs->VanishOnWrite(knobs->WriteCalls() + (usb ? 2 : 6));
    EXPECT_EQ(Block(pieces), 0);
    EXPECT_TRUE(Starts().empty());
    knobs->VanishOnWrite(0);
    printer->ClosePort();
    knobs = std::make_shared<platform::PrinterPortKnobs>();
  }
}

TEST_F(AnswerPaths, OverUsbEveryFrameIsOneWriteAndPiecesGoInChunks) {
  Scripted();
  OverUsb();
  Reply(3, {kAck});
  EXPECT_EQ(Select(9), 1);
  Reply(3, {kAck});
  EXPECT_EQ(Erase(70), 1);
  EXPECT_EQ(WritesSince(0), (Sizes{3, 3}));
  EXPECT_EQ(BytesSince(0), (Bytes{0x1D, 0x02, 9, 0x1D, 0x10, 70}));

  struct Case {
    size_t pieceLength;
    size_t pieces;
    Sizes writes;
  };
  for (const Case& c : {Case{8192, 2, {6, 4096, 4096, 4096, 4096}}, Case{5000, 1, {6, 4096, 904}},
                        Case{4096, 4, {6, 4096, 4096, 4096, 4096}}}) {
    std::vector<Bytes> pieces;
    Bytes all;
    for (size_t j = 0; j < c.pieces; ++j) {
      pieces.push_back(Pattern(c.pieceLength, static_cast<uint8_t>(j)));
      all.insert(all.end(), pieces.back().begin(), pieces.back().end());
    }
    const size_t calls = knobs->WriteCallSizes().size();
    const size_t bytes = line->Written().size();
    Reply(6 + all.size(), {kAck});
    ASSERT_EQ(Block(pieces), 1) << c.pieceLength;
    EXPECT_EQ(WritesSince(calls), c.writes) << c.pieceLength;
    const uint32_t length = static_cast<uint32_t>(c.pieceLength) * 4u;
    Bytes expected = {0x1D,
                      0x11,
                      0x00,
                      0x00,
                      static_cast<uint8_t>(length & 0xFF),
                      static_cast<uint8_t>(length >> 8)};
    expected.insert(expected.end(), all.begin(), all.end());
    EXPECT_EQ(BytesSince(bytes), expected) << c.pieceLength;
    EXPECT_EQ(printer->GetDataCrc(), CrcRegister::Of(all.data(), all.size()));
  }

  int stdModel = 0;
  uint16_t value = 0;
  const size_t calls = knobs->WriteCallSizes().size();
  Reply(2, {kAck, kStandardModel});
  EXPECT_EQ(LineStatus(stdModel), 1);
  Reply(2, {kAck, 0, 0});
  EXPECT_EQ(Checksum(value), 1);
  EXPECT_EQ(WritesSince(calls), (Sizes{2, 2}));
  // No serial pacing: the only pause is the printer's time for the
  // checksum.
  EXPECT_EQ(Pauses(), (Times{10000}));
}

TEST_F(AnswerPaths, OverTheParallelPortThePrefixGoesFirstThenSingleBytes) {
  Scripted();
  OverParallel();
  Reply(3, {kAck});
  EXPECT_EQ(Select(9), 1);
  EXPECT_EQ(WritesSince(0), (Sizes{2, 1}));
  std::vector<Bytes> pieces = {Pattern(8192, 1), Pattern(8192, 2)};
  Reply(6 + 16384, {kAck});
  EXPECT_EQ(Block(pieces), 1);
  EXPECT_EQ(WritesSince(2), (Sizes{2, 1, 1, 1, 1, 8192, 8192}));
  const Bytes written = BytesSince(3);
  ASSERT_EQ(written.size(), 6u + 16384u);
  EXPECT_EQ(Bytes(written.begin(), written.begin() + 6),
            (Bytes{0x1D, 0x11, 0x00, 0x00, 0x00, 0x80}));
  // Each write call is paced by 100 ms, the receive thread by 750 ms.
  for (const int64_t p : Pauses()) EXPECT_EQ(p, 100);
  EXPECT_EQ(Pauses().size(), 9u);
}

TEST_F(AnswerPaths, OverUsbAndParallelSelectEraseAndDataNeedAck) {
  for (const bool usb : {true, false}) {
    SCOPED_TRACE(usb ? "usb" : "parallel");
    Scripted();
    Over(usb);
    const size_t selectBytes = 3;
    const size_t blockBytes = 6 + 512;
    std::vector<Bytes> pieces = {Pattern(512, 3)};
    for (const uint8_t reply : {uint8_t{0x41}, kNak, uint8_t{0x00}}) {
      Reply(selectBytes, {reply});
      EXPECT_EQ(Select(5), 0) << int{reply};
      Reply(selectBytes, {reply});
      EXPECT_EQ(Erase(5), 0) << int{reply};
      Reply(blockBytes, {reply});
      EXPECT_EQ(Block(pieces), 0) << int{reply};
    }
    Reply(selectBytes, {kAck});
    EXPECT_EQ(Select(5), 1);
    Reply(selectBytes, {kAck});
    EXPECT_EQ(Erase(5), 1);
    Reply(blockBytes, {kAck});
    EXPECT_EQ(Block(pieces), 1);
    printer->ClosePort();
  }
}

}  // namespace
}  // namespace quillon::protocol
