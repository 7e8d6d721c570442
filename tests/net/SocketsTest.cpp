// The socket layer on real loopback connections: a server and its session
// list, buffered reading with the line reader, buffered writing with partial
// sends, the error texts, name look-up for both families, the block of a
// peer, and a client's connect that tries a host's addresses in turn.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "net/Sockets.h"
#include "platform/Text1252.h"
#include "support/LoopbackHosts.h"
#include "support/LoopbackPeers.h"

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

// Connects that the host has not taken yet (a flood of them, or a busy
// turn of its loop) wait in the listening queue; a queue of five let the
// system drop the SYN of the next player, whose connect then stalled for a
// second or more.  Every connect is established at once, none accepted.
TEST(Sockets, ConnectsWaitInTheListeningQueueWithoutStallingTheNextPlayer) {
  TServer server(nullptr, 0, 0);
  constexpr int Waiting = 100;
  std::vector<int> peers;
  for (int i = 0; i < Waiting; ++i) {
    int peer = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    at.sin_port = htons(server.Port());
    ::connect(peer, reinterpret_cast<sockaddr*>(&at), sizeof at);
    peers.push_back(peer);
  }
  // Established means writable with no error; a dropped SYN leaves the
  // connect under way.
  std::vector<pollfd> polls;
  for (int peer : peers) polls.push_back({peer, POLLOUT, 0});
  ::poll(polls.data(), polls.size(), 500);
  int established = 0;
  for (const pollfd& entry : polls) {
    int error = -1;
    socklen_t length = sizeof error;
    ::getsockopt(entry.fd, SOL_SOCKET, SO_ERROR, &error, &length);
    established += (entry.revents & POLLOUT) && error == 0;
  }
  EXPECT_EQ(established, Waiting);
  for (int peer : peers) ::close(peer);
}

// One listening socket takes both families: an IPv4 peer reads as dotted
// (not as an IPv4-mapped IPv6 address) and an IPv6 peer in its short form.
TEST(Sockets, ServerTakesIPv4AndIPv6PeersAndNamesEachInItsUsualForm) {
  if (!HasIPv6Loopback()) GTEST_SKIP() << NoIPv6Loopback;
  sockaddr_in6 loopback{};
  loopback.sin6_family = AF_INET6;
  loopback.sin6_addr = in6addr_loopback;

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

namespace {

ws::TAddress IPv6Loopback() {
  ws::TAddress one;
  one.Family = ws::AddressFamilyInet6;
  one.Bytes[15] = 1;
  return one;
}

// A client socket that counts the sockets it gave up, as the game's client
// and the bots do when they follow it.
class TCountingClient : public TClientSocket {
 public:
  using TClientSocket::TClientSocket;
  std::vector<ws::TSocketHandle> Abandoned;

 protected:
  void Reopened(ws::TSocketHandle previous) override { Abandoned.push_back(previous); }
};

// The connect events of one client socket, with the owner's answer to each
// failure as the game's client gives it (MoveOn).
struct TConnectRun {
  TRecorder Recorder;
  std::unique_ptr<TCountingClient> Client;
  std::vector<uint16_t> Failures;
  std::vector<bool> MovedOn;
  ws::TSocketHandle Connected = ws::INVALID_SOCKET;

  TConnectRun(std::vector<ws::TAddress> addresses, uint16_t port, int attemptMs) {
    Recorder.OnEvent = [this](const TEvent& e) {
      if (e.Kind != FD_CONNECT) return;
      if (e.Error == 0) {
        Connected = e.Handle;
        return;
      }
      Failures.push_back(e.Error);
      MovedOn.push_back(Client->MoveOn());
    };
    Client = std::make_unique<TCountingClient>(&Recorder, GameMessage, FD_CONNECT | FD_CLOSE,
                                               std::move(addresses), port, attemptMs);
    Client->Connect();
  }
};

}  // namespace

// A numeric address of either family is taken as typed (a link-local IPv6
// one with its interface), a name is looked up, and each reads back in the
// form a player types.
TEST(Sockets, ResolveAddressesTakesEitherFamilyAsTypedAndLooksNamesUp) {
  EXPECT_EQ(ResolveAddresses("127.0.0.1"), std::vector<ws::TAddress>{ws::InetAddress(Loopback)});
  EXPECT_EQ(ResolveAddresses("::1"), std::vector<ws::TAddress>{IPv6Loopback()});
  std::vector<ws::TAddress> linkLocal = ResolveAddresses("fe80::1%lo");
  ASSERT_EQ(linkLocal.size(), 1u);
  EXPECT_EQ(linkLocal[0].Family, ws::AddressFamilyInet6);
  EXPECT_NE(linkLocal[0].ScopeId, 0u) << "the interface is kept";
  EXPECT_EQ(ws::inet_ntop(linkLocal[0]), "fe80::1%lo");
  EXPECT_EQ(ws::inet_ntop(ResolveAddresses("2001:0db8:0:0::07")[0]), "2001:db8::7");
  EXPECT_EQ(ws::inet_ntop(ResolveAddresses("192.168.0.12")[0]), "192.168.0.12");

  std::vector<ws::TAddress> local = ResolveAddresses("localhost");
  EXPECT_NE(std::find(local.begin(), local.end(), ws::InetAddress(Loopback)), local.end());
  EXPECT_TRUE(ResolveAddresses("no-such-host.invalid").empty());
  EXPECT_TRUE(ResolveAddresses("").empty());
  EXPECT_TRUE(ResolveAddresses("[::1]").empty()) << "brackets belong to HOST[:PORT], not to the address";
}

// An IPv6 address has colons of its own: without brackets it is all host.
TEST(Sockets, HostAndPortTakeNamesIPv4AndIPv6WithOrWithoutBrackets) {
  struct TCase {
    const char* Text;
    const char* Host;
    uint16_t Port;
    bool PortGiven;
  };
  for (const TCase& c :
       {TCase{"example.org", "example.org", 2048, false}, TCase{"10.0.0.2:4000", "10.0.0.2", 4000, true},
        TCase{"::1", "::1", 2048, false}, TCase{"[::1]:2049", "::1", 2049, true},
        TCase{"[::1]", "::1", 2048, false}, TCase{"fe80::1%eth0", "fe80::1%eth0", 2048, false},
        TCase{"[fe80::1%eth0]:7", "fe80::1%eth0", 7, true}}) {
    std::string host;
    uint16_t port = 2048;
    bool given = !c.PortGiven;
    EXPECT_TRUE(ParseHostAndPort(c.Text, host, port, &given)) << c.Text;
    EXPECT_EQ(host, c.Host) << c.Text;
    EXPECT_EQ(port, c.Port) << c.Text;
    EXPECT_EQ(given, c.PortGiven) << c.Text;
  }
  for (const char* wrong : {"[::1", "[]:2048", "[::1]2048", "[::1]:70000", "host:x", ""}) {
    std::string host;
    uint16_t port = 2048;
    EXPECT_FALSE(ParseHostAndPort(wrong, host, port)) << wrong;
  }
  EXPECT_EQ(AddressAndPort("192.168.0.12", 2048), "192.168.0.12:2048");
  EXPECT_EQ(AddressAndPort("2001:db8::7", 2048), "[2001:db8::7]:2048");
}

// Limits per party count an IPv6 peer by its /64, the network its owner was
// given, and an IPv4 peer by its whole address.
TEST(Sockets, PeerBlockIsTheWholeIPv4AddressAndTheIPv6Slash64) {
  EXPECT_EQ(PeerBlock("192.168.0.12"), "192.168.0.12");
  EXPECT_NE(PeerBlock("192.168.0.12"), PeerBlock("192.168.0.13"));
  EXPECT_EQ(PeerBlock("2001:db8:1:2:aaaa:bbbb:cccc:dddd"), "2001:db8:1:2::/64");
  EXPECT_EQ(PeerBlock("2001:db8:1:2::1"), PeerBlock("2001:db8:1:2:ffff:ffff:ffff:ffff"));
  EXPECT_NE(PeerBlock("2001:db8:1:2::1"), PeerBlock("2001:db8:1:3::1"));
  EXPECT_NE(PeerBlock("2001:db8:1:2::1"), PeerBlock("2001:db9:1:2::1"));
  EXPECT_EQ(PeerBlock("::1"), "::/64");
  EXPECT_EQ(PeerBlock("fe80::1%lo"), PeerBlock("fe80::2")) << "the interface is no part of the block";
  EXPECT_NE(PeerBlock("::1"), PeerBlock("127.0.0.1"));
  EXPECT_EQ(PeerBlock("not an address"), "not an address");
  EXPECT_EQ(PeerBlock(""), "");
}

// A host's addresses are tried in turn: a refused one hands over at once, a
// silent one once its time is up, and the first that answers keeps the
// connection.  The owner hears one failure (the refusal) and the success.
TEST(Sockets, ClientSocketTriesEachAddressUntilOneAnswers) {
  if (!HasIPv6Loopback()) GTEST_SKIP() << NoIPv6Loopback;
  TIPv4Listener host;  // 127.0.0.1:P answers, [::1]:P refuses
  TSilentHost silent(ws::inet_addr("127.0.0.2"), host.Port);
  ASSERT_TRUE(silent.Ok());
  constexpr int ShortAttemptMs = 200;
  TConnectRun run({IPv6Loopback(), ws::InetAddress(ws::inet_addr("127.0.0.2")), ws::InetAddress(Loopback)},
                  host.Port, ShortAttemptMs);
  ASSERT_TRUE(PumpUntil([&] { return run.Connected != ws::INVALID_SOCKET; }, 5000));
  EXPECT_EQ(run.Failures, std::vector<uint16_t>{ws::WSAECONNREFUSED});
  EXPECT_EQ(run.MovedOn, std::vector<bool>{true});
  EXPECT_EQ(run.Client->Address(), ws::InetAddress(Loopback));
  EXPECT_EQ(run.Client->Handle(), run.Connected);
  EXPECT_EQ(run.Client->Abandoned.size(), 2u);
  EXPECT_TRUE(host.HasWaiting());
  PumpFor(3 * ShortAttemptMs);
  EXPECT_EQ(run.Client->Handle(), run.Connected) << "a connected socket is kept";
  EXPECT_EQ(run.Failures.size(), 1u) << "nothing more from the abandoned sockets";
}

// When every address fails, the owner learns it from the last one's event
// (MoveOn false); a lone silent address is left to the system's own
// time-out, as the connect always was, not cut short.
TEST(Sockets, ClientSocketReportsTheLastFailureAndWaitsOnALoneAddress) {
  if (!HasIPv6Loopback()) GTEST_SKIP() << NoIPv6Loopback;
  uint16_t closed = 0;
  {
    TIPv4Listener gone;
    closed = gone.Port;
  }
  TConnectRun refused({IPv6Loopback(), ws::InetAddress(Loopback)}, closed, 200);
  ASSERT_TRUE(PumpUntil([&] { return refused.Failures.size() == 2; }));
  EXPECT_EQ(refused.Failures, (std::vector<uint16_t>{ws::WSAECONNREFUSED, ws::WSAECONNREFUSED}));
  EXPECT_EQ(refused.MovedOn, (std::vector<bool>{true, false}));
  EXPECT_EQ(refused.Client->Address(), ws::InetAddress(Loopback));
  EXPECT_EQ(refused.Client->AddressCount(), 2u);

  TIPv4Listener host;
  TSilentHost silent(ws::inet_addr("127.0.0.2"), host.Port);
  ASSERT_TRUE(silent.Ok());
  TConnectRun lone({ws::InetAddress(ws::inet_addr("127.0.0.2"))}, host.Port, 100);
  ws::TSocketHandle first = lone.Client->Handle();
  PumpFor(500);
  EXPECT_EQ(lone.Client->Handle(), first);
  EXPECT_TRUE(lone.Failures.empty());
  EXPECT_EQ(lone.Connected, ws::INVALID_SOCKET);
}
