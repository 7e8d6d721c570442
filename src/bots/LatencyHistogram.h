// The latency histogram of the bots' chat lines: one per swarm, fed by
// every bot as lines arrive, read by the report.
#pragma once

#include <array>
#include <cstdint>

// Delays in microseconds, kept in buckets of 1 us up to 64 us and then 32
// buckets per power of two (at most 1/32 off), so a long run costs no
// memory per sample.
class TLatencyHistogram {
 public:
  void Add(uint64_t us);
  void Merge(const TLatencyHistogram& other);
  uint64_t Count() const { return FCount; }
  // The delay below which the fraction q (0..1) of the samples lies, as the
  // middle of its bucket; 0 without samples.
  uint64_t Percentile(double q) const;
  uint64_t Max() const { return FMax; }

  static constexpr int LinearBuckets = 64;
  static constexpr int BucketsPerOctave = 32;
  static constexpr int BucketCount = LinearBuckets + 58 * BucketsPerOctave;

 private:
  static int BucketOf(uint64_t us);
  static uint64_t MiddleOf(int bucket);

  std::array<uint64_t, BucketCount> FBuckets{};
  uint64_t FCount = 0;
  uint64_t FMax = 0;
};
