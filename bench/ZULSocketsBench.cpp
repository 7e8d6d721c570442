// Game framing throughput: packed integers encoded and decoded per second,
// and frames decoded and routed per second from a buffer of many small
// frames (chat lines and walk orders), whole or in the 1024-byte steps a
// connection reads.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "net/ZULSockets.h"

namespace {

constexpr int FramesPerBuffer = 1024;

// Values spread over every packed length, 1 to 5 bytes.
std::vector<int32_t> SampleValues() {
  std::vector<int32_t> values;
  uint32_t seed = 12345;
  for (int i = 0; i < 4096; ++i) {
    seed = seed * 1664525u + 1013904223u;
    int bits = 1 + static_cast<int>(seed % 31);
    values.push_back(static_cast<int32_t>((seed >> 1) & ((1u << bits) - 1)));
  }
  return values;
}

// A framing object that decodes bytes put in by hand.
class TBenchIO : public TZULSocketIO {
 public:
  explicit TBenchIO(TZULMessageTarget* owner) : TZULSocketIO(owner, ws::INVALID_SOCKET) {}
  void Feed(const char* data, size_t count) {
    FInBuffer.append(data, count);
    DecodeFrames();
  }
};

// Reads each frame's fields as the host and client handlers do.
class TReader : public TZULMessageTarget {
 public:
  TReader() {
    SetHandler(5, &TReader::Chat);
    SetHandler(9, &TReader::Walk);
  }
  void Chat(TZULMessage&) {
    Sum += IO->ReadInteger();
    Sum += static_cast<int64_t>(IO->ReadString().size());
  }
  void Walk(TZULMessage&) {
    Sum += IO->ReadInteger();
    Sum += IO->ReadInteger();
    Sum += IO->ReadInteger();
  }
  TBenchIO* IO = nullptr;
  int64_t Sum = 0;
};

std::string ChatFrames() {
  std::string payload = EncodeInteger(1968) + "Salut tout le monde, on se retrouve au nord ?";
  std::string frames;
  for (int i = 0; i < FramesPerBuffer; ++i)
    frames += EncodeInteger(5) + EncodeInteger(static_cast<int32_t>(payload.size())) + payload;
  return frames;
}

std::string WalkFrames() {
  std::string frames;
  for (int i = 0; i < FramesPerBuffer; ++i) {
    std::string payload = EncodeIntegers({1968, 100 + i % 150, 200 - i % 150});
    frames += EncodeInteger(9) + EncodeInteger(static_cast<int32_t>(payload.size())) + payload;
  }
  return frames;
}

void DecodeBuffer(benchmark::State& state, const std::string& frames, size_t step) {
  TReader reader;
  TBenchIO io(&reader);
  reader.IO = &io;
  for (auto _ : state) {
    for (size_t at = 0; at < frames.size(); at += step)
      io.Feed(frames.data() + at, std::min(step, frames.size() - at));
  }
  benchmark::DoNotOptimize(reader.Sum);
  state.SetItemsProcessed(state.iterations() * FramesPerBuffer);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(frames.size()));
}

}  // namespace

static void BM_PackedEncode(benchmark::State& state) {
  std::vector<int32_t> values = SampleValues();
  std::string out;
  for (auto _ : state) {
    out.clear();
    for (int32_t v : values) AppendPacked(out, v);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(values.size()));
}
BENCHMARK(BM_PackedEncode);

static void BM_PackedDecode(benchmark::State& state) {
  std::vector<int32_t> values = SampleValues();
  std::string packed;
  for (int32_t v : values) AppendPacked(packed, v);
  for (auto _ : state) {
    size_t pos = 0;
    int32_t value = 0;
    int64_t sum = 0;
    while (DecodePacked(packed, pos, packed.size(), value)) sum += value;
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(values.size()));
}
BENCHMARK(BM_PackedDecode);

static void BM_ChatFramesWhole(benchmark::State& state) {
  std::string frames = ChatFrames();
  DecodeBuffer(state, frames, frames.size());
}
BENCHMARK(BM_ChatFramesWhole);

static void BM_ChatFramesBy1024(benchmark::State& state) { DecodeBuffer(state, ChatFrames(), 1024); }
BENCHMARK(BM_ChatFramesBy1024);

static void BM_WalkFramesWhole(benchmark::State& state) {
  std::string frames = WalkFrames();
  DecodeBuffer(state, frames, frames.size());
}
BENCHMARK(BM_WalkFramesWhole);

static void BM_WalkFramesBy1024(benchmark::State& state) { DecodeBuffer(state, WalkFrames(), 1024); }
BENCHMARK(BM_WalkFramesBy1024);

BENCHMARK_MAIN();
