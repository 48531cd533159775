#include "platform/device.h"

#include <cctype>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/text.h"

namespace quillon::platform {

#ifndef _WIN32
void ClearLastErrno();  // posix/error_posix.cpp
#endif

namespace {

thread_local int lastError = kErrorSuccess;

struct Registry {
  std::mutex mutex;
  std::map<Handle, std::shared_ptr<SerialDevice>> devices;
  Handle next = 0x100;
  SimulatorFactory simulator;
};

Registry& Reg() {
  static Registry registry;
  return registry;
}

std::shared_ptr<SerialDevice> Lookup(Handle h) {
  auto device = DeviceOf(h);
  if (!device) SetLastError(kErrorInvalidHandle);
  return device;
}

}  // namespace

int LastError() {
  return lastError;
}
void SetLastError(int code) {
  lastError = code;
#ifndef _WIN32
  ClearLastErrno();
#endif
}

Handle RegisterDevice(std::shared_ptr<SerialDevice> device) {
  Registry& r = Reg();
  std::lock_guard lock(r.mutex);
  const Handle h = r.next;
  r.next += 4;
  r.devices[h] = std::move(device);
  return h;
}

std::shared_ptr<SerialDevice> DeviceOf(Handle h) {
  Registry& r = Reg();
  std::lock_guard lock(r.mutex);
  auto it = r.devices.find(h);
  return it == r.devices.end() ? nullptr : it->second;
}

void SetSimulatorFactory(SimulatorFactory factory) {
  Registry& r = Reg();
  std::lock_guard lock(r.mutex);
  r.simulator = std::move(factory);
}

namespace {

// n for "<prefix>n" with 1 <= n <= max (upper-case name), else 0.
int PortNumber(const std::string& upper, std::string_view prefix, int max) {
  if (!upper.starts_with(prefix) || upper.size() <= prefix.size() ||
      upper.size() > prefix.size() + 2)
    return 0;
  const std::string digits = upper.substr(prefix.size());
  bool numeric = digits[0] != '0';
  for (char c : digits) numeric = numeric && std::isdigit(static_cast<unsigned char>(c));
  const int n = numeric ? std::atoi(digits.c_str()) : 0;
  return n >= 1 && n <= max ? n : 0;
}

}  // namespace

DeviceTarget ResolveDevice(std::string_view name) {
  DeviceTarget target;
  if (name.starts_with("\\\\.\\")) name.remove_prefix(4);
  if (name.empty()) return target;
  if (name == "sim" || name.starts_with("sim:")) {
    target.kind = DeviceTarget::Kind::kSimulator;
    if (name.size() > 4) target.options = std::string(name.substr(4));
    return target;
  }
  const std::string upper = ToUpper(name);
  const int com = PortNumber(upper, "COM", 20);
  const int lpt = com ? 0 : PortNumber(upper, "LPT", 10);
  if (com || lpt) {
    const std::string var = "QUILLON_" + upper;
    if (const char* mapped = std::getenv(var.c_str()); mapped && *mapped) {
      return ResolveDevice(mapped);
    }
    target.kind = DeviceTarget::Kind::kPath;
#ifdef _WIN32
    target.path = "\\\\.\\" + upper;
#else
    target.path =
        com ? "/dev/ttyS" + std::to_string(com - 1) : "/dev/parport" + std::to_string(lpt - 1);
#endif
    return target;
  }
  target.kind = DeviceTarget::Kind::kPath;
  target.path = std::string(name);
  return target;
}

namespace {

Handle OpenAs(const std::string& path, DeviceClass cls) {
  const DeviceTarget target = ResolveDevice(path);
  std::shared_ptr<SerialDevice> device;
  switch (target.kind) {
    case DeviceTarget::Kind::kNone:
      SetLastError(kErrorFileNotFound);
      return kInvalidHandle;
    case DeviceTarget::Kind::kSimulator: {
      SimulatorFactory factory;
      {
        Registry& r = Reg();
        std::lock_guard lock(r.mutex);
        factory = r.simulator;
      }
      if (!factory) {
        SetLastError(kErrorFileNotFound);
        return kInvalidHandle;
      }
      device = factory(target.options, cls);
      break;
    }
    case DeviceTarget::Kind::kPath:
      switch (cls) {
        case DeviceClass::kSerial:
          device = OpenOsSerial(target.path);
          break;
        case DeviceClass::kParallel:
          device = OpenOsParallel(target.path);
          break;
        case DeviceClass::kUsbPrinter:
          device = OpenOsUsb(target.path);
          break;
      }
      break;
  }
  if (!device) return kInvalidHandle;  // the backend set the error
  return RegisterDevice(std::move(device));
}

}  // namespace

Handle OpenDevice(const std::string& path) {
  return OpenAs(path, DeviceClass::kSerial);
}

Handle OpenParallelDevice(const std::string& name) {
  return OpenAs(name, DeviceClass::kParallel);
}

Handle OpenUsbDevice(const std::string& path) {
  // A USB device path is never a port name: "\\?\usb#..." and the like
  // go to the backend as they are.
  if (path.empty()) {
    SetLastError(kErrorFileNotFound);
    return kInvalidHandle;
  }
  return OpenAs(path, DeviceClass::kUsbPrinter);
}

namespace {

std::mutex usbPathMutex;
std::string usbPath;  // guarded by usbPathMutex

}  // namespace

void SetUsbPrinterPath(const std::string& path) {
  std::lock_guard lock(usbPathMutex);
  usbPath = path;
}

bool FindUsbPrinterPath(std::string& path, std::string& key) {
  {
    std::lock_guard lock(usbPathMutex);
    if (!usbPath.empty()) {
      path = usbPath;
      key = "--port";
      return true;
    }
  }
  if (const char* named = std::getenv("QUILLON_USB"); named && *named) {
    path = named;
    key = "QUILLON_USB";
    return true;
  }
  return FindOsUsbPrinter(path, key);
}

bool SerialDevice::Negotiate(const NegotiationMask&, NegotiationMask&) {
  SetLastError(kErrorInvalidFunction);
  return false;
}

bool SerialDevice::QueryDeviceId(uint8_t*, uint32_t, uint32_t& got) {
  got = 0;
  SetLastError(kErrorInvalidFunction);
  return false;
}

bool SerialDevice::QueryStatus(uint8_t&) {
  SetLastError(kErrorInvalidFunction);
  return false;
}

bool SerialDevice::ReadWait(uint8_t*, uint32_t, uint32_t& got, uint32_t) {
  got = 0;
  SetLastError(kErrorInvalidFunction);
  return false;
}

bool PrinterPortDevice::GetState(Dcb&) {
  SetLastError(kErrorInvalidFunction);
  return false;
}
bool PrinterPortDevice::SetState(const Dcb&) {
  SetLastError(kErrorInvalidFunction);
  return false;
}
bool PrinterPortDevice::GetTimeouts(CommTimeouts&) {
  SetLastError(kErrorInvalidFunction);
  return false;
}
bool PrinterPortDevice::SetTimeouts(const CommTimeouts&) {
  SetLastError(kErrorInvalidFunction);
  return false;
}
bool PrinterPortDevice::Purge(uint32_t) {
  SetLastError(kErrorInvalidFunction);
  return false;
}

bool NegotiateDevice(Handle h, const NegotiationMask& ask, NegotiationMask& granted) {
  auto d = Lookup(h);
  return d && d->Negotiate(ask, granted);
}

bool QueryDeviceId(Handle h, uint8_t* data, uint32_t size, uint32_t* got) {
  uint32_t count = 0;
  auto d = Lookup(h);
  const bool ok = d && d->QueryDeviceId(data, size, count);
  if (got) *got = count;
  return ok;
}

bool QueryDeviceStatus(Handle h, uint8_t* status) {
  uint8_t value = 0;
  auto d = Lookup(h);
  const bool ok = d && d->QueryStatus(value);
  if (status) *status = value;
  return ok;
}

bool ReadDeviceWait(Handle h, void* data, uint32_t n, uint32_t* got, uint32_t waitMs) {
  uint32_t count = 0;
  auto d = Lookup(h);
  const bool ok = d && d->ReadWait(static_cast<uint8_t*>(data), n, count, waitMs);
  if (got) *got = count;
  return ok;
}

bool CloseDevice(Handle h) {
  std::shared_ptr<SerialDevice> device;
  {
    Registry& r = Reg();
    std::lock_guard lock(r.mutex);
    auto it = r.devices.find(h);
    if (it != r.devices.end()) {
      device = std::move(it->second);
      r.devices.erase(it);
    }
  }
  if (!device) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  device->Close();
  return true;
}

bool GetLineState(Handle h, Dcb& dcb) {
  auto d = Lookup(h);
  return d && d->GetState(dcb);
}

bool SetLineState(Handle h, const Dcb& dcb) {
  auto d = Lookup(h);
  return d && d->SetState(dcb);
}

bool GetLineTimeouts(Handle h, CommTimeouts& t) {
  auto d = Lookup(h);
  return d && d->GetTimeouts(t);
}

bool SetLineTimeouts(Handle h, const CommTimeouts& t) {
  auto d = Lookup(h);
  return d && d->SetTimeouts(t);
}

bool ReadDevice(Handle h, void* data, uint32_t n, uint32_t* got) {
  uint32_t count = 0;
  auto d = Lookup(h);
  const bool ok = d && d->Read(static_cast<uint8_t*>(data), n, count);
  if (got) *got = count;
  return ok;
}

bool WriteDevice(Handle h, const void* data, uint32_t n, uint32_t* written) {
  uint32_t count = 0;
  auto d = Lookup(h);
  const bool ok = d && d->Write(static_cast<const uint8_t*>(data), n, count);
  if (written) *written = count;
  return ok;
}

bool PurgeDevice(Handle h, uint32_t flags) {
  auto d = Lookup(h);
  return d && d->Purge(flags);
}

}  // namespace quillon::platform
