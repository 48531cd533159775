#pragma once
// Device nodes as udev tells them: the port list and the USB printer search
// of the download both take their devices from here, so that the two never
// disagree.

#include <string>
#include <vector>

#include "platform/device.h"

namespace quillon::platform::posix {

// A device node of a udev subsystem, with what the list shows of it.
struct NodeInfo {
  std::string sysname;   // lp0, ttyUSB0, parport0
  std::string devnode;   // /dev/usb/lp0
  std::string uartType;  // tty: the "type" attribute (0: no UART behind the node)
  // The USB device it belongs to, if any.
  std::string vendorId, productId;  // as sysfs gives them: "0f1d"
  std::string vendor, product, serial;
  std::string busPath;   // the USB device's name: "1-1.2"
  std::string deviceId;  // usblp: the IEEE 1284 device ID of the interface
};

// The nodes of `subsystem` ("tty", "ppdev", "usbmisc") whose names begin
// with one of `prefixes`, in udev's order; none when udev cannot be asked.
std::vector<NodeInfo> DeviceNodes(const char* subsystem, const std::vector<std::string>& prefixes);

// Whether the node's USB device has the id `id` (sysfs writes ids in hex,
// in any case).
bool HasUsbId(const NodeInfo& node, const UsbId& id);
// Whether it has one of the printer's ids (kPrinterUsbIds).
bool HasPrinterId(const NodeInfo& node);

// Sorts nodes by name and the number that ends it: ttyUSB2 before ttyUSB10.
void SortByNumber(std::vector<NodeInfo>& nodes);

}  // namespace quillon::platform::posix
