#include "sim/program_options.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace quillon::sim {

const std::string_view kProgramUsage =
    "usage: quillon-printer-sim [options]\n"
    "Emulates the passbook printer's flash loader on a pseudo-terminal, a serial\n"
    "device or a USB printer gadget. The first line printed is the port served.\n"
    "SIGINT or SIGTERM ends the program.\n"
    "\n"
    "  --device TTY          serve this serial device instead of a pseudo-terminal\n"
    "  --baud RATE           its speed until the switch (38400; the loader then\n"
    "                        talks at 38400 baud, 8N1)\n"
    "  --parity none|even|odd   likewise its parity (none)\n"
    "  --stop-bits 1|2       likewise its stop bits (1)\n"
    "  --usb-gadget DEV      serve a USB printer gadget's file (/dev/g_printerN)\n"
    "  --gadget DIR          the gadget's configfs folder, to leave the bus (default:\n"
    "                        the only bound gadget with a printer function)\n"
    "  --log FILE            write the transcript to FILE at the end\n"
    "  --flash-out FILE      write the whole flash (4,390,912 bytes) to FILE at the end\n"
    "  --image FILE          initial flash contents from FILE (default: all 0xFF)\n"
    "  --status-byte HH      second byte of the line-status answer, hex (default 23)\n"
    "  --boot-ms MS          deaf time after the switch to download mode (1000)\n"
    "  --restart-ms MS       deaf time of the loader restart in an IPL download (3000)\n"
    "  --answer-delay MS     time from a frame's last byte to its answer (0)\n"
    "  --byte-gap MS         time between the bytes of one answer (0)\n"
    "  --nak CMD[:N]         answer NAK to the Nth command of kind CMD\n"
    "  --reply CMD:N:HH      answer the byte HH instead (CMD:*:HH or CMD:0xHH: to\n"
    "                        every command of the kind)\n"
    "  --silent CMD[:N]      answer nothing to the Nth command of kind CMD\n"
    "  --silent-from N       answer nothing from the Nth command on\n"
    "  --bad-crc SECTOR      acknowledge a wrong checksum after a block into SECTOR\n"
    "  --program and|write   programming clears bits only, or replaces (write)\n"
    "  --replug-after CMD[:N]  USB: leave the bus 2 s after the Nth command of\n"
    "                        kind CMD and its answer (once the host has it), then\n"
    "                        come back\n"
    "  --replug-during data[:N]  USB: leave the bus with the Nth data block, lost\n"
    "  --replug-gone MS|never  how long the printer stays off the bus (3000)\n"
    "  --verbose             print each transcript line to stderr as it happens\n"
    "  --help                show this text\n"
    "\n"
    "CMD: switch status select erase data checksum recalc reset. N counts from 1\n"
    "among the commands the printer takes in; * or no N means every one.\n"
    "Options that may repeat: --nak, --reply, --silent, --bad-crc, --replug-after,\n"
    "--replug-during.\n";

namespace {

struct Flag {
  std::string_view name;
  std::string_view key;  // in the option grammar of sim_options.h
};
constexpr Flag kFlags[] = {
    {"--log", "log"},
    {"--flash-out", "flash"},
    {"--image", "image"},
    {"--status-byte", "status"},
    {"--boot-ms", "boot-ms"},
    {"--restart-ms", "restart-ms"},
    {"--answer-delay", "delay"},
    {"--byte-gap", "gap"},
    {"--nak", "nak"},
    {"--reply", "reply"},
    {"--silent", "silent"},
    {"--silent-from", "silent-from"},
    {"--bad-crc", "bad-crc"},
    {"--program", "program"},
    {"--replug-after", "replug-after"},
    {"--replug-during", "replug-during"},
    {"--replug-gone", "replug-gone"},
};

constexpr std::string_view kProgram = "quillon-printer-sim: ";

}  // namespace

namespace {

// The program's own options, which name no key of the grammar. False, with
// `why`, for a bad value.
bool ApplyProgramOption(std::string_view name, std::string_view value, ProgramSettings& s,
                        std::string& why) {
  if (name == "--device" || name == "--usb-gadget" || name == "--gadget") {
    if (value.empty()) {
      why = "expected a path";
      return false;
    }
    (name == "--device" ? s.device : name == "--usb-gadget" ? s.usbGadget : s.gadgetDir) = value;
    return true;
  }
  if (name == "--baud") {
    for (int rate : {115200, 57600, 38400, 19200, 9600, 4800, 2400, 1200}) {
      if (value == std::to_string(rate)) {
        s.baud = rate;
        return true;
      }
    }
    why = "expected 115200, 57600, 38400, 19200, 9600, 4800, 2400 or 1200";
    return false;
  }
  if (name == "--parity") {
    for (const auto& [text, letter] : {std::pair{"none", 'N'}, {"even", 'E'}, {"odd", 'O'}}) {
      if (value == text) {
        s.parity = letter;
        return true;
      }
    }
    why = "expected none, even or odd";
    return false;
  }
  // --stop-bits
  if (value != "1" && value != "2") {
    why = "expected 1 or 2";
    return false;
  }
  s.stopBits = value[0] - '0';
  return true;
}

constexpr std::string_view kProgramOptions[] = {"--device",    "--baud",       "--parity",
                                                "--stop-bits", "--usb-gadget", "--gadget"};

}  // namespace

ProgramArguments ParseProgramArguments(int argc, const char* const* argv, SimConfig& config,
                                       ProgramSettings& settings, std::string& message) {
  bool lineGiven = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") return ProgramArguments::kHelp;
    if (arg == "--verbose") {
      settings.verbose = true;
      continue;
    }
    std::string_view value;
    bool inlineValue = false;
    if (const size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
      inlineValue = true;
    }
    const Flag* flag = nullptr;
    for (const Flag& f : kFlags) {
      if (f.name == arg) flag = &f;
    }
    const bool own = std::find(std::begin(kProgramOptions), std::end(kProgramOptions), arg) !=
                     std::end(kProgramOptions);
    if (!flag && !own) {
      message.assign(kProgram).append("unknown option ").append(argv[i]).append("\n");
      message.append(kProgramUsage);
      return ProgramArguments::kError;
    }
    if (!inlineValue) {
      if (i + 1 >= argc) {
        message.assign(kProgram).append(argv[i]).append(" needs a value\n");
        return ProgramArguments::kError;
      }
      value = argv[++i];
    }
    std::string error;
    lineGiven = lineGiven || arg == "--baud" || arg == "--parity" || arg == "--stop-bits";
    if (own && !ApplyProgramOption(arg, value, settings, error)) {
      error = "bad option " + std::string(arg) + " " + std::string(value) + ": " + error;
    }
    if (!own) ApplySimOption(flag->key, value, config, &error);
    if (!error.empty()) {
      message.assign(kProgram).append(error).append("\n").append(kProgramUsage);
      return ProgramArguments::kError;
    }
  }
  const char* clash =
      !settings.device.empty() && !settings.usbGadget.empty()
          ? "--device and --usb-gadget do not go together"
      : !config.emulator.replugs.empty() && settings.usbGadget.empty()
          ? "--replug-after and --replug-during need --usb-gadget"
      : !settings.gadgetDir.empty() && settings.usbGadget.empty() ? "--gadget needs --usb-gadget"
      : lineGiven && settings.device.empty() ? "--baud, --parity and --stop-bits need --device"
                                             : nullptr;
  if (clash) {
    message.assign(kProgram).append(clash).append("\n");
    return ProgramArguments::kError;
  }
  return ProgramArguments::kRun;
}

}  // namespace quillon::sim
