// The tick counter: unsigned 32-bit milliseconds of the monotonic clock.
// It starts far from 0 (several parts read 0 as "not yet") and wraps modulo
// 2^32; take differences with unsigned arithmetic.  Tests install a clock of
// their own with TTestClock.
#pragma once

#include <cstdint>
#include <functional>

uint32_t GetTickCount();

using TTickSource = std::function<uint32_t()>;
// Replaces the clock; an empty function restores the monotonic one.
void SetTickSource(TTickSource source);

// Whether the tick count now has reached at, across the wrap (the two lie
// less than 2^31 ms apart).
inline bool TickReached(uint32_t now, uint32_t at) { return static_cast<int32_t>(now - at) >= 0; }

// A clock that tests move by hand; installed while it lives.
class TTestClock {
 public:
  explicit TTestClock(uint32_t start = 1000000);
  ~TTestClock();
  TTestClock(const TTestClock&) = delete;
  TTestClock& operator=(const TTestClock&) = delete;

  uint32_t Now = 0;
  void Advance(uint32_t ms) { Now += ms; }
};
