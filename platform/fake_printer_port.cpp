#include "platform/fake_printer_port.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/clock.h"

namespace quillon::platform {

// ---- Knobs.

void PrinterPortKnobs::FailNegotiation(const NegotiationMask& ask, int nth) {
  std::lock_guard lock(mutex_);
  negotiationFaults_.push_back({ask, nth, true, {}});
}

void PrinterPortKnobs::GrantInstead(const NegotiationMask& ask, int nth,
                                    const NegotiationMask& granted) {
  std::lock_guard lock(mutex_);
  negotiationFaults_.push_back({ask, nth, false, granted});
}

void PrinterPortKnobs::ClearNegotiationFaults() {
  std::lock_guard lock(mutex_);
  negotiationFaults_.clear();
}

std::vector<NegotiationRecord> PrinterPortKnobs::Negotiations() {
  std::lock_guard lock(mutex_);
  return negotiations_;
}

NegotiationMask PrinterPortKnobs::Mode() {
  std::lock_guard lock(mutex_);
  return mode_;
}

void PrinterPortKnobs::SetDeviceIdFails(bool fails) {
  std::lock_guard lock(mutex_);
  deviceIdFails_ = fails;
}

void PrinterPortKnobs::SetStatusFails(bool fails) {
  std::lock_guard lock(mutex_);
  statusFails_ = fails;
}

void PrinterPortKnobs::SetStatus(uint8_t status) {
  std::lock_guard lock(mutex_);
  status_ = status;
}

int PrinterPortKnobs::DeviceIdQueries() {
  std::lock_guard lock(mutex_);
  return deviceIdQueries_;
}

int PrinterPortKnobs::StatusQueries() {
  std::lock_guard lock(mutex_);
  return statusQueries_;
}

void PrinterPortKnobs::VanishOnWrite(int nth) {
  std::lock_guard lock(mutex_);
  vanishOnWrite_ = nth;
}

void PrinterPortKnobs::LeaveBus(int64_t fromMs, int64_t untilMs) {
  std::lock_guard lock(mutex_);
  busGoneFrom_ = fromMs;
  busBackAt_ = untilMs;
}

bool PrinterPortKnobs::Present(int64_t nowMs) {
  std::lock_guard lock(mutex_);
  return nowMs < busGoneFrom_ || nowMs >= busBackAt_;
}

int PrinterPortKnobs::WriteCalls() {
  std::lock_guard lock(mutex_);
  return writeCalls_;
}

std::vector<uint32_t> PrinterPortKnobs::WriteCallSizes() {
  std::lock_guard lock(mutex_);
  return writeCallSizes_;
}

int PrinterPortKnobs::DevicesOpen() {
  std::lock_guard lock(mutex_);
  return devicesOpen_;
}

// ---- The device.

FakePrinterPort::FakePrinterPort(std::shared_ptr<SerialDevice> inner, DeviceClass cls,
                                 std::shared_ptr<PrinterPortKnobs> knobs)
    : inner_(std::move(inner)), cls_(cls), knobs_(std::move(knobs)) {
  const int64_t now = GetClock().NowMs();  // read before the knobs' lock is taken
  std::lock_guard lock(knobs_->mutex_);
  epoch_ = knobs_->epoch_;
  openedMs_ = now;
  ++knobs_->devicesOpen_;
  // Opening a parallel port leaves it in compatibility mode.
  if (cls_ == DeviceClass::kParallel) knobs_->mode_ = kGrantedCompatibility;
}

FakePrinterPort::~FakePrinterPort() {
  std::lock_guard lock(knobs_->mutex_);
  if (!closed_) --knobs_->devicesOpen_;
}

bool FakePrinterPort::GoneLocked(int64_t now) const {
  if (epoch_ != knobs_->epoch_) return true;
  // A USB printer that left the bus after this device was opened.
  return cls_ == DeviceClass::kUsbPrinter && openedMs_ < knobs_->busGoneFrom_ &&
         now >= knobs_->busGoneFrom_;
}

bool FakePrinterPort::Gone() {
  const int64_t now = GetClock().NowMs();
  bool gone = false;
  {
    std::lock_guard lock(knobs_->mutex_);
    gone = GoneLocked(now);
  }
  if (gone) SetLastError(kErrorInvalidHandle);
  return gone;
}

bool FakePrinterPort::LineCallAllowed() {
  if (Gone()) return false;
  if (cls_ == DeviceClass::kSerial) return true;
  SetLastError(kErrorInvalidFunction);
  return false;
}

bool FakePrinterPort::GetState(Dcb& dcb) {
  return LineCallAllowed() && inner_->GetState(dcb);
}

bool FakePrinterPort::SetState(const Dcb& dcb) {
  return LineCallAllowed() && inner_->SetState(dcb);
}

bool FakePrinterPort::GetTimeouts(CommTimeouts& t) {
  return LineCallAllowed() && inner_->GetTimeouts(t);
}

bool FakePrinterPort::SetTimeouts(const CommTimeouts& t) {
  return LineCallAllowed() && inner_->SetTimeouts(t);
}

bool FakePrinterPort::Purge(uint32_t flags) {
  return LineCallAllowed() && inner_->Purge(flags);
}

bool FakePrinterPort::Read(uint8_t* data, uint32_t n, uint32_t& got) {
  got = 0;
  if (Gone()) return false;
  if (cls_ == DeviceClass::kSerial) return inner_->Read(data, n, got);
  if (cls_ == DeviceClass::kUsbPrinter) return ReadWait(data, n, got, 0);
  // The reverse channel of the parallel port never waits: what the printer
  // has sent so far, possibly nothing.
  if (!inner_->SetTimeouts({kMaxDword, 0, 0, 0, 0})) return false;
  const bool ok = inner_->Read(data, n, got);
  if (Gone()) {
    got = 0;
    return false;
  }
  return ok;
}

bool FakePrinterPort::ReadWait(uint8_t* data, uint32_t n, uint32_t& got, uint32_t waitMs) {
  got = 0;
  if (Gone()) return false;
  if (cls_ != DeviceClass::kUsbPrinter) return SerialDevice::ReadWait(data, n, got, waitMs);
  // Return on the first byte, or with nothing after waitMs. A wait of 0 is
  // not that form for the line (it would wait for all n bytes), so it is
  // asked as "return at once".
  const CommTimeouts t = waitMs == 0 ? CommTimeouts{kMaxDword, 0, 0, 0, 0}
                                     : CommTimeouts{kMaxDword, kMaxDword, waitMs, 0, 0};
  if (!inner_->SetTimeouts(t)) return false;
  const bool ok = inner_->Read(data, n, got);
  // A device that vanished while the read waited fails it; what came in is
  // lost with the device.
  if (Gone()) {
    got = 0;
    return false;
  }
  return ok;
}

bool FakePrinterPort::Write(const uint8_t* data, uint32_t n, uint32_t& written) {
  written = 0;
  const int64_t now = GetClock().NowMs();
  bool gone = false;
  {
    std::lock_guard lock(knobs_->mutex_);
    ++knobs_->writeCalls_;
    knobs_->writeCallSizes_.push_back(n);
    gone = GoneLocked(now);
    if (!gone && knobs_->writeCalls_ == knobs_->vanishOnWrite_) {
      ++knobs_->epoch_;
      gone = true;
    }
  }
  if (gone) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  return inner_->Write(data, n, written);
}

void FakePrinterPort::Close() {
  {
    std::lock_guard lock(knobs_->mutex_);
    if (closed_) return;
    closed_ = true;
    --knobs_->devicesOpen_;
  }
  inner_->Close();
}

bool FakePrinterPort::Negotiate(const NegotiationMask& ask, NegotiationMask& granted) {
  if (Gone()) return false;
  if (cls_ != DeviceClass::kParallel) return SerialDevice::Negotiate(ask, granted);
  int error = kErrorSuccess;
  NegotiationMask answer;
  {
    std::lock_guard lock(knobs_->mutex_);
    PrinterPortKnobs& k = *knobs_;
    const auto sameAsk = [&](const NegotiationRecord& r) { return SameModes(r.ask, ask); };
    const int nth =
        static_cast<int>(std::count_if(k.negotiations_.begin(), k.negotiations_.end(), sameAsk)) +
        1;
    // What the class driver grants a printer that supports all three modes.
    if (SameModes(ask, kAskEcp)) {
      answer = kGrantedEcp;
    } else if (SameModes(ask, kAskNibble)) {
      answer = kGrantedNibble;
    } else if (SameModes(ask, kAskCompatibility)) {
      answer = kGrantedCompatibility;
    } else {
      error = kErrorInvalidParameter;
    }
    for (const PrinterPortKnobs::NegotiationFault& f : k.negotiationFaults_) {
      if (error != kErrorSuccess) break;
      if (!SameModes(f.ask, ask) || (f.nth != 0 && f.nth != nth)) continue;
      if (f.fails) {
        error = kErrorGenFailure;
      } else {
        answer = f.granted;
      }
      break;
    }
    k.negotiations_.push_back({ask, error == kErrorSuccess, answer});
    if (error == kErrorSuccess) k.mode_ = answer;
  }
  if (error != kErrorSuccess) {
    SetLastError(error);
    return false;
  }
  granted = answer;
  return true;
}

bool FakePrinterPort::QueryDeviceId(uint8_t* data, uint32_t size, uint32_t& got) {
  got = 0;
  if (Gone()) return false;
  if (cls_ != DeviceClass::kUsbPrinter) return SerialDevice::QueryDeviceId(data, size, got);
  bool fails = false;
  {
    std::lock_guard lock(knobs_->mutex_);
    ++knobs_->deviceIdQueries_;
    fails = knobs_->deviceIdFails_;
  }
  if (fails) {
    SetLastError(kErrorGenFailure);
    return false;
  }
  // The length comes first, big-endian, and counts itself; an answer longer
  // than the buffer is cut off.
  const uint32_t textLength = static_cast<uint32_t>(std::strlen(kFakePrinterDeviceId));
  const uint32_t total = textLength + 2;
  std::vector<uint8_t> answer;
  answer.push_back(static_cast<uint8_t>(total >> 8));
  answer.push_back(static_cast<uint8_t>(total & 0xFF));
  answer.insert(answer.end(), kFakePrinterDeviceId, kFakePrinterDeviceId + textLength);
  got = std::min(size, total);
  std::copy_n(answer.begin(), got, data);
  return true;
}

bool FakePrinterPort::QueryStatus(uint8_t& status) {
  if (Gone()) return false;
  if (cls_ != DeviceClass::kUsbPrinter) return SerialDevice::QueryStatus(status);
  bool fails = false;
  uint8_t value = 0;
  {
    std::lock_guard lock(knobs_->mutex_);
    ++knobs_->statusQueries_;
    fails = knobs_->statusFails_;
    value = knobs_->status_;
  }
  if (fails) {
    SetLastError(kErrorGenFailure);
    return false;
  }
  status = value;
  return true;
}

}  // namespace quillon::platform
