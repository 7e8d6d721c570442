#include "host/DiscoveryResponder.h"

#include "platform/Text1252.h"
#include "platform/Tick.h"

namespace {
// Datagrams taken in one readiness event; the notifier comes again while
// more wait, so a flood cannot hold the host's other work.
constexpr int MaxQueriesPerEvent = 64;
}  // namespace

TDiscoveryResponder::TDiscoveryResponder(uint16_t port, TAnnounceSource announce)
    : FSocket(std::string("Annonce de la partie impossible sur le port UDP "_cp) + std::to_string(port)),
      FAnnounce(std::move(announce)) {
  FSocket.Bind(port, true);
  FSocket.OnReadable([this] { TakeQueries(); });
}

// Malformed and oversized datagrams go unanswered and do not count against
// their sender; the answer is never longer than the query plus
// MaxAnswerGrowthBytes, so nobody gets more bytes out than they sent in
// plus a little, and nobody gets more than the limiter's share of answers.
void TDiscoveryResponder::TakeQueries() {
  TDatagram query;
  for (int i = 0; i < MaxQueriesPerEvent && FSocket.Receive(query, MaxQueryBytes); ++i) {
    if (!IsQuery(query.Bytes, query.Size)) continue;
    if (!FLimiter.Allow(query.Address, GetTickCount())) continue;
    std::string answer = EncodeAnswer(FAnnounce(), query.Size);
    if (!answer.empty()) FSocket.SendTo(query.Address, query.Port, answer);
  }
}
