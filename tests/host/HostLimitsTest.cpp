// The host's limits over loopback: connections past --max-players or
// --max-per-address are told why and closed without anyone hearing of
// them, chat lines past --chat-limit are dropped until the player slows
// down (on the test's clock), and game connections carry TCP keepalive.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "HostFixture.h"
#include "host/HostLimits.h"
#include "platform/Text1252.h"
#include "platform/Tick.h"

namespace {

using HostLimitsTest = THostTest;

// A connection that is turned away: the reason, then the end, and no row
// left behind (its row came and went, saying why).
void ExpectTurnedAway(TRawClient& client, const std::string& why) {
  ASSERT_TRUE(client.WaitClosed()) << why;
  EXPECT_EQ(client.Received, Frame(MsgError, why));
}

TEST_F(HostLimitsTest, ConnectionsPastMaxPlayersAreToldTheServerIsFullAndNobodyHearsOfThem) {
  Settings.MaxPlayers = 2;
  StartHost();
  auto a = Connect();
  auto silent = Connect();  // counted though it never logs in
  Join(*a, "A", 0);
  silent->FramesWithin(50);

  TRawClient third(Host->GameServer()->Port());
  ExpectTurnedAway(third, ServerFullText);
  EXPECT_EQ(Sessions().Count(), 2);
  EXPECT_EQ(List.Count(), 2);
  EXPECT_EQ(List.Changes.back().Kind, '-');
  EXPECT_EQ(List.Changes[List.Changes.size() - 2].Text, ServerFullText);
  ExpectNothing(*a);
  ExpectNothing(*silent);

  // Room again once one goes (unannounced: it never logged in); the
  // newcomer starts where the count of admitted players puts it.
  silent->Close();
  ASSERT_TRUE(PumpUntil([&] { return Sessions().Count() == 1; }));
  ExpectNothing(*a);
  auto b = Connect();
  b->SendFrame(MsgJoin, "B");
  ExpectFrame(*b, MsgJoin, Id(1));
  ExpectFrame(*b, MsgPosition, Id(1) + Packed(0) + Packed(127) + Packed(128) + Packed(0));
}

TEST_F(HostLimitsTest, ConnectionsPastMaxPerAddressAreTurnedAwayWhileOtherAddressesComeIn) {
  Settings.MaxPerAddress = 2;
  StartHost();
  auto a = Connect();
  auto b = Connect();
  Join(*a, "A", 0);
  Join(*b, "B", 1);
  a->FramesWithin(50);

  TRawClient third(Host->GameServer()->Port());
  ExpectTurnedAway(third, AddressFullText);
  ExpectNothing(*a);
  ExpectNothing(*b);

  int before = Sessions().Count();
  TRawClient elsewhere(Host->GameServer()->Port(), 0, "127.0.0.2");
  ASSERT_TRUE(PumpUntil([&] { return Sessions().Count() == before + 1; }));
  EXPECT_EQ(Session(2).Address(), "127.0.0.2");
  Join(elsewhere, "C", 2);
  ExpectFrame(*a, MsgPlayer, Id(2) + Packed(0) + Packed(127) + Packed(129) + '\0' + "C");
}

// Of the lines sent within any 10 s, those past the limit are dropped and
// not acknowledged; dropped lines count, so the mute lasts while the
// flooding does, and it ends by itself on the clock.
TEST_F(HostLimitsTest, ChatPastTheLimitIsDroppedUntilTheLastTenSecondsHoldNoMore) {
  TTestClock clock;
  const uint32_t start = clock.Now;
  Settings.ChatLimit = 3;
  StartHost();
  auto a = Connect();
  auto b = Connect();
  Join(*a, "A", 0);
  Join(*b, "B", 1);
  a->FramesWithin(50);

  for (const char* line : {"un", "deux", "trois", "quatre", "cinq"}) a->SendFrame(MsgChat, line);
  for (const char* line : {"un", "deux", "trois"}) {
    ExpectFrame(*b, MsgChat, Id(0) + line);
    ExpectFrame(*a, MsgChatAck, "");
  }
  ExpectNothing(*a);
  ExpectNothing(*b);
  EXPECT_TRUE(Session(0).Muted());
  EXPECT_EQ(Session(0).Row().SubItem(TSessionRow::StatusColumn), MutedText);

  // Still flooding within the window: still dropped.
  clock.Now = start + 5000;
  a->SendFrame(MsgChat, "six");
  ExpectNothing(*b);
  clock.Now = start + TChatGate::WindowMs - 1;
  EXPECT_TRUE(Session(0).Muted());
  EXPECT_EQ(Session(0).Row().SubItem(TSessionRow::StatusColumn), MutedText);

  // The lines of the first moment leave the window: one line in the last
  // 10 s, the mute is over and the row shows what it showed before.
  clock.Now = start + TChatGate::WindowMs;
  EXPECT_FALSE(Session(0).Muted());
  EXPECT_TRUE(PumpUntil([&] { return Session(0).Row().SubItem(TSessionRow::StatusColumn) == "trois"; }));
  a->SendFrame(MsgChat, "sept");
  ExpectFrame(*b, MsgChat, Id(0) + "sept");
  ExpectFrame(*a, MsgChatAck, "");
}

TEST_F(HostLimitsTest, WithoutLimitsEveryConnectionAndLineGoesThrough) {
  StartHost();
  std::vector<std::unique_ptr<TRawClient>> clients;
  for (int i = 0; i < 12; ++i) clients.push_back(Connect());
  Join(*clients[0], "A", 0);
  Join(*clients[1], "B", 1);
  clients[0]->FramesWithin(50);
  for (int i = 0; i < 40; ++i) clients[0]->SendFrame(MsgChat, "ligne " + std::to_string(i));
  for (int i = 0; i < 40; ++i) ExpectFrame(*clients[1], MsgChat, Id(0) + "ligne " + std::to_string(i));
  EXPECT_FALSE(Session(0).Muted());
}

// A peer that vanished without closing answers no keepalive probe: the
// connection fails within two minutes and a half, and the failure reaches
// the host as a close with an error, which releases the player as gone
// without warning.
TEST_F(HostLimitsTest, GameConnectionsUseKeepAliveAndItsFailureAnnouncesTheDeparture) {
  StartHost();
  auto a = Connect();
  auto b = Connect();
  Join(*a, "A", 0);
  Join(*b, "B", 1);
  a->FramesWithin(50);
  int fd = static_cast<int>(Session(0).Handle());
  auto option = [fd](int level, int name) {
    int value = -1;
    socklen_t size = sizeof value;
    EXPECT_EQ(::getsockopt(fd, level, name, &value, &size), 0) << name;
    return value;
  };
  EXPECT_EQ(option(SOL_SOCKET, SO_KEEPALIVE), 1);
  int idle = option(IPPROTO_TCP, TCP_KEEPIDLE), interval = option(IPPROTO_TCP, TCP_KEEPINTVL),
      probes = option(IPPROTO_TCP, TCP_KEEPCNT);
  EXPECT_EQ(idle, KeepAliveIdleSeconds);
  EXPECT_EQ(interval, KeepAliveIntervalSeconds);
  EXPECT_EQ(probes, KeepAliveProbes);
  EXPECT_LE(idle + interval * probes, 150);
  // Unacknowledged data is given up on within the same bound.
  EXPECT_EQ(option(IPPROTO_TCP, TCP_USER_TIMEOUT), (idle + interval * probes) * 1000);

  std::string aId = Id(0);
  TMessage failed{CM_GAMESOCKET, Session(0).Handle(), WSAMAKESELECTREPLY(FD_CLOSE, ws::WSAETIMEDOUT)};
  Host->Dispatch(failed);
  ExpectFrame(*b, MsgLeave, aId + '\1');
  EXPECT_EQ(Sessions().Count(), 1);
}

}  // namespace
