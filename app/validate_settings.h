#pragma once
// The check of the user's settings before a download: one function for the
// main dialog and the command line alike.

#include <string>

#include "app/model_table.h"
#include "ports/link.h"

namespace quillon::app {

using ports::Interface;

// The settings as the dialog's controls hold them.
struct DialogSettings {
  Interface interface = Interface::kSerial;
  std::string portText;
  std::string typeText;
  std::string fileText;  // the file box: the image's file name
  std::string parityText;
  std::string baudText;
  std::string stopBitsText;
  // The port text is a device path (the command line; a device the dialog's
  // port list offers after the numbered ports) or the built-in emulator
  // rather than a port name: it is taken as it stands, neither cut nor
  // turned into upper case.
  bool portIsDevice = false;
};

struct ValidatedSettings {
  std::string portName;
  std::string parityText;
  int baudRate = 0;
  int stopBits = 0;
  int firstSector = 0;
  int mainProg = 0;
  int iplProg = 0;
  int fontProg = 0;
  Interface interface = Interface::kSerial;
};

// Returns 1, or the code of the first problem found (1012-1016, 1020, 1033).
// Fills `out` as far as it got.
int ValidateSettings(const DialogSettings& in, const ModelTable& table, ValidatedSettings& out);

}  // namespace quillon::app
