// The host's side of the discovery of games on the local network: while
// the game server runs, a UDP socket on the discovery port, shared with the
// other hosts of the machine, answers each valid query with what the host
// tells about its game (read afresh for every answer), at most
// TAnswerLimiter's share per sender address and its budget for everyone.
// When that budget is spent (a flood, maybe from forged addresses), each
// query is answered with a challenge instead, which has no budget of its
// own: at 13 bytes for a query of at least 77 it multiplies nothing, and a
// budget there would let the flood crowd the finders out again.  A finder
// that sends back the challenge's cookie has shown its address and draws
// on a budget of its own, which forged senders cannot reach.  The game
// host owns it.
// User-interface thread only.
#pragma once

#include <cstdint>
#include <functional>

#include "net/Discovery.h"
#include "platform/Datagrams.h"

class TDiscoveryResponder {
 public:
  using TAnnounceSource = std::function<TGameAnnounce()>;

  // Listens on port at once; raises "Annonce de la partie impossible sur le
  // port UDP " + port + " (WINSOCK error #N)" when it cannot.
  TDiscoveryResponder(uint16_t port, TAnnounceSource announce);

  uint16_t Port() const { return FSocket.Port(); }

 private:
  void TakeQueries();
  void Answer(const TDatagram& query);

  TDatagramSocket FSocket;
  TAnnounceSource FAnnounce;
  TQueryCookies FCookies;
  // Queries without a cookie; with a valid one.  Each has the default
  // budget: 200 answers a second in all.
  TAnswerLimiter FLimiter;
  TAnswerLimiter FProvenLimiter;
};
