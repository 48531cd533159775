#include "cli/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>
#include <vector>

#include "app/image_hash.h"
#include "engine/download_type.h"
#include "engine/result_codes.h"
#include "platform/text.h"

namespace quillon::cli {

const char* const kUsage =
    "Usage: quillon-flash [options] IMAGE\n"
    "Writes IMAGE into the flash memory of the printer.\n"
    "\n"
    "  -t, --type TYPE        a download type: \"MAIN FIRMWARE\", \"IPL FIRMWARE\",\n"
    "                         \"US&EU FONT\" (any case), or main, ipl, font. Required.\n"
    "  -i, --interface IF     serial (default), parallel or usb\n"
    "  -p, --port PORT        serial: COM1..COM20 (default COM1) or a device path such\n"
    "                         as /dev/ttyUSB0; parallel: LPT1..LPT10 (default LPT1) or\n"
    "                         a device path such as /dev/parport0; usb: a device path\n"
    "                         such as /dev/usb/lp0 (default: the printer is found by\n"
    "                         its USB ids). On every interface sim is the built-in\n"
    "                         emulated printer (sim:flash=FILE,log=FILE keeps its\n"
    "                         flash and transcript)\n"
    "  -b, --baud RATE        115200 57600 38400 19200 9600 4800 2400 1200 (default 38400)\n"
    "      --parity P         NONE EVEN ODD, any case (default NONE)\n"
    "      --stop-bits N      1 or 2 (default 1)\n"
    "      --sha256 HASH      the image's SHA-256 (64 hexadecimal digits): another\n"
    "                         image is refused before the printer is touched\n"
    "      --require-sha256   refuse an image with neither --sha256 nor IMAGE.sha256\n"
    "      --history [N]      show the last N downloads (default 10) and end\n"
    "      --list             show the serial ports, parallel ports and USB printers\n"
    "                         present, and whether this user may open each, and end\n"
    "      --plan             check IMAGE as the download would, show the sectors it\n"
    "                         would erase and write and the time it would take, and\n"
    "                         end: no port is opened\n"
    "      --json             print the result (or the plan) as one JSON object\n"
    "      --progress=json    the progress on stderr as JSON lines, for programs\n"
    "  -q, --quiet            no progress display\n"
    "  -v, --verbose          progress with its figures\n"
    "  -h, --help             this text\n"
    "      --version          the program's version\n"
    "      --                 the options end here: what follows is IMAGE\n"
    "\n"
    "COMn is the serial port n (on Linux /dev/ttyS<n-1>), or the device named\n"
    "by the environment variable QUILLON_COMn; LPTn likewise the parallel port\n"
    "(/dev/parport<n-1>, QUILLON_LPTn); QUILLON_USB names the USB printer.\n"
    "Baud rate, parity and stop bits apply to the serial port only. Without\n"
    "--sha256, the sidecar IMAGE.sha256 (as sha256sum writes it), if there is\n"
    "one, gives the hash the image must have. The exit\n"
    "status is 0 when the download succeeded, 1 when it did not, 2 for a\n"
    "malformed command line.\n";

namespace {

// A port given as a device path or as the emulator rather than a port name.
bool IsDevice(const std::string& port) {
  return port == "sim" || port.starts_with("sim:") || port.find('/') != std::string::npos ||
         port.starts_with("\\\\.\\");
}

// A port name of the form COMn or LPTn, in any case.
bool IsNumberedPortName(const std::string& port) {
  const std::string upper = platform::ToUpper(port);
  if (!upper.starts_with("COM") && !upper.starts_with("LPT")) return false;
  return upper.size() > 3 &&
         std::all_of(upper.begin() + 3, upper.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Whether --json comes among the options (before a "--"), whatever else
// the line holds.
bool AsksForJson(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") return false;
    if (arg == "--json") return true;
  }
  return false;
}

}  // namespace

Parsed ParseCommandLine(int argc, const char* const* argv, Options& o, std::string& error) {
  CLI::App app("quillon-flash");
  app.set_help_flag("-h,--help");
  // A value given twice counts the last time, as most tools take it.
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.add_flag_callback("--version", [] { throw CLI::Success(); });
  app.add_option("-t,--type", o.type);
  app.add_option("-i,--interface", o.interface);
  app.add_option("-p,--port", o.port);
  app.add_option("-b,--baud", o.baud);
  app.add_option("--parity", o.parity);
  app.add_option("--stop-bits", o.stopBits);
  app.add_option("--sha256", o.sha256);
  app.add_flag("--require-sha256", o.requireSha256);
  std::string history;
  app.add_option("--history", history)->expected(0, 1);
  app.add_flag("--plan", o.plan);
  app.add_flag("--list", o.list);
  std::string progress;
  app.add_option("--progress", progress);
  app.add_flag("--json", o.json);
  app.add_flag("-q,--quiet", o.quiet);
  app.add_flag("-v,--verbose", o.verbose);
  std::vector<std::string> images;
  app.add_option("IMAGE", images)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    return Parsed::kHelp;
  } catch (const CLI::Success&) {
    return Parsed::kVersion;
  } catch (const CLI::ParseError& e) {
    error = e.what();
    o.json = AsksForJson(argc, argv);
    return Parsed::kError;
  }

  if (o.list) {
    if (!images.empty()) {
      error = "--list takes no IMAGE";
      return Parsed::kError;
    }
    return Parsed::kList;
  }
  if (app.count("--history") > 0) {
    if (!images.empty()) {
      error = "--history takes no IMAGE";
      return Parsed::kError;
    }
    const bool number = !history.empty() && history.size() <= 6 &&
                        std::all_of(history.begin(), history.end(),
                                    [](unsigned char c) { return std::isdigit(c) != 0; });
    if (!history.empty() && (!number || std::stoul(history) == 0)) {
      error = "--history " + history + ": give the number of records to show";
      return Parsed::kError;
    }
    if (number) o.historyCount = std::stoul(history);
    return Parsed::kHistory;
  }
  if (images.empty()) {
    error = "no IMAGE given";
    return Parsed::kError;
  }
  if (images.size() > 1) {
    error = "more than one image given";
    return Parsed::kError;
  }
  o.image = images.front();
  if (app.count("--type") == 0) {
    error = "no download type given (--type main|ipl|font)";
    return Parsed::kError;
  }
  const std::string interface = platform::ToLower(o.interface);
  if (interface != "serial" && interface != "parallel" && interface != "usb") {
    error = "unknown interface " + o.interface;
    return Parsed::kError;
  }
  o.interface = interface;
  if (app.count("--port") > 0 && o.port.empty()) {
    error = "--port was given an empty name";
    return Parsed::kError;
  }
  if (interface == "usb" && IsNumberedPortName(o.port)) {
    error = "--port " + o.port +
            " names a serial or parallel port; over USB give the printer's device path, or no "
            "--port";
    return Parsed::kError;
  }
  if (app.count("--progress") > 0) {
    if (progress != "json") {
      error = "--progress " + progress + ": the only progress format is json";
      return Parsed::kError;
    }
    o.jsonProgress = true;
  }
  if (app.count("--sha256") > 0 && !app::IsSha256(o.sha256)) {
    error = "--sha256 " + o.sha256 + " is not a SHA-256: give its 64 hexadecimal digits";
    return Parsed::kError;
  }
  if (o.port.empty() && interface == "serial") o.port = "COM1";
  if (o.port.empty() && interface == "parallel") o.port = "LPT1";
  return o.plan ? Parsed::kPlan : Parsed::kRun;
}

std::string TypeText(const std::string& type) {
  const std::optional<engine::DownloadType> kind = engine::TypeOfCommandName(type);
  return kind ? engine::RowOf(*kind).name : type;
}

int MakeRequest(const Options& o, const app::ModelTable& table, app::DownloadRequest& request) {
  app::DialogSettings in;
  in.interface = o.interface == "usb"        ? app::Interface::kUsb
                 : o.interface == "parallel" ? app::Interface::kParallel
                                             : app::Interface::kSerial;
  in.portText = o.port;
  in.portIsDevice = IsDevice(o.port);
  in.typeText = TypeText(o.type);
  in.fileText = std::filesystem::path(o.image).filename().string();
  in.parityText = o.parity;
  in.baudText = o.baud;
  in.stopBitsText = o.stopBits;
  app::ValidatedSettings settings;
  if (const int code = app::ValidateSettings(in, table, settings); code != engine::kSuccess) {
    return code;
  }
  request = app::MakeRequest(settings, o.image);
  request.sha256 = o.sha256;
  request.requireSha256 = o.requireSha256;
  return engine::kSuccess;
}

}  // namespace quillon::cli
