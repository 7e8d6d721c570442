// Teardown of a server's connection list: the time to destroy a list of
// 1 000 to 100 000 connections, as a host ending with that many rows does
// (a host flooded with connections, or with failed accepts, may hold that
// many).  The rate per item should stay flat as the count grows; a clear
// that takes items from the front of its vector falls with the count.
//
// The items are made without peers: a non-blocking listening socket with
// nothing waiting makes each accept fail at once, so the items own no
// descriptor and only the list's own work is timed.
#include <benchmark/benchmark.h>

#include "net/Sockets.h"

namespace {

void BM_SessionListClear(benchmark::State& state) {
  TSocketLibrary library;
  const auto count = static_cast<int>(state.range(0));
  // No target: no notifications, but the socket is made non-blocking.
  TServer server(nullptr, 0, 0);
  for (auto _ : state) {
    state.PauseTiming();
    for (int i = 0; i < count; ++i) new TSessionItem(server, server.Handle());
    state.ResumeTiming();
    server.Connections().Clear();
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_SessionListClear)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
