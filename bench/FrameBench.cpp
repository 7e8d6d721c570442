// One frame of the in-game screen at 640 by 480 with the game's own data
// (the run folder next to this program's folder), split into its parts:
// the floor, the characters (walks advanced, motions posed and skinned,
// drawn), the knight, and the overlay (markers, click marker, chat panel,
// status).  Each measurement ends with glFinish, so that the rendering the
// driver does on threads of its own (Mesa's llvmpipe) is in the wall time;
// the frame budget is 40 ms.  Run under xvfb-run.
//
// The CPU column is the main thread's own time; the counter process_ms adds
// the threads of the driver (llvmpipe rasterises on threads of its own), and
// news counts the C++ allocations made per iteration.  The driver
// experiments draw the same frame with nothing to rasterise (an empty
// scissor box, or a viewport of one pixel), which leaves the driver's vertex
// work and our own: the difference to the full frame is the fill.
//
// The sound mixes into a file through OpenAL Soft's wave back end (unless
// ALSOFT_CONF names another configuration), so that it runs without a sound
// card; BM_FrameSound draws the same frame with the window's sound system
// and without one: listener, footsteps of the walkers and OpenAL's calls on
// this thread are the difference.
#include <GL/gl.h>
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QOpenGLContext>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "ClientBenchSupport.h"
#include "audio/Sounds.h"
#include "client/ClientForm.h"
#include "client/Clients.h"
#include "client/FrameClock.h"
#include "client/GLContext.h"
#include "client/GameWindow.h"
#include "platform/Text1252.h"
#include "world/ZULPlayers.h"

// Every C++ allocation of the process, counted.
static std::atomic<long> News{0};

void* operator new(std::size_t size) {
  News.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

constexpr int FrameWidth = 640;   // pixels
constexpr int FrameHeight = 480;  // pixels
constexpr int ChatLines = 40;
constexpr int FramesPerSecondBudget = 25;  // the frame budget of BM_Frame: 40 ms

TFrmClient* Window = nullptr;
TGameWindow* Game = nullptr;

// Remote players on the cells around the local one, each walking a long
// way so that it plays the running motion.
void SetPlayers(int remote) {
  TZULPlayerList& players = Window->Client->Players;
  while (players.Count() > remote + 1) delete players[players.Count() - 1];
  while (players.Count() < remote + 1) {
    const int k = players.Count() - 1;
    auto* player = new TZULPlayer(&Window->SharedMap(), &players);
    player->X = StartCell - 4 + (k % 5) * 2;
    player->Y = StartCell - 2 - (k / 5) * 2;
    player->Name = "Joueur " + std::to_string(k);
    player->MoveTo(TPoint{player->X, 10});
  }
}

// Every remote player standing on its first cell: the tags' runs draw the
// same tags from the first frame to the last (walkers would leave the view).
void StandStill() {
  TZULPlayerList& players = Window->Client->Players;
  for (int k = 0; k + 1 < players.Count(); ++k) {
    TZULPlayer* player = players[k + 1];
    player->Model->SetAnimation(AnimStand);
    player->X = StartCell - 4 + (k % 5) * 2;
    player->Y = StartCell - 2 - (k / 5) * 2;
  }
}

void MakeCurrent() { GLContext->makeCurrent(Window); }

double ProcessMs() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Adds the process's CPU time and the allocations per iteration to a
// benchmark's counters; made before its loop, it reads both at the end.
class TCounters {
 public:
  explicit TCounters(benchmark::State& state) : FState(state), FStartMs(ProcessMs()), FStartNews(News) {}
  ~TCounters() {
    // Both read before the counters' own entries are made.
    const double news = double(News - FStartNews);
    const double ms = ProcessMs() - FStartMs;
    FState.counters["process_ms"] = benchmark::Counter(ms, benchmark::Counter::kAvgIterations);
    FState.counters["news"] = benchmark::Counter(news, benchmark::Counter::kAvgIterations);
  }

 private:
  benchmark::State& FState;
  double FStartMs;
  long FStartNews;
};

// Nothing to rasterise: the box of the scissor test is empty, or the
// viewport is one pixel.
enum TNoFill { EmptyScissor = 0, OnePixel = 1 };

void BeginNoFill(int64_t how) {
  if (how == EmptyScissor) {
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, 0, 0);
  } else {
    glViewport(0, 0, 1, 1);
  }
}

void EndNoFill() {
  glDisable(GL_SCISSOR_TEST);
  glViewport(0, 0, FrameWidth, FrameHeight);
}

// The state Paint draws the scene in: camera applied, players advanced.
void BeginScene() {
  MakeCurrent();
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
  TickFrame();
  SetPerspective();
  float wx = 0, wz = 0;
  Window->Client->LocalPlayer->GetWorldPos(wx, wz);
  ApplyCamera(wx, wz);
}

double WallMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// The wall time of each frame, kept to give the slowest and the 99th
// percentile beside the mean; its room is made before the counting starts.
class TFrameTimes {
 public:
  static constexpr std::size_t MaxFrames = 100000;
  TFrameTimes() { FMs.reserve(MaxFrames); }
  void Add(double ms) {
    if (FMs.size() < MaxFrames) FMs.push_back(ms);
  }
  void Report(benchmark::State& state, double budgetMs) {
    if (FMs.empty()) return;
    std::sort(FMs.begin(), FMs.end());
    state.counters["max_ms"] = FMs.back();
    state.counters["p99_ms"] = FMs[FMs.size() * 99 / 100];
    state.counters["over_budget"] = double(FMs.end() - std::upper_bound(FMs.begin(), FMs.end(), budgetMs));
  }

 private:
  std::vector<double> FMs;
};

void BM_Frame(benchmark::State& state) {
  SetPlayers(static_cast<int>(state.range(0)));
  MakeCurrent();
  TFrameTimes times;
  {
    TCounters counters(state);
    for (auto _ : state) {
      const double start = WallMs();
      glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
      Game->Paint();
      glFinish();
      times.Add(WallMs() - start);
    }
  }
  times.Report(state, 1000.0 / FramesPerSecondBudget);
}

// A thread beside the frames that asks to wake every millisecond and keeps
// how late its wake-ups come: how long the machine itself (the hypervisor,
// other processes) keeps a ready thread waiting, measured in the same run.
class TStallWatch {
 public:
  static constexpr long PeriodNs = 1000000;
  TStallWatch() : FThread([this] { Run(); }) {}
  ~TStallWatch() {
    FStop = true;
    FThread.join();
  }
  // The latest wake-up since the last call, ms late, and the latest of all.
  double TakeLatest() { return double(FLatestUs.exchange(0)) / 1000.0; }
  double Worst() const { return double(FWorstUs.load()) / 1000.0; }

 private:
  void Run() {
    timespec due{};
    clock_gettime(CLOCK_MONOTONIC, &due);
    while (!FStop) {
      due.tv_nsec += PeriodNs;
      if (due.tv_nsec >= 1000000000L) {
        due.tv_nsec -= 1000000000L;
        ++due.tv_sec;
      }
      clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
      timespec now{};
      clock_gettime(CLOCK_MONOTONIC, &now);
      const long lateUs = (now.tv_sec - due.tv_sec) * 1000000L + (now.tv_nsec - due.tv_nsec) / 1000L;
      RaiseTo(FLatestUs, lateUs);
      RaiseTo(FWorstUs, lateUs);
      // After a stall the next wake-up is a period from now, not a burst.
      if (lateUs * 1000L > PeriodNs) due = now;
    }
  }

  // The frames' thread takes FLatestUs back to 0 meanwhile: a plain
  // compare and store could lose a stall.
  static void RaiseTo(std::atomic<long>& most, long value) {
    long seen = most.load();
    while (value > seen && !most.compare_exchange_weak(seen, value)) {
    }
  }

  std::atomic<bool> FStop{false};
  std::atomic<long> FLatestUs{0};
  std::atomic<long> FWorstUs{0};
  std::thread FThread;
};

// Frames paced as the frame timer paces them at range 1 frames a second
// (range 0 players): each starts on its period's tick, and its wall time
// from there to glFinish is what must stay within 1000 / rate ms.  Frames
// over it are also counted apart when the machine stalled meanwhile, the
// stall watch's wake-up coming at least StallMs late (over_budget_stalled);
// stall_max_ms is the watch's worst over the run.  (The hypervisor's steal
// counter of /proc/stat, tried first, counts in 10 ms ticks and recorded
// none of the stalls.)
void BM_FramePaced(benchmark::State& state) {
  constexpr double StallMs = 5;
  SetPlayers(static_cast<int>(state.range(0)));
  MakeCurrent();
  const int rate = static_cast<int>(state.range(1));
  const double period = FramePeriodMs(rate);
  const double budget = 1000.0 / rate;
  TFrameTimes times;
  int overAndStalled = 0;
  TStallWatch watch;
  double next = WallMs();
  for (auto _ : state) {
    while (WallMs() < next) usleep(200);
    watch.TakeLatest();
    const double start = WallMs();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    Game->Paint();
    glFinish();
    const double ms = WallMs() - start;
    times.Add(ms);
    if (ms > budget && watch.TakeLatest() >= StallMs) ++overAndStalled;
    next = std::max(next + period, WallMs());
  }
  times.Report(state, budget);
  state.counters["over_budget_stalled"] = overAndStalled;
  state.counters["stall_max_ms"] = watch.Worst();
}

// The whole frame with the window's sound on (range 1: 1) or without a
// sound system (0).
void BM_FrameSound(benchmark::State& state) {
  SetPlayers(static_cast<int>(state.range(0)));
  if (state.range(1) != 0) {
    if (!Window->Sounds) Window->Sounds = std::make_unique<TSoundSystem>(TSoundSettings{});
    if (!Window->Sounds->Active()) state.SkipWithError("no sound device");
  } else {
    Window->Sounds.reset();
  }
  MakeCurrent();
  TCounters counters(state);
  for (auto _ : state) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    Game->Paint();
    glFinish();
  }
}

// The whole frame with nothing to rasterise (range 1: TNoFill).
void BM_FrameNoFill(benchmark::State& state) {
  SetPlayers(static_cast<int>(state.range(0)));
  MakeCurrent();
  TCounters counters(state);
  for (auto _ : state) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    BeginNoFill(state.range(1));
    Game->Paint();
    glFinish();
    EndNoFill();
  }
}

void BM_Floor(benchmark::State& state) {
  BeginScene();
  TCounters counters(state);
  for (auto _ : state) {
    Game->DrawFloor();
    glFinish();
  }
}

void BM_Characters(benchmark::State& state) {
  SetPlayers(static_cast<int>(state.range(0)));
  BeginScene();
  TZULPlayerList& players = Window->Client->Players;
  TCounters counters(state);
  for (auto _ : state) {
    TickFrame();
    players.Update(FrameTime);
    players.Draw(FrameDelta);
    glFinish();
  }
}

// The characters' own work without drawing: walks, motions posed, meshes
// skinned.
void BM_CharactersAdvance(benchmark::State& state) {
  SetPlayers(static_cast<int>(state.range(0)));
  BeginScene();
  TZULPlayerList& players = Window->Client->Players;
  TCounters counters(state);
  for (auto _ : state) {
    TickFrame();
    players.Update(FrameTime);
    for (int k = 0; k < players.Count(); ++k) players[k]->Model->Advance(FrameDelta);
  }
}

// The characters with nothing to rasterise (range 1: TNoFill).
void BM_CharactersNoFill(benchmark::State& state) {
  SetPlayers(static_cast<int>(state.range(0)));
  BeginScene();
  TZULPlayerList& players = Window->Client->Players;
  TCounters counters(state);
  for (auto _ : state) {
    TickFrame();
    players.Update(FrameTime);
    BeginNoFill(state.range(1));
    players.Draw(FrameDelta);
    glFinish();
    EndNoFill();
  }
}

void BM_Knight(benchmark::State& state) {
  BeginScene();
  TCounters counters(state);
  for (auto _ : state) {
    TickFrame();
    Game->DrawKnight(FrameDelta);
    glFinish();
  }
}

void BM_Overlay(benchmark::State& state) {
  SetPlayers(static_cast<int>(state.range(0)));
  BeginScene();
  TCounters counters(state);
  for (auto _ : state) {
    state.PauseTiming();
    // The overlay leaves the pixel projection; the markers need the scene's.
    SetPerspective();
    float wx = 0, wz = 0;
    Window->Client->LocalPlayer->GetWorldPos(wx, wz);
    ApplyCamera(wx, wz);
    Game->ClickTime = FrameTime;
    state.ResumeTiming();
    Game->DrawOverlay();
    glFinish();
  }
}

// The whole frame without and with the name tags (range 1), alternated so
// that a drift of the machine shows as a difference between the pairs.
void BM_FrameTags(benchmark::State& state) {
  SetPlayers(static_cast<int>(state.range(0)));
  StandStill();
  Game->ShowTags = state.range(1) != 0;
  BM_Frame(state);
  state.counters["tags"] = double(Game->ShowTags ? Game->Tags.Tags().size() : 0);
  Game->ShowTags = true;
}

// The overlay alone without and with the name tags (range 1).
void BM_OverlayTags(benchmark::State& state) {
  SetPlayers(static_cast<int>(state.range(0)));
  StandStill();
  Game->ShowTags = state.range(1) != 0;
  BM_Overlay(state);
  state.counters["tags"] = double(Game->ShowTags ? Game->Tags.Tags().size() : 0);
  Game->ShowTags = true;
}

BENCHMARK(BM_Frame)->Arg(4)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FramePaced)->Args({4, 60})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FrameSound)
    ->Args({16, 0})
    ->Args({16, 1})
    ->Args({16, 0})
    ->Args({16, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_FrameNoFill)
    ->Args({16, EmptyScissor})
    ->Args({16, OnePixel})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_FrameTags)
    ->Args({16, 0})
    ->Args({16, 1})
    ->Args({16, 0})
    ->Args({16, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_OverlayTags)
    ->Args({16, 0})
    ->Args({16, 1})
    ->Args({16, 0})
    ->Args({16, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_Floor)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Characters)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CharactersAdvance)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CharactersNoFill)
    ->Args({16, EmptyScissor})
    ->Args({16, OnePixel})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_Knight)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Overlay)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QString game = QCoreApplication::applicationDirPath() + "/../game";
  if (!QDir(game + "/data").exists() || !QDir::setCurrent(game)) {
    std::fprintf(stderr, "no run folder at %s\n", qPrintable(game));
    return 1;
  }
  QTemporaryDir soundFolder;
  if (!std::getenv("ALSOFT_CONF")) {
    const QString conf = soundFolder.path() + "/alsoft.conf";
    FILE* file = std::fopen(qPrintable(conf), "w");
    if (file) {
      std::fprintf(file, "[general]\ndrivers=wave\n[wave]\nfile=%s/mix.wav\n",
                   qPrintable(soundFolder.path()));
      std::fclose(file);
      setenv("ALSOFT_CONF", qPrintable(conf), 1);
    }
  }
  TSilentHost host;
  Window = new TFrmClient({"varozuvod", "debug"});
  Window->resize(FrameWidth, FrameHeight);
  Window->Connect(htonl(INADDR_LOOPBACK), host.Port, "bench", "");
  QElapsedTimer waited;
  waited.start();
  while (Window->ContextWindow == 0 && waited.elapsed() < 5000) Pump(20);
  if (Window->ContextWindow == 0) {
    std::fprintf(stderr, "no OpenGL window (is it running under xvfb-run?)\n");
    return 1;
  }
  Window->SetScreen(Window->Game.get());
  Game = static_cast<TGameWindow*>(Window->Game.get());
  Game->Resize(FrameWidth, FrameHeight);
  // Frames now come only from the benchmarks.
  Window->Timer.reset();
  MakeCurrent();
  Game->Paint();
  for (int line = 0; line < ChatLines; ++line)
    Game->Chat.Add("P" + std::to_string(line) + ">bonjour", 0x00FF00);

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  delete Window;
  return 0;
}
