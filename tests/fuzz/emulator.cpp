// The printer emulator's command stream: arbitrary host bytes, fed in chunks
// at increasing times. Every answer must belong to a whole command the
// transcript records as answered, answers never go out before their command
// or overtake each other, and what the emulator keeps stays in proportion to
// what it was fed: every byte is in exactly one transcript entry, except those
// of a frame still incomplete.
//
// Input: one byte of settings (see Settings), then chunks, each a byte (time step in the top
// two bits, length in the low six; 63 means a 16-bit length follows, low byte
// first) and its data.

#include <array>

#include "fuzz/fuzz_support.h"
#include "sim/printer_emulator.h"
#include "support/frame_bytes.h"

namespace {

using namespace quillon;
using sim::CommandKind;
using sim::TranscriptEntry;

sim::EmulatorOptions Settings(uint8_t bits) {
  sim::EmulatorOptions o;
  if (bits & 0x01) o.bootDelayMs = 0;
  if (bits & 0x02) o.answerDelayMs = 3;
  if (bits & 0x04) o.byteGapMs = 2;
  if (bits & 0x08) o.restartMs = 0;
  if (bits & 0x10) o.faults.push_back({CommandKind::kChecksum, 2, false, 0x15});
  if (bits & 0x20) o.faults.push_back({CommandKind::kSelect, 1, true, 0});
  if (bits & 0x40) {
    o.silentFrom = 20;
    o.programClearsBitsOnly = true;
    o.badCrcSectors.insert(6);
  }
  // The CRC of the whole program area (4 MiB) would take a hundred times as
  // long as the rest of an input: the recalculation is answered by a fault
  // (ACK alone) and not carried out.
  o.faults.push_back({CommandKind::kRecalc, 0, false, sim::kAck});
  return o;
}

bool IsCommand(CommandKind kind) {
  return static_cast<int>(kind) < sim::kCommandKinds;
}

// The longest frame still being taken in: GS 11, the four header bytes and
// all but the last byte of a 65536-byte block.
constexpr int64_t kLongestOpenFrame = 6 + 65535;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input input(data, size);
  const sim::EmulatorOptions options = Settings(input.Byte());
  sim::PrinterEmulator printer(options);

  constexpr std::array<int64_t, 4> kSteps = {0, 1, 250, 2500};
  int64_t now = 0;
  int64_t fed = 0;
  int64_t lastAnswerAt = 0;
  size_t entries = 0;  // in the transcript so far (the last may still grow)
  while (!input.Empty()) {
    const uint8_t head = input.Byte();
    now += kSteps[head >> 6];
    size_t length = head & 0x3F;
    if (length == 0x3F) length = input.Byte() | (size_t{input.Byte()} << 8);
    const std::vector<uint8_t> chunk = input.Bytes(length);

    const std::vector<sim::TimedByte> answers = printer.Feed(chunk, now);
    fed += static_cast<int64_t>(chunk.size());

    // The answers are exactly those of the commands completed by this chunk,
    // in order.
    std::vector<uint8_t> expected;
    const std::vector<TranscriptEntry> added = printer.Transcript(entries);
    entries += added.size();
    for (const TranscriptEntry& e : added) {
      if (e.outcome != TranscriptEntry::Outcome::kAnswered) {
        FUZZ_CHECK(e.answer.empty());
        continue;
      }
      FUZZ_CHECK(IsCommand(e.kind));
      FUZZ_CHECK(e.number > 0);
      FUZZ_CHECK(e.timeMs == now);
      FUZZ_CHECK(!e.answer.empty() && e.answer.size() <= 3);
      expected.insert(expected.end(), e.answer.begin(), e.answer.end());
    }
    FUZZ_CHECK(answers.size() == expected.size());
    for (size_t i = 0; i < answers.size(); ++i) {
      FUZZ_CHECK(answers[i].byte == expected[i]);
      FUZZ_CHECK(answers[i].atMs >= now + options.answerDelayMs);
      FUZZ_CHECK(answers[i].atMs >= lastAnswerAt);
      lastAnswerAt = answers[i].atMs;
    }
  }

  // Every byte fed is in one entry, but for a frame not yet complete; the
  // transcript holds no more than that.
  int64_t accounted = 0;
  for (const TranscriptEntry& e : printer.Transcript()) {
    FUZZ_CHECK(testing::FrameBytes(e) > 0);
    FUZZ_CHECK(e.note.size() < 200);
    FUZZ_CHECK(e.number == 0 || IsCommand(e.kind));
    accounted += testing::FrameBytes(e);
  }
  FUZZ_CHECK(accounted <= fed);
  FUZZ_CHECK(fed - accounted <= kLongestOpenFrame);
  return 0;
}
