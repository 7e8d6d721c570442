// The per-frame work of an MD2 model: blending two key frames of a
// 500-vertex model into the drawn vertices, with and without the trail.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "models/MD2.h"
#include "models/MD2Writer.h"

namespace {

constexpr int VertexCount = 500;
constexpr int FrameCount = 2;

// A model of VertexCount vertices in two different frames, written to a
// temporary file for the life of the benchmark.
class TBenchModel {
 public:
  TBenchModel() {
    TMD2ModelData data;
    data.SkinWidth = data.SkinHeight = 64;
    for (int f = 0; f < FrameCount; ++f) {
      TMD2FrameData frame;
      frame.Scale = {0.1f, 0.1f, 0.1f};
      frame.Translation = {float(f), -12, -24};
      for (int i = 0; i < VertexCount; ++i)
        frame.Vertices.push_back({uint8_t(i * 7 + f), uint8_t(i * 13), uint8_t(i * 31 + 3 * f), 0});
      data.Frames.push_back(frame);
    }
    FileName =
        (std::filesystem::temp_directory_path() / ("md2bench-" + std::to_string(getpid()) + ".md2")).string();
    SaveMD2(data, FileName);
    Model.LoadModel(FileName);
    Model.SetKeyFrame(0, 0);
    Model.SetKeyFrame(1, 1);
    Model.TrailVertexA = 21;
    Model.TrailVertexB = 28;
  }
  ~TBenchModel() { std::filesystem::remove(FileName); }

  std::string FileName;
  TQ2Model Model;
};

void Blend(benchmark::State& state, bool trail) {
  TBenchModel bench;
  bench.Model.TrailOn = trail;
  float t = 0;
  for (auto _ : state) {
    bench.Model.Interpolate(0, 1, t);
    benchmark::DoNotOptimize(bench.Model.Vertices().data());
    t = t >= 1 ? 0 : t + 1.0f / 180;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["vertices/s"] =
      benchmark::Counter(double(state.iterations()) * VertexCount, benchmark::Counter::kIsRate);
}

void BM_Interpolate500Vertices(benchmark::State& state) { Blend(state, false); }
void BM_Interpolate500VerticesWithTrail(benchmark::State& state) { Blend(state, true); }

}  // namespace

BENCHMARK(BM_Interpolate500Vertices);
BENCHMARK(BM_Interpolate500VerticesWithTrail);
BENCHMARK_MAIN();
