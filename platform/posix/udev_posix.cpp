#include "platform/posix/udev_posix.h"

#include <libudev.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <memory>

namespace quillon::platform::posix {

namespace {

struct UdevFree {
  void operator()(udev* u) const { udev_unref(u); }
  void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
  void operator()(udev_device* d) const { udev_device_unref(d); }
};
template <class T>
using Owned = std::unique_ptr<T, UdevFree>;

std::string Text(const char* value) {
  return value ? value : "";
}

std::string Attribute(udev_device* device, const char* name) {
  return device ? Text(udev_device_get_sysattr_value(device, name)) : "";
}

// The name without its trailing digits, and the number they make (none: -1).
std::pair<std::string, long> Split(const std::string& name) {
  const size_t end = name.find_last_not_of("0123456789");
  const size_t digits = end == std::string::npos ? 0 : end + 1;
  if (digits == name.size() || name.size() - digits > 9) return {name, -1};
  return {name.substr(0, digits), std::stol(name.substr(digits))};
}

}  // namespace

std::vector<NodeInfo> DeviceNodes(const char* subsystem, const std::vector<std::string>& prefixes) {
  std::vector<NodeInfo> nodes;
  const Owned<udev> context(udev_new());
  if (!context) return nodes;
  const Owned<udev_enumerate> enumerate(udev_enumerate_new(context.get()));
  if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), subsystem) < 0 ||
      udev_enumerate_scan_devices(enumerate.get()) < 0) {
    return nodes;
  }
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
    const Owned<udev_device> device(
        udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
    if (!device) continue;
    NodeInfo node;
    node.sysname = Text(udev_device_get_sysname(device.get()));
    node.devnode = Text(udev_device_get_devnode(device.get()));
    if (node.devnode.empty()) continue;
    if (std::none_of(prefixes.begin(), prefixes.end(),
                     [&](const std::string& p) { return node.sysname.starts_with(p); })) {
      continue;
    }
    node.uartType = Attribute(device.get(), "type");
    // The parents belong to the device and are not freed on their own.
    udev_device* usb =
        udev_device_get_parent_with_subsystem_devtype(device.get(), "usb", "usb_device");
    if (usb) {
      node.vendorId = Attribute(usb, "idVendor");
      node.productId = Attribute(usb, "idProduct");
      node.vendor = Attribute(usb, "manufacturer");
      node.product = Attribute(usb, "product");
      node.serial = Attribute(usb, "serial");
      node.busPath = Text(udev_device_get_sysname(usb));
    }
    udev_device* interface =
        udev_device_get_parent_with_subsystem_devtype(device.get(), "usb", "usb_interface");
    node.deviceId = Attribute(interface, "ieee1284_id");
    nodes.push_back(std::move(node));
  }
  SortByNumber(nodes);
  return nodes;
}

bool HasUsbId(const NodeInfo& node, const UsbId& id) {
  const auto hex = [](const std::string& text, unsigned long& value) {
    char* end = nullptr;
    value = std::strtoul(text.c_str(), &end, 16);
    return !text.empty() && *end == '\0';
  };
  unsigned long vendor = 0;
  unsigned long product = 0;
  return hex(node.vendorId, vendor) && hex(node.productId, product) && vendor == id.vendor &&
         product == id.product;
}

bool HasPrinterId(const NodeInfo& node) {
  return std::any_of(std::begin(kPrinterUsbIds), std::end(kPrinterUsbIds),
                     [&node](const UsbId& id) { return HasUsbId(node, id); });
}

void SortByNumber(std::vector<NodeInfo>& nodes) {
  std::stable_sort(nodes.begin(), nodes.end(), [](const NodeInfo& a, const NodeInfo& b) {
    return Split(a.sysname) < Split(b.sysname);
  });
}

}  // namespace quillon::platform::posix
