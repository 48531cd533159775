#include "cli/hints.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>

#include "engine/download_type.h"
#include "engine/result_codes.h"
#include "engine/sector_plan.h"
#include "platform/text.h"

namespace quillon::cli {

namespace {

namespace fs = std::filesystem;

const std::string kPrefix = "quillon-flash: ";

}  // namespace

std::string ImageProblem(const std::string& image, engine::DownloadType kind) {
  const engine::DownloadTypeRow& row = engine::RowOf(kind);
  if (!engine::HasExtension(fs::path(image).filename().string(), kind)) {
    return std::string("its name does not end in .") + platform::ToLower(row.extension) + ", as " +
           row.inWords + " image's must";
  }
  std::error_code error;
  const fs::file_status status = fs::status(image, error);
  if (status.type() == fs::file_type::not_found) return "no such file";
  if (error) return error.message();
  if (status.type() != fs::file_type::regular) return "not a regular file";
  const uintmax_t size = fs::file_size(image, error);
  if (error) return error.message();
  if (size == 0) return "the file is empty";
  if (const auto room = static_cast<uintmax_t>(engine::Capacity(kind)); size > room) {
    return "too large: " + std::to_string(size) + " bytes, and at most " + std::to_string(room) +
           " fit from sector " + std::to_string(row.firstSector) + " on";
  }
  return {};
}

std::vector<std::string> Hints(const std::string& image, std::optional<engine::DownloadType> kind,
                               const Aftermath& after) {
  std::vector<std::string> hints;
  const bool failed = after.code != engine::kSuccess;
  if (failed && !after.hashProblem.empty()) {
    hints.push_back(kPrefix + image + ": " + after.hashProblem + "; nothing was sent");
  }

  if (kind && (after.code == engine::kUnableToOpenFile || after.code == engine::kInvalidImage)) {
    if (const std::string why = ImageProblem(image, *kind); !why.empty()) {
      hints.push_back(kPrefix + image + ": " + why);
    }
  }

  // An IPL image is written from its 32 KiB on: a shorter one leaves the
  // procedure nothing to send, and it goes from the line check to the reset.
  const bool ranProcedure =
      after.code == engine::kSuccess || after.reached != engine::Reached::kNothing;
  if (kind == engine::DownloadType::kIpl && ranProcedure) {
    std::error_code error;
    const bool regular = fs::is_regular_file(image, error);
    const uintmax_t size = regular ? fs::file_size(image, error) : 0;
    if (regular && !error && size <= static_cast<uintmax_t>(engine::kIplSkip)) {
      hints.push_back(kPrefix + image +
                      " has nothing past its first 32 KiB, the only part of an IPL image that is "
                      "written: nothing was written");
    }
  }

  // The parallel port opened, but no printer took part in the IEEE 1284
  // negotiation of the mode the download needs.
  const char* mode = after.code == engine::kEcpMode             ? "ECP"
                     : after.code == engine::kNibbleMode        ? "nibble"
                     : after.code == engine::kCompatibilityMode ? "compatibility"
                                                                : nullptr;
  if (mode) {
    hints.push_back(kPrefix + after.device + " could not be set to IEEE 1284 " + mode +
                    " mode: check that the printer is on and set to its parallel interface, that "
                    "the cable is an IEEE 1284 one, and that the port is set to ECP in the "
                    "computer's firmware setup");
  }
  if (failed && after.portGone) {
    hints.push_back(kPrefix + after.device +
                    " no longer exists: the printer left the USB bus and has not come back "
                    "under that name; without --port quillon-flash finds it by its USB ids");
  } else if (failed && after.printerGone) {
    hints.push_back(kPrefix +
                    "the USB printer is no longer on the bus: check its cable and that it is "
                    "switched on");
  }

  const bool silent = after.code == engine::kInterfaceBusy && !after.answered;
  if (silent) {
    hints.push_back(kPrefix + "nothing answered on " + after.device +
                    ": check the cable, the printer's power and the port");
  }
  const bool switched =
      after.reached != engine::Reached::kNothing && after.reached != engine::Reached::kCompleted;
  if (failed && switched && !silent) {
    // An IPL download never erases the first sector it writes.
    const bool ipl = kind == engine::DownloadType::kIpl;
    const char* first =
        ipl                                                    ? ""
        : after.reached == engine::Reached::kFirstSectorErased ? " and its first sector is erased"
        : after.reached == engine::Reached::kChangingFlash ? " and its first sector may be erased"
                                                           : "";
    hints.push_back(kPrefix + "the printer may still be in its flash loader" + first +
                    ": switch it off and on, then flash again");
  }
  return hints;
}

}  // namespace quillon::cli
