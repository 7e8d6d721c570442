// What the socket tests of platform/ and net/ share: a target that records
// socket events, plain blocking peers on 127.0.0.1 that the tests read and
// write by hand (waits bounded by a timeout), and the text of a raised
// error.  Header only: it needs the platform module, which every test links.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "Pump.h"
#include "platform/Errors.h"
#include "platform/MessageTarget.h"
#include "platform/SocketEvents.h"
#include "platform/WinSock.h"

inline constexpr uint32_t Loopback = 0x0100007F;  // 127.0.0.1 in network order
inline constexpr uint32_t GameMessage = 1025;

struct TEvent {
  uint32_t Message;
  ws::TSocketHandle Handle;
  uint16_t Kind;
  uint16_t Error;
};

// Records every socket event; OnEvent may act on it.
class TRecorder : public TMessageTarget {
 public:
  ~TRecorder() override { ForgetTarget(this); }
  void Dispatch(TMessage& message) override {
    TEvent event{message.Msg, static_cast<ws::TSocketHandle>(message.WParam),
                 WSAGETSELECTEVENT(message.LParam), WSAGETSELECTERROR(message.LParam)};
    Events.push_back(event);
    if (OnEvent) OnEvent(event);
  }
  int Count(ws::TSocketHandle handle, uint16_t kind) const {
    int count = 0;
    for (const TEvent& e : Events) count += e.Handle == handle && e.Kind == kind;
    return count;
  }
  std::vector<uint16_t> Kinds(ws::TSocketHandle handle) const {
    std::vector<uint16_t> kinds;
    for (const TEvent& e : Events)
      if (e.Handle == handle) kinds.push_back(e.Kind);
    return kinds;
  }
  std::vector<TEvent> Events;
  std::function<void(const TEvent&)> OnEvent;
};

inline ws::TSockAddrIn LoopbackAddress(uint16_t port) {
  ws::TSockAddrIn address;
  address.sin_port = (ws::htons)(port);
  address.sin_addr = Loopback;
  return address;
}

// A blocking client connected to 127.0.0.1:port; receiveBytes, when given,
// is the receive buffer, set before connecting.
inline ws::TSocketHandle ConnectPeer(uint16_t port, int receiveBytes = 0) {
  ws::TSocketHandle peer = ws::socket(ws::AddressFamilyInet, ws::StreamSocket, ws::ProtocolTcp);
  if (receiveBytes) ws::SetReceiveBufferSize(peer, receiveBytes);
  if (ws::connect(peer, LoopbackAddress(port)) != 0) {
    ws::closesocket(peer);
    return ws::INVALID_SOCKET;
  }
  return peer;
}

// Waits up to waitMs for bytes (or the end) on a peer, then takes all that
// is there.  ended is set when the peer saw the orderly end.
inline std::string ReadAvailable(ws::TSocketHandle peer, int waitMs, bool* ended = nullptr) {
  std::string bytes;
  pollfd wait{static_cast<int>(peer), POLLIN, 0};
  if (::poll(&wait, 1, waitMs) <= 0) return bytes;
  char chunk[65536];
  for (;;) {
    int got = ws::recv(peer, chunk, sizeof(chunk), MSG_DONTWAIT);
    if (got > 0) {
      bytes.append(chunk, static_cast<size_t>(got));
      continue;
    }
    if (got == 0 && ended) *ended = true;
    return bytes;
  }
}

// Resets a peer's connection instead of closing it in order.
inline void ResetPeer(ws::TSocketHandle peer) {
  linger hard{1, 0};
  ::setsockopt(static_cast<int>(peer), SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
  ::close(static_cast<int>(peer));
}

// The text an operation raises, or "" when it raises nothing.
template <class Call>
std::string RaisedText(Call call) {
  try {
    call();
  } catch (const Exception& error) {
    return error.Message();
  }
  return std::string();
}
