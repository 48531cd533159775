#pragma once
// The dialog program on the in-memory window backend and the virtual clock:
// CWriterApp runs on a user-interface thread of its own while the test acts
// as the user. COM1 leads to a fresh in-process printer emulator.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/writer_app.h"
#include "app/writer_dlg.h"
#include "engine/flash_download.h"
#include "platform/device.h"
#include "platform/fake_printer_port.h"
#include "res/resource.h"
#include "sim/emulated_line.h"
#include "support/memory_desktop.h"
#include "support/pattern.h"
#include "support/scratch_dir.h"
#include "support/sim_factory.h"
#include "support/ui_thread.h"
#include "support/virtual_clock.h"

namespace quillon::testing {

class WriterFixture : public ::testing::Test, protected MemoryDesktop {
 protected:
  ScratchDir scratch;
  const std::filesystem::path dir = scratch.Path();
  sim::EmulatorOptions options;
  sim::EmulatedLine emulated;
  std::unique_ptr<app::CWriterApp> app;
  std::unique_ptr<UiThread> ui;
  ui::WindowHandle main = ui::kNoWindow;
  // Every status the main window was sent, in order (guarded by the
  // backend's lock: read through Statuses()).
  std::vector<engine::StatusRecord> statuses_;
  std::optional<std::string> historyBefore_;  // QUILLON_HISTORY before UseHistory

  void SetUp() override {
    std::filesystem::create_directories(Devices());
    MapCom1("sim");
    backend.SetMessageObserver([this](const ui::MessageRecord& m) {
      if (m.message != platform::WM_PROGRESS_STATUS) return;
      const auto record = *reinterpret_cast<const engine::StatusRecord*>(m.lParam);
      backend.Touch([&] { statuses_.push_back(record); });
    });
  }

  void TearDown() override {
    // A failed test may leave windows open: close them as the user could.
    for (const int id : {IDD_ABOUT, IDD_MAIN}) {
      while (const ui::WindowHandle w = backend.FindDialog(id)) backend.ForceClose(w);
    }
    if (ui) ui->Join();
    backend.SetMessageObserver(nullptr);
    platform::SetSimulatorFactory(nullptr);
    MapCom1("");
    MapPort("QUILLON_LPT1", "");
    platform::SetUsbPrinterPath("");
    if (historyBefore_) MapPort("QUILLON_HISTORY", *historyBefore_);
  }

  // Records this test's downloads in a history file of its scratch folder
  // (the variable is set back afterwards); the file's path.
  std::string UseHistory() {
    const char* before = std::getenv("QUILLON_HISTORY");
    historyBefore_ = before ? before : "";
    const std::string path = scratch.File("history.jsonl");
    MapPort("QUILLON_HISTORY", path);
    return path;
  }

  // Starts the program; returns once its main dialog is up.
  void Start(std::string modelTable = app::kModelTableText) {
    app = std::make_unique<app::CWriterApp>(std::move(modelTable));
    ui = std::make_unique<UiThread>([this] { return app->Run(); });
    main = backend.WaitForDialog(IDD_MAIN);
    // The port lists look for devices in a folder of the test's own, not in
    // the machine's.
    EXPECT_TRUE(backend.RunOnWindowThread(main, [&] {
      if (auto* dialog = dynamic_cast<app::CWriterDlg*>(backend.DialogOf(main))) {
        dialog->deviceFolder = Devices().string();
      }
    }));
  }
  // The device folder the port lists read: empty unless the test puts
  // devices there.
  std::filesystem::path Devices() const { return dir / "dev"; }
  // Waits for the program to end; its exit code.
  int ExitCode() {
    ui->Join();
    return app->exitCode;
  }

  // The progress window of the download (also once destroyed).
  ui::WindowHandle ProgressWindow() {
    for (const auto& m : backend.Messages()) {
      if (m.templateId == IDD_PROGRESS) return m.window;
    }
    return ui::kNoWindow;
  }
  // Where COM1 leads (QUILLON_COMn); "" for the platform's own port.
  static void MapCom1(const std::string& target) { MapPort("QUILLON_COM1", target); }

  // A printer behind COM1 (call once the options are set), also reached as
  // a parallel port or a USB printer through `port`'s knobs when LPT1 or the
  // USB printer is mapped to "sim" (see MapPrinterPorts).
  void MakePrinter() {
    emulated = sim::MakeEmulatedLine(options);
    ServeAsSimulator(emulated.line, port);
  }
  std::shared_ptr<platform::PrinterPortKnobs> port = std::make_shared<platform::PrinterPortKnobs>();
  // LPT1 and the USB printer lead to the printer of MakePrinter.
  static void MapPrinterPorts() {
    MapPort("QUILLON_LPT1", "sim");
    platform::SetUsbPrinterPath("sim");
  }
  static void MapPort(const std::string& variable, const std::string& target) {
#ifdef _WIN32
    _putenv_s(variable.c_str(), target.c_str());  // an empty value removes it
#else
    if (target.empty()) {
      unsetenv(variable.c_str());
    } else {
      setenv(variable.c_str(), target.c_str(), 1);
    }
#endif
  }
  std::string WriteImage(const std::string& name, const std::vector<uint8_t>& data) {
    return scratch.Write(name, data);
  }

  // The main dialog's state.
  ui::ControlState Control(int id, ui::WindowHandle window = ui::kNoWindow) {
    const auto c = backend.Control(window ? window : main, id);
    EXPECT_TRUE(c.has_value()) << id;
    return c.value_or(ui::ControlState{});
  }
  bool Enabled(int id) {
    return Control(id).enabled;
  }
  // Runs `f` with the main dialog object on its thread; its result.
  template <class F>
  auto OnDialog(F f) {
    decltype(f(std::declval<app::CWriterDlg&>())) result{};
    EXPECT_TRUE(backend.RunOnWindowThread(main, [&] {
      auto* dialog = dynamic_cast<app::CWriterDlg*>(backend.DialogOf(main));
      ASSERT_NE(dialog, nullptr);
      result = f(*dialog);
    }));
    return result;
  }
  std::vector<std::string> BoxTexts() {
    std::vector<std::string> texts;
    for (const auto& b : backend.MessageBoxes()) texts.push_back(b.text);
    return texts;
  }
  bool WaitForBoxes(size_t n) {
    return backend.WaitFor([&] { return backend.MessageBoxes().size() >= n; });
  }
  std::vector<engine::StatusRecord> Statuses() {
    std::vector<engine::StatusRecord> out;
    backend.Peek([&] { out = statuses_; });
    return out;
  }
  // The user messages the main dialog took, in order.
  std::vector<ui::MessageRecord> UserMessages() {
    std::vector<ui::MessageRecord> out;
    for (const auto& m : backend.Messages()) {
      if (m.window == main && m.message >= 0x500 && m.message <= 0x518) out.push_back(m);
    }
    return out;
  }
  // How often the main dialog took user message `id`; waiting until it has
  // taken it `n` times.
  size_t Count(uint32_t id) {
    size_t seen = 0;
    for (const auto& m : UserMessages()) seen += m.message == id;
    return seen;
  }
  bool WaitForMessage(uint32_t id, size_t n = 1) {
    return backend.WaitFor([&] { return Count(id) >= n; });
  }

  // Serial Port, COM1 and a download type, then the file through Browse.
  void ChooseSerial(const std::string& type, const std::string& path) {
    ASSERT_TRUE(backend.Click(main, IDC_SERIAL));
    ASSERT_TRUE(backend.SelectListItem(main, IDC_PORT_LIST, std::string("COM1")));
    ChooseFile(type, path);
  }
  void ChooseFile(const std::string& type, const std::string& path) {
    ASSERT_TRUE(backend.SelectListItem(main, IDC_TYPE_LIST, type));
    backend.ScriptFileOpen(path);
    ASSERT_TRUE(backend.Click(main, IDC_BROWSE));
  }
};

// The dialog tests' images.
inline std::vector<uint8_t> ImagePattern(size_t size) {
  return Pattern(size, 7);
}

}  // namespace quillon::testing
