// The socket event source, rule by rule, on real loopback sockets: which
// events arrive, how often, in which order, and that nothing arrives for a
// handle once it is closed.  Also the graceful close of the wrappers.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QThread>
#include <utility>
#include <vector>

#include "support/LoopbackPeers.h"

namespace {

using ws::TSocketHandle;

constexpr uint32_t ClientMessage = 1024;
constexpr uint32_t ClientMask = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;
constexpr uint32_t ServerMask = FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE;

TSocketHandle Listen(TRecorder& recorder, uint16_t& port) {
  TSocketHandle handle = ws::socket(ws::AddressFamilyInet, ws::StreamSocket, ws::ProtocolTcp);
  EXPECT_EQ(ws::bind(handle, LoopbackAddress(0)), 0);
  EXPECT_EQ(ws::listen(handle, 0), 0);
  ws::TSockAddrIn bound;
  ws::getsockname(handle, bound);
  port = (ws::ntohs)(bound.sin_port);
  EXPECT_EQ(SelectEvents(handle, &recorder, GameMessage, ServerMask), 0);
  return handle;
}

// `Accepted` registered to the recorder through `Listening`; `Peer` plain
// and blocking.
struct TPair {
  TSocketHandle Listening = ws::INVALID_SOCKET, Accepted = ws::INVALID_SOCKET, Peer = ws::INVALID_SOCKET;
  ~TPair() {
    for (TSocketHandle h : {Accepted, Peer, Listening}) ws::closesocket(h);
  }
};

void Connect(TRecorder& recorder, TPair& pair, int peerReceiveBytes = 0) {
  uint16_t port = 0;
  pair.Listening = Listen(recorder, port);
  recorder.OnEvent = [&](const TEvent& e) {
    if (e.Kind == FD_ACCEPT) pair.Accepted = ws::accept(e.Handle, nullptr);
  };
  pair.Peer = ConnectPeer(port, peerReceiveBytes);
  EXPECT_TRUE(PumpUntil([&] { return recorder.Count(pair.Accepted, FD_WRITE) == 1; }));
  recorder.OnEvent = nullptr;
}

// Sends until the socket would block; returns the count sent.
size_t FillUntilBlocked(TSocketHandle handle) {
  std::string chunk(16384, 'x');
  size_t total = 0;
  int sent;
  while ((sent = ws::send(handle, chunk.data(), static_cast<int>(chunk.size()))) > 0) total += sent;
  EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEWOULDBLOCK);
  return total;
}

// Lowers the process's descriptor limit so that no descriptor can be
// opened any more, and puts the limit back when it goes.
class TDescriptorsExhausted {
 public:
  TDescriptorsExhausted() {
    ::getrlimit(RLIMIT_NOFILE, &FSaved);
    // Descriptors take the lowest free number: with the limit there, none
    // is left however many are open above it.
    const int lowestFree = ::dup(0);
    if (lowestFree < 0) return;
    ::close(lowestFree);
    rlimit lowered = FSaved;
    lowered.rlim_cur = static_cast<rlim_t>(lowestFree);
    FDone = ::setrlimit(RLIMIT_NOFILE, &lowered) == 0;
  }
  ~TDescriptorsExhausted() { ::setrlimit(RLIMIT_NOFILE, &FSaved); }
  bool Done() const { return FDone; }

 private:
  rlimit FSaved{};
  bool FDone = false;
};

}  // namespace

TEST(SocketEvents, WriteIsPostedOnceAfterConnectAndOnceAfterAccept) {
  // A connect posts FD_CONNECT then one FD_WRITE; the accepted socket
  // inherits the listening socket's registration and gets one FD_WRITE;
  // neither repeats while the sockets merely stay writable.
  TRecorder server, client;
  uint16_t port = 0;
  TSocketHandle listening = Listen(server, port);
  TSocketHandle accepted = ws::INVALID_SOCKET;
  server.OnEvent = [&](const TEvent& e) {
    if (e.Kind == FD_ACCEPT) accepted = ws::accept(e.Handle, nullptr);
  };
  TSocketHandle connecting = ws::socket(ws::AddressFamilyInet, ws::StreamSocket, ws::ProtocolTcp);
  ASSERT_EQ(SelectEvents(connecting, &client, ClientMessage, ClientMask), 0);
  EXPECT_EQ(ws::connect(connecting, LoopbackAddress(port)), ws::SOCKET_ERROR);
  EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEWOULDBLOCK);

  ASSERT_TRUE(
      PumpUntil([&] { return client.Count(connecting, FD_WRITE) && server.Count(accepted, FD_WRITE); }));
  PumpFor(150);
  EXPECT_EQ(client.Kinds(connecting), (std::vector<uint16_t>{FD_CONNECT, FD_WRITE}));
  EXPECT_EQ(client.Events[0].Error, 0);
  EXPECT_EQ(client.Events[0].Message, ClientMessage);
  EXPECT_EQ(server.Kinds(listening), (std::vector<uint16_t>{FD_ACCEPT}));
  EXPECT_EQ(server.Kinds(accepted), (std::vector<uint16_t>{FD_WRITE}));

  // The accepted socket's data arrives under the listening socket's number.
  ASSERT_EQ(ws::send(connecting, "hi", 2), 2);
  ASSERT_TRUE(PumpUntil([&] { return server.Count(accepted, FD_READ) == 1; }));
  EXPECT_EQ(server.Events.back().Message, GameMessage);
  for (TSocketHandle h : {accepted, connecting, listening}) ws::closesocket(h);
}

TEST(SocketEvents, WriteComesAgainOnlyAfterAWouldBlockSendOnceRoomReturns) {
  TRecorder recorder;
  TPair pair;
  Connect(recorder, pair, 4096);
  ws::SetSendBufferSize(pair.Accepted, 4096);
  size_t sent = FillUntilBlocked(pair.Accepted);
  PumpFor(150);
  EXPECT_EQ(recorder.Count(pair.Accepted, FD_WRITE), 1);
  std::string drained;
  while (drained.size() < sent) drained += ReadAvailable(pair.Peer, 1000);
  ASSERT_TRUE(PumpUntil([&] { return recorder.Count(pair.Accepted, FD_WRITE) == 2; }));
  PumpFor(150);
  EXPECT_EQ(recorder.Count(pair.Accepted, FD_WRITE), 2);
}

TEST(SocketEvents, ConnectToAClosedPortGivesConnectWith10061AndNothingElse) {
  TRecorder client;
  uint16_t port = 0;
  ws::closesocket(Listen(client, port));
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

TEST(SocketEvents, OneReadPerRecvAndCloseOnceAfterTheReadsForTheDataBeforeIt) {
  // 3000 bytes take three FD_READs of one 1024-byte recv each; an FD_READ
  // left unanswered is not repeated; the close comes last, once.
  TRecorder recorder;
  TPair pair;
  Connect(recorder, pair);
  std::string data(3000, 'd');
  ASSERT_EQ(ws::send(pair.Peer, data.data(), static_cast<int>(data.size())), 3000);
  ::shutdown(static_cast<int>(pair.Peer), SHUT_WR);
  ASSERT_TRUE(PumpUntil([&] { return recorder.Count(pair.Accepted, FD_READ) == 1; }));
  PumpFor(100);
  EXPECT_EQ(recorder.Kinds(pair.Accepted), (std::vector<uint16_t>{FD_WRITE, FD_READ}));

  std::string received;
  auto readOnce = [&](TSocketHandle handle) {
    char chunk[1024];
    int got = ws::recv(handle, chunk, sizeof(chunk));
    if (got > 0) received.append(chunk, static_cast<size_t>(got));
  };
  readOnce(pair.Accepted);
  recorder.OnEvent = [&](const TEvent& e) {
    if (e.Kind == FD_READ) readOnce(e.Handle);
  };
  ASSERT_TRUE(PumpUntil([&] { return recorder.Count(pair.Accepted, FD_CLOSE) == 1; }));
  PumpFor(100);
  EXPECT_EQ(received, data);
  EXPECT_EQ(recorder.Kinds(pair.Accepted),
            (std::vector<uint16_t>{FD_WRITE, FD_READ, FD_READ, FD_READ, FD_CLOSE}));
  EXPECT_EQ(recorder.Events.back().Error, 0);
}

TEST(SocketEvents, NothingIsPostedAfterClosesocketEvenFromInsideAHandler) {
  // Closing a handle drops its pending events at once; a handler may close
  // its own socket and another one during delivery.
  TRecorder recorder;
  TPair first, second;
  Connect(recorder, first);
  Connect(recorder, second);
  recorder.Events.clear();
  ASSERT_EQ(ws::send(first.Peer, "zz", 2), 2);
  ::shutdown(static_cast<int>(first.Peer), SHUT_WR);
  QThread::msleep(20);
  TSocketHandle closed = std::exchange(first.Accepted, ws::INVALID_SOCKET);
  ws::closesocket(closed);
  char byte;
  EXPECT_EQ(ws::recv(closed, &byte, 1), ws::SOCKET_ERROR);
  EXPECT_EQ(ws::WSAGetLastError(), ws::WSAENOTSOCK);

  TSocketHandle reading = second.Accepted;
  recorder.OnEvent = [&](const TEvent& e) {
    ws::closesocket(std::exchange(second.Accepted, ws::INVALID_SOCKET));
    ws::closesocket(std::exchange(second.Listening, ws::INVALID_SOCKET));
    EXPECT_EQ(e.Handle, reading);
  };
  ASSERT_EQ(ws::send(second.Peer, "yy", 2), 2);
  ::shutdown(static_cast<int>(second.Peer), SHUT_WR);
  ASSERT_TRUE(PumpUntil([&] { return !recorder.Events.empty(); }));
  PumpFor(200);
  EXPECT_EQ(recorder.Kinds(reading), (std::vector<uint16_t>{FD_READ}));
  EXPECT_EQ(recorder.Events.size(), 1u);
}

TEST(SocketEvents, CloseComesOnceAfterAResetEvenWhenASendFoundItBeforeTheRead) {
  // The peer sends and resets; a send finds the reset before the read side
  // is looked at.  Every recv then fails with the reset, yet the close must
  // still come, once, with 10054: a connection whose close is lost stays
  // forever.
  TRecorder recorder;
  TPair pair;
  Connect(recorder, pair);
  recorder.Events.clear();
  ASSERT_EQ(ws::send(pair.Peer, "late", 4), 4);
  ResetPeer(std::exchange(pair.Peer, ws::INVALID_SOCKET));
  QThread::msleep(20);
  EXPECT_EQ(ws::send(pair.Accepted, "x", 1), ws::SOCKET_ERROR);
  EXPECT_EQ(ws::WSAGetLastError(), ws::WSAECONNRESET);
  int failedReads = 0;
  recorder.OnEvent = [&](const TEvent& e) {
    char chunk[64];
    if (e.Kind == FD_READ && ws::recv(e.Handle, chunk, sizeof(chunk)) == ws::SOCKET_ERROR) ++failedReads;
  };
  ASSERT_TRUE(PumpUntil([&] { return recorder.Count(pair.Accepted, FD_CLOSE) == 1; }))
      << failedReads << " reads failed, no close";
  PumpFor(100);
  EXPECT_EQ(recorder.Count(pair.Accepted, FD_CLOSE), 1);
  EXPECT_EQ(recorder.Events.back().Kind, FD_CLOSE);
  EXPECT_EQ(recorder.Events.back().Error, ws::WSAECONNRESET);
  EXPECT_LE(failedReads, 1);
}

TEST(SocketEvents, GracefulCloseDeliversTheLastBytesDespiteUnreadInput) {
  // The closing side still holds unread input from its peer; a plain close
  // would reset the connection and drop what is still queued for the peer.
  TRecorder recorder;
  TPair pair;
  Connect(recorder, pair, 8192);
  int lingeringBefore = LingeringSockets();
  ASSERT_EQ(ws::send(pair.Peer, "unread input", 12), 12);
  QThread::msleep(20);
  size_t sent = FillUntilBlocked(pair.Accepted);
  EXPECT_EQ(ws::closesocket(std::exchange(pair.Accepted, ws::INVALID_SOCKET)), 0);
  EXPECT_EQ(LingeringSockets(), lingeringBefore + 1);

  std::vector<char> sink(65536);
  size_t got = 0;
  int result = 0;
  while ((result = ws::recv(pair.Peer, sink.data(), static_cast<int>(sink.size()))) > 0) got += result;
  EXPECT_EQ(result, 0) << "error " << ws::WSAGetLastError();
  EXPECT_EQ(got, sent);
  // Really closed once the peer closes too.
  ws::closesocket(std::exchange(pair.Peer, ws::INVALID_SOCKET));
  EXPECT_TRUE(PumpUntil([&] { return LingeringSockets() == lingeringBefore; }));
}

TEST(SocketEvents, LingeringSocketIsClosedAfterTheLimitWhenThePeerStaysOpen) {
  TRecorder recorder;
  TPair pair;
  Connect(recorder, pair);
  int lingeringBefore = LingeringSockets();
  ws::closesocket(std::exchange(pair.Accepted, ws::INVALID_SOCKET));
  bool ended = false;
  ReadAvailable(pair.Peer, 1000, &ended);
  EXPECT_TRUE(ended);  // the end is seen at once
  EXPECT_EQ(LingeringSockets(), lingeringBefore + 1);
  EXPECT_TRUE(PumpUntil([&] { return LingeringSockets() == lingeringBefore; }, ws::LingerMs + 2000));
}

TEST(SocketEvents, LingeringSocketsGiveTheirDescriptorsBackToAConnectionWaitingForOne) {
  // Connections closed while their peers stay open linger with their
  // descriptors; once none is left, a new connection is accepted and
  // served all the same, not accepted and closed at once.
  constexpr size_t Lingering = 8;
  TRecorder recorder;
  uint16_t port = 0;
  TSocketHandle listening = Listen(recorder, port);
  std::vector<TSocketHandle> accepted;
  recorder.OnEvent = [&](const TEvent& e) {
    if (e.Kind == FD_ACCEPT) accepted.push_back(ws::accept(e.Handle, nullptr));
  };
  std::vector<TSocketHandle> peers;
  for (size_t k = 0; k < Lingering; ++k) peers.push_back(ConnectPeer(port));
  ASSERT_TRUE(PumpUntil([&] { return accepted.size() == Lingering; }));
  const int lingeringBefore = LingeringSockets();
  for (TSocketHandle handle : std::exchange(accepted, {})) ws::closesocket(handle);
  ASSERT_EQ(LingeringSockets(), lingeringBefore + int(Lingering));

  TSocketHandle player = ws::socket(ws::AddressFamilyInet, ws::StreamSocket, ws::ProtocolTcp);
  {
    TDescriptorsExhausted exhausted;
    ASSERT_TRUE(exhausted.Done());
    ASSERT_EQ(ws::connect(player, LoopbackAddress(port)), 0);
    EXPECT_TRUE(PumpUntil([&] { return !accepted.empty() && accepted.back() != ws::INVALID_SOCKET; }))
        << "the connection was turned away";
    EXPECT_EQ(LingeringSockets(), 0) << "the lingering sockets, oldest first, gave their descriptors";
  }
  ASSERT_FALSE(accepted.empty());
  TSocketHandle served = accepted.back();
  ASSERT_EQ(ws::send(player, "hello", 5), 5);
  ASSERT_TRUE(PumpUntil([&] { return recorder.Count(served, FD_READ) > 0; }));
  char got[16] = {};
  EXPECT_EQ(ws::recv(served, got, sizeof(got)), 5);
  EXPECT_EQ(std::string(got, 5), "hello");
  bool ended = false;
  EXPECT_EQ(ReadAvailable(player, 100, &ended), "");
  EXPECT_FALSE(ended) << "the player's connection stays open";

  for (TSocketHandle handle : accepted) ws::closesocket(handle);
  for (TSocketHandle handle : peers) ws::closesocket(handle);
  ws::closesocket(player);
  ws::closesocket(listening);
}

TEST(WinSock, FailuresReadAsWinSockNumbers) {
  TRecorder recorder;
  uint16_t port = 0;
  TSocketHandle first = Listen(recorder, port);
  TSocketHandle second = ws::socket(ws::AddressFamilyInet, ws::StreamSocket, ws::ProtocolTcp);
  EXPECT_EQ(ws::bind(second, LoopbackAddress(port)), ws::SOCKET_ERROR);
  EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEADDRINUSE);
  char byte;
  EXPECT_EQ(ws::recv(second, &byte, 1), ws::SOCKET_ERROR);
  EXPECT_EQ(ws::WSAGetLastError(), ws::WSAENOTCONN);
  EXPECT_EQ(ws::inet_addr("not an address"), ws::AddressNone);
  EXPECT_EQ(ws::inet_ntoa(Loopback), "127.0.0.1");
  ws::closesocket(second);
  ws::closesocket(first);
  EXPECT_EQ(ws::closesocket(first), ws::SOCKET_ERROR);
  EXPECT_EQ(ws::WSAGetLastError(), ws::WSAENOTSOCK);
}

// Small messages leave at once on both ends of a game connection: the
// socket that connected and the one the host accepted both have Nagle's
// rule off, while the listening socket is left as it was made.
TEST(SocketEvents, ConnectedAndAcceptedSocketsSendWithoutDelay) {
  auto noDelay = [](TSocketHandle handle) {
    int value = -1;
    socklen_t size = sizeof(value);
    EXPECT_EQ(::getsockopt(int(handle), IPPROTO_TCP, TCP_NODELAY, &value, &size), 0);
    return value;
  };
  TRecorder recorder;
  TPair pair;
  Connect(recorder, pair);
  ASSERT_NE(pair.Accepted, ws::INVALID_SOCKET);
  ASSERT_NE(pair.Peer, ws::INVALID_SOCKET);
  EXPECT_NE(noDelay(pair.Accepted), 0);
  EXPECT_NE(noDelay(pair.Peer), 0);
  EXPECT_EQ(noDelay(pair.Listening), 0);
}

// Sockets made ready together reach one wake-up of the event source; what
// a handler does there holds for the events still waiting in that wake-up.
namespace {

// `count` accepted sockets on one listening socket, registered to the
// recorder, each with its plain peer.
struct TCrowd {
  TSocketHandle Listening = ws::INVALID_SOCKET;
  std::vector<TSocketHandle> Accepted, Peers;
  TCrowd(TRecorder& recorder, int count) {
    uint16_t port = 0;
    Listening = Listen(recorder, port);
    recorder.OnEvent = [&](const TEvent& e) {
      if (e.Kind == FD_ACCEPT) Accepted.push_back(ws::accept(e.Handle, nullptr));
    };
    for (int i = 0; i < count; ++i) {
      Peers.push_back(ConnectPeer(port));
      EXPECT_TRUE(PumpUntil([&] { return Accepted.size() == Peers.size(); }));
    }
    EXPECT_TRUE(PumpUntil([&] {
      for (TSocketHandle h : Accepted)
        if (recorder.Count(h, FD_WRITE) != 1) return false;
      return true;
    }));
    recorder.OnEvent = nullptr;
    recorder.Events.clear();
  }
  ~TCrowd() {
    for (TSocketHandle h : Accepted) ws::closesocket(h);
    for (TSocketHandle h : Peers) ws::closesocket(h);
    ws::closesocket(Listening);
  }
  // Sends one byte from every peer; with `close`, each peer then ends its
  // side too.
  void AllSend(bool close = false) {
    for (TSocketHandle& peer : Peers) {
      EXPECT_EQ(ws::send(peer, "p", 1), 1);
      if (close) ::shutdown(static_cast<int>(peer), SHUT_WR);
    }
    // Let every byte land before the loop runs, so that one wake-up finds
    // them all.
    QThread::msleep(20);
  }
};

}  // namespace

TEST(SocketEventsBatch, ManySocketsReadyAtOnceEachGetOneReadThenTheirClose) {
  // More sockets than one wake-up takes: none is lost or doubled.
  constexpr int Sockets = 300;
  TRecorder recorder;
  TCrowd crowd(recorder, Sockets);
  ASSERT_EQ(crowd.Accepted.size(), size_t(Sockets));
  int received = 0;
  recorder.OnEvent = [&](const TEvent& e) {
    char byte;
    if (e.Kind == FD_READ && ws::recv(e.Handle, &byte, 1) == 1) ++received;
  };
  crowd.AllSend(true);
  EXPECT_TRUE(PumpUntil([&] { return recorder.Events.size() >= 2u * Sockets; }, 10000));
  PumpFor(100);
  EXPECT_EQ(received, Sockets);
  for (TSocketHandle h : crowd.Accepted)
    EXPECT_EQ(recorder.Kinds(h), (std::vector<uint16_t>{FD_READ, FD_CLOSE})) << "socket " << h;
}

TEST(SocketEventsBatch, AHandlerClosingSocketsLaterInTheSameWakeUpSilencesThem) {
  // Whichever socket comes first closes every other one: their events,
  // already taken from the system, are never delivered.
  constexpr int Sockets = 8;
  TRecorder recorder;
  TCrowd crowd(recorder, Sockets);
  recorder.OnEvent = [&](const TEvent& e) {
    for (TSocketHandle& h : crowd.Accepted)
      if (h != e.Handle) ws::closesocket(std::exchange(h, ws::INVALID_SOCKET));
  };
  crowd.AllSend();
  ASSERT_TRUE(PumpUntil([&] { return !recorder.Events.empty(); }));
  PumpFor(150);
  ASSERT_EQ(recorder.Events.size(), 1u);
  EXPECT_EQ(recorder.Events[0].Kind, FD_READ);
}

TEST(SocketEventsBatch, AFdNumberTakenAgainInTheSameWakeUpGetsNoneOfTheOldEvents) {
  // The first handler closes another socket whose peer has gone (its
  // descriptor is closed at once) and opens a new one that gets the same
  // number: the old socket's read and close, still in the wake-up, must
  // not reach the new one, which sees only its own connect and write.
  constexpr int Sockets = 4;
  TRecorder recorder;
  TCrowd crowd(recorder, Sockets);
  uint16_t port = 0;
  TRecorder other;
  TSocketHandle otherListening = Listen(other, port);
  std::vector<TSocketHandle> otherAccepted;
  other.OnEvent = [&](const TEvent& e) {
    if (e.Kind == FD_ACCEPT) otherAccepted.push_back(ws::accept(e.Handle, nullptr));
  };
  TSocketHandle reused = ws::INVALID_SOCKET, closed = ws::INVALID_SOCKET;
  TRecorder fresh;
  recorder.OnEvent = [&](const TEvent& e) {
    if (reused != ws::INVALID_SOCKET) return;
    for (TSocketHandle& h : crowd.Accepted)
      if (h != e.Handle) {
        closed = std::exchange(h, ws::INVALID_SOCKET);
        break;
      }
    ws::closesocket(closed);
    // The lowest free number comes first: fill the holes below it.
    std::vector<TSocketHandle> fillers;
    for (int i = 0; i < 64 && reused != closed; ++i) {
      TSocketHandle h = ws::socket(ws::AddressFamilyInet, ws::StreamSocket, ws::ProtocolTcp);
      if (h == closed)
        reused = h;
      else
        fillers.push_back(h);
    }
    for (TSocketHandle h : fillers) ws::closesocket(h);
    ASSERT_EQ(reused, closed);
    SelectEvents(reused, &fresh, ClientMessage, ClientMask);
    ws::connect(reused, LoopbackAddress(port));
  };
  crowd.AllSend(true);
  ASSERT_TRUE(PumpUntil([&] { return fresh.Count(reused, FD_WRITE) == 1; }));
  PumpFor(150);
  EXPECT_EQ(recorder.Count(closed, FD_READ) + recorder.Count(closed, FD_CLOSE), 0);
  EXPECT_EQ(fresh.Kinds(reused), (std::vector<uint16_t>{FD_CONNECT, FD_WRITE}));
  ws::closesocket(reused);
  for (TSocketHandle h : otherAccepted) ws::closesocket(h);
  ws::closesocket(otherListening);
}

TEST(SocketEventsBatch, AHandlerRunningANestedLoopLeavesNoStaleReadBehind) {
  // A modal box runs the event loop inside a handler: the other sockets'
  // reads are delivered and answered there; back in the outer wake-up,
  // nothing is posted twice and no read finds an empty socket.
  constexpr int Sockets = 6;
  TRecorder recorder;
  TCrowd crowd(recorder, Sockets);
  int failedReads = 0;
  bool nested = false;
  recorder.OnEvent = [&](const TEvent& e) {
    if (e.Kind != FD_READ) return;
    if (!nested) {
      nested = true;
      PumpFor(50);
    }
    char byte;
    if (ws::recv(e.Handle, &byte, 1) != 1) ++failedReads;
  };
  crowd.AllSend();
  ASSERT_TRUE(PumpUntil([&] { return recorder.Events.size() == size_t(Sockets); }));
  PumpFor(150);
  EXPECT_EQ(failedReads, 0);
  for (TSocketHandle h : crowd.Accepted) EXPECT_EQ(recorder.Kinds(h), (std::vector<uint16_t>{FD_READ}));
}
