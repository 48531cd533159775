#pragma once
// A parallel port or a USB printer in memory, as the built-in printer (and
// the tests' printers) are reached: it wraps any device (normally a FakeSerialLine's device with
// the printer emulator behind it) and answers the printer-port calls the way the Windows class
// drivers do:
//
//   parallel port  IEEE 1284 negotiation of the parallel class driver (ECP,
//                  nibble, compatibility); Read is the reverse channel and
//                  returns at once with what the printer has sent so far.
//   USB printer    the IEEE 1284 device id and the port status byte of the
//                  USB printing class; ReadWait returns as soon as a byte is
//                  there, else after the wait with nothing (a plain Read
//                  does not wait).
//
// Writes pass through to the wrapped device on both. The line calls (state,
// time-outs, purge) fail with kErrorInvalidFunction, as the communications
// calls do on a real LPT or USB printer handle.
//
// The knobs and records live in a PrinterPortKnobs object that the devices
// share with whoever made them, so a test may keep a handle on it, change it
// at any time from any thread, and see what every device opened on it did.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/device.h"

namespace quillon::platform {

// The three negotiation records the host sends, and what the parallel class
// driver grants for each when the printer supports the mode.
inline constexpr NegotiationMask kAskEcp{kModeEcpHwNoIrq, kModeEcpHwNoIrq};
inline constexpr NegotiationMask kAskNibble{kModeNibble, kModeCompatibility};
inline constexpr NegotiationMask kAskCompatibility{kModeCompatibility, kModeCompatibility};
inline constexpr NegotiationMask kGrantedEcp{kModeEcpHwNoIrq, kModeEcpHwNoIrq};
inline constexpr NegotiationMask kGrantedNibble{kModeNibble, kModeCompatibility};
inline constexpr NegotiationMask kGrantedCompatibility{kModeNone, kModeCompatibility};

inline bool SameModes(const NegotiationMask& a, const NegotiationMask& b) {
  return a.usReadMask == b.usReadMask && a.usWriteMask == b.usWriteMask;
}

// The IEEE 1284 device id a fake USB printer reports (without the length).
inline constexpr char kFakePrinterDeviceId[] = "MFG:Quillon;CMD:ESC/P;MDL:Passbook;CLS:PRINTER;";
// Its port status: selected, no error.
inline constexpr uint8_t kFakePrinterStatus = 0x18;

// One negotiation as the port saw it.
struct NegotiationRecord {
  NegotiationMask ask;
  bool ok = false;
  NegotiationMask granted;  // what the call reported; meaningful when ok
};

class PrinterPortKnobs {
 public:
  // ---- Parallel port.
  // The nth negotiation that asks for exactly `ask` (counting from 1 over the
  // life of these knobs; 0: every one) fails with kErrorGenFailure. The port
  // stays in the mode it was in.
  void FailNegotiation(const NegotiationMask& ask, int nth);
  // The nth negotiation asking for `ask` (0: every one) succeeds but the
  // driver reports `granted`, and the port is in that mode afterwards (e.g.
  // nibble granted for reading with no forward mode, or ECP granted in one
  // direction only).
  void GrantInstead(const NegotiationMask& ask, int nth, const NegotiationMask& granted);
  // Drops every negotiation fault set so far (the counts go on).
  void ClearNegotiationFaults();
  // Every negotiation asked, failed ones included, in order.
  std::vector<NegotiationRecord> Negotiations();
  // The modes the port is in: compatibility when opened, then whatever the
  // last successful negotiation reported.
  NegotiationMask Mode();

  // ---- USB printer.
  // The device id and status requests fail with kErrorGenFailure.
  void SetDeviceIdFails(bool fails);
  void SetStatusFails(bool fails);
  // The status byte reported (kFakePrinterStatus by default).
  void SetStatus(uint8_t status);
  int DeviceIdQueries();
  int StatusQueries();

  // ---- Both.
  // The nth write call (counting from 1 over every device on these knobs;
  // 0: never) fails with kErrorInvalidHandle: the device has gone. From then
  // on every call of every device opened on these knobs before that moment
  // fails the same way until it is closed; a device opened afterwards works.
  void VanishOnWrite(int nth);
  // The USB printer leaves the bus from fromMs to untilMs (process clock;
  // INT64_MAX: for good), as a printer restarting its USB does: from fromMs
  // on, every USB printer device opened before fails as a vanished one, and
  // until untilMs no USB printer can be opened (Present). A later absence
  // replaces an earlier one.
  void LeaveBus(int64_t fromMs, int64_t untilMs);
  // Whether a USB printer can be opened at nowMs.
  bool Present(int64_t nowMs);
  // Write calls made (failed ones too) and the size asked in each, in order.
  int WriteCalls();
  std::vector<uint32_t> WriteCallSizes();
  // Devices made on these knobs and not closed yet.
  int DevicesOpen();

 private:
  friend class FakePrinterPort;
  struct NegotiationFault {
    NegotiationMask ask;
    int nth = 0;
    bool fails = false;
    NegotiationMask granted;
  };
  std::mutex mutex_;
  // Everything below is guarded by mutex_.
  std::vector<NegotiationFault> negotiationFaults_;
  std::vector<NegotiationRecord> negotiations_;
  NegotiationMask mode_ = kGrantedCompatibility;
  bool deviceIdFails_ = false;
  bool statusFails_ = false;
  uint8_t status_ = kFakePrinterStatus;
  int deviceIdQueries_ = 0;
  int statusQueries_ = 0;
  int vanishOnWrite_ = 0;
  int writeCalls_ = 0;
  std::vector<uint32_t> writeCallSizes_;
  int devicesOpen_ = 0;
  // Raised each time the device vanishes; a device whose epoch is older has
  // gone with it.
  uint64_t epoch_ = 0;
  int64_t busGoneFrom_ = INT64_MAX;  // the USB printer's last absence
  int64_t busBackAt_ = INT64_MIN;
};

// The device. `cls` is kParallel or kUsbPrinter; with kSerial only the write
// knobs apply and the line calls pass through.
class FakePrinterPort final : public SerialDevice {
 public:
  FakePrinterPort(std::shared_ptr<SerialDevice> inner, DeviceClass cls,
                  std::shared_ptr<PrinterPortKnobs> knobs);
  ~FakePrinterPort() override;
  FakePrinterPort(const FakePrinterPort&) = delete;
  FakePrinterPort& operator=(const FakePrinterPort&) = delete;

  bool GetState(Dcb& dcb) override;
  bool SetState(const Dcb& dcb) override;
  bool GetTimeouts(CommTimeouts& t) override;
  bool SetTimeouts(const CommTimeouts& t) override;
  bool Read(uint8_t* data, uint32_t n, uint32_t& got) override;
  bool Write(const uint8_t* data, uint32_t n, uint32_t& written) override;
  bool Purge(uint32_t flags) override;
  void Close() override;

  bool Negotiate(const NegotiationMask& ask, NegotiationMask& granted) override;
  bool QueryDeviceId(uint8_t* data, uint32_t size, uint32_t& got) override;
  bool QueryStatus(uint8_t& status) override;
  bool ReadWait(uint8_t* data, uint32_t n, uint32_t& got, uint32_t waitMs) override;

  DeviceClass Class() const { return cls_; }
  const std::shared_ptr<PrinterPortKnobs>& Knobs() const { return knobs_; }

 private:
  // True, with the last error set, when the device has vanished.
  bool Gone();
  // The same at `now`, under the knobs' lock, without the error.
  bool GoneLocked(int64_t now) const;
  // For the line calls: false with kErrorInvalidFunction (or
  // kErrorInvalidHandle once gone) unless this stands for a serial line.
  bool LineCallAllowed();

  const std::shared_ptr<SerialDevice> inner_;
  const DeviceClass cls_;
  const std::shared_ptr<PrinterPortKnobs> knobs_;
  uint64_t epoch_ = 0;    // set once, under the knobs' lock
  int64_t openedMs_ = 0;  // likewise
  bool closed_ = false;   // guarded by the knobs' lock
};

}  // namespace quillon::platform
