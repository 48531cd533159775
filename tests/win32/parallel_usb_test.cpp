// The Win32 parallel port and USB printer backends, and the search for the
// USB printer in the registry, against scripted Win32 answers: neither a
// parallel port nor a USB printer is at hand under Wine.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/device.h"
#include "platform/win32/printer_win32.h"

#if __has_include(<ntddpar.h>) && __has_include(<usbprint.h>)
#include <winioctl.h>
// winioctl.h first: these two use its CTL_CODE.
#include <ntddpar.h>
#include <usbprint.h>
// The values the backend spells out are the system's.
static_assert(quillon::platform::win32::kIoctlIeee1284Negotiate == IOCTL_IEEE1284_NEGOTIATE);
static_assert(quillon::platform::win32::kIoctlUsbPrintGet1284Id == IOCTL_USBPRINT_GET_1284_ID);
static_assert(quillon::platform::win32::kIoctlUsbPrintGetLptStatus ==
              IOCTL_USBPRINT_GET_LPT_STATUS);
static_assert(sizeof(PARCLASS_NEGOTIATION_MASK) ==
              sizeof(quillon::platform::win32::ParclassNegotiationMask));
#endif

namespace quillon::platform {
namespace {

using Strings = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

std::string Hex(unsigned long value) {
  char text[16];
  std::snprintf(text, sizeof text, "%lx", value);
  return text;
}

// Scripted Win32 calls. Every call is logged in a short text form; handles,
// events and registry keys are numbered, and the fake keeps which are open.
class FakeWin32 final : public win32::PrinterOs {
 public:
  // How a read or write of the device goes: done at once, pending (then the
  // wait on its event gives `waited`), or refused with `error`. `take` caps a
  // write's count; `bytes` is what a read brings.
  struct Io {
    enum Kind { kAtOnce, kPending, kFail } kind = kAtOnce;
    DWORD waited = WAIT_OBJECT_0;
    DWORD error = 0;
    DWORD take = 0xFFFFFFFF;
    Bytes bytes;

    static Io AtOnce(Bytes bytes = {}) { return {kAtOnce, WAIT_OBJECT_0, 0, 0xFFFFFFFF, bytes}; }
    static Io Taking(DWORD take) { return {kAtOnce, WAIT_OBJECT_0, 0, take, {}}; }
    static Io Pending(DWORD waited = WAIT_OBJECT_0, Bytes bytes = {}) {
      return {kPending, waited, 0, 0xFFFFFFFF, bytes};
    }
    static Io Fail(DWORD error) { return {kFail, WAIT_OBJECT_0, error, 0, {}}; }
  };
  // A registry key: its sub-keys in order and its string values.
  struct Key {
    Strings subKeys;
    std::map<std::string, std::string> values;
    LONG enumErrorAt = -1;  // RegEnumKeyExA fails with ERROR_ACCESS_DENIED from here on
  };

  Strings log;
  std::map<std::string, Key> registry;  // by full name under HKLM, exact spelling
  std::set<std::string> devices;        // paths that open
  DWORD openError = ERROR_FILE_NOT_FOUND;
  std::deque<Io> writes;
  std::deque<Io> reads;
  // DeviceIoControl: the answer (output bytes) or the error, by code.
  std::map<DWORD, Bytes> ioctlAnswers;
  std::map<DWORD, DWORD> ioctlErrors;
  Bytes ioctlInput;  // what the last DeviceIoControl was given
  Bytes sent;        // every byte a write took
  std::set<HANDLE> openHandles;
  std::set<HKEY> openKeys;
  // The time-outs the driver holds; with timeoutsError set, both calls fail.
  COMMTIMEOUTS driverTimeouts{};
  DWORD timeoutsError = 0;

  HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                     DWORD disposition, DWORD flags, HANDLE templateFile) override {
    log.push_back("CreateFileA " + std::string(name) + " access=" + Hex(access) +
                  " share=" + Hex(share) + " disposition=" + Hex(disposition) +
                  " flags=" + Hex(flags) + (security || templateFile ? " extra" : ""));
    if (!devices.count(name)) {
      lastError_ = openError;
      return INVALID_HANDLE_VALUE;
    }
    return NewHandle("device");
  }

  BOOL CloseHandle(HANDLE handle) override {
    log.push_back("CloseHandle " + names_[handle]);
    if (!openHandles.erase(handle)) ADD_FAILURE() << "closing a handle that is not open";
    return TRUE;
  }

  BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                       DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) override {
    log.push_back("DeviceIoControl " + names_[device] + " " + Hex(code) +
                  " in=" + std::to_string(inSize) + " out=" + std::to_string(outSize) +
                  (overlapped ? " overlapped" : ""));
    const auto* input = static_cast<const uint8_t*>(in);
    ioctlInput.assign(input, input + (in ? inSize : 0));
    if (auto it = ioctlErrors.find(code); it != ioctlErrors.end()) {
      lastError_ = it->second;
      return FALSE;
    }
    const Bytes& answer = ioctlAnswers[code];
    const DWORD count = std::min<DWORD>(static_cast<DWORD>(answer.size()), outSize);
    if (count > 0) std::memcpy(out, answer.data(), count);
    *returned = count;
    return TRUE;
  }

  BOOL ReadFile(HANDLE file, LPVOID data, DWORD n, LPDWORD got, LPOVERLAPPED ov) override {
    log.push_back("ReadFile " + names_[file] + " " + std::to_string(n) + Record(ov));
    Io io;
    if (!reads.empty()) {
      io = reads.front();
      reads.pop_front();
    }
    return Start(io, ov, got, static_cast<uint8_t*>(data), n);
  }

  BOOL WriteFile(HANDLE file, LPCVOID data, DWORD n, LPDWORD written, LPOVERLAPPED ov) override {
    log.push_back("WriteFile " + names_[file] + " " + std::to_string(n) + Record(ov));
    Io io;
    if (!writes.empty()) {
      io = writes.front();
      writes.pop_front();
    }
    if (io.kind != Io::kFail) {
      const auto* bytes = static_cast<const uint8_t*>(data);
      const DWORD count = std::min(n, io.take);
      sent.insert(sent.end(), bytes, bytes + count);
      io.take = count;
    }
    return Start(io, ov, written, nullptr, n);
  }

  HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                      LPCSTR name) override {
    const std::string eventName = name ? name : "unnamed";
    log.push_back("CreateEventA " + eventName + (manualReset ? " manual" : " auto") +
                  (initialState ? " set" : " clear") + (security ? " extra" : ""));
    return NewHandle(eventName);
  }

  DWORD WaitForSingleObject(HANDLE handle, DWORD ms) override {
    log.push_back("WaitForSingleObject " + names_[handle] + " " + std::to_string(ms));
    if (!pending_ || pending_->ov->hEvent != handle) return WAIT_OBJECT_0;  // already set
    return pending_->io.waited;
  }

  BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED ov, LPDWORD transferred, BOOL wait) override {
    log.push_back("GetOverlappedResult " + names_[file] + (wait ? " wait" : " nowait"));
    if (!pending_ || pending_->ov != ov) {
      ADD_FAILURE() << "no operation on this record";
      lastError_ = ERROR_INVALID_PARAMETER;
      return FALSE;
    }
    Operation op = *pending_;
    pending_.reset();
    if (op.cancelled && op.io.waited != WAIT_OBJECT_0) {
      *transferred = 0;
      lastError_ = ERROR_OPERATION_ABORTED;
      return FALSE;
    }
    *transferred = Finish(op);
    return TRUE;
  }

  BOOL CancelIo(HANDLE file) override {
    log.push_back("CancelIo " + names_[file]);
    if (pending_) pending_->cancelled = true;
    return TRUE;
  }

  BOOL GetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) override {
    log.push_back("GetCommTimeouts " + names_[file]);
    if (timeoutsError) {
      lastError_ = timeoutsError;
      return FALSE;
    }
    *timeouts = driverTimeouts;
    return TRUE;
  }
  BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) override {
    log.push_back("SetCommTimeouts " + names_[file]);
    if (timeoutsError) {
      lastError_ = timeoutsError;
      return FALSE;
    }
    driverTimeouts = *timeouts;
    return TRUE;
  }

  DWORD GetLastError() override { return lastError_; }

  LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result) override {
    log.push_back(std::string("RegOpenKeyExA ") + subKey);
    EXPECT_EQ(key, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(options, 0u);
    EXPECT_EQ(access, static_cast<REGSAM>(KEY_READ));
    auto it = registry.find(subKey);
    if (it == registry.end()) return ERROR_FILE_NOT_FOUND;
    const HKEY opened = reinterpret_cast<HKEY>(static_cast<intptr_t>(0x7000 + ++keyCount_));
    keyNames_[opened] = subKey;
    openKeys.insert(opened);
    *result = opened;
    return ERROR_SUCCESS;
  }

  LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                     LPSTR className, LPDWORD classSize, PFILETIME lastWrite) override {
    if (++enumCalls > 1000) {
      ADD_FAILURE() << "the walk of " << keyNames_[key] << " does not end";
      return ERROR_NO_MORE_ITEMS;
    }
    EXPECT_TRUE(openKeys.count(key));
    EXPECT_EQ(*nameSize, 256u);
    EXPECT_TRUE(std::all_of(name, name + 256, [](char c) { return c == 0; }))
        << "the name buffer is cleared before each call";
    EXPECT_FALSE(reserved || className || classSize || lastWrite);
    const Key& k = registry[keyNames_[key]];
    if (k.enumErrorAt >= 0 && index >= static_cast<DWORD>(k.enumErrorAt)) {
      return ERROR_ACCESS_DENIED;
    }
    if (index >= k.subKeys.size()) return ERROR_NO_MORE_ITEMS;
    std::strcpy(name, k.subKeys[index].c_str());
    *nameSize = static_cast<DWORD>(k.subKeys[index].size());
    return ERROR_SUCCESS;
  }

  LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                        LPDWORD size) override {
    EXPECT_TRUE(openKeys.count(key));
    EXPECT_EQ(reserved, nullptr);
    EXPECT_EQ(*size, 256u);
    EXPECT_TRUE(std::all_of(data, data + 256, [](BYTE c) { return c == 0; }))
        << "the value buffer is cleared before the call";
    const Key& k = registry[keyNames_[key]];
    auto it = k.values.find(valueName);
    if (it == k.values.end()) return ERROR_FILE_NOT_FOUND;
    std::memcpy(data, it->second.c_str(), it->second.size() + 1);
    *size = static_cast<DWORD>(it->second.size() + 1);
    if (type) *type = REG_SZ;
    return ERROR_SUCCESS;
  }

  LONG RegCloseKey(HKEY key) override {
    if (!openKeys.erase(key)) ADD_FAILURE() << "closing a key that is not open";
    return ERROR_SUCCESS;
  }

  // The log entries that start with `prefix`.
  Strings Calls(const std::string& prefix) const {
    Strings out;
    for (const std::string& line : log) {
      if (line.starts_with(prefix)) out.push_back(line);
    }
    return out;
  }

  int enumCalls = 0;

 private:
  struct Operation {
    Io io;
    OVERLAPPED* ov;
    uint8_t* buffer;  // a read's
    DWORD n;
    bool cancelled = false;
  };

  HANDLE NewHandle(const std::string& kind) {
    const HANDLE h = reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x100 + 4 * ++handleCount_));
    names_[h] = kind + "#" + std::to_string(handleCount_);
    openHandles.insert(h);
    return h;
  }

  // How the OVERLAPPED record of a call looks: the event in it and its
  // offsets.
  std::string Record(LPOVERLAPPED ov) {
    if (!ov) return "";
    std::string text = " record=" + names_[ov->hEvent];
    if (ov->Offset || ov->OffsetHigh) text += " offset!";
    if (!openHandles.count(ov->hEvent)) text += " closed-event!";
    return text;
  }

  BOOL Start(const Io& io, LPOVERLAPPED ov, LPDWORD count, uint8_t* buffer, DWORD n) {
    if (io.kind == Io::kFail) {
      lastError_ = io.error;
      return FALSE;
    }
    Operation op{io, ov, buffer, n};
    if (!ov) {
      *count = Finish(op);
      return TRUE;
    }
    if (pending_ && pending_->io.kind == Io::kPending) {
      ADD_FAILURE() << "a second operation while one is pending";
    }
    pending_ = op;  // one done at once stays for GetOverlappedResult
    if (io.kind == Io::kAtOnce) {
      *count = Finish(op);
      return TRUE;
    }
    lastError_ = ERROR_IO_PENDING;
    return FALSE;
  }

  // The count of a finished operation; a read's bytes land in its buffer.
  DWORD Finish(const Operation& op) {
    if (op.buffer) {
      const DWORD count = std::min<DWORD>(op.n, static_cast<DWORD>(op.io.bytes.size()));
      if (count > 0) std::memcpy(op.buffer, op.io.bytes.data(), count);
      return count;
    }
    return op.io.take;
  }

  DWORD lastError_ = 0;
  int handleCount_ = 0;
  int keyCount_ = 0;
  std::map<HANDLE, std::string> names_;
  std::map<HKEY, std::string> keyNames_;
  std::optional<Operation> pending_;
};

class Win32Printer : public ::testing::Test {
 protected:
  void TearDown() override {
    device_.reset();
    EXPECT_TRUE(os_.openHandles.empty()) << "handles left open";
    EXPECT_TRUE(os_.openKeys.empty()) << "registry keys left open";
  }

  FakeWin32 os_;
  win32::ScopedPrinterOs osScope_{os_};
  std::shared_ptr<SerialDevice> device_;
};

// ---------------------------------------------------------------------------
// The parallel port

class Win32Parallel : public Win32Printer {
 protected:
  void SetUp() override {
    os_.devices.insert("\\\\.\\LPT1");
    device_ = OpenOsParallel("\\\\.\\LPT1");
    ASSERT_NE(device_, nullptr) << LastErrorText();
    os_.log.clear();
  }
};

TEST_F(Win32Parallel, ThePortIsOpenedSynchronouslyAndNotSharedAndClosedOnce) {
  device_->Close();
  device_->Close();
  EXPECT_EQ(os_.log, Strings{"CloseHandle device#1"});

  os_.log.clear();
  const Handle h = RegisterDevice(OpenOsParallel("\\\\.\\LPT1"));
  ASSERT_NE(DeviceOf(h), nullptr);
  EXPECT_EQ(os_.log, Strings{"CreateFileA \\\\.\\LPT1 access=c0000000 share=0 disposition=3 "
                             "flags=80"});
  EXPECT_TRUE(CloseDevice(h));

  // In use by another program.
  os_.openError = ERROR_ACCESS_DENIED;
  EXPECT_EQ(OpenOsParallel("\\\\.\\LPT2"), nullptr);
  EXPECT_EQ(LastError(), kErrorAccessDenied);
}

TEST_F(Win32Parallel, NegotiationHandsTheAskedModesToTheDriverAndReportsWhatItGranted) {
  struct Case {
    NegotiationMask ask;
    Bytes driverAnswer;
    NegotiationMask granted;
  };
  const Case cases[] = {
      {{kModeEcpHwNoIrq, kModeEcpHwNoIrq}, {0x00, 0x01, 0x00, 0x01}, {0x0100, 0x0100}},
      {{kModeNibble, kModeCompatibility}, {0x04, 0x00, 0x02, 0x00}, {0x0004, 0x0002}},
      {{kModeCompatibility, kModeCompatibility}, {0x00, 0x00, 0x02, 0x00}, {0x0000, 0x0002}},
      // What the driver grants is reported even if it is not what was asked.
      {{kModeEcpHwNoIrq, kModeEcpHwNoIrq}, {0x04, 0x00, 0x02, 0x00}, {0x0004, 0x0002}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "ask " << c.ask.usReadMask << "/" << c.ask.usWriteMask);
    os_.log.clear();
    os_.ioctlAnswers[win32::kIoctlIeee1284Negotiate] = c.driverAnswer;
    NegotiationMask granted{0xFFFF, 0xFFFF};
    ASSERT_TRUE(device_->Negotiate(c.ask, granted)) << LastErrorText();
    EXPECT_EQ(os_.log, Strings{"DeviceIoControl device#1 160018 in=4 out=4"});
    const Bytes input = {
        static_cast<uint8_t>(c.ask.usReadMask), static_cast<uint8_t>(c.ask.usReadMask >> 8),
        static_cast<uint8_t>(c.ask.usWriteMask), static_cast<uint8_t>(c.ask.usWriteMask >> 8)};
    EXPECT_EQ(os_.ioctlInput, input);
    EXPECT_EQ(granted.usReadMask, c.granted.usReadMask);
    EXPECT_EQ(granted.usWriteMask, c.granted.usWriteMask);
  }
}

TEST_F(Win32Parallel, ARefusedNegotiationFailsWithTheDriversErrorAndGrantsNothing) {
  os_.ioctlErrors[win32::kIoctlIeee1284Negotiate] = ERROR_NOT_SUPPORTED;
  NegotiationMask granted{0x1234, 0x5678};
  EXPECT_FALSE(device_->Negotiate({kModeEcpHwNoIrq, kModeEcpHwNoIrq}, granted));
  EXPECT_EQ(LastError(), kErrorNotSupported);
  EXPECT_EQ(granted.usReadMask, 0x1234);
  EXPECT_EQ(granted.usWriteMask, 0x5678);
}

TEST_F(Win32Parallel, ReadsAndWritesAreSynchronousCallsOfTheDriver) {
  os_.reads = {FakeWin32::Io::AtOnce({0x06, 0x23}), FakeWin32::Io::Fail(ERROR_GEN_FAILURE)};
  os_.writes = {FakeWin32::Io::Taking(3), FakeWin32::Io::Fail(ERROR_GEN_FAILURE)};
  uint8_t data[8] = {};
  uint32_t count = 0;
  ASSERT_TRUE(device_->Read(data, sizeof data, count)) << LastErrorText();
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(data[1], 0x23);
  EXPECT_FALSE(device_->Read(data, sizeof data, count));
  EXPECT_EQ(LastError(), kErrorGenFailure);

  const uint8_t frame[5] = {0x1D, 0x5B, 0x7D, 0x00, 0x01};
  ASSERT_TRUE(device_->Write(frame, 5, count)) << LastErrorText();
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(os_.sent, (Bytes{0x1D, 0x5B, 0x7D}));
  EXPECT_FALSE(device_->Write(frame, 5, count));
  EXPECT_EQ(LastError(), kErrorGenFailure);
  EXPECT_EQ(os_.log, (Strings{"ReadFile device#1 8", "ReadFile device#1 8", "WriteFile device#1 5",
                              "WriteFile device#1 5"}));

  Dcb dcb;
  EXPECT_FALSE(device_->GetState(dcb));
  EXPECT_EQ(LastError(), kErrorInvalidFunction);
}

TEST_F(Win32Parallel, TimeOutsGoToTheDriverAsOnASerialPort) {
  // What the port layer sets before a line check, through the handle.
  const Handle h = RegisterDevice(device_);
  const CommTimeouts asked{2000, 2000, 3000, 250, 1000};
  ASSERT_TRUE(SetLineTimeouts(h, asked)) << LastErrorText();
  EXPECT_EQ(os_.driverTimeouts.ReadIntervalTimeout, 2000u);
  EXPECT_EQ(os_.driverTimeouts.ReadTotalTimeoutMultiplier, 2000u);
  EXPECT_EQ(os_.driverTimeouts.ReadTotalTimeoutConstant, 3000u);
  EXPECT_EQ(os_.driverTimeouts.WriteTotalTimeoutMultiplier, 250u);
  EXPECT_EQ(os_.driverTimeouts.WriteTotalTimeoutConstant, 1000u);

  os_.driverTimeouts = {1, 2, 3, 4, 5};
  CommTimeouts held;
  ASSERT_TRUE(GetLineTimeouts(h, held)) << LastErrorText();
  EXPECT_EQ(held, (CommTimeouts{1, 2, 3, 4, 5}));
  EXPECT_EQ(os_.log, (Strings{"SetCommTimeouts device#1", "GetCommTimeouts device#1"}));

  // A driver that has no time-outs: its error, and nothing changed.
  os_.timeoutsError = ERROR_NOT_SUPPORTED;
  EXPECT_FALSE(SetLineTimeouts(h, asked));
  EXPECT_EQ(LastError(), kErrorNotSupported);
  CommTimeouts untouched{9, 9, 9, 9, 9};
  EXPECT_FALSE(GetLineTimeouts(h, untouched));
  EXPECT_EQ(untouched, (CommTimeouts{9, 9, 9, 9, 9}));
  EXPECT_EQ(os_.driverTimeouts.ReadIntervalTimeout, 1u);
  EXPECT_TRUE(CloseDevice(h));
}

// ---------------------------------------------------------------------------
// The USB printer

const std::string kUsbPath =
    "\\\\?\\USB#Vid_0f1d&Pid_a02b#5&1a2b3c4d&0&1#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";

class Win32Usb : public Win32Printer {
 protected:
  void SetUp() override {
    os_.devices.insert(kUsbPath);
    device_ = OpenOsUsb(kUsbPath);
    ASSERT_NE(device_, nullptr) << LastErrorText();
    os_.log.clear();
  }

  static Bytes Pattern(size_t n) {
    Bytes data(n);
    for (size_t i = 0; i < n; ++i) data[i] = static_cast<uint8_t>(i * 13 + i / 256);
    return data;
  }

  // The calls of one chunk of a write whose event is number `event`.
  static Strings Chunk(int event, DWORD n) {
    const std::string e = "WriteEvent#" + std::to_string(event);
    return {"CreateEventA WriteEvent manual clear",
            "WriteFile device#1 " + std::to_string(n) + " record=" + e,
            "WaitForSingleObject " + e + " 60000", "GetOverlappedResult device#1 wait",
            "CloseHandle " + e};
  }
};

TEST_F(Win32Usb, TheDeviceIsOpenedForOverlappedSharedUse) {
  os_.log.clear();
  const Handle h = RegisterDevice(OpenOsUsb(kUsbPath));
  EXPECT_EQ(os_.log, Strings{"CreateFileA " + kUsbPath +
                             " access=c0000000 share=3 disposition=3 flags=40000000"});
  EXPECT_TRUE(CloseDevice(h));

  os_.openError = ERROR_FILE_NOT_FOUND;
  EXPECT_EQ(OpenOsUsb("\\\\?\\USB#gone"), nullptr);
  EXPECT_EQ(LastError(), kErrorFileNotFound);
}

TEST_F(Win32Usb, TheDeviceIdAndTheStatusComeFromTheDriver) {
  Bytes id = {0x00, 0x17};
  const std::string text = "MFG:Quillon;CMD:ESC;";
  id.insert(id.end(), text.begin(), text.end());
  os_.ioctlAnswers[win32::kIoctlUsbPrintGet1284Id] = id;
  os_.ioctlAnswers[win32::kIoctlUsbPrintGetLptStatus] = {0x18};

  uint8_t data[256];
  std::memset(data, 0xAA, sizeof data);
  uint32_t got = 0;
  ASSERT_TRUE(device_->QueryDeviceId(data, sizeof data, got)) << LastErrorText();
  EXPECT_EQ(got, id.size());
  EXPECT_EQ(Bytes(data, data + got), id);
  EXPECT_EQ(data[got], 0xAA);
  ASSERT_TRUE(device_->QueryDeviceId(data, 4, got));
  EXPECT_EQ(got, 4u);

  uint8_t status = 0;
  ASSERT_TRUE(device_->QueryStatus(status)) << LastErrorText();
  EXPECT_EQ(status, 0x18);
  EXPECT_EQ(os_.log, (Strings{"DeviceIoControl device#1 220034 in=0 out=100",
                              "DeviceIoControl device#1 220034 in=0 out=100",
                              "DeviceIoControl device#1 220030 in=0 out=1"}));

  os_.ioctlErrors[win32::kIoctlUsbPrintGetLptStatus] = ERROR_INVALID_HANDLE;
  EXPECT_FALSE(device_->QueryStatus(status));
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
}

TEST_F(Win32Usb, AWriteGoesOutInChunksOf4096EachWithItsOwnEvent) {
  const Bytes data = Pattern(10000);
  os_.writes = {FakeWin32::Io::Pending(), FakeWin32::Io::AtOnce(), FakeWin32::Io::Pending()};
  uint32_t written = 0;
  ASSERT_TRUE(device_->Write(data.data(), 10000, written)) << LastErrorText();
  EXPECT_EQ(written, 10000u);
  EXPECT_EQ(os_.sent, data);
  Strings expected;
  for (const Strings& chunk : {Chunk(2, 4096), Chunk(3, 4096), Chunk(4, 1808)}) {
    expected.insert(expected.end(), chunk.begin(), chunk.end());
  }
  EXPECT_EQ(os_.log, expected);
}

TEST_F(Win32Usb, AGoneDeviceFailsTheWriteWithAnInvalidHandleAfterWhatWentOut) {
  const Bytes data = Pattern(10000);
  os_.writes = {FakeWin32::Io::Pending(), FakeWin32::Io::Fail(ERROR_INVALID_HANDLE)};
  uint32_t written = 0;
  EXPECT_FALSE(device_->Write(data.data(), 10000, written));
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
  EXPECT_EQ(written, 4096u);
  EXPECT_EQ(os_.sent, Bytes(data.begin(), data.begin() + 4096));
  Strings expected = Chunk(2, 4096);
  expected.insert(expected.end(),
                  {"CreateEventA WriteEvent manual clear",
                   "WriteFile device#1 4096 record=WriteEvent#3", "CloseHandle WriteEvent#3"});
  EXPECT_EQ(os_.log, expected);
}

TEST_F(Win32Usb, AChunkThatTakesTooLongIsCancelledAndTheWriteReportsWhatWentOut) {
  const Bytes data = Pattern(6000);
  os_.writes = {FakeWin32::Io::AtOnce(), FakeWin32::Io::Pending(WAIT_TIMEOUT)};
  uint32_t written = 0;
  ASSERT_TRUE(device_->Write(data.data(), 6000, written)) << LastErrorText();
  EXPECT_EQ(written, 4096u);
  EXPECT_EQ(os_.Calls("CancelIo"), Strings{"CancelIo device#1"});
  EXPECT_EQ(os_.Calls("WriteFile").size(), 2u);
}

TEST_F(Win32Usb, AWaitingReadThatTimesOutIsCancelledAndGivesNothing) {
  os_.reads = {FakeWin32::Io::Pending(WAIT_TIMEOUT)};
  uint8_t data[16] = {};
  uint32_t got = 99;
  ASSERT_TRUE(device_->ReadWait(data, sizeof data, got, 1500)) << LastErrorText();
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(os_.log, (Strings{"CreateEventA ReadEvent manual clear",
                              "ReadFile device#1 16 record=ReadEvent#2",
                              "WaitForSingleObject ReadEvent#2 1500", "CancelIo device#1",
                              "GetOverlappedResult device#1 wait", "CloseHandle ReadEvent#2"}));
}

TEST_F(Win32Usb, AWaitingReadGivesWhatCameInTime) {
  os_.reads = {FakeWin32::Io::Pending(WAIT_OBJECT_0, {0x06, 0x23, 0x00}),
               FakeWin32::Io::AtOnce({0x15})};
  uint8_t data[16] = {};
  uint32_t got = 0;
  ASSERT_TRUE(device_->ReadWait(data, sizeof data, got, 3000)) << LastErrorText();
  ASSERT_EQ(got, 3u);
  EXPECT_EQ(Bytes(data, data + 3), (Bytes{0x06, 0x23, 0x00}));
  EXPECT_EQ(os_.log, (Strings{"CreateEventA ReadEvent manual clear",
                              "ReadFile device#1 16 record=ReadEvent#2",
                              "WaitForSingleObject ReadEvent#2 3000",
                              "GetOverlappedResult device#1 wait", "CloseHandle ReadEvent#2"}));

  // Done at once: no wait.
  os_.log.clear();
  ASSERT_TRUE(device_->ReadWait(data, sizeof data, got, 3000));
  ASSERT_EQ(got, 1u);
  EXPECT_EQ(data[0], 0x15);
  EXPECT_EQ(os_.log,
            (Strings{"CreateEventA ReadEvent manual clear",
                     "ReadFile device#1 16 record=ReadEvent#3", "CloseHandle ReadEvent#3"}));
}

TEST_F(Win32Usb, AReadTheDriverRefusesFails) {
  os_.reads = {FakeWin32::Io::Fail(ERROR_INVALID_HANDLE)};
  uint8_t data[4] = {};
  uint32_t got = 99;
  EXPECT_FALSE(device_->ReadWait(data, sizeof data, got, 100));
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
  EXPECT_EQ(os_.Calls("CloseHandle"), Strings{"CloseHandle ReadEvent#2"});
}

// ---------------------------------------------------------------------------
// The search in the registry

const std::string kKey1 = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_0f1d&Pid_a02B";
const std::string kKey2 = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_0E4B&Pid_2207";
const std::string kKey3 = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_2A9C&Pid_2207";

class Win32UsbSearch : public Win32Printer {
 protected:
  // A device instance `name` under `idKey` whose interface is `symbolic`
  // (in its registry form, "\??\USB#...").
  void AddInstance(const std::string& idKey, const std::string& name, const std::string& symbolic) {
    os_.registry[idKey].subKeys.push_back(name);
    os_.registry[idKey + "\\" + name + "\\Device Parameters"].values["SymbolicName"] = symbolic;
  }
  static std::string Symbolic(const std::string& id, const std::string& instance) {
    return "\\??\\USB#" + id + "#" + instance + "#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
  }
  static std::string Win32Path(const std::string& id, const std::string& instance) {
    return "\\\\?\\USB#" + id + "#" + instance + "#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
  }
  static std::string Probe(const std::string& path) {
    return "CreateFileA " + path + " access=c0000000 share=1 disposition=3 flags=80";
  }

  std::string path_ = "unchanged path";
  std::string key_ = "unchanged key";
};

TEST_F(Win32UsbSearch, TheFirstInstanceOfTheFirstIdWhoseDeviceOpensIsTaken) {
  const std::string id = "Vid_0f1d&Pid_a02b";
  AddInstance(kKey1, "5&1a2b3c4d&0&1", Symbolic(id, "5&1a2b3c4d&0&1"));  // unplugged
  AddInstance(kKey1, "5&1a2b3c4d&0&2", Symbolic(id, "5&1a2b3c4d&0&2"));
  AddInstance(kKey1, "5&1a2b3c4d&0&3", Symbolic(id, "5&1a2b3c4d&0&3"));
  AddInstance(kKey3, "6&00&0&1", Symbolic("Vid_2a9c&Pid_2207", "6&00&0&1"));
  os_.devices = {Win32Path(id, "5&1a2b3c4d&0&2"), Win32Path(id, "5&1a2b3c4d&0&3"),
                 Win32Path("Vid_2a9c&Pid_2207", "6&00&0&1")};

  ASSERT_TRUE(FindOsUsbPrinter(path_, key_));
  EXPECT_EQ(path_, Win32Path(id, "5&1a2b3c4d&0&2"));
  EXPECT_EQ(key_, "5&1a2b3c4d&0&2");
  EXPECT_EQ(os_.log, (Strings{"RegOpenKeyExA " + kKey1,
                              "RegOpenKeyExA " + kKey1 + "\\5&1a2b3c4d&0&1\\Device Parameters",
                              Probe(Win32Path(id, "5&1a2b3c4d&0&1")),
                              "RegOpenKeyExA " + kKey1 + "\\5&1a2b3c4d&0&2\\Device Parameters",
                              Probe(Win32Path(id, "5&1a2b3c4d&0&2")), "CloseHandle device#1"}));

  // With the first one plugged in, it is the one.
  os_.devices.insert(Win32Path(id, "5&1a2b3c4d&0&1"));
  ASSERT_TRUE(FindOsUsbPrinter(path_, key_));
  EXPECT_EQ(path_, Win32Path(id, "5&1a2b3c4d&0&1"));
  EXPECT_EQ(key_, "5&1a2b3c4d&0&1");
}

TEST_F(Win32UsbSearch, AnInstanceOfTheThirdIdIsFoundWhenTheFirstTwoGiveNothing) {
  // No key for the first id; under the second one instance that will not
  // open and one without Device Parameters.
  os_.registry[kKey2].subKeys.push_back("no-parameters");
  AddInstance(kKey2, "7&0&1", Symbolic("Vid_0e4b&Pid_2207", "7&0&1"));
  AddInstance(kKey3, "8&0&1", Symbolic("Vid_2a9c&Pid_2207", "8&0&1"));
  os_.devices = {Win32Path("Vid_2a9c&Pid_2207", "8&0&1")};

  ASSERT_TRUE(FindOsUsbPrinter(path_, key_));
  EXPECT_EQ(path_, Win32Path("Vid_2a9c&Pid_2207", "8&0&1"));
  EXPECT_EQ(key_, "8&0&1");
  EXPECT_EQ(
      os_.Calls("RegOpenKeyExA"),
      (Strings{"RegOpenKeyExA " + kKey1, "RegOpenKeyExA " + kKey2,
               "RegOpenKeyExA " + kKey2 + "\\no-parameters\\Device Parameters",
               "RegOpenKeyExA " + kKey2 + "\\7&0&1\\Device Parameters", "RegOpenKeyExA " + kKey3,
               "RegOpenKeyExA " + kKey3 + "\\8&0&1\\Device Parameters"}));
  EXPECT_EQ(os_.Calls("CreateFileA"), (Strings{Probe(Win32Path("Vid_0e4b&Pid_2207", "7&0&1")),
                                               Probe(Win32Path("Vid_2a9c&Pid_2207", "8&0&1"))}));
}

TEST_F(Win32UsbSearch, NoDeviceLeavesTheOutputsAsTheyWere) {
  // An empty registry: the three keys are looked at, in order.
  EXPECT_FALSE(FindOsUsbPrinter(path_, key_));
  EXPECT_EQ(os_.log, (Strings{"RegOpenKeyExA " + kKey1, "RegOpenKeyExA " + kKey2,
                              "RegOpenKeyExA " + kKey3}));

  // Instances, none plugged in; an instance whose value is empty; a key whose
  // enumeration fails ends its walk instead of going round for ever.
  AddInstance(kKey1, "1", Symbolic("Vid_0f1d&Pid_a02b", "1"));
  AddInstance(kKey2, "2", "");
  AddInstance(kKey3, "3", Symbolic("Vid_2a9c&Pid_2207", "3"));
  os_.registry[kKey3].subKeys.push_back("4");
  os_.registry[kKey3].enumErrorAt = 1;
  os_.enumCalls = 0;
  EXPECT_FALSE(FindOsUsbPrinter(path_, key_));
  EXPECT_EQ(path_, "unchanged path");
  EXPECT_EQ(key_, "unchanged key");
  EXPECT_EQ(os_.Calls("CreateFileA").size(), 2u);
  EXPECT_EQ(os_.enumCalls, 2 + 2 + 2);
}

}  // namespace
}  // namespace quillon::platform
