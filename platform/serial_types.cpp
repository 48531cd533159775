#include "platform/serial_types.h"

namespace quillon::platform {

ReadPlan PlanRead(const CommTimeouts& t, uint32_t bytes) {
  ReadPlan plan;
  const uint32_t interval = t.ReadIntervalTimeout;
  const uint32_t mult = t.ReadTotalTimeoutMultiplier;
  const uint32_t constant = t.ReadTotalTimeoutConstant;
  if (interval == kMaxDword && mult == 0 && constant == 0) {
    plan.returnAtOnce = true;
    return plan;
  }
  if (interval == kMaxDword && mult == kMaxDword && constant > 0 && constant < kMaxDword) {
    plan.returnOnAnyByte = true;
    plan.totalMs = constant;
    return plan;
  }
  if (mult != 0 || constant != 0) {
    plan.totalMs = int64_t{mult} * bytes + constant;
  }
  if (interval != 0 && interval != kMaxDword) plan.intervalMs = interval;
  return plan;
}

int64_t PlanWriteMs(const CommTimeouts& t, uint32_t bytes) {
  if (t.WriteTotalTimeoutMultiplier == 0 && t.WriteTotalTimeoutConstant == 0) return -1;
  return int64_t{t.WriteTotalTimeoutMultiplier} * bytes + t.WriteTotalTimeoutConstant;
}

}  // namespace quillon::platform
