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

// Malformed, short and oversized datagrams go unanswered and do not count
// against their sender; the answer is never longer than the query, so
// nobody gets more bytes out than they sent in, and nobody gets more than
// the limiter's share of answers.
void TDiscoveryResponder::TakeQueries() {
  TDatagram query;
  for (int i = 0; i < MaxQueriesPerEvent && FSocket.Receive(query, MaxQueryBytes); ++i) Answer(query);
}

void TDiscoveryResponder::Answer(const TDatagram& query) {
  std::string cookie;
  if (!IsQuery(query.Bytes, query.Size, &cookie)) return;
  uint32_t now = GetTickCount();
  if (cookie.empty() && FLimiter.BudgetSpent(now)) {
    FSocket.SendTo(query.Address, query.Port,
                   EncodeChallenge(FCookies.Issue(query.Address, query.Port, now)));
    return;
  }
  // A wrong or stale cookie is no proof: such a query waits like the others.
  bool proven = !cookie.empty() && FCookies.Valid(cookie, query.Address, query.Port, now);
  if (!(proven ? FProvenLimiter : FLimiter).Allow(query.Address, now)) return;
  std::string answer = EncodeAnswer(FAnnounce(), query.Size);
  if (!answer.empty()) FSocket.SendTo(query.Address, query.Port, answer);
}
