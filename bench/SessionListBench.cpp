// Teardown of a server's connection list: the time to destroy a list of
// 1 000 to 8 000 real loopback connections, as a host ending with that many
// rows does.  The time per connection should stay flat as the count grows;
// a clear that takes items from the front of its vector grows with it.
// (Each connection costs two descriptors here, the peer's and the host's.)
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "net/Sockets.h"

namespace {

// A blocking peer connected to port on 127.0.0.1, or -1.
int ConnectPeer(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

void BM_SessionListClear(benchmark::State& state) {
  TSocketLibrary library;
  const auto count = static_cast<int>(state.range(0));
  // No target: no notifications, but the socket is made non-blocking.
  TServer server(nullptr, 0, 0);
  std::vector<int> peers;
  for (auto _ : state) {
    state.PauseTiming();
    for (int i = 0; i < count; ++i) {
      int peer = ConnectPeer(server.Port());
      if (peer < 0) {
        state.SkipWithError("connect failed (descriptor limit?)");
        break;
      }
      peers.push_back(peer);
      new TSessionItem(server, server.Handle());
    }
    state.ResumeTiming();
    server.Connections().Clear();
    state.PauseTiming();
    for (int peer : peers) ::close(peer);
    peers.clear();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_SessionListClear)->Arg(1000)->Arg(4000)->Arg(8000)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
