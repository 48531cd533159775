#pragma once
// A serial download against the in-process printer emulator on the virtual
// clock: the emulator is reached as the port "sim", so the procedure's close
// and reopen of the port find the same printer again.

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
  RecordingWindow window;
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
    download->SetWindow(&window);
  }
  // A new download object for `iface`, shown in the same window.
  void Use(ports::Interface iface) {
    download = std::make_unique<engine::CFlashDownload>(iface);
    download->SetWindow(&window);
  }
  std::shared_ptr<platform::PrinterPortKnobs> port = std::make_shared<platform::PrinterPortKnobs>();
  std::shared_ptr<DeviceCalls> portCalls = std::make_shared<DeviceCalls>();
  std::string WriteImage(const std::string& name, const std::vector<uint8_t>& data) {
    return scratch.Write(name, data);
  }
  // The worker's sequence: open the port, run the procedure, end.
  int Run(const std::string& path, int mainProg, int iplProg, const std::string& parity = "NONE",
          int baud = 38400) {
    if (!emulated.printer) MakePrinter();
    if (download->Kind() != ports::Interface::kSerial) Use(ports::Interface::kSerial);
    int code = download->OpenSerialPort("sim", baud, parity, 1);
    if (code != engine::kSuccess) return code;
    code = download->DownloadSerial(path, engine::firstSector(mainProg, iplProg), mainProg, iplProg,
                                    engine::flashSectorSizes,
                                    engine::SerialSettings{"sim", baud, parity, 1});
    download->EndDownload();
    return code;
  }
  // The parallel launch and send thread's sequence: open the port in its
  // modes, check the image, run the procedure, end.
  int RunParallel(const std::string& path, int mainProg, int iplProg) {
    if (!emulated.printer) MakePrinter();
    if (download->Kind() != ports::Interface::kParallel) Use(ports::Interface::kParallel);
    int code = download->OpenParallelPrinter("sim", iplProg);
    if (code == engine::kSuccess) code = download->CheckImageFile(path);
    if (code != engine::kSuccess) return code;
    code = download->DownloadParallel(path, engine::firstSector(mainProg, iplProg), mainProg,
                                      iplProg, engine::flashSectorSizes);
    download->EndDownload();
    return code;
  }
  // The USB launch and send thread's: connect, check the image, run, end.
  int RunUsb(const std::string& path, int mainProg, int iplProg, int pace = 2) {
    if (!emulated.printer) MakePrinter();
    if (download->Kind() != ports::Interface::kUsb) Use(ports::Interface::kUsb);
    platform::SetUsbPrinterPath("sim");
    int code = download->ConnectUsbPrinter();
    if (code == engine::kSuccess) code = download->CheckImageFile(path);
    if (code != engine::kSuccess) return code;
    code = download->DownloadUSB(path, engine::firstSector(mainProg, iplProg), mainProg, iplProg,
                                 pace, engine::flashSectorSizes);
    download->EndDownload();
    return code;
  }
  std::vector<uint8_t> Flash(int sector) { return emulated.printer->Sector(sector); }
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
  std::vector<int64_t> Timeline() { return clock.Timeline(std::this_thread::get_id()); }
};

}  // namespace quillon::testing
