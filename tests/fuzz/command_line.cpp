// quillon-flash's command line: arguments drawn from the input, through the
// parser and the request check. A run must end in a download request that a
// download can start from, or in a code of the result table.

#include <algorithm>
#include <filesystem>
#include <string>

#include "app/result_table.h"
#include "cli/options.h"
#include "engine/result_codes.h"
#include "engine/sector_plan.h"
#include "fuzz/fuzz_support.h"
#include "platform/text.h"

namespace {

using namespace quillon;

const app::ModelTable& Table() {
  static const app::ModelTable table = [] {
    app::ModelTable t;
    FUZZ_CHECK(t.LoadModelTable() == 0);
    FUZZ_CHECK(t.SelectModel() == 1);
    FUZZ_CHECK(t.SplitDownloadTypes() == 1);
    return t;
  }();
  return table;
}

bool OneOf(const std::string& text, std::initializer_list<const char*> list) {
  return std::any_of(list.begin(), list.end(), [&](const char* item) { return text == item; });
}

void CheckRequest(const cli::Options& o, const app::DownloadRequest& r) {
  FUZZ_CHECK(r.imagePath == o.image);
  const std::string name = platform::ToUpper(std::filesystem::path(o.image).filename().string());
  const size_t dot = name.find('.');
  FUZZ_CHECK(dot != std::string::npos);
  FUZZ_CHECK(name.substr(dot + 1, 3) == engine::RowOf(r.type).extension);
  FUZZ_CHECK(r.firstSector == engine::RowOf(r.type).firstSector);
  switch (r.interface) {
    case app::Interface::kSerial:
      FUZZ_CHECK(o.interface == "serial");
      FUZZ_CHECK(!r.portName.empty());
      FUZZ_CHECK(OneOf(std::to_string(r.baudRate),
                       {"115200", "57600", "38400", "19200", "9600", "4800", "2400", "1200"}));
      FUZZ_CHECK(OneOf(r.parityText, {"NONE", "EVEN", "ODD"}));
      FUZZ_CHECK(r.stopBits == 1 || r.stopBits == 2);
      break;
    case app::Interface::kParallel:
      FUZZ_CHECK(o.interface == "parallel");
      FUZZ_CHECK(!r.portName.empty());
      break;
    case app::Interface::kUsb:
      FUZZ_CHECK(o.interface == "usb");
      FUZZ_CHECK(r.portName.empty());
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> args = fuzz::SplitArguments(data, size, "quillon-flash");
  const std::vector<const char*> argv = fuzz::Argv(args);
  cli::Options options;
  std::string error;
  const cli::Parsed parsed =
      cli::ParseCommandLine(static_cast<int>(args.size()), argv.data(), options, error);
  if (parsed == cli::Parsed::kError) FUZZ_CHECK(!error.empty());
  if (parsed != cli::Parsed::kRun) return 0;

  FUZZ_CHECK(OneOf(options.interface, {"serial", "parallel", "usb"}));
  app::DownloadRequest request;
  const int code = cli::MakeRequest(options, Table(), request);
  if (code == engine::kSuccess) {
    CheckRequest(options, request);
  } else {
    FUZZ_CHECK(app::LookupResult(code).has_value());
    FUZZ_CHECK(request == app::DownloadRequest{});
  }
  return 0;
}
