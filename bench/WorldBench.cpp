// The world's costly calls: path searches on the open 256 x 256 field, and
// posing plus skinning one character of 20 bones and a few thousand
// vertices.  Posing needs a current OpenGL context (run under xvfb-run); the
// pose benchmark reports an error without one, the searches run anyway.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QOpenGLContext>
#include <QSurfaceFormat>
#include <QWindow>
#include <cmath>
#include <memory>

#include "models/L3DPlayer.h"
#include "world/ZULPathFinder.h"

namespace {

bool HaveContext = false;

void BM_FindPathCornerToCorner(benchmark::State& state) {
  TMap256 map;
  TZULPathFinder finder;
  finder.Map = &map;
  for (auto _ : state) benchmark::DoNotOptimize(finder.FindPath({0, 0}, {255, 255}));
}
BENCHMARK(BM_FindPathCornerToCorner);

// A click 20 cells away, searched and walked to its end.
void BM_FindPathAndWalk20Cells(benchmark::State& state) {
  TMap256 map;
  TZULPathFinder finder;
  finder.Map = &map;
  TPoint cell;
  int32_t direction = 0;
  for (auto _ : state) {
    finder.FindPath({127, 127}, {147, 118});
    while (finder.NextStep(cell, direction)) benchmark::DoNotOptimize(cell);
  }
}
BENCHMARK(BM_FindPathAndWalk20Cells);

constexpr int BoneCount = 20;
constexpr int VertexCount = 3000;
constexpr int KeysPerTrack = 8;

// A spine of bones, each turning a little about its own axis, every track
// keyed KeysPerTrack times.
TSkeleton* MakeSkeleton() {
  auto* skeleton = new TSkeleton();
  for (int b = 0; b < BoneCount; ++b) {
    std::string name = "Bone" + std::to_string(b);
    skeleton->Bones.push_back(
        {TShortName::From(name), b - 1, {0, 1, 0}, 10.0f * float(b), {1, 0, float(b % 3)}});
  }
  return skeleton;
}

std::unique_ptr<TMotion> MakeMotion() {
  auto motion = std::make_unique<TMotion>();
  motion->Duration = 1000;
  for (int b = 0; b < BoneCount; ++b) {
    int first = b * KeysPerTrack, last = first + KeysPerTrack - 1;
    motion->Tracks.push_back({TShortName::From("Bone" + std::to_string(b)), first, last, first, last});
    for (int k = 0; k < KeysPerTrack; ++k) {
      float t = float(k) / (KeysPerTrack - 1), half = 0.2f * float(k + b) / 2;
      motion->RotationKeys.push_back({t, std::sin(half), 0, 0, std::cos(half)});
      motion->PositionKeys.push_back({t, 0, 1 + 0.1f * float(k), 0});
    }
  }
  return motion;
}

// Every vertex shared by two neighbouring bones, half and half.
TMesh* MakeMesh() {
  auto* mesh = new TMesh();
  for (int v = 0; v < VertexCount; ++v)
    mesh->Vertices.push_back({{float(v % 7), float(v) / VertexCount * BoneCount, float(v % 5)}, {0, 1, 0}});
  for (int b = 0; b < BoneCount; ++b) {
    int first = int(mesh->Weights.size());
    for (int v = 0; v < VertexCount; ++v)
      if (v * BoneCount / VertexCount == b || v * BoneCount / VertexCount == b - 1)
        mesh->Weights.push_back({v, 0.5f});
    mesh->Bindings.push_back(
        {TShortName::From("Bone" + std::to_string(b)), first, int(mesh->Weights.size()) - 1});
  }
  return mesh;
}

void BM_PoseAndSkinOneCharacter(benchmark::State& state) {
  if (!HaveContext) {
    state.SkipWithError("no OpenGL context (run under xvfb-run)");
    return;
  }
  TAnimatedSkeleton animated;
  animated.SetSkeleton(MakeSkeleton());
  auto motion = MakeMotion();
  TTexturedMesh mesh;
  mesh.SetMesh(MakeMesh());
  float phase = 0;
  for (auto _ : state) {
    animated.Pose(motion.get(), phase);
    mesh.SkinVertices(animated);
    benchmark::DoNotOptimize(mesh.Skinned.data());
    phase = std::fmod(phase + 0.04f, 1.0f);
  }
  state.counters["vertices"] = VertexCount;
  state.counters["bones"] = BoneCount;
}
BENCHMARK(BM_PoseAndSkinOneCharacter);

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  QSurfaceFormat format;
  format.setRenderableType(QSurfaceFormat::OpenGL);
  format.setProfile(QSurfaceFormat::CompatibilityProfile);
  QWindow window;
  window.setSurfaceType(QSurface::OpenGLSurface);
  window.setFormat(format);
  window.setGeometry(0, 0, 64, 64);
  window.create();
  QOpenGLContext context;
  context.setFormat(format);
  HaveContext = context.create() && context.makeCurrent(&window);
  if (HaveContext) glMatrixMode(GL_MODELVIEW);

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
