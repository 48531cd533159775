// Whole downloads over the parallel port and USB against the in-process
// printer emulator, reached through a fake parallel port or USB printer.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "engine/result_codes.h"
#include "support/download_fixture.h"
#include "support/sim_factory.h"

namespace quillon::engine {
namespace {

using platform::kAskCompatibility;
using platform::kAskEcp;
using platform::kAskNibble;
using platform::NegotiationMask;
using testing::Pattern;
using Strings = std::vector<std::string>;
using Times = std::vector<int64_t>;

void Writes(Times& t, int n) {
  t.insert(t.end(), static_cast<size_t>(n), 100);
}

class PortDownload : public testing::SerialDownload {
 protected:
  std::string Modes() { return testing::ModeLetters(*port); }
  // The progress steps of the "Calculating checksum" statuses, in order.
  std::vector<int> ChecksumSteps() {
    std::vector<int> out;
    for (const auto& s : window.Statuses()) {
      if (s.statusText == "Calculating checksum" && s.progressPos == 0) {
        out.push_back(s.progressStep);
      }
    }
    return out;
  }
  int Sent(uint32_t id) {
    const auto m = window.Messages();
    return static_cast<int>(
        std::count_if(m.begin(), m.end(), [id](const auto& x) { return x.id == id; }));
  }
  void Silent(sim::CommandKind kind, int nth) { options.faults.push_back({kind, nth, true, 0}); }
};

TEST_F(PortDownload, MainFirmwareOverTheParallelPortInEcpMode) {
  const auto image = Pattern(131072);
  ASSERT_EQ(RunParallel(WriteImage("fw.mfw", image), 1, 0), kSuccess);
  ExpectMainFirmware(image);
  EXPECT_EQ(Modes(), "CE");

  // Cancel is never usable: the progress window opens disabled and is not
  // told again.
  const auto messages = window.Messages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.front().id, platform::WM_OPEN_PROGRESS);
  EXPECT_EQ(messages.front().wParam, 0u);
  EXPECT_EQ(Sent(platform::WM_DISABLE_PROGRESS), 0);
  EXPECT_EQ(Sent(platform::WM_CLOSE_PROGRESS), 1);

  // In the sector loop the checksum is paced by the sector's size; the
  // deferred first sector keeps the serial pace.
  EXPECT_EQ(ChecksumSteps(), (std::vector<int>{3276, 6400}));

  // The send thread's start; 7 s after the switch, no pause after the select
  // in the loop, 1 s after the select of the deferred first sector.
  Times expected = {app::kParallelSendStartMs, 100, 7000, 100};
  Writes(expected, 4);  // erase 6, erase 7
  Writes(expected, 2);  // select 7
  Writes(expected, 9);  // data 7: prefix, four header bytes, four pieces
  Writes(expected, 1);  // checksum
  Writes(expected, 2);  // select 6
  expected.push_back(1000);
  Writes(expected, 9);
  Writes(expected, 1);
  // Recalc, reset, the final wait, and the send thread's before the result.
  expected.insert(expected.end(), {100, 100, -5, app::kBeforeResultMs});
  EXPECT_EQ(Timeline(), expected);
}

TEST_F(PortDownload, IplOverTheParallelPortUsesNibbleModeAndRenegotiatesAfterTheRestart) {
  const auto image = Pattern(131072);
  ASSERT_EQ(RunParallel(WriteImage("boot.ipl", image), 0, 1), kSuccess);
  EXPECT_EQ(Commands(), (Strings{"switch", "status", "select 4", "data 4", "status", "erase 5",
                                 "select 5", "data 5", "checksum", "reset"}));
  EXPECT_EQ(Flash(4), std::vector<uint8_t>(image.begin() + 32768, image.begin() + 65536));
  EXPECT_EQ(Flash(5), std::vector<uint8_t>(image.begin() + 65536, image.begin() + 131072));
  // Opening: compatibility, nibble. After the restart: compatibility,
  // nibble, then both again before the (first and only) line check.
  EXPECT_EQ(Modes(), "CNCNCN");
  EXPECT_EQ(Modes().find('E'), std::string::npos);

  // After the first sector: 9 s, 1 s, 1 s and 10 s before the line check.
  const Times t = Timeline();
  const auto restart = std::find(t.begin(), t.end(), -9);
  ASSERT_NE(restart, t.end());
  EXPECT_EQ(Times(restart, restart + 5), (Times{-9, 1000, 1000, 10000, 100}));
}

TEST_F(PortDownload, TwoSilentLineChecksRestoreTheParallelModesOnce) {
  Silent(sim::CommandKind::kLineStatus, 1);
  Silent(sim::CommandKind::kLineStatus, 2);
  ASSERT_EQ(RunParallel(WriteImage("f.bin", Pattern(65536)), 0, 0), kSuccess);
  EXPECT_EQ(Modes(), "CECE");
  // Each silent check waited 4 to 5 s for its answer.
  EXPECT_GE(clock.NowMs(), 8000 + 7000);
}

TEST_F(PortDownload, AFailedModeRestoreEndsTheParallelDownload) {
  Silent(sim::CommandKind::kLineStatus, 1);
  Silent(sim::CommandKind::kLineStatus, 2);
  port->FailNegotiation(kAskEcp, 2);
  EXPECT_EQ(RunParallel(WriteImage("f.bin", Pattern(65536)), 0, 0), kEcpMode);

  port = std::make_shared<platform::PrinterPortKnobs>();
  emulated = {};
  options.faults.clear();
  Silent(sim::CommandKind::kLineStatus, 1);
  Silent(sim::CommandKind::kLineStatus, 2);
  port->FailNegotiation(kAskNibble, 2);
  EXPECT_EQ(RunParallel(WriteImage("b.ipl", Pattern(131072)), 0, 1), kNibbleMode);
}

TEST_F(PortDownload, TheParallelOpeningSequenceMapsEachRefusal) {
  port->FailNegotiation(kAskCompatibility, 1);
  EXPECT_EQ(RunParallel(WriteImage("f.bin", Pattern(100)), 0, 0), kCompatibilityMode);
  download->ClosePrinterPort();
  port->FailNegotiation(kAskEcp, 1);
  EXPECT_EQ(RunParallel(WriteImage("f.bin", Pattern(100)), 0, 0), kEcpMode);
  download->ClosePrinterPort();
  // Nibble granted for reading with another forward mode: back to
  // compatibility, and the IPL download does not start.
  port->GrantInstead(kAskNibble, 1, NegotiationMask{platform::kModeNibble, platform::kModeNone});
  EXPECT_EQ(RunParallel(WriteImage("b.ipl", Pattern(100)), 0, 1), kNibbleMode);
  EXPECT_EQ(Modes().substr(Modes().size() - 3), "CNC");
  EXPECT_TRUE(Commands().empty());
}

TEST_F(PortDownload, MainFirmwareOverUsb) {
  const auto image = Pattern(131072);
  ASSERT_EQ(RunUsb(WriteImage("fw.mfw", image), 1, 0), kSuccess);
  ExpectMainFirmware(image);
  EXPECT_EQ(Sent(platform::WM_CLOSE_PROGRESS), 0);  // the main window closes it
  EXPECT_EQ(Sent(platform::WM_DISABLE_PROGRESS), 0);
  EXPECT_EQ(ChecksumSteps(), (std::vector<int>{3276, 6400}));
  // Select and erase are one write each; a data block is the header in one
  // write and one write per piece.
  const auto sizes = port->WriteCallSizes();
  EXPECT_EQ(std::count(sizes.begin(), sizes.end(), 6u), 2);  // two data headers
  // Their pieces, 16 KiB each, go out in chunks of 4 KiB.
  EXPECT_EQ(std::count(sizes.begin(), sizes.end(), 4096u), 32);
  EXPECT_EQ(sizes.size(), 2u + 3u + 2u * (1u + 16u) + 2u + 2u + 1u);

  // After the send thread's start, 8 s after the switch; 10 s before each
  // checksum answer; 50 s before the CRC's answer (the 1 s pauses between
  // are those after each select and before the CRC status); the send
  // thread's waits around the result.
  const Times t = Timeline();
  ASSERT_GE(t.size(), 4u);
  EXPECT_EQ(t[0], app::kUsbSendStartMs);
  EXPECT_EQ(t[1], 8000);
  EXPECT_EQ(Times(t.end() - 3, t.end()), (Times{-5, app::kBeforeResultMs, app::kUsbSendEndMs}));
  EXPECT_EQ(std::count(t.begin(), t.end(), 10000), 2);
  EXPECT_EQ(std::count(t.begin(), t.end(), 100), 0);  // no serial write pauses
  size_t run = 0, longest = 0;
  for (const int64_t x : t) {
    run = x == 1000 ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  EXPECT_GE(longest, 50u);
}

TEST_F(PortDownload, WithoutChecksumPaceUsbKeepsTheSerialPace) {
  // The procedure's own parameter (the program always paces by 2).
  const std::string path = WriteImage("f.bin", Pattern(131072));
  MakePrinter();
  Use(ports::Interface::kUsb);
  platform::SetUsbPrinterPath("sim");
  ASSERT_EQ(download->ConnectUsbPrinter(), kSuccess);
  ASSERT_EQ(download->DownloadUSB(path, engine::kFontFirstSector, 0, 0, /*pace=*/0,
                                  engine::flashSectorSizes),
            kSuccess);
  EXPECT_EQ(ChecksumSteps(), (std::vector<int>{6400, 6400}));
}

TEST_F(PortDownload, IplOverUsbReconnectsAfterTheRestart) {
  const auto image = Pattern(131072);
  ASSERT_EQ(RunUsb(WriteImage("boot.ipl", image), 0, 1), kSuccess);
  EXPECT_EQ(Flash(5), std::vector<uint8_t>(image.begin() + 65536, image.begin() + 131072));
  const Times t = Timeline();
  const auto restart = std::find(t.begin(), t.end(), -9);
  ASSERT_NE(restart, t.end());
  EXPECT_EQ(*(restart + 1), 5000);
  // The launch's connection and the one after the restart.
  EXPECT_EQ(port->DeviceIdQueries(), 2);
  EXPECT_EQ(port->StatusQueries(), 2);
  EXPECT_EQ(port->DevicesOpen(), 0);  // every handle was closed
}

TEST_F(PortDownload, FourSilentLineChecksReconnectTheUsbPrinter) {
  for (int n = 1; n <= 4; ++n) Silent(sim::CommandKind::kLineStatus, n);
  EXPECT_EQ(RunUsb(WriteImage("f.bin", Pattern(65536)), 0, 0), kSuccess);
  EXPECT_EQ(port->DeviceIdQueries(), 2);
  EXPECT_EQ(port->DevicesOpen(), 0);
}

TEST_F(PortDownload, AUsbPrinterThatVanishesMidBlockIsReconnectedAndTheChunkWrittenAgain) {
  const auto image = Pattern(131072);
  port->VanishOnWrite(6);  // a piece of the first data block
  ASSERT_EQ(RunUsb(WriteImage("fw.mfw", image), 1, 0), kSuccess);
  EXPECT_EQ(Flash(6), std::vector<uint8_t>(image.begin(), image.begin() + 65536));
  EXPECT_EQ(Flash(7), std::vector<uint8_t>(image.begin() + 65536, image.end()));
  EXPECT_EQ(port->DeviceIdQueries(), 2);
  const Times t = Timeline();
  EXPECT_NE(std::find(t.begin(), t.end(), 1000), t.end());
}

TEST_F(PortDownload, APrinterThatLeavesTheUsbBusIsFoundAgainOrTheDownloadEndsInTime) {
  using sim::CommandKind;
  struct Case {
    const char* what;
    std::vector<sim::Replug> replugs;
    int64_t goneMs;
    int iplProg;
    int code;
  };
  const Case cases[] = {
      {"after the switch", {{CommandKind::kSwitch, 1, false}}, 3000, 0, kSuccess},
      {"after the switch and the IPL restart",
       {{CommandKind::kSwitch, 1, false}, {CommandKind::kData, 1, false}},
       3000,
       1,
       kSuccess},
      {"with the first block", {{CommandKind::kData, 1, true}}, 3000, 0, kDataBlockTimeout},
      {"for good after the switch",
       {{CommandKind::kSwitch, 1, false}},
       sim::kGoneForGood,
       0,
       kUsbOpen},
  };
  const auto image = Pattern(131072);
  for (const Case& c : cases) {
    options.replugs = c.replugs;
    options.replugGoneMs = c.goneMs;
    port = std::make_shared<platform::PrinterPortKnobs>();
    emulated = {};
    const int64_t start = clock.NowMs();
    EXPECT_EQ(RunUsb(WriteImage(c.iplProg ? "f.ipl" : "f.bin", image), 0, c.iplProg), c.code)
        << c.what;
    EXPECT_EQ(port->DevicesOpen(), 0) << c.what;
    if (c.code == kSuccess) {
      EXPECT_EQ(Flash(c.iplProg ? 5 : 19), std::vector<uint8_t>(image.begin() + 65536, image.end()))
          << c.what;
    } else {
      EXPECT_LT(clock.NowMs() - start, 90'000) << c.what;
    }
  }
}

TEST_F(PortDownload, UsbConnectionFailuresGiveTheirCodes) {
  MakePrinter();
  Use(ports::Interface::kUsb);
  platform::SetUsbPrinterPath("");
  EXPECT_EQ(download->ConnectUsbPrinter(), kUsbOpen);  // nothing found (no QUILLON_USB here)
  platform::SetUsbPrinterPath("sim");
  port->SetDeviceIdFails(true);
  EXPECT_EQ(download->ConnectUsbPrinter(), kUsbDeviceId);
  EXPECT_EQ(download->printer->GetHandle(), platform::kInvalidHandle);
  port->SetDeviceIdFails(false);
  port->SetStatusFails(true);
  EXPECT_EQ(download->ConnectUsbPrinter(), kUsbStatus);
  EXPECT_EQ(download->printer->GetHandle(), platform::kInvalidHandle);
  EXPECT_EQ(port->DevicesOpen(), 0);
}

// Hands the host's bytes to the printer and sets the stop request as soon as
// the printer has taken in the Nth line status command.
class StopAtStatus final : public platform::SerialPeer {
 public:
  StopAtStatus(const sim::EmulatedLine& emulated, int nth, std::function<void()> stop)
      : inner_(std::make_shared<sim::EmulatorPeer>(emulated.printer, emulated.line)),
        printer_(emulated.printer),
        nth_(nth),
        stop_(std::move(stop)) {}
  void OnHostBytes(const uint8_t* data, size_t n, int64_t nowMs) override {
    inner_->OnHostBytes(data, n, nowMs);
    if (StatusCommands(*printer_) >= nth_) stop_();
  }
  void OnHostClosed() override { inner_->OnHostClosed(); }

  // Every line status frame that reached the printer, listened to or not.
  static int StatusCommands(const sim::PrinterEmulator& printer) {
    const auto t = printer.Transcript();
    return static_cast<int>(std::count_if(
        t.begin(), t.end(), [](const auto& e) { return e.kind == sim::CommandKind::kLineStatus; }));
  }

 private:
  const std::shared_ptr<sim::EmulatorPeer> inner_;
  const std::shared_ptr<sim::PrinterEmulator> printer_;
  const int nth_;
  const std::function<void()> stop_;
};

TEST_F(PortDownload, AStopDuringALineCheckSendsNoFurtherCommand) {
  // The stop comes while the Nth status command waits for its answer, which
  // the printer keeps back: the first check of the download, or the first
  // after the IPL restart.
  struct Case {
    const char* name;
    ports::Interface iface;
    int nth;
  };
  const Case cases[] = {
      {"serial, first check", ports::Interface::kSerial, 1},
      {"serial, after the restart", ports::Interface::kSerial, 2},
      {"parallel, first check", ports::Interface::kParallel, 1},
      {"parallel, after the restart", ports::Interface::kParallel, 2},
      {"USB, first check", ports::Interface::kUsb, 1},
      {"USB, after the restart", ports::Interface::kUsb, 2},
  };
  const std::string image = WriteImage("boot.ipl", Pattern(131072));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    port = std::make_shared<platform::PrinterPortKnobs>();
    Use(c.iface);
    options.faults = {{sim::CommandKind::kLineStatus, c.nth, true, 0}};
    MakePrinter();
    emulated.line->SetPeer(
        std::make_shared<StopAtStatus>(emulated, c.nth, [this] { download->RequestStop(); }));

    int code = 0;
    switch (c.iface) {
      case ports::Interface::kSerial:
        code = Run(image, 0, 1);
        break;
      case ports::Interface::kParallel:
        code = RunParallel(image, 0, 1);
        break;
      case ports::Interface::kUsb:
        code = RunUsb(image, 0, 1);
        break;
    }
    EXPECT_EQ(code, kCancelled);
    EXPECT_EQ(StopAtStatus::StatusCommands(*emulated.printer), c.nth);
    const Strings commands = Commands();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.back(), "status");  // nothing else after it either
  }
}

}  // namespace
}  // namespace quillon::engine
