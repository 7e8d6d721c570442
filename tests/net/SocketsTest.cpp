// The socket layer on real loopback connections: a server and its session
// list, buffered reading with the line reader, buffered writing with partial
// sends, the error texts, and name look-up.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "LoopbackPeers.h"
#include "net/Sockets.h"
#include "platform/Text1252.h"

namespace {

// A server whose accept events each create a TSessionItem.
struct TAcceptingServer {
  TRecorder Recorder;
  std::unique_ptr<TServer> Server;

  TAcceptingServer() {
    Server = std::make_unique<TServer>(&Recorder, 0, GameMessage);
    Recorder.OnEvent = [this](const TEvent& e) {
      if (e.Kind == FD_ACCEPT) new TSessionItem(*Server, e.Handle);
    };
  }
  // Connects a peer and waits for its session; returns the session.
  TSessionItem* Accept(ws::TSocketHandle& peer, int peerReceiveBytes = 0) {
    int before = Server->Connections().Count();
    peer = ConnectPeer(Server->Port(), peerReceiveBytes);
    EXPECT_NE(peer, ws::INVALID_SOCKET);
    EXPECT_TRUE(PumpUntil([&] { return Server->Connections().Count() == before + 1; }));
    return Server->Connections()[before];
  }
};

class TFailingItem : public TSessionItem {
 public:
  TFailingItem(TServer& server, TSocketHandle listening) : TSessionItem(server, listening) {
    throw Exception("construction failed");
  }
};

}  // namespace

TEST(Sockets, PeerCloseSetsClosedThenReceiveRaisesAndReadLineGivesTheRest) {
  // Two lines and an unterminated rest arrive in one read; the lines come
  // out one by one, the rest only once the peer's close is known.
  TAcceptingServer host;
  ws::TSocketHandle peer;
  TSessionItem* session = host.Accept(peer);
  TSocketIO io(session->Handle());
  int reads = 0;
  host.Recorder.OnEvent = [&](const TEvent& e) {
    if (e.Handle == session->Handle() && e.Kind == FD_READ) {
      io.Receive();
      ++reads;
    }
  };
  std::string sent = "first\r\nsecond\r\nrest";
  ASSERT_EQ(ws::send(peer, sent.data(), static_cast<int>(sent.size())), static_cast<int>(sent.size()));
  ws::closesocket(peer);
  ASSERT_TRUE(PumpUntil([&] { return host.Recorder.Count(session->Handle(), FD_CLOSE) == 1; }));
  EXPECT_EQ(reads, 1);
  EXPECT_EQ(io.InBuffer(), sent);
  EXPECT_EQ(io.InCount(), static_cast<int32_t>(sent.size()));

  std::string line;
  ASSERT_TRUE(io.ReadLine(line));
  EXPECT_EQ(line, "first");
  ASSERT_TRUE(io.ReadLine(line));
  EXPECT_EQ(line, "second");
  EXPECT_FALSE(io.ReadLine(line));  // unterminated while the connection is open
  EXPECT_EQ(io.InBuffer(), "rest");
  EXPECT_EQ(io.InCount(), 4);

  EXPECT_FALSE(io.Closed());
  EXPECT_EQ(RaisedText([&] { io.Receive(); }), "");  // reads the end
  EXPECT_TRUE(io.Closed());
  EXPECT_EQ(RaisedText([&] { io.Receive(); }), "Session fermée"_cp.View());
  ASSERT_TRUE(io.ReadLine(line));
  EXPECT_EQ(line, "rest");
  EXPECT_EQ(io.InCount(), 0);
  EXPECT_FALSE(io.ReadLine(line));
}

TEST(Sockets, ReceiveAfterAResetRaisesTheReadErrorAndKeepsTheBuffer) {
  TAcceptingServer host;
  ws::TSocketHandle peer;
  TSessionItem* session = host.Accept(peer);
  TSocketIO io(session->Handle());
  ASSERT_EQ(ws::send(peer, "kept", 4), 4);
  ASSERT_TRUE(PumpUntil([&] { return host.Recorder.Count(session->Handle(), FD_READ) == 1; }));
  io.Receive();
  ResetPeer(peer);
  ASSERT_TRUE(PumpUntil([&] { return host.Recorder.Count(session->Handle(), FD_CLOSE) == 1; }));
  EXPECT_EQ(host.Recorder.Events.back().Error, ws::WSAECONNRESET);
  EXPECT_EQ(RaisedText([&] { io.Receive(); }), "Erreur de lecture 10054");
  EXPECT_EQ(io.InBuffer(), "kept");
  EXPECT_FALSE(io.Closed());
}

TEST(Sockets, FlushSendsNothingForAnEmptyBufferAndRaisesWithTheNumberOtherwise) {
  // On a handle that is no socket any call would fail: an empty Flush
  // makes none, a Flush with bytes does and keeps them.
  TSocketIO io(ws::INVALID_SOCKET);
  EXPECT_FALSE(io.Flush());
  io.WriteLine("GET /");
  EXPECT_EQ(io.OutBuffer(), "GET /\r\n");
  EXPECT_EQ(RaisedText([&] { io.Flush(); }), "Erreur d'écriture 10038"_cp.View());
  EXPECT_EQ(io.OutBuffer(), "GET /\r\n");
  EXPECT_EQ(RaisedText([&] { io.Receive(); }), "Erreur de lecture 10038");
}

TEST(Sockets, PartialSendKeepsTheRestAtTheFrontAndTheNextWriteEventContinues) {
  TAcceptingServer host;
  ws::TSocketHandle peer;
  TSessionItem* session = host.Accept(peer, 4096);
  ws::SetSendBufferSize(session->Handle(), 4096);
  TSocketIO io(session->Handle());
  ASSERT_TRUE(PumpUntil([&] { return host.Recorder.Count(session->Handle(), FD_WRITE) == 1; }));
  bool flushedAll = false;
  host.Recorder.OnEvent = [&](const TEvent& e) {
    if (e.Handle == session->Handle() && e.Kind == FD_WRITE) flushedAll = io.Flush() || flushedAll;
  };

  std::string data;
  for (int i = 0; i < 300000; ++i) data.push_back(static_cast<char>('a' + i % 23));
  io.Write(data);
  EXPECT_FALSE(io.Flush());
  size_t sent = data.size() - io.OutBuffer().size();
  ASSERT_GT(sent, 0u);
  ASSERT_LT(sent, data.size());
  EXPECT_TRUE(io.OutBuffer() == data.substr(sent));
  // Flushing on while the peer reads nothing fills the socket until a send
  // would block: false, no error, buffer unchanged.
  bool blocked = false;
  for (int i = 0; i < 100 && !blocked; ++i) {
    size_t before = io.OutBuffer().size();
    EXPECT_FALSE(io.Flush());
    blocked = io.OutBuffer().size() == before;
  }
  EXPECT_TRUE(blocked);
  EXPECT_TRUE(io.OutBuffer() == data.substr(data.size() - io.OutBuffer().size()));

  std::string received;
  ASSERT_TRUE(PumpUntil(
      [&] {
        received += ReadAvailable(peer, 0);
        return received.size() >= data.size();
      },
      10000));
  EXPECT_TRUE(received == data) << "received " << received.size() << " of " << data.size();
  EXPECT_TRUE(flushedAll);
  EXPECT_TRUE(io.OutBuffer().empty());
  ws::closesocket(peer);
}

TEST(Sockets, DestroyingAServerClosesEveryConnectionAndTheListeningSocket) {
  auto host = std::make_unique<TAcceptingServer>();
  uint16_t port = host->Server->Port();
  ASSERT_NE(port, 0);
  ws::TSocketHandle peers[3];
  TSessionItem* sessions[3];
  for (int i = 0; i < 3; ++i) sessions[i] = host->Accept(peers[i]);
  ASSERT_EQ(host->Server->Connections().Count(), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(host->Server->Connections().FindBySocket(sessions[i]->Handle()), sessions[i]);
    EXPECT_EQ(sessions[i]->Address(), "127.0.0.1");
    EXPECT_EQ(sessions[i]->Server(), host->Server.get());
  }
  host->Server.reset();
  for (ws::TSocketHandle peer : peers) {
    bool ended = false;
    EXPECT_EQ(ReadAvailable(peer, 2000, &ended), "");
    EXPECT_TRUE(ended);
    ws::closesocket(peer);
  }
  EXPECT_EQ(ConnectPeer(port), ws::INVALID_SOCKET);
  EXPECT_EQ(ws::WSAGetLastError(), ws::WSAECONNREFUSED);
}

// One listening socket takes both families: an IPv4 peer reads as dotted
// (not as an IPv4-mapped IPv6 address) and an IPv6 peer in its short form.
TEST(Sockets, ServerTakesIPv4AndIPv6PeersAndNamesEachInItsUsualForm) {
  int probe = ::socket(AF_INET6, SOCK_STREAM, 0);
  sockaddr_in6 loopback{};
  loopback.sin6_family = AF_INET6;
  loopback.sin6_addr = in6addr_loopback;
  bool hasIPv6 = probe >= 0 && ::bind(probe, reinterpret_cast<sockaddr*>(&loopback), sizeof(loopback)) == 0;
  if (probe >= 0) ::close(probe);
  if (!hasIPv6) GTEST_SKIP() << "no IPv6 on this machine";

  TAcceptingServer host;
  ws::TSocketHandle four = ws::INVALID_SOCKET;
  EXPECT_EQ(host.Accept(four)->Address(), "127.0.0.1");

  int six = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(six, 0);
  loopback.sin6_port = htons(host.Server->Port());
  ASSERT_EQ(::connect(six, reinterpret_cast<sockaddr*>(&loopback), sizeof(loopback)), 0) << errno;
  ASSERT_TRUE(PumpUntil([&] { return host.Server->Connections().Count() == 2; }));
  EXPECT_EQ(host.Server->Connections()[1]->Address(), "::1");
  ::close(six);
  ws::closesocket(four);
}

TEST(Sockets, SessionItemsLeaveTheirListOnReleaseAndOnAFailedConstructor) {
  TAcceptingServer host;
  ws::TSocketHandle first, second;
  TSessionItem* a = host.Accept(first);
  TSessionItem* b = host.Accept(second);
  TSocketHandle handleA = a->Handle();
  a->Release();
  TSessionList& list = host.Server->Connections();
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.FindBySocket(handleA), nullptr);
  EXPECT_EQ(list[0], b);
  bool ended = false;
  ReadAvailable(first, 2000, &ended);
  EXPECT_TRUE(ended);

  // Released from inside a handler of its own (the host's handling of its
  // event, a click under a box): listed and alive until that returns.
  {
    THandlerScope handling(*b);
    b->Release();
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list[0], b);
    EXPECT_TRUE(b->Ending());
  }
  EXPECT_EQ(list.Count(), 0);
  ended = false;
  ReadAvailable(second, 2000, &ended);
  EXPECT_TRUE(ended);

  // A subclass whose constructor fails leaves the list as it found it and
  // closes the connection it accepted.
  std::string error;
  host.Recorder.OnEvent = [&](const TEvent& e) {
    if (e.Kind == FD_ACCEPT) error = RaisedText([&] { new TFailingItem(*host.Server, e.Handle); });
  };
  ws::TSocketHandle third = ConnectPeer(host.Server->Port());
  ASSERT_TRUE(PumpUntil([&] { return !error.empty(); }));
  EXPECT_EQ(error, "construction failed");
  EXPECT_EQ(list.Count(), 0);
  ended = false;
  ReadAvailable(third, 2000, &ended);
  EXPECT_TRUE(ended);
  for (ws::TSocketHandle peer : {first, second, third}) ws::closesocket(peer);
}

TEST(Sockets, ServerOnAPortInUseRaisesWithTheWinSockNumber) {
  TRecorder recorder;
  TServer first(&recorder, 0, GameMessage);
  EXPECT_EQ(RaisedText([&] { TServer second(&recorder, first.Port(), GameMessage); }),
            "Impossible de démarrer le serveur (WINSOCK error #10048)"_cp.View());
  EXPECT_EQ(RaisedText([] { RaiseSocketError("Message Winsock invalide", 10053); }),
            "Message Winsock invalide(WINSOCK error #10053)");
}

TEST(Sockets, ResolveHostTakesAddressesAsTheyAreAndLooksNamesUp) {
  EXPECT_EQ(ResolveHost("127.0.0.1"), Loopback);
  EXPECT_EQ(ResolveHost("192.168.0.12"), (ws::htonl)(0xC0A8000C));
  EXPECT_EQ(ResolveHost("localhost"), Loopback);
  EXPECT_EQ(ResolveHost("no-such-host.invalid"), 0xFFFFFFFFu);
  EXPECT_EQ(ResolveHost(""), 0xFFFFFFFFu);
  char name[256] = {};
  ASSERT_EQ(::gethostname(name, sizeof(name)), 0);
  EXPECT_EQ(LocalHostName(), name);
}
