#include "bots/LatencyHistogram.h"

#include <algorithm>
#include <bit>
#include <cmath>

int TLatencyHistogram::BucketOf(uint64_t us) {
  if (us < LinearBuckets) return static_cast<int>(us);
  int shift = std::bit_width(us) - 6;  // keeps six significant bits, 32..63
  auto mantissa = static_cast<int>(us >> shift);
  return LinearBuckets + (shift - 1) * BucketsPerOctave + (mantissa - BucketsPerOctave);
}

uint64_t TLatencyHistogram::MiddleOf(int bucket) {
  if (bucket < LinearBuckets) return static_cast<uint64_t>(bucket);
  int k = bucket - LinearBuckets;
  int shift = k / BucketsPerOctave + 1;
  uint64_t low = uint64_t(k % BucketsPerOctave + BucketsPerOctave) << shift;
  return low + (uint64_t(1) << (shift - 1));
}

void TLatencyHistogram::Add(uint64_t us) {
  ++FBuckets[static_cast<size_t>(BucketOf(us))];
  ++FCount;
  FMax = std::max(FMax, us);
}

void TLatencyHistogram::Merge(const TLatencyHistogram& other) {
  for (size_t i = 0; i < FBuckets.size(); ++i) FBuckets[i] += other.FBuckets[i];
  FCount += other.FCount;
  FMax = std::max(FMax, other.FMax);
}

uint64_t TLatencyHistogram::Percentile(double q) const {
  if (FCount == 0) return 0;
  auto rank = static_cast<uint64_t>(std::ceil(std::clamp(q, 0.0, 1.0) * double(FCount)));
  rank = std::max<uint64_t>(rank, 1);
  uint64_t seen = 0;
  for (size_t i = 0; i < FBuckets.size(); ++i) {
    seen += FBuckets[i];
    if (seen >= rank) return std::min(MiddleOf(static_cast<int>(i)), FMax);
  }
  return FMax;
}
