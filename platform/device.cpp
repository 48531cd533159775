#include "platform/device.h"

#include <cctype>
#include <cstdlib>
#include <map>
#include <mutex>

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

DeviceCallCounts& CallCounts() {
  static DeviceCallCounts counts;
  return counts;
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

DeviceTarget ResolveDevice(std::string_view name) {
  DeviceTarget target;
  if (name.starts_with("\\\\.\\")) name.remove_prefix(4);
  if (name.empty()) return target;
  if (name == "sim" || name.starts_with("sim:")) {
    target.kind = DeviceTarget::Kind::kSimulator;
    if (name.size() > 4) target.options = std::string(name.substr(4));
    return target;
  }
  std::string upper;
  for (char c : name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper.size() >= 4 && upper.size() <= 5 && upper.starts_with("COM")) {
    const std::string digits = upper.substr(3);
    bool numeric = !digits.empty() && digits[0] != '0';
    for (char c : digits) numeric = numeric && std::isdigit(static_cast<unsigned char>(c));
    const int n = numeric ? std::atoi(digits.c_str()) : 0;
    if (n >= 1 && n <= 20) {
      const std::string var = "QUILLON_COM" + digits;
      if (const char* mapped = std::getenv(var.c_str()); mapped && *mapped) {
        return ResolveDevice(mapped);
      }
      target.kind = DeviceTarget::Kind::kPath;
#ifdef _WIN32
      target.path = "\\\\.\\" + upper;
#else
      target.path = "/dev/ttyS" + std::to_string(n - 1);
#endif
      return target;
    }
  }
  target.kind = DeviceTarget::Kind::kPath;
  target.path = std::string(name);
  return target;
}

Handle OpenDevice(const std::string& path) {
  ++CallCounts().open;
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
      device = factory(target.options);
      break;
    }
    case DeviceTarget::Kind::kPath:
      device = OpenOsSerial(target.path);
      break;
  }
  if (!device) return kInvalidHandle;  // the backend set the error
  return RegisterDevice(std::move(device));
}

bool CloseDevice(Handle h) {
  ++CallCounts().close;
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
  ++CallCounts().getState;
  auto d = Lookup(h);
  return d && d->GetState(dcb);
}

bool SetLineState(Handle h, const Dcb& dcb) {
  ++CallCounts().setState;
  auto d = Lookup(h);
  return d && d->SetState(dcb);
}

bool GetLineTimeouts(Handle h, CommTimeouts& t) {
  ++CallCounts().getTimeouts;
  auto d = Lookup(h);
  return d && d->GetTimeouts(t);
}

bool SetLineTimeouts(Handle h, const CommTimeouts& t) {
  ++CallCounts().setTimeouts;
  auto d = Lookup(h);
  return d && d->SetTimeouts(t);
}

bool ReadDevice(Handle h, void* data, uint32_t n, uint32_t* got) {
  ++CallCounts().read;
  uint32_t count = 0;
  auto d = Lookup(h);
  const bool ok = d && d->Read(static_cast<uint8_t*>(data), n, count);
  if (got) *got = count;
  return ok;
}

bool WriteDevice(Handle h, const void* data, uint32_t n, uint32_t* written) {
  ++CallCounts().write;
  uint32_t count = 0;
  auto d = Lookup(h);
  const bool ok = d && d->Write(static_cast<const uint8_t*>(data), n, count);
  if (written) *written = count;
  return ok;
}

bool PurgeDevice(Handle h, uint32_t flags) {
  ++CallCounts().purge;
  auto d = Lookup(h);
  return d && d->Purge(flags);
}

}  // namespace quillon::platform
