// The emulator on the in-memory serial line, under the virtual clock, and the
// built-in "sim" device.

#include "sim/emulated_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/clock.h"
#include "platform/device.h"
#include "sim/frames.h"
#include "sim/temp_dir.h"
#include "support/environment.h"
#include "support/virtual_clock.h"

namespace quillon::sim {
namespace {

// The frames, hosts and files of the emulator tests (sim/frames.h,
// sim/temp_dir.h, sim/direct_host.h).
using namespace testing;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::Gt;
using ::testing::HasSubstr;
using ::testing::SizeIs;
using ::testing::StartsWith;

// The host's end of a line, reading with a total time-out per read.
class Host {
 public:
  explicit Host(platform::Handle h, uint32_t readTimeoutMs = 5000) : h_(h) {
    platform::CommTimeouts t;
    t.ReadTotalTimeoutConstant = readTimeoutMs;
    EXPECT_TRUE(platform::SetLineTimeouts(h_, t));
  }
  void Write(const Bytes& frame) {
    uint32_t written = 0;
    ASSERT_TRUE(
        platform::WriteDevice(h_, frame.data(), static_cast<uint32_t>(frame.size()), &written));
    ASSERT_EQ(written, frame.size());
  }
  Bytes Read(uint32_t n) {
    Bytes data(n);
    uint32_t got = 0;
    EXPECT_TRUE(platform::ReadDevice(h_, data.data(), n, &got));
    data.resize(got);
    return data;
  }

 private:
  platform::Handle h_;
};

TEST(EmulatedLineTest, AnswersReachTheHostAtTheirTimes) {
  platform::VirtualClock clock;
  platform::ScopedClock scoped(clock);
  EmulatorOptions options;
  options.answerDelayMs = 200;
  options.byteGapMs = 15;
  EmulatedLine pair = MakeEmulatedLine(options);
  const platform::Handle h = pair.line->Open();
  Host host(h);

  host.Write(kSwitchFrame);
  platform::Pause(1000);  // the boot delay
  host.Write(kStatusFrame);
  EXPECT_EQ(host.Read(1), Bytes{kAck});
  EXPECT_EQ(clock.NowMs(), 1200);
  EXPECT_EQ(host.Read(1), Bytes{kStandardModel});
  EXPECT_EQ(clock.NowMs(), 1215);

  // Several frames in one write; the answers queue behind one another.
  host.Write(Join({EraseFrame(5), SelectFrame(5), DataFrame(Pattern(500, 1))}));
  EXPECT_EQ(host.Read(3), (Bytes{kAck, kAck, kAck}));
  EXPECT_EQ(clock.NowMs(), 1215 + 200 + 30);
  EXPECT_EQ(pair.printer->Sector(5), Join({Pattern(500, 1), Bytes(65536 - 500, 0xFF)}));
  EXPECT_TRUE(platform::CloseDevice(h));
}

TEST(EmulatedLineTest, HostHearsNothingDuringTheBootDelay) {
  platform::VirtualClock clock;
  platform::ScopedClock scoped(clock);
  EmulatedLine pair = MakeEmulatedLine();
  const platform::Handle h = pair.line->Open();
  Host host(h, 400);
  host.Write(kStatusFrame);  // normal mode
  EXPECT_TRUE(host.Read(2).empty());
  host.Write(kSwitchFrame);  // at 400 ms
  host.Write(kStatusFrame);
  EXPECT_TRUE(host.Read(2).empty());
  EXPECT_EQ(clock.NowMs(), 800);
  platform::Pause(600);
  host.Write(kStatusFrame);
  EXPECT_EQ(host.Read(2), (Bytes{kAck, kStandardModel}));
  EXPECT_TRUE(platform::CloseDevice(h));
}

TEST(EmulatedLineTest, HostPollsThroughTheIplRestart) {
  platform::VirtualClock clock;
  platform::ScopedClock scoped(clock);
  EmulatorOptions options;
  options.bootDelayMs = 0;
  EmulatedLine pair = MakeEmulatedLine(options);
  const platform::Handle h = pair.line->Open();
  Host host(h, 500);
  host.Write(kSwitchFrame);
  host.Write(Join({SelectFrame(4), DataFrame(Pattern(0x8000, 4))}));
  EXPECT_EQ(host.Read(2), (Bytes{kAck, kAck}));
  const int64_t acked = clock.NowMs();

  int polls = 0;
  Bytes answer;
  while (answer.empty() && polls < 20) {
    ++polls;
    host.Write(kStatusFrame);
    answer = host.Read(2);
  }
  EXPECT_EQ(answer, (Bytes{kAck, kStandardModel}));
  EXPECT_EQ(polls, 7);  // six unanswered polls of 500 ms cover the 3000 ms
  EXPECT_EQ(clock.NowMs(), acked + 3000);
  EXPECT_TRUE(platform::CloseDevice(h));
}

TEST(EmulatedLineTest, AnotherThreadReadsThePrinterWhileTheHostWrites) {
  EmulatorOptions options;
  options.bootDelayMs = 0;
  EmulatedLine pair = MakeEmulatedLine(options);
  const platform::Handle h = pair.line->Open();
  constexpr int kBlocks = 100;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    Host host(h);
    host.Write(kSwitchFrame);
    for (int i = 0; i < kBlocks; ++i) {
      host.Write(Join({SelectFrame(5 + i % 10), DataFrame(Pattern(256, static_cast<uint8_t>(i)))}));
    }
    done = true;
  });
  // The reader sees the transcript grow in order, one whole entry at a time.
  size_t seen = 0;
  bool finished = false;
  while (!finished) {
    finished = done;
    for (const TranscriptEntry& e : pair.printer->Transcript(seen)) {
      ASSERT_EQ(e.number, static_cast<int>(++seen));
    }
    ASSERT_EQ(pair.printer->Sector(2).size(), 8192u);
    pair.printer->SelectedSector();
    pair.printer->AcknowledgedCrc();
    std::this_thread::yield();
  }
  writer.join();
  EXPECT_EQ(pair.printer->Transcript().size(), 1u + 2 * kBlocks);
  EXPECT_EQ(pair.printer->Sector(14)[0], Pattern(1, kBlocks - 1)[0]);
  EXPECT_TRUE(platform::CloseDevice(h));
}

class BuiltInPrinterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallBuiltInPrinter([this](std::shared_ptr<PrinterEmulator> p) { printers_.push_back(p); });
  }
  void TearDown() override { platform::SetSimulatorFactory(nullptr); }

  platform::VirtualClock clock_;
  platform::ScopedClock scoped_{clock_};
  std::vector<std::shared_ptr<PrinterEmulator>> printers_;
  TempDir dir_;
};

TEST_F(BuiltInPrinterTest, WritesFlashAndTranscriptWhenTheHostCloses) {
  const std::string flash = dir_.File("flash.bin");
  const std::string log = dir_.File("transcript.txt");
  const platform::Handle h = platform::OpenDevice("sim:boot-ms=0,flash=" + flash + ",log=" + log);
  ASSERT_NE(h, platform::kInvalidHandle);
  ASSERT_EQ(printers_.size(), 1u);
  Host host(h);
  const Bytes data = Pattern(2000, 0x33);
  host.Write(kSwitchFrame);
  host.Write(Join({kStatusFrame, EraseFrame(6), SelectFrame(6), DataFrame(data), kChecksumFrame}));
  EXPECT_EQ(host.Read(8).size(), 8u);
  EXPECT_FALSE(std::filesystem::exists(flash));
  EXPECT_TRUE(platform::CloseDevice(h));

  const Bytes image = ReadFileBytes(flash);
  ASSERT_EQ(image.size(), kFlashSize);
  EXPECT_EQ(image, printers_[0]->Flash());
  const size_t at = PrinterEmulator::SectorAddress(6);
  EXPECT_EQ(Bytes(image.begin() + at, image.begin() + at + 2000), data);
  EXPECT_EQ(image[at + 2000], 0xFF);
  EXPECT_EQ(ReadFileText(log), printers_[0]->TranscriptText());
  EXPECT_THAT(ReadFileText(log), HasSubstr("#5    data     2000 bytes     -> 06"));
}

TEST_F(BuiltInPrinterTest, EachOptionTextIsAPrinterOfItsOwn) {
  const platform::Handle first = platform::OpenDevice("sim:boot-ms=0");
  const platform::Handle second = platform::OpenDevice("sim");
  ASSERT_NE(first, platform::kInvalidHandle);
  ASSERT_NE(second, platform::kInvalidHandle);
  ASSERT_EQ(printers_.size(), 2u);
  Host(first).Write(Join({kSwitchFrame, SelectFrame(9)}));
  EXPECT_EQ(printers_[0]->SelectedSector(), 9);
  EXPECT_EQ(printers_[1]->State(0), LoaderState::kNormal);
  EXPECT_TRUE(platform::CloseDevice(first));
  EXPECT_TRUE(platform::CloseDevice(second));
}

TEST_F(BuiltInPrinterTest, ThePrinterOutlivesClosingThePortAndHasOneOpenerAtATime) {
  const platform::Handle first = platform::OpenDevice("sim:boot-ms=0");
  ASSERT_NE(first, platform::kInvalidHandle);
  EXPECT_EQ(platform::OpenDevice("sim:boot-ms=0"), platform::kInvalidHandle);
  EXPECT_EQ(platform::LastError(), platform::kErrorSharingViolation);
  Host(first).Write(Join({kSwitchFrame, SelectFrame(9)}));
  EXPECT_TRUE(platform::CloseDevice(first));

  const platform::Handle again = platform::OpenDevice("sim:boot-ms=0");
  ASSERT_NE(again, platform::kInvalidHandle);
  ASSERT_EQ(printers_.size(), 1u);
  EXPECT_EQ(printers_[0]->State(0), LoaderState::kDownload);
  EXPECT_EQ(printers_[0]->SelectedSector(), 9);
  EXPECT_TRUE(platform::CloseDevice(again));
}

TEST_F(BuiltInPrinterTest, OptionsReachTheEmulator) {
  const std::string imagePath = dir_.File("old.bin");
  WriteFileBytes(imagePath, Pattern(0x4000, 0x77));
  const platform::Handle h =
      platform::OpenDevice("sim:image=" + imagePath + ",boot-ms=0,status=41,nak=erase:1");
  ASSERT_NE(h, platform::kInvalidHandle);
  EXPECT_EQ(printers_.at(0)->Sector(1), Pattern(0x4000, 0x77));
  Host host(h);
  host.Write(kSwitchFrame);
  host.Write(Join({kStatusFrame, EraseFrame(1)}));
  EXPECT_EQ(host.Read(3), (Bytes{kAck, 0x41, kNak}));
  EXPECT_TRUE(platform::CloseDevice(h));
}

TEST_F(BuiltInPrinterTest, PortNameMappedToTheEmulator) {
  ASSERT_TRUE(quillon::testing::SetEnvironment("QUILLON_COM7", "sim:boot-ms=0"));
  const platform::Handle h = platform::OpenDevice("COM7");
  quillon::testing::UnsetEnvironment("QUILLON_COM7");
  ASSERT_NE(h, platform::kInvalidHandle);
  Host host(h);
  host.Write(Join({kSwitchFrame, kStatusFrame}));
  EXPECT_EQ(host.Read(2), (Bytes{kAck, kStandardModel}));
  EXPECT_TRUE(platform::CloseDevice(h));
}

TEST_F(BuiltInPrinterTest, BadOptionsOrAMissingImageFailTheOpen) {
  EXPECT_EQ(platform::OpenDevice("sim:delay=soon"), platform::kInvalidHandle);
  EXPECT_EQ(platform::LastError(), platform::kErrorInvalidParameter);
  EXPECT_EQ(BuiltInPrinterProblem(), "bad option 'delay=soon': expected milliseconds");
  EXPECT_EQ(platform::OpenParallelDevice("sim:bogus=1"), platform::kInvalidHandle);
  EXPECT_EQ(BuiltInPrinterProblem(), "unknown option 'bogus'");
  EXPECT_EQ(platform::OpenDevice("sim:image=" + dir_.File("none.bin")), platform::kInvalidHandle);
  EXPECT_EQ(platform::LastError(), platform::kErrorFileNotFound);
  EXPECT_THAT(BuiltInPrinterProblem(), HasSubstr(dir_.File("none.bin")));
  EXPECT_TRUE(printers_.empty());

  // The next printer that is made clears the reason, on this thread only.
  const platform::Handle h = platform::OpenDevice("sim");
  ASSERT_NE(h, platform::kInvalidHandle);
  EXPECT_EQ(BuiltInPrinterProblem(), "");
  EXPECT_TRUE(platform::CloseDevice(h));

  std::string error;
  EXPECT_EQ(OpenBuiltInPrinter("nak=print", &error), nullptr);
  EXPECT_THAT(error, HasSubstr("nak=print"));
}

TEST_F(BuiltInPrinterTest, FilesThatCannotBeWrittenAreToldOnceWithPathAndReason) {
  std::vector<std::string> told;
  std::mutex toldMutex;
  SetBuiltInPrinterReport([&](const std::string& line) {
    std::lock_guard lock(toldMutex);
    told.push_back(line);
  });
  const std::string flash = dir_.File("no-such-folder/flash.bin");
  const std::string log = dir_.File("log-is-a-folder");
  std::filesystem::create_directory(log);
  const std::string options = "sim:boot-ms=0,flash=" + flash + ",log=" + log;
  for (int open = 0; open < 2; ++open) {  // closed twice, told once
    const platform::Handle h = platform::OpenDevice(options);
    ASSERT_NE(h, platform::kInvalidHandle);
    Host(h).Write(kSwitchFrame);
    EXPECT_TRUE(platform::CloseDevice(h));
  }
  SetBuiltInPrinterReport(nullptr);
  std::lock_guard lock(toldMutex);
  // The reason is the system's own text.
  const std::string logTold = "cannot write the transcript file " + log + ": ";
  EXPECT_THAT(told, ElementsAre("cannot write the flash file " + flash + ": " +
                                    std::generic_category().message(ENOENT),
                                AllOf(StartsWith(logTold), SizeIs(Gt(logTold.size())))));
  EXPECT_FALSE(std::filesystem::exists(flash));
}

TEST(BuiltInPrinterFilesTest, WrittenAlsoWhenTheLineIsNeverClosed) {
  TempDir dir;
  const std::string flash = dir.File("flash.bin");
  const std::string log = dir.File("transcript.txt");
  std::shared_ptr<PrinterEmulator> printer;
  auto device = OpenBuiltInPrinter("boot-ms=0,flash=" + flash + ",log=" + log, nullptr, &printer);
  ASSERT_NE(device, nullptr);
  const Bytes frames = Join({kSwitchFrame, SelectFrame(70), DataFrame(Bytes(16, 0x00))});
  uint32_t written = 0;
  ASSERT_TRUE(device->Write(frames.data(), static_cast<uint32_t>(frames.size()), written));
  device.reset();  // the program ends: the line and its printer go away
  EXPECT_THAT(ReadFileText(log), HasSubstr("data     16 bytes"));
  const Bytes image = ReadFileBytes(flash);
  ASSERT_EQ(image.size(), kFlashSize);
  EXPECT_EQ(image[PrinterEmulator::SectorAddress(70)], 0x00);
  EXPECT_EQ(image[PrinterEmulator::SectorAddress(70) + 16], 0xFF);
}

}  // namespace
}  // namespace quillon::sim
