// The printer commands through the POSIX serial backend, on the pseudo-
// terminal of the printer emulator running as a program of its own.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "ports/link.h"
#include "protocol/flash_printer.h"
#include "protocol/frames.h"
#include "support/process.h"

namespace quillon::protocol {
namespace {

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(PtyCommands, ASectorGoesThroughTheSerialBackend) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("quillon-e2e-commands-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const auto flash = dir / "flash.bin";
  const auto log = dir / "log.txt";

  testing::SimProcess sim;
  const std::string pty =
      sim.Start({"--boot-ms", "300", "--flash-out", flash.string(), "--log", log.string()});
  ASSERT_FALSE(pty.empty());

  CFlashPrinter printer{ports::Interface::kSerial};
  ASSERT_EQ(printer.OpenPort(pty), 1);
  ASSERT_EQ(printer.ConfigureSerial(9600, "EVEN", 8, 1), 1);
  ASSERT_EQ(printer.SetReadTimeouts(1500), 1);
  ASSERT_EQ(printer.SwitchToDownloadMode(kSwitchToDownloadFrame, 3), 1);
  printer.WaitSeconds(1);  // at least a whole second: longer than the loader's boot time

  // The port is closed and opened again at the loader's line settings.
  printer.ClosePort();
  ASSERT_EQ(printer.OpenPort(pty), 1);
  ASSERT_EQ(printer.ConfigureSerial(38400, "NONE", 8, 1), 1);
  ASSERT_EQ(printer.SetWriteTimeouts(1000), 1);

  int stdModel = 0;
  ASSERT_EQ(printer.CheckLineStatus(kLineStatusFrame, 2, stdModel), 1);
  EXPECT_EQ(stdModel, 1);
  ASSERT_EQ(printer.SetReadTimeouts(60000), 1);
  ASSERT_EQ(printer.EraseFlashSector(kEraseSectorPrefix, 2, 3), 1);
  ASSERT_EQ(printer.SelectFlashSector(kSelectSectorPrefix, 2, 3), 1);
  std::vector<uint8_t> data(8192);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13 + 5);
  uint8_t* pieces[4] = {data.data(), nullptr, nullptr, nullptr};
  ASSERT_EQ(printer.SendDataBlock(kDataBlockPrefix, 2, 0, 8192, 8192, pieces, nullptr), 1);
  uint16_t crc = 0;
  ASSERT_EQ(printer.AcknowledgeChecksum(kAckChecksumFrame, 2, crc), 1);
  EXPECT_EQ(crc, printer.GetDataCrc());
  printer.ClosePort();

  ASSERT_EQ(sim.Stop(), 0);
  const auto image = ReadFile(flash);
  ASSERT_EQ(image.size(), 4390912u);
  EXPECT_EQ(std::vector<uint8_t>(image.begin() + 0x6000, image.begin() + 0x8000), data);
  EXPECT_EQ(image[0x5FFF], 0xFF);
  EXPECT_FALSE(ReadFile(log).empty());
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quillon::protocol
