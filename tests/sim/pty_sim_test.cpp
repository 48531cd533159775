// quillon-printer-sim as a separate program, spoken to through its
// pseudo-terminal with plain POSIX calls.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "sim/crc16.h"
#include "sim/frames.h"
#include "sim/printer_emulator.h"
#include "sim/temp_dir.h"
#include "support/process.h"

extern char** environ;

namespace quillon::sim {
namespace {

// The frames, hosts and files of the emulator tests (sim/frames.h,
// sim/temp_dir.h, sim/direct_host.h).
using namespace testing;
using ::testing::HasSubstr;

constexpr int kPatienceMs = 5000;  // generous: the machine may be busy
using quillon::testing::SimProcess;

int OpenRaw(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
  return fd;
}

bool WriteAll(int fd, const Bytes& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Reads until n bytes came or nothing more arrives within the patience.
Bytes ReadAnswer(int fd, size_t n) {
  Bytes data;
  uint8_t buffer[64];
  while (data.size() < n) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, kPatienceMs) != 1) break;
    const ssize_t got = read(fd, buffer, std::min(sizeof buffer, n - data.size()));
    if (got <= 0) break;
    data.insert(data.end(), buffer, buffer + got);
  }
  return data;
}

TEST(PrinterSimProgramTest, ServesADownloadOnItsTerminal) {
  TempDir dir;
  const std::string flash = dir.File("flash.bin");
  const std::string log = dir.File("transcript.txt");
  SimProcess sim;
  const std::string path =
      sim.Start({"--boot-ms", "0", "--answer-delay", "5", "--log", log, "--flash-out", flash});
  ASSERT_THAT(path, ::testing::StartsWith("/dev/"));

  int fd = OpenRaw(path);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(WriteAll(fd, kSwitchFrame));
  ASSERT_TRUE(WriteAll(fd, kStatusFrame));
  EXPECT_EQ(ReadAnswer(fd, 2), (Bytes{kAck, kStandardModel}));
  ASSERT_TRUE(WriteAll(fd, EraseFrame(5)));
  EXPECT_EQ(ReadAnswer(fd, 1), Bytes{kAck});

  // The host closes the port and opens it again; the printer carries on.
  close(fd);
  fd = OpenRaw(path);
  ASSERT_GE(fd, 0);
  const Bytes data = Pattern(3000, 0x5C);
  ASSERT_TRUE(WriteAll(fd, SelectFrame(5)));
  EXPECT_EQ(ReadAnswer(fd, 1), Bytes{kAck});
  ASSERT_TRUE(WriteAll(fd, DataFrame(data)));
  EXPECT_EQ(ReadAnswer(fd, 1), Bytes{kAck});
  ASSERT_TRUE(WriteAll(fd, kChecksumFrame));
  const uint16_t crc = Crc16(data.data(), data.size());
  EXPECT_EQ(ReadAnswer(fd, 3),
            (Bytes{kAck, static_cast<uint8_t>(crc & 0xFF), static_cast<uint8_t>(crc >> 8)}));
  close(fd);

  EXPECT_EQ(sim.Stop(), 0);
  const Bytes image = ReadFileBytes(flash);
  ASSERT_EQ(image.size(), kFlashSize);
  const size_t at = PrinterEmulator::SectorAddress(5);
  EXPECT_EQ(Bytes(image.begin() + at, image.begin() + at + data.size()), data);
  EXPECT_EQ(image[at + data.size()], 0xFF);
  EXPECT_EQ(image[at - 1], 0xFF);
  const std::string transcript = ReadFileText(log);
  EXPECT_THAT(transcript, HasSubstr("#1    switch"));
  EXPECT_THAT(transcript, HasSubstr("#3    erase    sector 5       -> 06"));
  EXPECT_THAT(transcript, HasSubstr("#5    data     3000 bytes     -> 06"));
  EXPECT_THAT(transcript, HasSubstr("#6    checksum"));
}

TEST(PrinterSimProgramTest, FaultOptionsAndUsage) {
  SimProcess sim;
  const std::string path = sim.Start({"--boot-ms=0", "--status-byte", "41", "--nak", "select:1"});
  ASSERT_FALSE(path.empty());
  const int fd = OpenRaw(path);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(WriteAll(fd, Join({kSwitchFrame, kStatusFrame, SelectFrame(5), SelectFrame(5)})));
  EXPECT_EQ(ReadAnswer(fd, 4), (Bytes{kAck, 0x41, kNak, kAck}));
  close(fd);
  EXPECT_EQ(sim.Stop(), 0);

  for (const std::vector<std::string>& args : {std::vector<std::string>{"--nak", "print:1"},
                                               std::vector<std::string>{"--reply", "status:1"},
                                               std::vector<std::string>{"--reply=status:*"}}) {
    SimProcess bad;
    EXPECT_EQ(bad.Start(args), "") << args.back();
    EXPECT_EQ(bad.Wait(), 2) << args.back();
  }
  SimProcess help;
  EXPECT_THAT(help.Start({"--help"}), HasSubstr("usage: quillon-printer-sim"));
  EXPECT_EQ(help.Wait(), 0);
}

}  // namespace
}  // namespace quillon::sim
