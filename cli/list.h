#pragma once
// --list: the serial ports, parallel ports and USB printers present, each
// with whether this user may open it.

#include <string>
#include <vector>

#include "cli/options.h"
#include "platform/port_list.h"

namespace quillon::cli {

// The ports as a table for people, and as one JSON object (without its
// newline): {"serial": [...], "parallel": [...], "usb": [...]}.
std::string PortTable(const std::vector<platform::PortEntry>& ports);
std::string PortJson(const std::vector<platform::PortEntry>& ports);

// Prints the ports present; the exit status.
int ShowPorts(const Options& options);

}  // namespace quillon::cli
