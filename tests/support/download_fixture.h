#pragma once
// A download against the in-process printer emulator on the virtual clock,
// launched as the program launches it: the emulator is reached as the port
// "sim", so the procedure's close and reopen of the port find the same
// printer again.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/flash_download.h"
#include "engine/sector_plan.h"
#include "platform/device.h"
#include "platform/fake_printer_port.h"
#include "ports/link.h"
#include "sim/emulated_line.h"
#include "support/counting_device.h"
#include "support/launch.h"
#include "support/pattern.h"
#include "support/recording_window.h"
#include "support/scratch_dir.h"
#include "support/sim_factory.h"
#include "support/virtual_clock.h"

namespace quillon::testing {

class SerialDownload : public ::testing::Test {
 protected:
  platform::VirtualClock clock;
  platform::ScopedClock scope{clock};
  sim::EmulatorOptions options;
  sim::EmulatedLine emulated;
  LaunchHost host;
  RecordingWindow& window = host.window;
  // A serial download until a test runs another interface's.
  std::unique_ptr<engine::CFlashDownload> download =
      std::make_unique<engine::CFlashDownload>(ports::Interface::kSerial);
  ScratchDir scratch;
  const std::filesystem::path dir = scratch.Path();

  void TearDown() override {
    platform::SetSimulatorFactory(nullptr);
    platform::SetUsbPrinterPath("");
  }

  // Makes the printer (call once options are set up). As a parallel port or
  // a USB printer it is reached through `port`'s knobs. Every device opened
  // on it counts its calls on `portCalls`.
  void MakePrinter() {
    emulated = sim::MakeEmulatedLine(options);
    sim::ConnectBus(*emulated.printer, port);
    ServeAsSimulator(emulated.line, port, portCalls);
    download->SetWindow(&host);
  }
  // A new download object for `iface`, shown in the same window.
  void Use(ports::Interface iface) {
    download = std::make_unique<engine::CFlashDownload>(iface);
    download->SetWindow(&host);
  }
  std::shared_ptr<platform::PrinterPortKnobs> port = std::make_shared<platform::PrinterPortKnobs>();
  std::shared_ptr<DeviceCalls> portCalls = std::make_shared<DeviceCalls>();
  std::string WriteImage(const std::string& name, const std::vector<uint8_t>& data) {
    return scratch.Write(name, data);
  }
  // A download of the image at `path` as the type mainProg/iplProg name,
  // from the launch to the result; its thread's pauses are Timeline().
  int Run(const std::string& path, int mainProg, int iplProg, const std::string& parity = "NONE",
          int baud = 38400) {
    return Launch(ports::Interface::kSerial, "sim", path, mainProg, iplProg, parity, baud);
  }
  int RunParallel(const std::string& path, int mainProg, int iplProg) {
    return Launch(ports::Interface::kParallel, "sim", path, mainProg, iplProg);
  }
  int RunUsb(const std::string& path, int mainProg, int iplProg) {
    platform::SetUsbPrinterPath("sim");
    return Launch(ports::Interface::kUsb, "", path, mainProg, iplProg);
  }
  int Launch(ports::Interface iface, const std::string& port, const std::string& path, int mainProg,
             int iplProg, const std::string& parity = "NONE", int baud = 38400) {
    if (!emulated.printer) MakePrinter();
    if (download->Kind() != iface) Use(iface);
    app::DownloadRequest request;
    request.interface = iface;
    request.type = mainProg  ? engine::DownloadType::kMain
                   : iplProg ? engine::DownloadType::kIpl
                             : engine::DownloadType::kFont;
    request.portName = port;
    request.imagePath = path;
    request.firstSector = engine::firstSector(mainProg, iplProg);
    request.baudRate = baud;
    request.parityText = parity;
    clock.ClearRecords();
    return testing::Launch(request, *download, host);
  }
  std::vector<uint8_t> Flash(int sector) { return emulated.printer->Sector(sector); }
  // A main firmware of two sectors went in as it must: both erased first,
  // the second sector written before the first, each checked, then the CRC.
  void ExpectMainFirmware(const std::vector<uint8_t>& image) {
    EXPECT_EQ(Commands(), (std::vector<std::string>{"switch", "status", "erase 6", "erase 7",
                                                    "select 7", "data 7", "checksum", "select 6",
                                                    "data 6", "checksum", "recalc", "reset"}));
    EXPECT_EQ(Flash(6), std::vector<uint8_t>(image.begin(), image.begin() + 65536));
    EXPECT_EQ(Flash(7), std::vector<uint8_t>(image.begin() + 65536, image.end()));
  }
  // The commands the printer took in, as "erase 7", "data 7", ...
  std::vector<std::string> Commands() {
    std::vector<std::string> out;
    for (const auto& e : emulated.printer->Transcript()) {
      if (e.number == 0) continue;
      std::string c(sim::CommandName(e.kind));
      if (e.sector >= 0) {
        c += ' ';
        c += std::to_string(e.sector);
      }
      out.push_back(c);
    }
    return out;
  }
  // The pauses of the last download's thread; of the test's own while none
  // was launched.
  std::vector<int64_t> Timeline() {
    const std::thread::id launched = host.DownloadThread();
    return clock.Timeline(launched == std::thread::id() ? std::this_thread::get_id() : launched);
  }
};

}  // namespace quillon::testing
