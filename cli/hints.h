#pragma once
// What quillon-flash tells the user after the result line: what state the
// printer may have been left in, why an image was refused, what an image
// held. Each hint is one line for the standard error stream.

#include <optional>
#include <string>
#include <vector>

#include "engine/download_type.h"
#include "engine/flash_download.h"

namespace quillon::cli {

// What is known once a download has ended.
struct Aftermath {
  int code = 0;  // the result
  engine::Reached reached = engine::Reached::kNothing;
  bool answered = false;  // some byte came back from the printer
  std::string device;     // the port, in words
  // Over USB, after a failure: the port given no longer exists, or no
  // printer with the printer's USB ids is there any more.
  bool portGone = false;
  bool printerGone = false;
  // Why the image's SHA-256 check refused it.
  std::string hashProblem;
};

// Why `image` cannot be a `kind` image, from its name and what the file
// system says of it (the file is not opened); empty if no reason is seen.
std::string ImageProblem(const std::string& image, engine::DownloadType kind);

// The hints for a download of `image` (`kind` is empty when the download
// type is not known), each a line of its own, prefixed with the program's
// name.
std::vector<std::string> Hints(const std::string& image, std::optional<engine::DownloadType> kind,
                               const Aftermath& after);

}  // namespace quillon::cli
