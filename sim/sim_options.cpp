#include "sim/sim_options.h"

#include <charconv>
#include <optional>

namespace quillon::sim {

namespace {

std::optional<int64_t> Decimal(std::string_view text, int64_t min, int64_t max) {
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (value < min || value > max) return std::nullopt;
  return value;
}

std::optional<uint8_t> HexByte(std::string_view text) {
  if (text.starts_with("0x") || text.starts_with("0X")) text.remove_prefix(2);
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value > 0xFF) {
    return std::nullopt;
  }
  return static_cast<uint8_t>(value);
}

// "CMD", "CMD:N" or "CMD:*" into a fault's command and count; `rest` gets
// what follows a second colon.
bool FaultTarget(std::string_view text, Fault& fault, std::string_view* rest) {
  const size_t colon = text.find(':');
  const std::optional<CommandKind> kind = CommandFromName(text.substr(0, colon));
  if (!kind) return false;
  fault.command = *kind;
  fault.nth = 0;
  if (colon == std::string_view::npos) return rest == nullptr;
  std::string_view count = text.substr(colon + 1);
  const size_t second = count.find(':');
  if (rest) {
    if (second == std::string_view::npos) {
      // "CMD:0xHH": every command of the kind. Without its 0x the byte
      // could not be told from a count given without one.
      if (!count.starts_with("0x") && !count.starts_with("0X")) return false;
      *rest = count;
      return true;
    }
    *rest = count.substr(second + 1);
    count = count.substr(0, second);
  } else if (second != std::string_view::npos) {
    return false;
  }
  if (count == "*") return true;
  const std::optional<int64_t> n = Decimal(count, 1, 1'000'000'000);
  if (!n) return false;
  fault.nth = static_cast<int>(*n);
  return true;
}

}  // namespace

bool ApplySimOption(std::string_view key, std::string_view value, SimConfig& config,
                    std::string* error) {
  EmulatorOptions& o = config.emulator;
  auto fail = [&](std::string_view why) {
    if (error) {
      *error =
          "bad option '" + std::string(key) + "=" + std::string(value) + "': " + std::string(why);
    }
    return false;
  };
  auto milliseconds = [&](int64_t& target) {
    const std::optional<int64_t> ms = Decimal(value, 0, 86'400'000);
    if (!ms) return fail("expected milliseconds");
    target = *ms;
    return true;
  };

  if (key == "flash" || key == "log" || key == "image") {
    if (value.empty()) return fail("expected a path");
    (key == "flash" ? config.flashOut : key == "log" ? config.logOut : config.image) = value;
    return true;
  }
  if (key == "status") {
    const std::optional<uint8_t> b = HexByte(value);
    if (!b) return fail("expected a hex byte");
    o.statusByte = *b;
    return true;
  }
  if (key == "boot-ms") return milliseconds(o.bootDelayMs);
  if (key == "restart-ms") return milliseconds(o.restartMs);
  if (key == "delay") return milliseconds(o.answerDelayMs);
  if (key == "gap") return milliseconds(o.byteGapMs);
  if (key == "nak" || key == "silent") {
    Fault f;
    if (!FaultTarget(value, f, nullptr)) return fail("expected CMD, CMD:N or CMD:*");
    f.silent = key == "silent";
    o.faults.push_back(f);
    return true;
  }
  if (key == "reply") {
    Fault f;
    std::string_view byte;
    constexpr std::string_view kForms = "expected CMD:N:HH, CMD:*:HH or CMD:0xHH";
    if (!FaultTarget(value, f, &byte)) return fail(kForms);
    const std::optional<uint8_t> b = HexByte(byte);
    if (!b) return fail(kForms);
    f.byte = *b;
    o.faults.push_back(f);
    return true;
  }
  if (key == "silent-from") {
    const std::optional<int64_t> n = Decimal(value, 1, 1'000'000'000);
    if (!n) return fail("expected a command number from 1");
    o.silentFrom = static_cast<int>(*n);
    return true;
  }
  if (key == "bad-crc") {
    const std::optional<int64_t> s = Decimal(value, 1, kSectorCount);
    if (!s) return fail("expected a sector 1..70");
    o.badCrcSectors.insert(static_cast<int>(*s));
    return true;
  }
  if (key == "replug-after" || key == "replug-during") {
    Fault f;
    const bool during = key == "replug-during";
    if (!FaultTarget(value, f, nullptr) || (during && f.command != CommandKind::kData)) {
      return fail(during ? "expected data, data:N or data:*" : "expected CMD, CMD:N or CMD:*");
    }
    o.replugs.push_back(Replug{f.command, f.nth, during});
    return true;
  }
  if (key == "replug-gone") {
    if (value == "never") {
      o.replugGoneMs = kGoneForGood;
      return true;
    }
    return milliseconds(o.replugGoneMs);
  }
  if (key == "program") {
    if (value != "and" && value != "write") return fail("expected and or write");
    o.programClearsBitsOnly = value == "and";
    return true;
  }
  if (error) *error = "unknown option '" + std::string(key) + "'";
  return false;
}

bool ParseSimOptions(std::string_view text, SimConfig& config, std::string* error) {
  while (!text.empty()) {
    const size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    if (item.empty()) continue;
    const size_t eq = item.find('=');
    if (eq == std::string_view::npos) {
      if (error) *error = "bad option '" + std::string(item) + "': expected key=value";
      return false;
    }
    if (!ApplySimOption(item.substr(0, eq), item.substr(eq + 1), config, error)) return false;
  }
  return true;
}

}  // namespace quillon::sim
