#include "platform/Tick.h"

#include <time.h>

namespace {
TTickSource& Source() {
  static TTickSource source;
  return source;
}

uint32_t MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  // CLOCK_MONOTONIC counts from boot like the counter the system expects;
  // the offset keeps it away from 0 on a freshly started machine.
  constexpr uint64_t OffsetMs = 0x10000000;
  return static_cast<uint32_t>(uint64_t(now.tv_sec) * 1000 + uint64_t(now.tv_nsec) / 1000000 + OffsetMs);
}
}  // namespace

uint32_t GetTickCount() { return Source() ? Source()() : MonotonicMs(); }

void SetTickSource(TTickSource source) { Source() = std::move(source); }

TTestClock::TTestClock(uint32_t start) : Now(start) {
  SetTickSource([this] { return Now; });
}

TTestClock::~TTestClock() { SetTickSource({}); }
