#include "sim/program_options.h"

namespace quillon::sim {

const std::string_view kProgramUsage =
    "usage: quillon-printer-sim [options]\n"
    "Emulates the passbook printer's flash loader on a pseudo-terminal. The first\n"
    "line printed is the terminal's path. SIGINT or SIGTERM ends the program.\n"
    "\n"
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
    "  --verbose             print each transcript line to stderr as it happens\n"
    "  --help                show this text\n"
    "\n"
    "CMD: switch status select erase data checksum recalc reset. N counts from 1\n"
    "among the commands the printer takes in; * or no N means every one.\n"
    "Options that may repeat: --nak, --reply, --silent, --bad-crc.\n";

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
};

constexpr std::string_view kProgram = "quillon-printer-sim: ";

}  // namespace

ProgramArguments ParseProgramArguments(int argc, const char* const* argv, SimConfig& config,
                                       bool& verbose, std::string& message) {
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") return ProgramArguments::kHelp;
    if (arg == "--verbose") {
      verbose = true;
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
    if (!flag) {
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
    if (!ApplySimOption(flag->key, value, config, &error)) {
      message.assign(kProgram).append(error).append("\n").append(kProgramUsage);
      return ProgramArguments::kError;
    }
  }
  return ProgramArguments::kRun;
}

}  // namespace quillon::sim
