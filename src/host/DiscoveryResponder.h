// The host's side of the discovery of games on the local network: while
// the game server runs, a UDP socket on the discovery port, shared with the
// other hosts of the machine, answers each valid query with what the host
// tells about its game (read afresh for every answer), at most
// TAnswerLimiter's share per sender address.  The game host owns it.
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

  TDatagramSocket FSocket;
  TAnnounceSource FAnnounce;
  TAnswerLimiter FLimiter;
};
