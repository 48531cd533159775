#include "platform/port_list.h"

#include <algorithm>
#include <cstdlib>

#include "platform/device.h"

namespace quillon::platform {

namespace {

// What the environment variable `var` names, if it is set.
const char* Named(const std::string& var) {
  const char* value = std::getenv(var.c_str());
  return value && *value ? value : nullptr;
}

// Gives the port `name` (COMn, LPTn; empty over USB) its entry: the system's
// entry for the device it resolves to takes the name, or a new entry is made
// when `var` names a device the system does not list.
void Apply(std::vector<PortEntry>& ports, PortEntry::Kind kind, const std::string& name,
           const std::string& var) {
  const char* mapped = Named(var);
  if (name.empty() && !mapped) return;
  const DeviceTarget target = ResolveDevice(name.empty() ? mapped : name);
  const bool builtIn = target.kind == DeviceTarget::Kind::kSimulator;
  const std::string path = builtIn ? std::string(mapped ? mapped : "sim") : target.path;
  const auto it = std::find_if(ports.begin(), ports.end(), [&](const PortEntry& p) {
    return p.kind == kind && p.path == path;
  });
  if (it != ports.end()) {
    if (it->name.empty()) it->name = name;
    if (mapped) it->namedBy = var;
    return;
  }
  if (!mapped) return;  // not named, and not there
  PortEntry entry;
  entry.kind = kind;
  entry.name = name;
  entry.path = path;
  entry.namedBy = var;
  entry.error = builtIn ? 0 : DeviceAccess(path, kind);
  ports.push_back(entry);
}

}  // namespace

std::vector<PortEntry> ListPorts() {
  std::vector<PortEntry> ports = ListOsPorts();
  for (int n = 1; n <= 20; ++n) {
    Apply(ports, PortEntry::Kind::kSerial, "COM" + std::to_string(n),
          "QUILLON_COM" + std::to_string(n));
  }
  for (int n = 1; n <= 10; ++n) {
    Apply(ports, PortEntry::Kind::kParallel, "LPT" + std::to_string(n),
          "QUILLON_LPT" + std::to_string(n));
  }
  Apply(ports, PortEntry::Kind::kUsb, "", "QUILLON_USB");
  std::stable_sort(ports.begin(), ports.end(),
                   [](const PortEntry& a, const PortEntry& b) { return a.kind < b.kind; });
  return ports;
}

}  // namespace quillon::platform
