// Memory of the remote players a client draws: the client window with the
// game's own data (the run folder next to this program's folder) gets
// remote players in steps up to the count given (default 1,024), draws one
// frame after each step, so that every character's textures are uploaded,
// and prints the process's resident memory.  Mesa's llvmpipe keeps its
// binned scenes up to a ceiling of its own (about 100 MB here, reached near
// 256 players in view), so the step column is what a player costs past
// it.  Run by hand under xvfb-run:
//   xvfb-run -a build/bench/bench_PlayerMemoryBench [players]
// Not a Google Benchmark: one measurement per step is the figure wanted.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QOpenGLContext>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "ClientBenchSupport.h"
#include "client/ClientForm.h"
#include "client/Clients.h"
#include "client/GLContext.h"
#include "client/GameWindow.h"
#include "world/ZULPlayers.h"

namespace {

constexpr int FrameWidth = 640;       // pixels
constexpr int FrameHeight = 480;      // pixels
constexpr int DefaultPlayers = 1024;  // remote players at the last step
constexpr int WindowWaitMs = 5000;

// The process's resident memory in megabytes, from /proc.
double ResidentMB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const int most = argc > 1 ? std::atoi(argv[1]) : DefaultPlayers;
  const QString game = QCoreApplication::applicationDirPath() + "/../game";
  if (most < 1 || !QDir(game + "/data").exists() || !QDir::setCurrent(game)) {
    std::fprintf(stderr, "usage: %s [players >= 1], with a run folder at %s\n", argv[0], qPrintable(game));
    return 1;
  }
  TSilentHost host;
  auto* window = new TFrmClient({"varozuvod", "debug"});
  window->resize(FrameWidth, FrameHeight);
  window->Connect(htonl(INADDR_LOOPBACK), host.Port, "bench", "");
  QElapsedTimer waited;
  waited.start();
  while (window->ContextWindow == 0 && waited.elapsed() < WindowWaitMs) Pump(20);
  if (window->ContextWindow == 0) {
    std::fprintf(stderr, "no OpenGL window (is it running under xvfb-run?)\n");
    return 1;
  }
  window->SetScreen(window->Game.get());
  auto* screen = static_cast<TGameWindow*>(window->Game.get());
  screen->Resize(FrameWidth, FrameHeight);
  window->Timer.reset();  // frames come only from here
  GLContext->makeCurrent(window);
  screen->Paint();
  const double base = ResidentMB();
  std::printf("players  resident_MB  per_player_MB  step_KB_per_player  own_model_KB\n%7d  %11.1f\n", 0,
              base);
  double previous = base;
  int previousCount = 0;

  TZULPlayerList& players = window->Client->Players;
  for (int step = 1; step <= most; step *= 2) {
    const int count = step * 2 > most ? most : step;
    while (players.Count() < count + 1) {
      auto* player = new TZULPlayer(&window->SharedMap(), &players);
      player->X = StartCell + players.Count() % 16;
      player->Y = StartCell - players.Count() / 16 % 16;
    }
    screen->Paint();
    const double resident = ResidentMB();
    // What the newest character's model holds of its own, by its count.
    const double ownKB = double(players[players.Count() - 1]->Model->OwnBytes()) / 1024.0;
    // What the players of this step added each: once the renderer's own
    // buffers have reached their ceiling, the players' own cost.
    const double stepKB = (resident - previous) * 1024.0 / (count - previousCount);
    std::printf("%7d  %11.1f  %13.2f  %18.1f  %12.1f\n", count, resident, (resident - base) / count, stepKB,
                ownKB);
    previous = resident;
    previousCount = count;
    std::fflush(stdout);
    if (count == most) break;
  }
  delete window;
  return 0;
}
