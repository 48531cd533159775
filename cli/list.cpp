#include "cli/list.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/result_table.h"
#include "engine/result_codes.h"
#include "platform/device.h"

namespace quillon::cli {

namespace {

using platform::PortEntry;

struct State {
  const char* word;  // usable, denied, absent, refused
  std::string why;   // what to do about it
};

State StateOf(const PortEntry& p) {
  switch (p.error) {
    case platform::kErrorSuccess:
      return {"usable", {}};
    case platform::kErrorAccessDenied: {
      if (platform::kDeniedWhenInUse) {
        return {"denied", "another program has it open, or this user may not open it"};
      }
      const int code = p.kind == PortEntry::Kind::kSerial     ? engine::kSerialHandle
                       : p.kind == PortEntry::Kind::kParallel ? engine::kParallelOpen
                                                              : engine::kUsbOpen;
      return {"denied", app::PermissionHint(code)};
    }
    case platform::kErrorFileNotFound:
      return {"absent", "no such device"};
    case platform::kErrorSharingViolation:
      return {"denied", "another program has it open"};
    default:
      return {"refused", "the system refuses it (error " + std::to_string(p.error) + ")"};
  }
}

// The USB facts of a port, in words: "FTDI FT232R, 0403:6001, serial X, bus 1-2".
std::string Facts(const PortEntry& p) {
  std::string out;
  const auto add = [&out](const std::string& part) {
    if (part.empty()) return;
    if (!out.empty()) out += ", ";
    out += part;
  };
  add(p.vendor.empty() || p.product.empty() ? p.vendor + p.product : p.vendor + " " + p.product);
  if (!p.vendorId.empty()) add(p.vendorId + ":" + p.productId);
  if (!p.serial.empty()) add("serial " + p.serial);
  if (!p.busPath.empty()) add("bus " + p.busPath);
  if (!p.deviceId.empty()) add("device ID " + p.deviceId);
  if (!p.namedBy.empty()) add("named by " + p.namedBy);
  return out;
}

// Each kind of port: its heading in the table and its key in the JSON object.
struct KindRow {
  PortEntry::Kind kind;
  const char* heading;
  const char* key;
};
constexpr KindRow kKinds[] = {{PortEntry::Kind::kSerial, "Serial ports", "serial"},
                              {PortEntry::Kind::kParallel, "Parallel ports", "parallel"},
                              {PortEntry::Kind::kUsb, "USB printers", "usb"}};

const char* Key(PortEntry::Kind kind) {
  for (const KindRow& row : kKinds) {
    if (row.kind == kind) return row.key;
  }
  return "";
}

}  // namespace

std::string PortTable(const std::vector<PortEntry>& ports) {
  std::string out;
  for (const KindRow& row : kKinds) {
    out += row.heading;
    out += ":\n";
    bool any = false;
    for (const PortEntry& p : ports) {
      if (p.kind != row.kind) continue;
      any = true;
      const State state = StateOf(p);
      char line[160];
      std::snprintf(line, sizeof line, "  %-6s %-24s %-8s", p.name.empty() ? "-" : p.name.c_str(),
                    p.path.c_str(), state.word);
      out += line;
      if (const std::string facts = Facts(p); !facts.empty()) out += " " + facts;
      while (!out.empty() && out.back() == ' ') out.pop_back();
      out += "\n";
      if (!state.why.empty()) out += "         " + state.why + "\n";
    }
    if (!any) out += "  none found\n";
  }
  return out;
}

std::string PortJson(const std::vector<PortEntry>& ports) {
  nlohmann::ordered_json all = nlohmann::ordered_json::object();
  for (const KindRow& row : kKinds) all[row.key] = nlohmann::ordered_json::array();
  const auto text = [](const std::string& value) {
    return value.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(value);
  };
  for (const PortEntry& p : ports) {
    const State state = StateOf(p);
    all[Key(p.kind)].push_back({{"name", text(p.name)},
                                {"path", p.path},
                                {"state", state.word},
                                {"hint", text(state.why)},
                                {"named_by", text(p.namedBy)},
                                {"vendor_id", text(p.vendorId)},
                                {"product_id", text(p.productId)},
                                {"vendor", text(p.vendor)},
                                {"product", text(p.product)},
                                {"serial", text(p.serial)},
                                {"device_id", text(p.deviceId)},
                                {"bus_path", text(p.busPath)}});
  }
  return all.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

int ShowPorts(const Options& options) {
  const std::vector<PortEntry> ports = platform::ListPorts();
  if (options.json) {
    std::printf("%s\n", PortJson(ports).c_str());
  } else {
    std::fputs(PortTable(ports).c_str(), stdout);
  }
  return 0;
}

}  // namespace quillon::cli
