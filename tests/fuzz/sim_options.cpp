// The emulator's options: the input as a "sim:" option text, and split into
// quillon-printer-sim's arguments. Whatever either parser accepts must be a
// setting the emulator can run with; whatever it refuses must say why.

#include "sim/sim_options.h"

#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "sim/program_options.h"

namespace {

using namespace quillon;

// The limits the grammar promises (sim_options.h). In an option text a value
// ends at a comma; a program argument may hold one.
void CheckConfig(const sim::SimConfig& config, bool fromText) {
  const sim::EmulatorOptions& o = config.emulator;
  for (const int64_t ms : {o.bootDelayMs, o.restartMs, o.answerDelayMs, o.byteGapMs}) {
    FUZZ_CHECK(ms >= 0 && ms <= 86'400'000);
  }
  FUZZ_CHECK(o.silentFrom >= 0);
  for (const sim::Fault& f : o.faults) {
    FUZZ_CHECK(static_cast<int>(f.command) >= 0 &&
               static_cast<int>(f.command) < sim::kCommandKinds);
    FUZZ_CHECK(f.nth >= 0);
  }
  for (const int sector : o.badCrcSectors) FUZZ_CHECK(sim::PrinterEmulator::ValidSector(sector));
  FUZZ_CHECK(o.replugGoneMs == sim::kGoneForGood ||
             (o.replugGoneMs >= 0 && o.replugGoneMs <= 86'400'000));
  for (const sim::Replug& r : o.replugs) {
    FUZZ_CHECK(!r.during || r.command == sim::CommandKind::kData);
    FUZZ_CHECK(r.nth >= 0);
  }
  if (!fromText) return;
  for (const std::string* path : {&config.flashOut, &config.logOut, &config.image}) {
    FUZZ_CHECK(path->find(',') == std::string::npos);
  }
}

// A setting refused leaves a message naming what was wrong.
void CheckRefusal(const std::string& message) {
  FUZZ_CHECK(!message.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    sim::SimConfig config;
    std::string error;
    if (sim::ParseSimOptions(text, config, &error)) {
      CheckConfig(config, true);
    } else {
      CheckRefusal(error);
    }
    // Without a place for the message the answer is the same.
    sim::SimConfig again;
    FUZZ_CHECK(sim::ParseSimOptions(text, again) == error.empty());
  }
  {
    const std::vector<std::string> args = fuzz::SplitArguments(data, size, "quillon-printer-sim");
    const std::vector<const char*> argv = fuzz::Argv(args);
    sim::SimConfig config;
    sim::ProgramSettings settings;
    std::string message;
    switch (sim::ParseProgramArguments(static_cast<int>(args.size()), argv.data(), config, settings,
                                       message)) {
      case sim::ProgramArguments::kRun:
        FUZZ_CHECK(message.empty());
        CheckConfig(config, false);
        // One port at a time; leaving the bus only where there is one.
        FUZZ_CHECK(settings.device.empty() || settings.usbGadget.empty());
        FUZZ_CHECK(config.emulator.replugs.empty() || !settings.usbGadget.empty());
        FUZZ_CHECK(std::string_view("NEO").find(settings.parity) != std::string_view::npos);
        FUZZ_CHECK(settings.stopBits == 1 || settings.stopBits == 2);
        break;
      case sim::ProgramArguments::kHelp:
        FUZZ_CHECK(message.empty());
        break;
      case sim::ProgramArguments::kError:
        CheckRefusal(message);
        FUZZ_CHECK(message.starts_with("quillon-printer-sim: ") && message.ends_with("\n"));
        break;
    }
  }
  return 0;
}
