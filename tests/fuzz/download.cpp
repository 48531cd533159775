// The host against a hostile printer: a whole download of a small image, on
// the virtual clock, against a printer whose every answer comes from the
// input, to the end of the input and then silence. The download must end
// (in bounded virtual time) with a code of the result table, and report
// success only if every checksum it was told matched the block it had sent,
// every sector but the IPL's first was verified so, and the image's data went
// into the sectors the plan names.
//
// Input: one byte choosing the interface (value % 3: serial, parallel, USB)
// and the download type ((value / 3) % 3: main firmware, IPL, fonts); one
// byte of port faults (see PortFaults), with the bytes they take; then, for
// each whole frame the host writes, one byte saying how to answer:
//   bits 0-1  0: as a sound printer would, 1: nothing, 2: `count` bytes
//             taken from the input, 3: the sound answer with its last byte
//             taken from the input
//   bits 2-4  count
//   bits 5-7  the delay before the answer, from kDelays
// followed by the bytes it takes.

#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/result_table.h"
#include "engine/download_type.h"
#include "engine/flash_download.h"
#include "engine/result_codes.h"
#include "engine/sector_plan.h"
#include "fuzz/fuzz_support.h"
#include "platform/device.h"
#include "platform/fake_printer_port.h"
#include "platform/fake_serial.h"
#include "ports/link.h"
#include "protocol/crc.h"
#include "support/launch.h"
#include "support/pattern.h"
#include "support/sim_factory.h"
#include "support/virtual_clock.h"

namespace {

using namespace quillon;

constexpr uint8_t kGs = 0x1D;
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kStandardModel = 0x23;
constexpr std::array<int64_t, 8> kDelays = {1, 10, 150, 900, 3000, 11000, 35000, 90000};
// Far more than the slowest download (a 101-poll CRC recalculation, thirty
// line checks over USB) takes: beyond this the host is stuck.
constexpr int64_t kLongestRunMs = 6 * 3600 * 1000;

using Type = engine::DownloadType;

// A data block as the printer took it in, and the answer bytes it sent from
// then until the next block.
struct Block {
  int sector = 0;
  uint16_t crc = 0;
  std::vector<uint8_t> data;
  bool checked = false;  // a checksum command followed
  std::vector<uint8_t> answeredAfter;
};

// The printer's side: frames the host's bytes as the loader would and
// answers each whole frame as the script says.
class HostilePrinter final : public platform::SerialPeer {
 public:
  HostilePrinter(fuzz::Input& script, platform::FakeSerialLine& line)
      : script_(script), line_(line) {}

  void OnHostBytes(const uint8_t* data, size_t n, int64_t nowMs) override {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < n; ++i) Take(data[i], nowMs);
  }

  std::vector<Block> Blocks() {
    std::lock_guard lock(mutex_);
    return blocks_;
  }

 private:
  enum class Parse { kIdle, kCommand, kSwitch, kArgument, kHeader, kBody };

  void Take(uint8_t b, int64_t now) {
    switch (parse_) {
      case Parse::kIdle:
        if (b == kGs) parse_ = Parse::kCommand;
        return;
      case Parse::kCommand:
        command_ = b;
        parse_ = Parse::kIdle;
        if (b == 0x02 || b == 0x10) parse_ = Parse::kArgument;
        if (b == 0x11) {
          parse_ = Parse::kHeader;
          headerGot_ = 0;
        }
        if (b == 0x5B) parse_ = Parse::kSwitch;
        if (b == 0x01 || b == 0x06 || b == 0x0F || b == 0xFF) Answer(now);
        return;
      case Parse::kSwitch:
        parse_ = Parse::kIdle;
        if (b == 0x7D) Answer(now);
        return;
      case Parse::kArgument:
        parse_ = Parse::kIdle;
        if (command_ == 0x02) selected_ = b;
        Answer(now);
        return;
      case Parse::kHeader:
        header_[headerGot_++] = b;
        if (headerGot_ == header_.size()) {
          left_ = header_[2] | (size_t{header_[3]} << 8);
          if (left_ == 0) left_ = 0x10000;
          block_ = Block{};
          block_.sector = selected_;
          crc_.Reset();
          parse_ = Parse::kBody;
        }
        return;
      case Parse::kBody:
        block_.data.push_back(b);
        crc_.Update(b);
        if (--left_ == 0) {
          block_.crc = crc_.Value();
          blocks_.push_back(std::move(block_));
          parse_ = Parse::kIdle;
          Answer(now);
        }
        return;
    }
  }

  // What a sound printer answers to the frame just completed.
  std::vector<uint8_t> SoundAnswer() const {
    switch (command_) {
      case 0x01:
        return {kAck, kStandardModel};
      case 0x02:
      case 0x10:
      case 0x11:
        return {kAck};
      case 0x06: {
        const uint16_t crc = blocks_.empty() ? 0 : blocks_.back().crc;
        return {kAck, static_cast<uint8_t>(crc & 0xFF), static_cast<uint8_t>(crc >> 8)};
      }
      case 0x0F:
        return {kAck, 0x34, 0x12};
      default:
        return {};  // the switch and the reset have no answer
    }
  }

  void Answer(int64_t now) {
    if (command_ == 0x06 && !blocks_.empty()) blocks_.back().checked = true;
    if (script_.Empty()) return;
    const uint8_t how = script_.Byte();
    const size_t count = (how >> 2) & 7;
    std::vector<uint8_t> answer;
    switch (how & 3) {
      case 0:
        answer = SoundAnswer();
        break;
      case 1:
        break;
      case 2:
        answer = script_.Bytes(count);
        break;
      case 3:
        answer = SoundAnswer();
        if (!answer.empty()) answer.back() = script_.Byte(answer.back());
        break;
    }
    if (answer.empty()) return;
    if (!blocks_.empty()) {
      auto& after = blocks_.back().answeredAfter;
      after.insert(after.end(), answer.begin(), answer.end());
    }
    line_.Deliver(answer, now + kDelays[how >> 5]);
  }

  fuzz::Input& script_;
  platform::FakeSerialLine& line_;
  std::mutex mutex_;
  Parse parse_ = Parse::kIdle;
  uint8_t command_ = 0;
  std::array<uint8_t, 4> header_{};
  size_t headerGot_ = 0;
  size_t left_ = 0;
  int selected_ = 0;
  Block block_;
  protocol::CrcRegister crc_;
  std::vector<Block> blocks_;
};

// The image of each type, written once, and where its bytes belong.
struct Image {
  std::string path;
  std::vector<uint8_t> data;
  int64_t skip = 0;  // bytes never sent (the IPL's first 32 KiB)
  int first = 0;
};

class Images {
 public:
  Images() {
    dir_ = std::filesystem::temp_directory_path() /
           ("quillon-fuzz-download-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    images_[0] = Make("fw.mfw", testing::Pattern(65536 + 1000, 1), 0, engine::kMainFirstSector);
    images_[1] = Make("ipl.ipl", testing::Pattern(engine::kIplSkip + 32768 + 1000, 2),
                      engine::kIplSkip, engine::kIplFirstSector);
    images_[2] = Make("font.bin", testing::Pattern(3000, 3), 0, engine::kFontFirstSector);
  }
  ~Images() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  const Image& Of(Type type) const { return images_[static_cast<size_t>(type)]; }

 private:
  Image Make(const std::string& name, std::vector<uint8_t> data, int64_t skip, int first) {
    const std::filesystem::path path = dir_ / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));
    return {path.string(), std::move(data), skip, first};
  }
  std::filesystem::path dir_;
  std::array<Image, 3> images_;
};

// Faults of the parallel port or USB printer the printer is reached through
// (none on the serial line): bit 0, the device vanishes on the Nth write
// (N from the next byte); bit 1, the Nth negotiation of ECP fails; bit 2,
// the second negotiation of compatibility mode fails.
void PortFaults(uint8_t bits, fuzz::Input& input, platform::PrinterPortKnobs& knobs) {
  if (bits & 0x01) knobs.VanishOnWrite(1 + input.Byte() % 64);
  if (bits & 0x02) knobs.FailNegotiation(platform::kAskEcp, 1 + input.Byte() % 4);
  if (bits & 0x04) knobs.FailNegotiation(platform::kAskCompatibility, 2);
}

// The download of `image` as the program launches it.
int Download(ports::Interface iface, const Image& image, Type type) {
  const bool usb = iface == ports::Interface::kUsb;
  if (usb) platform::SetUsbPrinterPath("sim");
  app::DownloadRequest request;
  request.interface = iface;
  request.type = type;
  request.portName = usb ? "" : "sim";
  request.imagePath = image.path;
  request.firstSector = image.first;
  testing::LaunchHost host;
  engine::CFlashDownload download(iface);
  return testing::Launch(request, download, host);
}

bool Contains(const std::vector<uint8_t>& bytes, uint8_t a, uint8_t b) {
  for (size_t i = 0; i + 1 < bytes.size(); ++i) {
    if (bytes[i] == a && bytes[i + 1] == b) return true;
  }
  return false;
}

// A success claimed: every block the host had checked was confirmed by the
// printer's answers after it, and every planned sector got its part of the
// image in a block so confirmed.
void CheckSuccess(const Image& image, Type type, const std::vector<Block>& blocks) {
  for (const Block& b : blocks) {
    const bool iplFirst = type == Type::kIpl && b.sector == engine::kIplFirstSector;
    FUZZ_CHECK(b.checked || iplFirst);
    if (b.checked) {
      FUZZ_CHECK(Contains(b.answeredAfter, static_cast<uint8_t>(b.crc & 0xFF),
                          static_cast<uint8_t>(b.crc >> 8)));
    }
  }
  bool fits = true;
  const int64_t sent = static_cast<int64_t>(image.data.size()) - image.skip;
  int64_t offset = image.skip;
  for (const int sector :
       engine::BuildSectorPlan(sent, image.first, engine::flashSectorSizes, fits)) {
    const size_t size = engine::flashSectorSizes[sector];
    const size_t part = std::min(size, image.data.size() - static_cast<size_t>(offset));
    const auto from = image.data.begin() + offset;
    bool written = false;
    for (const Block& b : blocks) {
      written =
          written || (b.sector == sector && b.data.size() == size &&
                      std::equal(from, from + static_cast<std::ptrdiff_t>(part), b.data.begin()));
    }
    FUZZ_CHECK(written);
    offset += static_cast<int64_t>(size);
  }
  FUZZ_CHECK(fits);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Images images;
  fuzz::Input input(data, size);
  const uint8_t choice = input.Byte();
  const auto iface = static_cast<ports::Interface>(choice % 3);
  const auto type = static_cast<Type>((choice / 3) % 3);
  const Image& image = images.Of(type);

  platform::VirtualClock clock;
  platform::ScopedClock scope{clock};

  const auto line = std::make_shared<platform::FakeSerialLine>();
  const auto printer = std::make_shared<HostilePrinter>(input, *line);
  line->SetPeer(printer);
  const auto knobs = std::make_shared<platform::PrinterPortKnobs>();
  PortFaults(input.Byte(), input, *knobs);
  testing::ServeAsSimulator(line, knobs);

  const int code = Download(iface, image, type);
  platform::SetSimulatorFactory(nullptr);
  platform::SetUsbPrinterPath("");
  line->SetPeer(nullptr);

  FUZZ_CHECK(clock.NowMs() < kLongestRunMs);
  FUZZ_CHECK(app::LookupResult(code).has_value());
  if (code == engine::kSuccess) CheckSuccess(image, type, printer->Blocks());
  return 0;
}
