// The socket event source, rule by rule, on real loopback sockets: which
// events arrive, how often, in which order, and that nothing arrives for a
// handle once it is closed.  Also the graceful close of the wrappers.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QThread>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "Pump.h"
#include "platform/SocketEvents.h"
#include "platform/WinSock.h"

namespace {

using ws::TSocketHandle;

constexpr uint32_t ClientMessage = 1024;
constexpr uint32_t ServerMessage = 1025;
constexpr uint32_t ClientMask = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;
constexpr uint32_t ServerMask = FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE;
constexpr uint32_t Loopback = 0x0100007F;  // 127.0.0.1 in network order

struct TEvent {
  uint32_t Message;
  TSocketHandle Handle;
  uint16_t Kind;
  uint16_t Error;
};

// Records every event; OnEvent may act on it (accept, recv, close).
class TRecorder : public TMessageTarget {
public:
  ~TRecorder() override { ForgetTarget(this); }
  void Dispatch(TMessage& message) override {
    TEvent event{message.Msg, static_cast<TSocketHandle>(message.WParam), WSAGETSELECTEVENT(message.LParam),
                 WSAGETSELECTERROR(message.LParam)};
    Events.push_back(event);
    if (OnEvent) OnEvent(event);
  }
  int Count(TSocketHandle handle, uint16_t kind) const {
    int count = 0;
    for (const TEvent& e : Events) count += e.Handle == handle && e.Kind == kind;
    return count;
  }
  std::vector<uint16_t> Kinds(TSocketHandle handle) const {
    std::vector<uint16_t> kinds;
    for (const TEvent& e : Events)
      if (e.Handle == handle) kinds.push_back(e.Kind);
    return kinds;
  }
  std::vector<TEvent> Events;
  std::function<void(const TEvent&)> OnEvent;
};

ws::TSockAddrIn LoopbackAddress(uint16_t port) {
  ws::TSockAddrIn address;
  address.sin_port = (ws::htons)(port);
  address.sin_addr = Loopback;
  return address;
}

TSocketHandle Listen(uint16_t& port) {
  TSocketHandle handle = ws::socket(ws::AddressFamilyInet, ws::StreamSocket, ws::ProtocolTcp);
  EXPECT_NE(handle, ws::INVALID_SOCKET);
  EXPECT_EQ(ws::bind(handle, LoopbackAddress(0)), 0);
  EXPECT_EQ(ws::listen(handle, 0), 0);
  ws::TSockAddrIn bound;
  ws::getsockname(handle, bound);
  port = (ws::ntohs)(bound.sin_port);
  return handle;
}

// A connected pair: `accepted` registered to the recorder through the
// listening socket, `peer` a plain blocking socket.
struct TPair {
  TSocketHandle Listening = ws::INVALID_SOCKET;
  TSocketHandle Accepted = ws::INVALID_SOCKET;
  TSocketHandle Peer = ws::INVALID_SOCKET;
};

// peerReceiveBytes, when given, is set before connecting: a window shrunk
// on a live connection leaves the sender probing with growing delays.
TPair Connect(TRecorder& recorder, int peerReceiveBytes = 0) {
  TPair pair;
  uint16_t port = 0;
  pair.Listening = Listen(port);
  SelectEvents(pair.Listening, &recorder, ServerMessage, ServerMask);
  recorder.OnEvent = [&](const TEvent& e) {
    if (e.Kind == FD_ACCEPT) pair.Accepted = ws::accept(e.Handle, nullptr);
  };
  pair.Peer = ws::socket(ws::AddressFamilyInet, ws::StreamSocket, ws::ProtocolTcp);
  if (peerReceiveBytes) ws::SetReceiveBufferSize(pair.Peer, peerReceiveBytes);
  EXPECT_EQ(ws::connect(pair.Peer, LoopbackAddress(port)), 0);
  EXPECT_TRUE(PumpUntil([&] { return pair.Accepted != ws::INVALID_SOCKET; }));
  recorder.OnEvent = nullptr;
  return pair;
}

void CloseAll(const TPair& pair) {
  for (TSocketHandle h : {pair.Accepted, pair.Peer, pair.Listening})
    if (h != ws::INVALID_SOCKET) ws::closesocket(h);
}

// Sends until the socket would block; returns the count sent.
size_t FillUntilBlocked(TSocketHandle handle) {
  std::string chunk(16384, 'x');
  size_t total = 0;
  for (;;) {
    int sent = ws::send(handle, chunk.data(), static_cast<int>(chunk.size()));
    if (sent == ws::SOCKET_ERROR) {
      EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEWOULDBLOCK);
      return total;
    }
    total += static_cast<size_t>(sent);
  }
}

}  // namespace

TEST(SocketEvents, WriteIsPostedOnceAfterConnectAndOnceAfterAccept) {
  // A connect posts FD_CONNECT then one FD_WRITE; the accepted socket
  // inherits the listening socket's registration and gets one FD_WRITE;
  // neither repeats while the sockets merely stay writable.
  TRecorder server, client;
  uint16_t port = 0;
  TSocketHandle listening = Listen(port);
  ASSERT_EQ(SelectEvents(listening, &server, ServerMessage, ServerMask), 0);
  TSocketHandle accepted = ws::INVALID_SOCKET;
  server.OnEvent = [&](const TEvent& e) {
    if (e.Kind == FD_ACCEPT) accepted = ws::accept(e.Handle, nullptr);
  };
  TSocketHandle connecting = ws::socket(ws::AddressFamilyInet, ws::StreamSocket, ws::ProtocolTcp);
  ASSERT_EQ(SelectEvents(connecting, &client, ClientMessage, ClientMask), 0);
  EXPECT_EQ(ws::connect(connecting, LoopbackAddress(port)), ws::SOCKET_ERROR);
  EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEWOULDBLOCK);

  ASSERT_TRUE(PumpUntil([&] {
    return client.Count(connecting, FD_WRITE) == 1 && accepted != ws::INVALID_SOCKET &&
           server.Count(accepted, FD_WRITE) == 1;
  }));
  PumpFor(150);
  EXPECT_EQ(client.Kinds(connecting), (std::vector<uint16_t>{FD_CONNECT, FD_WRITE}));
  EXPECT_EQ(client.Events[0].Error, 0);
  EXPECT_EQ(client.Events[0].Message, ClientMessage);
  EXPECT_EQ(server.Kinds(listening), (std::vector<uint16_t>{FD_ACCEPT}));
  EXPECT_EQ(server.Kinds(accepted), (std::vector<uint16_t>{FD_WRITE}));

  // The accepted socket's data arrives under the listening socket's number.
  ASSERT_EQ(ws::send(connecting, "hi", 2), 2);
  ASSERT_TRUE(PumpUntil([&] { return server.Count(accepted, FD_READ) == 1; }));
  EXPECT_EQ(server.Events.back().Message, ServerMessage);
  EXPECT_EQ(server.Events.back().Handle, accepted);
  ws::closesocket(accepted);
  ws::closesocket(connecting);
  ws::closesocket(listening);
}

TEST(SocketEvents, WriteComesAgainOnlyAfterAWouldBlockSendOnceRoomReturns) {
  // After a send fails with would-block, one FD_WRITE arrives once the peer
  // has made room, and none while it has not.
  TRecorder recorder;
  TPair pair = Connect(recorder, 4096);
  ASSERT_TRUE(PumpUntil([&] { return recorder.Count(pair.Accepted, FD_WRITE) == 1; }));
  ws::SetSendBufferSize(pair.Accepted, 4096);
  size_t sent = FillUntilBlocked(pair.Accepted);
  ASSERT_GT(sent, 0u);
  PumpFor(150);
  EXPECT_EQ(recorder.Count(pair.Accepted, FD_WRITE), 1);

  std::vector<char> sink(65536);
  size_t drained = 0;
  while (drained < sent) {
    int got = ws::recv(pair.Peer, sink.data(), static_cast<int>(sink.size()));
    ASSERT_GT(got, 0);
    drained += static_cast<size_t>(got);
  }
  ASSERT_TRUE(PumpUntil([&] { return recorder.Count(pair.Accepted, FD_WRITE) == 2; }));
  PumpFor(150);
  EXPECT_EQ(recorder.Count(pair.Accepted, FD_WRITE), 2);
  CloseAll(pair);
}

TEST(SocketEvents, ConnectToAClosedPortGivesConnectWith10061AndNothingElse) {
  uint16_t port = 0;
  TSocketHandle probe = Listen(port);
  ws::closesocket(probe);
  TRecorder client;
  TSocketHandle handle = ws::socket(ws::AddressFamilyInet, ws::StreamSocket, ws::ProtocolTcp);
  SelectEvents(handle, &client, ClientMessage, ClientMask);
  ws::connect(handle, LoopbackAddress(port));
  ASSERT_TRUE(PumpUntil([&] { return !client.Events.empty(); }));
  PumpFor(150);
  ASSERT_EQ(client.Events.size(), 1u);
  EXPECT_EQ(client.Events[0].Kind, FD_CONNECT);
  EXPECT_EQ(client.Events[0].Error, ws::WSAECONNREFUSED);
  ws::closesocket(handle);
}

TEST(SocketEvents, CloseIsPostedOnceAfterTheReadsForTheDataBeforeIt) {
  // One recv per FD_READ: 3000 bytes take three reads of 1024, and the
  // close comes only after the last of them, once.
  TRecorder recorder;
  TPair pair = Connect(recorder);
  std::string received;
  recorder.OnEvent = [&](const TEvent& e) {
    if (e.Kind != FD_READ) return;
    char chunk[1024];
    int got = ws::recv(e.Handle, chunk, sizeof(chunk));
    if (got > 0) received.append(chunk, static_cast<size_t>(got));
  };
  std::string data(3000, 'd');
  ASSERT_EQ(ws::send(pair.Peer, data.data(), static_cast<int>(data.size())), 3000);
  ::shutdown(static_cast<int>(pair.Peer), SHUT_WR);
  ASSERT_TRUE(PumpUntil([&] { return recorder.Count(pair.Accepted, FD_CLOSE) == 1; }));
  PumpFor(150);
  EXPECT_EQ(received, data);
  std::vector<uint16_t> kinds = recorder.Kinds(pair.Accepted);
  ASSERT_EQ(kinds.size(), 5u);  // write, read, read, read, close
  EXPECT_EQ(kinds.front(), FD_WRITE);
  EXPECT_EQ(std::vector<uint16_t>(kinds.begin() + 1, kinds.end() - 1),
            (std::vector<uint16_t>{FD_READ, FD_READ, FD_READ}));
  EXPECT_EQ(kinds.back(), FD_CLOSE);
  EXPECT_EQ(recorder.Events.back().Error, 0);
  CloseAll(pair);
}

TEST(SocketEvents, IgnoredReadIsNotRepeatedUntilRecv) {
  // An FD_READ that its handler does not answer with recv is not posted
  // again and again; the next recv re-arms it.
  TRecorder recorder;
  TPair pair = Connect(recorder);
  ASSERT_EQ(ws::send(pair.Peer, "abcd", 4), 4);
  ASSERT_TRUE(PumpUntil([&] { return recorder.Count(pair.Accepted, FD_READ) == 1; }));
  PumpFor(150);
  EXPECT_EQ(recorder.Count(pair.Accepted, FD_READ), 1);
  char two[2];
  ASSERT_EQ(ws::recv(pair.Accepted, two, 2), 2);
  ASSERT_TRUE(PumpUntil([&] { return recorder.Count(pair.Accepted, FD_READ) == 2; }));
  CloseAll(pair);
}

TEST(SocketEvents, ResetIsPostedAsCloseWith10054) {
  TRecorder recorder;
  TPair pair = Connect(recorder);
  linger hard{1, 0};
  ::setsockopt(static_cast<int>(pair.Peer), SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
  ::close(static_cast<int>(pair.Peer));
  ASSERT_TRUE(PumpUntil([&] { return recorder.Count(pair.Accepted, FD_CLOSE) == 1; }));
  EXPECT_EQ(recorder.Events.back().Error, ws::WSAECONNRESET);
  ws::closesocket(pair.Accepted);
  ws::closesocket(pair.Listening);
}

TEST(SocketEvents, NothingIsPostedAfterClosesocketEvenFromInsideAHandler) {
  // Closing a handle drops its pending events at once; a handler may close
  // its own socket and another one during delivery.
  TRecorder recorder;
  TPair first = Connect(recorder);
  TPair second = Connect(recorder);
  ASSERT_TRUE(PumpUntil([&] {
    return recorder.Count(first.Accepted, FD_WRITE) == 1 && recorder.Count(second.Accepted, FD_WRITE) == 1;
  }));
  recorder.Events.clear();

  // Closed with data waiting: no read, no close.
  ASSERT_EQ(ws::send(first.Peer, "zz", 2), 2);
  ::shutdown(static_cast<int>(first.Peer), SHUT_WR);
  QThread::msleep(20);
  ws::closesocket(first.Accepted);
  char byte;
  EXPECT_EQ(ws::recv(first.Accepted, &byte, 1), ws::SOCKET_ERROR);
  EXPECT_EQ(ws::WSAGetLastError(), ws::WSAENOTSOCK);

  // The handler of second's read closes second and the listening socket.
  recorder.OnEvent = [&](const TEvent& e) {
    if (e.Handle != second.Accepted) return;
    ws::closesocket(second.Accepted);
    ws::closesocket(second.Listening);
  };
  ASSERT_EQ(ws::send(second.Peer, "yy", 2), 2);
  ::shutdown(static_cast<int>(second.Peer), SHUT_WR);
  ASSERT_TRUE(PumpUntil([&] { return !recorder.Events.empty(); }));
  PumpFor(200);
  ASSERT_EQ(recorder.Events.size(), 1u);
  EXPECT_EQ(recorder.Events[0].Handle, second.Accepted);
  EXPECT_EQ(recorder.Events[0].Kind, FD_READ);
  for (TSocketHandle h : {first.Peer, first.Listening, second.Peer}) ws::closesocket(h);
}

TEST(SocketEvents, GracefulCloseDeliversTheLastBytesDespiteUnreadInput) {
  // The closing side still holds unread input from its peer; a plain close
  // would reset the connection and drop what is still queued for the peer.
  TRecorder recorder;
  TPair pair = Connect(recorder, 8192);
  int lingeringBefore = LingeringSockets();
  ASSERT_EQ(ws::send(pair.Peer, "unread input", 12), 12);
  PumpFor(20);
  size_t sent = FillUntilBlocked(pair.Accepted);
  ASSERT_GT(sent, 0u);
  EXPECT_EQ(ws::closesocket(pair.Accepted), 0);
  EXPECT_EQ(LingeringSockets(), lingeringBefore + 1);

  // The peer reads everything, then the orderly end.
  std::vector<char> sink(65536);
  size_t got = 0;
  int result = 0;
  while ((result = ws::recv(pair.Peer, sink.data(), static_cast<int>(sink.size()))) > 0)
    got += static_cast<size_t>(result);
  EXPECT_EQ(result, 0) << "error " << ws::WSAGetLastError();
  EXPECT_EQ(got, sent);
  // The lingering descriptor is really closed once the peer closes.
  ws::closesocket(pair.Peer);
  EXPECT_TRUE(PumpUntil([&] { return LingeringSockets() == lingeringBefore; }));
  ws::closesocket(pair.Listening);
}

TEST(SocketEvents, LingeringSocketIsClosedAfterTheLimitWhenThePeerStaysOpen) {
  TRecorder recorder;
  TPair pair = Connect(recorder);
  int lingeringBefore = LingeringSockets();
  ws::closesocket(pair.Accepted);
  EXPECT_EQ(LingeringSockets(), lingeringBefore + 1);
  char byte;
  EXPECT_EQ(ws::recv(pair.Peer, &byte, 1), 0);  // the end is seen at once
  EXPECT_TRUE(PumpUntil([&] { return LingeringSockets() == lingeringBefore; }, ws::LingerMs + 2000));
  ws::closesocket(pair.Peer);
  ws::closesocket(pair.Listening);
}

TEST(WinSock, ErrorsReadAsWinSockNumbers) {
  uint16_t port = 0;
  TSocketHandle first = Listen(port);
  TSocketHandle second = ws::socket(ws::AddressFamilyInet, ws::StreamSocket, ws::ProtocolTcp);
  EXPECT_EQ(ws::bind(second, LoopbackAddress(port)), ws::SOCKET_ERROR);
  EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEADDRINUSE);
  char byte;
  EXPECT_EQ(ws::recv(second, &byte, 1), ws::SOCKET_ERROR);
  EXPECT_EQ(ws::WSAGetLastError(), ws::WSAENOTCONN);
  EXPECT_EQ(ws::TranslateErrno(ECONNREFUSED), 10061);
  EXPECT_EQ(ws::TranslateErrno(EAGAIN), 10035);
  EXPECT_EQ(ws::TranslateErrno(EINPROGRESS), 10035);
  EXPECT_EQ(ws::inet_addr("127.0.0.1"), Loopback);
  EXPECT_EQ(ws::inet_addr("not an address"), ws::AddressNone);
  EXPECT_EQ(ws::inet_ntoa(Loopback), "127.0.0.1");
  ws::closesocket(second);
  ws::closesocket(first);
  EXPECT_EQ(ws::closesocket(first), ws::SOCKET_ERROR);
}
