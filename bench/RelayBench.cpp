// The host's relay path alone, through a real game host (TGameHost with its
// TZULSession objects) on 127.0.0.1: one player sends chat lines, then walk
// orders, in bursts, and the others read what is relayed.  For each kind it
// reports the C++ allocations the process made and its CPU time, per relayed
// message (one message in, PLAYERS - 1 deliveries out) and per delivery.
// The peers are plain non-blocking sockets read in the same thread, with
// fixed buffers, so that they add no allocations of their own.
//
// Usage: bench_RelayBench [PLAYERS (8)] [MESSAGES (20000)]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "host/GameHost.h"
#include "host/HostSettings.h"
#include "host/SessionRows.h"
#include "net/ZULSockets.h"

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

constexpr int DefaultPlayers = 8;
constexpr int DefaultMessages = 20000;
// Messages the sender writes with one send, as a busy client's frames
// arrive together.
constexpr int BurstMessages = 16;
// A bound on every wait, should the host stop relaying.
constexpr int WaitLimitMs = 60000;
constexpr size_t ReadChunkBytes = 64 * 1024;

double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// A player's connection, read without allocating.
class TPeer {
 public:
  explicit TPeer(uint16_t port) {
    FFd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(FFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      std::perror("connect");
      std::exit(1);
    }
  }
  ~TPeer() { ::close(FFd); }
  TPeer(const TPeer&) = delete;
  TPeer& operator=(const TPeer&) = delete;

  void Send(const std::string& bytes) {
    for (size_t sent = 0; sent < bytes.size();) {
      ssize_t n = ::send(FFd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0)
        sent += static_cast<size_t>(n);
      else
        QCoreApplication::processEvents();
    }
  }
  // Takes what has arrived; counts its bytes.
  void Drain() {
    static char chunk[ReadChunkBytes];
    for (;;) {
      ssize_t n = ::recv(FFd, chunk, sizeof chunk, MSG_DONTWAIT);
      if (n <= 0) return;
      Received += static_cast<size_t>(n);
    }
  }
  size_t Received = 0;

 private:
  int FFd = -1;
};

std::string Frame(int32_t id, const std::string& payload) {
  std::string frame;
  AppendPacked(frame, id);
  AppendPacked(frame, static_cast<int32_t>(payload.size()));
  return frame + payload;
}

struct TResult {
  long News = 0;
  double CpuSeconds = 0;
  double WallSeconds = 0;
};

class TBench {
 public:
  TBench(int players, int messages) : FPlayers(players), FMessages(messages) {
    FSettings.Port = 0;
    // The relay's own cost: walks as fast as the peers send them.
    FSettings.MovesPerSecond = 0;
    FHost = std::make_unique<TGameHost>(FSettings, FList);
    FHost->Start();
    uint16_t port = FHost->GameServer()->Port();
    for (int i = 0; i < players; ++i) {
      FPeers.push_back(std::make_unique<TPeer>(port));
      WaitFor([&] { return FHost->GameServer()->Connections().Count() == i + 1; });
      FPeers.back()->Send(Frame(MsgJoin, "p" + std::to_string(i)));
    }
    // Settle the logins, then start every count from zero.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300) Pump();
    for (auto& peer : FPeers) peer->Received = 0;
  }

  // frame is what the sender sends; relayed the size one other receives;
  // echoed the size the sender gets back per message.
  TResult Run(const std::string& frame, size_t relayed, size_t echoed) {
    std::string burst;
    for (int i = 0; i < BurstMessages; ++i) burst += frame;
    std::vector<size_t> expected;
    for (size_t p = 0; p < FPeers.size(); ++p)
      expected.push_back(FPeers[p]->Received + static_cast<size_t>(FMessages) * (p == 0 ? echoed : relayed));
    TResult result;
    long newsBefore = News.load();
    double cpuBefore = ProcessCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    for (int sent = 0; sent < FMessages; sent += BurstMessages) {
      FPeers[0]->Send(burst);
      Pump();
    }
    WaitFor([&] {
      for (size_t p = 0; p < FPeers.size(); ++p)
        if (FPeers[p]->Received < expected[p]) return false;
      return true;
    });
    result.WallSeconds = static_cast<double>(wall.nsecsElapsed()) * 1e-9;
    result.CpuSeconds = ProcessCpuSeconds() - cpuBefore;
    result.News = News.load() - newsBefore;
    return result;
  }

  // The sender's player id as it travels.
  std::string SenderId() const {
    return EncodeInteger(static_cast<int32_t>(FHost->GameServer()->Connections()[0]->Handle()));
  }

  void Report(const char* kind, const TResult& result) const {
    double messages = FMessages, deliveries = static_cast<double>(FMessages) * (FPlayers - 1);
    std::printf("%-5s %7d %8d %10ld %10.3f %10.4f %10.2f %10.2f\n", kind, FPlayers, FMessages, result.News,
                static_cast<double>(result.News) / messages, static_cast<double>(result.News) / deliveries,
                result.CpuSeconds * 1e6 / messages, result.CpuSeconds * 1e6 / deliveries);
  }

 private:
  // One pass of the host's event loop, then every peer reads.
  void Pump() {
    QCoreApplication::processEvents();
    for (auto& peer : FPeers) peer->Drain();
  }
  template <class TDone>
  void WaitFor(TDone done) {
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
      if (waited.elapsed() > WaitLimitMs) {
        std::fprintf(stderr, "the host stopped relaying\n");
        std::exit(1);
      }
      Pump();
    }
  }

  int FPlayers;
  int FMessages;
  THostSettings FSettings;
  TSessionListView FList;
  std::unique_ptr<TGameHost> FHost;
  std::vector<std::unique_ptr<TPeer>> FPeers;
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  int players = argc > 1 ? std::atoi(argv[1]) : DefaultPlayers;
  int messages = argc > 2 ? std::atoi(argv[2]) : DefaultMessages;
  if (players < 2 || messages < BurstMessages) {
    std::fprintf(stderr, "Usage: bench_RelayBench [PLAYERS >= 2] [MESSAGES >= %d]\n", BurstMessages);
    return 2;
  }
  messages -= messages % BurstMessages;
  TSocketLibrary library;
  TBench bench(players, messages);

  // A chat line as the bots say it, and a walk order.
  const std::string line = "#123456 t=1765270000123456", goal = EncodeIntegers({140, 96});
  const std::string id = bench.SenderId();
  TResult chatResult =
      bench.Run(Frame(MsgChat, line), Frame(MsgChat, id + line).size(), Frame(MsgChatAck, "").size());
  TResult walkResult = bench.Run(Frame(MsgWalk, goal), Frame(MsgWalk, id + goal).size(), 0);
  std::printf("%-5s %7s %8s %10s %10s %10s %10s %10s\n", "kind", "players", "messages", "news", "news/msg",
              "news/dlv", "cpu us/msg", "cpu us/dlv");
  bench.Report("chat", chatResult);
  bench.Report("walk", walkResult);
  return 0;
}
