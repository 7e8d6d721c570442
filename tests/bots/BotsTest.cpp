// Bot players against a real game host in this thread, over loopback
// sockets.  The tick clock is the test's: each turn of the loop moves it by
// one timer period, so walks and the playing time pass in a fraction of
// real time while the sockets run for real.  An observer connection that
// logs in like a player sees what the host relayed of every bot.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "CharacterFiles.h"
#include "Pump.h"
#include "bots/BotOptions.h"
#include "bots/BotSwarm.h"
#include "bots/LatencyHistogram.h"
#include "host/GameHost.h"
#include "net/Sockets.h"
#include "platform/SocketEvents.h"
#include "platform/Tick.h"
#include "support/LoopbackHosts.h"
#include "support/RecordingList.h"
#include "world/ZULPlayers.h"

// Cells print as (X, Y) in failures.
void PrintTo(const TPoint& cell, std::ostream* out) { *out << "(" << cell.X << ", " << cell.Y << ")"; }

namespace {

// A frame as the observer decoded it: the id and the integers in front of
// the string (all of them for 7, 8, 9).
struct TSeen {
  int32_t Id;
  std::vector<int32_t> Values;
};

// A plain player connection that records every relayed frame by the
// player id it concerns.
class TObserver : public TZULMessageTarget {
 public:
  explicit TObserver(uint16_t port) : FEvents(this) {
    FSocket = std::make_unique<TSocket>(&FEvents);
    IO = std::make_unique<TZULSocketIO>(this, FSocket->Handle());
    SelectEvents(FSocket->Handle(), &FEvents, WM_USER, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE);
    ws::TSockAddrIn address;
    address.sin_port = (ws::htons)(port);
    address.sin_addr = ws::inet_addr("127.0.0.1");
    ws::connect(FSocket->Handle(), address);
  }
  ~TObserver() override { ForgetTarget(&FEvents); }

  void DefaultHandler(TZULMessage& message) override {
    TSeen seen{message.MessageId, {}};
    // 4 and 5 carry a string after their integers; 4 has five of them.
    int integers = message.MessageId == 4 ? 5 : message.MessageId == 5 ? 1 : 9;
    for (int i = 0; i < integers && message.ReadPos <= message.PayloadEnd; ++i)
      seen.Values.push_back(IO->ReadInteger());
    if (message.MessageId == 3) OwnId = seen.Values.at(0);
    if (!seen.Values.empty() && seen.Values[0] != OwnId) About[seen.Values[0]].push_back(seen);
  }

  // Frames of one id about one player.
  int CountOf(int32_t player, int32_t id) const {
    int count = 0;
    auto found = About.find(player);
    if (found != About.end())
      for (const TSeen& seen : found->second) count += seen.Id == id;
    return count;
  }

  std::unique_ptr<TZULSocketIO> IO;
  int32_t OwnId = -1;
  std::map<int32_t, std::vector<TSeen>> About;

 private:
  struct TEvents : TMessageTarget {
    explicit TEvents(TObserver* owner) : Owner(owner) {}
    void Dispatch(TMessage& message) override {
      switch (WSAGETSELECTEVENT(message.LParam)) {
        case FD_CONNECT:
          Owner->IO->SendMessage(3, "observer");
          break;
        case FD_READ:
          Owner->IO->Receive();
          break;
        case FD_WRITE:
          Owner->IO->Flush();
          break;
      }
    }
    TObserver* Owner;
  };
  TEvents FEvents;
  std::unique_ptr<TSocket> FSocket;
};

class TBotsTest : public ::testing::Test {
 protected:
  TBotsTest() { Settings.Port = 0; }
  ~TBotsTest() override {
    Host.reset();
    PumpUntil([] { return LingeringSockets() == 0; }, 6000);
  }

  void StartHost() {
    Host = std::make_unique<TGameHost>(Settings, List);
    Host->Start();
  }
  TBotOptions Options(int count) const {
    TBotOptions options;
    options.Port = Host ? Host->GameServer()->Port() : FreedPort;
    options.Count = count;
    return options;
  }
  // Runs the swarm until it is done, moving the tick clock one timer period
  // per turn; false when it is not done after that many turns.
  bool RunToEnd(TBotSwarm& swarm, int turns = 2000, const std::function<void(int)>& each = {}) {
    swarm.Start();
    return RunUntil(
        swarm, [&] { return swarm.Done(); }, turns, each);
  }
  bool RunUntil(TBotSwarm& swarm, const std::function<bool()>& done, int turns,
                const std::function<void(int)>& each = {}) {
    for (int turn = 0; turn < turns && !done(); ++turn) {
      PumpFor(2);
      Clock.Advance(TBotSwarm::TickMs);
      swarm.Tick(GetTickCount());
      if (each) each(turn);
    }
    return done();
  }

  TSocketLibrary Sockets;
  TTestClock Clock;
  THostSettings Settings;
  TRecordingList List;
  std::unique_ptr<TGameHost> Host;
  uint16_t FreedPort = 0;
};

// Three bots walk and chat for two seconds; the third drops its connection.
// Every count a bot keeps must match what the host relayed to an observer
// and what it wrote in its connection list, walks must be reported 9 first
// and then 8 on the goal, and every departure must reach the others with
// its flag.
TEST_F(TBotsTest, BotsLogInWalkChatAndLeaveAsTheHostSeesIt) {
  StartHost();
  TObserver observer(Host->GameServer()->Port());
  ASSERT_TRUE(PumpUntil([&] { return observer.OwnId >= 0; }));

  TBotOptions options = Options(3);
  options.Walk = true;
  options.ChatPerMinute = 600;
  options.Seconds = 2;
  options.DropPercent = 34;
  TBotSwarm swarm(options, ws::inet_addr("127.0.0.1"));
  ASSERT_TRUE(RunToEnd(swarm));
  ASSERT_TRUE(PumpUntil([&] { return Host->GameServer()->Connections().Count() == 1; }));
  PumpFor(50);

  const TBotReport& report = swarm.Report();
  EXPECT_TRUE(report.Sound()) << report.Errors.size();
  EXPECT_EQ(report.Joined, 3);
  EXPECT_EQ(report.SaidGoodbye, 2);
  EXPECT_EQ(report.Dropped, 1);
  EXPECT_EQ(report.DeparturesExpected, 3u);  // the second hears the first, the third both
  EXPECT_EQ(report.DeparturesSeen, 3u);
  EXPECT_EQ(report.ChatLost, 0u);
  EXPECT_GT(report.Latency.Count(), 0u);
  // Nobody waited out a deadline: the swarm moved on as soon as every bot
  // knew every other one, and each leaver as soon as it had heard of the
  // departures before its own.
  EXPECT_LT(report.JoinSeconds, TBotSwarm::JoinTimeoutMs / 1000.0);
  EXPECT_LT(report.LeaveSeconds, TBotSwarm::LeaveWaitMs / 1000.0);

  uint64_t saidBySwarm = 0;
  for (int i = 0; i < swarm.Count(); ++i) saidBySwarm += swarm.Bot(i).Counts().ChatSent;
  for (int i = 0; i < swarm.Count(); ++i) {
    const TBotPlayer& bot = swarm.Bot(i);
    const TBotCounts& counts = bot.Counts();
    SCOPED_TRACE(bot.Name());
    EXPECT_GT(counts.ChatSent, 0u);
    EXPECT_GT(counts.Walks, 0u);
    EXPECT_EQ(counts.ChatAcked, counts.ChatSent);
    EXPECT_EQ(counts.Received[5], saidBySwarm - counts.ChatSent);
    EXPECT_EQ(counts.Received[7], uint64_t(i));  // the departures before its own
    EXPECT_EQ(counts.Sent[3], 1u);
    EXPECT_EQ(counts.Sent[7], swarm.Drops(i) ? 0u : 1u);
    // Each offers its look once and hears the look of each other bot once.
    EXPECT_EQ(counts.Sent[10], 1u);
    EXPECT_EQ(counts.Received[10], uint64_t(swarm.Count() - 1));
    EXPECT_EQ(counts.Received[0], 0u) << "no message the bots do not know";

    // The host's list: a row named after the bot whose status changed once
    // per line (every line differs from the one before), gone at the end.
    std::optional<TRecordingList::TRowHistory> row = List.PlayerRow(bot.Name());
    ASSERT_TRUE(row);
    EXPECT_EQ(uint64_t(row->StatusChanges), counts.ChatSent);
    EXPECT_TRUE(row->Removed);

    // What the host relayed of it.
    EXPECT_EQ(uint64_t(observer.CountOf(bot.Id(), 5)), counts.ChatSent);
    EXPECT_EQ(uint64_t(observer.CountOf(bot.Id(), 9)), counts.Sent[9]);
    EXPECT_EQ(uint64_t(observer.CountOf(bot.Id(), 8)), counts.Sent[8]);
    EXPECT_EQ(counts.Sent[9], counts.Walks);
    EXPECT_EQ(counts.Sent[8], counts.Walks);  // every walk ended before the bots left

    int32_t goalX = -1, goalY = -1;
    char last = 0;
    for (const TSeen& seen : observer.About[bot.Id()]) {
      if (seen.Id == 9) {
        EXPECT_NE(last, '9') << "two 9 without an 8 between";
        goalX = seen.Values.at(1);
        goalY = seen.Values.at(2);
        last = '9';
      } else if (seen.Id == 8) {
        ASSERT_EQ(last, '9') << "an 8 without a walk";
        EXPECT_EQ(seen.Values.at(2), goalX);  // id, Reserved, X, Y, Direction
        EXPECT_EQ(seen.Values.at(3), goalY);
        EXPECT_GE(seen.Values.at(4), 0);
        EXPECT_LE(seen.Values.at(4), 7);
        last = '8';
      } else if (seen.Id == 7) {
        EXPECT_EQ(seen.Values.at(1), swarm.Drops(i) ? 1 : 0);
      }
    }
    EXPECT_EQ(observer.CountOf(bot.Id(), 7), 1);
  }
}

// A host given as ::1 takes the bots over IPv6: they join, chat and leave
// as over IPv4, and the host's rows name them by the IPv6 loopback.
TEST_F(TBotsTest, BotsPlayWithAHostOnTheIPv6Loopback) {
  if (!HasIPv6Loopback()) GTEST_SKIP() << NoIPv6Loopback;
  StartHost();
  TBotOptions options = Options(2);
  options.ChatPerMinute = 600;
  options.Seconds = 1;
  TBotSwarm swarm(options, ResolveAddresses("::1"));
  ASSERT_TRUE(RunToEnd(swarm));
  const TBotReport& report = swarm.Report();
  EXPECT_TRUE(report.Sound()) << (report.Errors.empty() ? "" : report.Errors[0]);
  EXPECT_EQ(report.Joined, 2);
  EXPECT_GT(report.Totals.ChatAcked, 0u);
  EXPECT_EQ(report.DeparturesSeen, 1u);
  const std::set<std::string> captions = List.Captions();
  ASSERT_EQ(captions.size(), 2u);
  for (const std::string& caption : captions) EXPECT_EQ(caption.rfind("::1/", 0), 0u) << caption;
}

// A host whose first address refuses: the bots move on to the next one and
// play there.
TEST_F(TBotsTest, BotsMoveOnFromAnAddressThatRefuses) {
  if (!HasIPv6Loopback()) GTEST_SKIP() << NoIPv6Loopback;
  TIPv4Listener host;  // [::1] refuses at its port
  FreedPort = host.Port;
  TBotSwarm swarm(Options(1), {ResolveAddresses("::1")[0], ws::InetAddress(ws::inet_addr("127.0.0.1"))});
  swarm.Start();
  ASSERT_TRUE(PumpUntil([&] { return host.HasWaiting(); }));
  PumpFor(50);
  EXPECT_EQ(swarm.Bot(0).State(), TBotPlayer::TState::Connecting);
  EXPECT_TRUE(swarm.Bot(0).LastError().empty()) << swarm.Bot(0).LastError();
}

// A wrong password is answered with 2 and the bots say so; the right one
// lets them in.  Neither waits for the join deadline.
TEST_F(TBotsTest, PasswordDecidesWhoJoins) {
  Settings.Password = "secret";
  StartHost();
  TBotOptions options = Options(2);
  options.Password = "wrong";
  options.ChatPerMinute = 600;
  options.Seconds = 1;
  TBotSwarm refused(options, ws::inet_addr("127.0.0.1"));
  ASSERT_TRUE(RunToEnd(refused, 200));
  EXPECT_EQ(refused.Report().Refused, 2);
  EXPECT_EQ(refused.Report().Joined, 0);
  EXPECT_FALSE(refused.Report().Sound());
  EXPECT_EQ(refused.Bot(0).LastError(), "Mot de passe invalide");
  EXPECT_EQ(refused.Report().Totals.ChatSent, 0u);
  EXPECT_EQ(refused.Report().Totals.Received[2], 2u);

  options.Password = "secret";
  TBotSwarm admitted(options, ws::inet_addr("127.0.0.1"));
  ASSERT_TRUE(RunToEnd(admitted, 400));
  EXPECT_EQ(admitted.Report().Joined, 2);
  EXPECT_TRUE(admitted.Report().Sound());
  EXPECT_EQ(admitted.Report().Totals.Sent[1], 2u);
}

// Without a host, or when the host goes away while they play, the bots end
// by themselves and the report says what happened instead of success.
TEST_F(TBotsTest, SwarmEndsAndSaysSoWhenTheHostIsGone) {
  StartHost();
  FreedPort = Host->GameServer()->Port();
  Host.reset();
  TBotSwarm nobody(Options(2), ws::inet_addr("127.0.0.1"));
  ASSERT_TRUE(RunToEnd(nobody, 400));
  EXPECT_EQ(nobody.Report().Failed, 2);
  EXPECT_FALSE(nobody.Report().Sound());
  EXPECT_FALSE(nobody.Report().Errors.empty());

  StartHost();
  TBotOptions options = Options(3);
  options.ChatPerMinute = 600;
  options.Seconds = 60;
  TBotSwarm stranded(options, ws::inet_addr("127.0.0.1"));
  ASSERT_TRUE(RunToEnd(stranded, 3000, [&](int) {
    if (Host && stranded.Stage() == TBotSwarm::TStage::Playing && stranded.Bot(0).Counts().ChatAcked > 3)
      Host.reset();
  }));
  EXPECT_EQ(stranded.Report().ClosedByHost, 3);
  EXPECT_FALSE(stranded.Report().Sound());
}

// A bot that chats as fast as it is acknowledged keeps its window full:
// each acknowledgement lets the next line go at once, even while the clock
// stands still.  At a fixed rate above what the host takes, the lines due
// beyond the window are held back.  Neither ever has more than the window
// unacknowledged.
TEST_F(TBotsTest, ChatWindowBoundsWhatIsUnacknowledged) {
  StartHost();
  TBotOptions options = Options(1);
  options.ChatPerMinute = TBotOptions::AsFastAsAcknowledged;
  options.Window = 3;
  options.Seconds = 5;
  TBotSwarm flood(options, ws::inet_addr("127.0.0.1"));
  flood.Start();
  ASSERT_TRUE(RunUntil(
      flood, [&] { return flood.Playing(); }, 200));
  Clock.Advance(TBotSwarm::TickMs);
  flood.Tick(GetTickCount());
  const TBotCounts& counts = flood.Bot(0).Counts();
  int most = 0;
  PumpUntil([&] {
    most = std::max(most, flood.Bot(0).Unacknowledged());
    return counts.ChatAcked >= 60;
  });
  EXPECT_GE(counts.ChatAcked, 60u);
  EXPECT_LE(most, 3);
  ASSERT_TRUE(RunUntil(
      flood, [&] { return flood.Done(); }, 2000));
  EXPECT_TRUE(flood.Report().Sound());
  EXPECT_EQ(flood.Report().Totals.ChatHeldBack, 0u);

  options.ChatPerMinute = 600000;  // 250 lines per tick
  options.Window = 2;
  options.Seconds = 1;
  TBotSwarm paced(options, ws::inet_addr("127.0.0.1"));
  most = 0;
  ASSERT_TRUE(RunToEnd(paced, 2000, [&](int) { most = std::max(most, paced.Bot(0).Unacknowledged()); }));
  EXPECT_LE(most, 2);
  EXPECT_GT(paced.Report().Totals.ChatHeldBack, 0u);
  EXPECT_EQ(paced.Report().Totals.ChatAcked, paced.Report().Totals.ChatSent);
  EXPECT_TRUE(paced.Report().Sound());
}

// A client's player that notes, by tick, the cell and facing it reports
// at the end of each walk (what TZULPlayer2 sends as 8).
class TReportingPlayer : public TZULPlayer {
 public:
  using TZULPlayer::TZULPlayer;
  void MoveStopped() override {
    TZULPlayer::MoveStopped();
    Reports.push_back({X, Y, Direction});
  }
  std::vector<std::vector<int32_t>> Reports;
};

// A bot walks by the rule a client's player walks by: given the same goals
// on the same clock, the two stand on the same cell with the same facing
// after every tick, end each walk at the same tick, and report the same
// cells with 8, which the host relays as the bot sent them.  Ticks of 7 ms
// fall at every phase of straight and diagonal steps.
TEST_F(TBotsTest, BotWalksCellForCellAsAClientPlayerOnTheSameClock) {
  TCharacterFiles files;
  ASSERT_TRUE(files.Valid());
  StartHost();
  TObserver observer(Host->GameServer()->Port());
  ASSERT_TRUE(PumpUntil([&] { return observer.OwnId >= 0; }));
  TBotOptions options = Options(1);
  options.Seconds = 3600;
  TBotSwarm swarm(options, ws::inet_addr("127.0.0.1"));
  swarm.Start();
  ASSERT_TRUE(RunUntil(
      swarm, [&] { return swarm.Playing(); }, 400));
  TBotPlayer& bot = swarm.Bot(0);

  TMap256 map;
  TZULPlayerList list;
  TReportingPlayer player(&map, &list);
  player.X = bot.Cell().X;
  player.Y = bot.Cell().Y;
  constexpr uint32_t TickMs = 7;
  constexpr int MostTicks = 3000;
  for (TPoint goal : {TPoint{131, 125}, TPoint{131, 131}, TPoint{119, 134}, TPoint{127, 127}}) {
    SCOPED_TRACE(std::to_string(goal.X) + "," + std::to_string(goal.Y));
    const uint64_t botReports = bot.Counts().Sent[8];
    const size_t playerReports = player.Reports.size();
    ASSERT_TRUE(bot.WalkTo(goal));
    ASSERT_TRUE(player.MoveTo(goal));
    int tick = 0;
    for (; tick < MostTicks && (bot.Walking() || player.Moving()); ++tick) {
      Clock.Advance(TickMs);
      swarm.Tick(GetTickCount());
      list.Update(GetTickCount());
      ASSERT_EQ(bot.Cell(), (TPoint{player.X, player.Y})) << "tick " << tick;
      ASSERT_EQ(bot.Direction(), player.Direction) << "tick " << tick;
      ASSERT_EQ(bot.Walking(), player.Moving()) << "tick " << tick;
      ASSERT_EQ(bot.Counts().Sent[8] - botReports, player.Reports.size() - playerReports) << "tick " << tick;
    }
    EXPECT_LT(tick, MostTicks);
    EXPECT_EQ(bot.Cell(), goal);
  }
  ASSERT_EQ(player.Reports.size(), 4u);
  ASSERT_TRUE(PumpUntil([&] { return observer.CountOf(bot.Id(), 8) == 4; }));
  std::vector<std::vector<int32_t>> relayed;
  for (const TSeen& seen : observer.About[bot.Id()])
    if (seen.Id == 8) relayed.push_back({seen.Values.at(2), seen.Values.at(3), seen.Values.at(4)});
  EXPECT_EQ(relayed, player.Reports);
}

TEST(BotOptions, CommandLineIsReadAndMistakesAreRefused) {
  auto parse = [](std::vector<std::string> words, TBotOptions& options, std::string& error) {
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    return ParseBotOptions(static_cast<int>(argv.size()), argv.data(), options, error);
  };
  TBotOptions options;
  std::string error;
  ASSERT_TRUE(parse({"varozuvod", "--bots", "127.0.0.1:4000", "--count", "12", "--name", "zed", "--walk",
                     "--chat", "30.5", "--seconds", "7", "--drop", "25", "--password", "pw", "--window", "3"},
                    options, error))
      << error;
  EXPECT_EQ(options.Port, 4000);
  EXPECT_EQ(options.Count, 12);
  EXPECT_EQ(options.NamePrefix, "zed");
  EXPECT_TRUE(options.Walk);
  EXPECT_DOUBLE_EQ(options.ChatPerMinute, 30.5);
  EXPECT_EQ(options.Seconds, 7);
  EXPECT_EQ(options.DropPercent, 25);
  EXPECT_EQ(options.Password, "pw");
  EXPECT_EQ(options.Window, 3);

  TBotOptions plain;
  ASSERT_TRUE(parse({"varozuvod", "--bots", "localhost", "--chat", "max"}, plain, error)) << error;
  EXPECT_EQ(plain.ChatPerMinute, TBotOptions::AsFastAsAcknowledged);
  EXPECT_EQ(plain.Port, TBotOptions::DefaultPort);
  EXPECT_EQ(plain.Count, 1);

  for (std::vector<std::string> wrong :
       std::vector<std::vector<std::string>>{{"varozuvod", "--bots"},
                                             {"varozuvod", "--bots", "10.1.2.3"},
                                             {"varozuvod", "--bots", "127.0.0.1:0"},
                                             {"varozuvod", "--bots", "127.0.0.1:70000"},
                                             {"varozuvod", "--bots", "127.0.0.1", "--count", "0"},
                                             {"varozuvod", "--bots", "127.0.0.1", "--count"},
                                             {"varozuvod", "--bots", "127.0.0.1", "--chat", "-1"},
                                             {"varozuvod", "--bots", "127.0.0.1", "--drop", "101"},
                                             {"varozuvod", "--bots", "127.0.0.1", "--fly"},
                                             {"varozuvod", "--bots", "10.1.2.3", "--lab", "10.1.2.4"},
                                             {"varozuvod", "--bots", "10.1.2.3", "--lab", "nowhere."},
                                             {"varozuvod", "--bots", "10.1.2.3", "--lab"}}) {
    TBotOptions ignored;
    EXPECT_FALSE(parse(wrong, ignored, error)) << wrong.back();
  }

  // The IPv6 loopback too, bare or in brackets with a port.
  TBotOptions six;
  ASSERT_TRUE(parse({"varozuvod", "--bots", "[::1]:4000"}, six, error)) << error;
  EXPECT_EQ(six.Host, "::1");
  EXPECT_EQ(six.Port, 4000);
  TBotOptions bare;
  ASSERT_TRUE(parse({"varozuvod", "--bots", "::1"}, bare, error)) << error;
  EXPECT_EQ(bare.Port, TBotOptions::DefaultPort);
  for (const char* wrong : {"[2001:db8::1]:2048", "[::1]:0", "[::1", "::2"}) {
    TBotOptions ignored;
    EXPECT_FALSE(parse({"varozuvod", "--bots", wrong}, ignored, error)) << wrong;
  }

  // A test network of namespaces names its one address outside loopback.
  TBotOptions lab;
  ASSERT_TRUE(parse({"varozuvod", "--bots", "11.7.0.1:2048", "--lab", "11.7.0.1"}, lab, error)) << error;
  EXPECT_EQ(lab.Host, "11.7.0.1");
  EXPECT_EQ(lab.Port, 2048);
}

// The bucket of a delay is at most 1/32 wide, so percentiles come back
// within that; an empty histogram says 0.
TEST(LatencyHistogram, PercentilesStayWithinABucket) {
  TLatencyHistogram empty;
  EXPECT_EQ(empty.Percentile(0.5), 0u);

  TLatencyHistogram h;
  for (uint64_t us = 1; us <= 10000; ++us) h.Add(us);
  EXPECT_EQ(h.Count(), 10000u);
  EXPECT_NEAR(double(h.Percentile(0.5)), 5000.0, 5000.0 / 32);
  EXPECT_NEAR(double(h.Percentile(0.99)), 9900.0, 9900.0 / 32);
  EXPECT_EQ(h.Percentile(1.0), 10000u);
  EXPECT_EQ(h.Percentile(0.0), 1u);

  TLatencyHistogram small;
  for (uint64_t us : {3u, 3u, 40u}) small.Add(us);
  EXPECT_EQ(small.Percentile(0.5), 3u);  // exact below 64 us
  small.Merge(h);
  EXPECT_EQ(small.Count(), 10003u);
  small.Add(uint64_t(1) << 62);  // far beyond any delay still has a bucket
  EXPECT_EQ(small.Max(), uint64_t(1) << 62);
}

}  // namespace
