// What the host gives strangers and hostile players over loopback: nothing
// before a login passes, one login per connection, a goodbye that ends the
// connection, a hold-back on addresses that keep guessing the password,
// relayed moves that are checked and rationed, names that cannot pass for
// someone else, and start cells that stay on the map.
#include <algorithm>
#include <set>

#include "HostFixture.h"
#include "host/HostLimits.h"
#include "platform/Text1252.h"
#include "platform/Tick.h"

namespace {

using AdmissionTest = THostTest;

const std::string Refused = Frame(MsgError, "Mot de passe invalide");

bool RowSaid(const TRecordingList& list, const std::string& text) {
  return std::any_of(list.Changes.begin(), list.Changes.end(),
                     [&](const auto& change) { return change.Text == text; });
}

// A password host: a silent stranger, a bare connect that closes, a refused
// login and messages sent before any login change nothing for the players,
// who hear of none of them, while the stranger hears nothing of the game.
TEST_F(AdmissionTest, StrangersHearNothingAndNobodyHearsOfThem) {
  Settings.Password = "pw";
  StartHost();
  auto stranger = Connect();
  auto ann = Connect();
  ann->SendFrame(MsgPassword, "pw");
  Join(*ann, "Ann", 0);

  Connect()->Close();
  ASSERT_TRUE(PumpUntil([&] { return Sessions().Count() == 2; }));
  auto guesser = Connect();
  guesser->Send(Frame(MsgPassword, "nope") + Frame(MsgJoin, "Guesser"));
  ASSERT_TRUE(guesser->WaitClosed());
  EXPECT_EQ(guesser->Received, Refused);
  for (uint32_t id : {MsgChat, MsgLeave, MsgPosition, MsgWalk}) {
    SCOPED_TRACE(id);
    auto early = Connect();
    early->SendFrame(id, id == MsgChat ? std::string("salut") : Packed(1) + Packed(2) + Packed(3));
    ASSERT_TRUE(early->WaitClosed());
    EXPECT_EQ(early->Received, "");
    EXPECT_TRUE(RowSaid(List, "Message #" + std::to_string(id) + std::string(" avant la connexion"_cp)));
  }

  auto bob = Connect();
  bob->SendFrame(MsgPassword, "pw");
  Join(*bob, "Bob", 1);
  // Ann hears of Bob and of nobody else; the stranger of nobody at all.
  std::vector<TRawFrame> heard = ann->FramesWithin(200);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0].Id, uint32_t(MsgPlayer));
  EXPECT_EQ(heard[0].Payload.substr(heard[0].Payload.size() - 3), "Bob");
  bob->SendFrame(MsgChat, "secret");
  bob->SendFrame(MsgWalk, Packed(130) + Packed(126));
  ExpectFrame(*ann, MsgChat, Id(2) + "secret");
  ExpectFrame(*ann, MsgWalk, Id(2) + Packed(130) + Packed(126));
  EXPECT_EQ(Host->Announce().Players, 2) << "discovery counts the admitted only";
  bob->SendFrame(MsgLeave, "");
  ExpectFrame(*ann, MsgLeave, Id(2) + '\0');
  EXPECT_TRUE(stranger->FramesWithin(200).empty());
  EXPECT_TRUE(stranger->Received.empty());

  // The stranger's end is nobody's news either.
  stranger->Close();
  ASSERT_TRUE(PumpUntil([&] { return Sessions().Count() == 1; }));
  ExpectNothing(*ann);
}

// A second 3 or a 1 after the login changes nothing; a 7 is announced once
// with flag 0 and ends the connection, so what follows it in the same read
// never reaches anyone and the player cannot come back under a new name.
TEST_F(AdmissionTest, OneLoginPerConnectionAndAGoodbyeEndsIt) {
  StartHost();
  auto ann = Connect();
  auto bob = Connect();
  Join(*ann, "Ann", 0);
  Join(*bob, "Bob", 1);
  ann->FramesWithin(50);
  const std::string bobId = Id(1);

  bob->Send(Frame(MsgJoin, "Phantom") + Frame(MsgPassword, "x") + Frame(MsgJoin, "Phantom2"));
  bob->SendFrame(MsgChat, "encore moi");
  ExpectFrame(*ann, MsgChat, bobId + "encore moi");
  ExpectFrame(*bob, MsgChatAck, "");
  ExpectNothing(*ann);
  ExpectNothing(*bob);
  EXPECT_EQ(Session(1).Name(), "Bob");
  EXPECT_TRUE(RowSaid(List, "Deuxième connexion ignorée"_cp));
  EXPECT_TRUE(RowSaid(List, "Mot de passe après la connexion ignoré"_cp));

  bob->Send(Frame(MsgLeave, "") + Frame(MsgChat, std::string("fantôme"_cp)) + Frame(MsgJoin, "Ghost") +
            Frame(MsgWalk, Packed(1) + Packed(1)));
  ExpectFrame(*ann, MsgLeave, bobId + '\0');
  ASSERT_TRUE(bob->WaitClosed());
  ASSERT_TRUE(PumpUntil([&] { return Sessions().Count() == 1; }));
  ExpectNothing(*ann);
}

// Five refused logins within a minute hold the address back: its next
// connections are told to wait and closed, without a password check, while
// another address logs in as usual.  The hold ends on the clock; guessing on
// doubles it.
TEST_F(AdmissionTest, GuessingHoldsItsAddressBackWhileOthersLogIn) {
  TTestClock clock;
  Settings.Password = "sésame"_cp;
  StartHost();
  const uint16_t port = Host->GameServer()->Port();
  auto guess = [&](const std::string& password) {
    TRawClient guesser(port, 0, "127.0.0.2");
    guesser.Send(Frame(MsgPassword, password) + Frame(MsgJoin, "Guesser"));
    EXPECT_TRUE(guesser.WaitClosed());
    return guesser.Received;
  };
  const std::string HeldBack = Frame(MsgError, TooManyGuessesText);
  auto guessUntilHeld = [&] {
    for (int i = 0; i < TGuessGate::RefusalsAllowed; ++i) {
      clock.Advance(1000);
      EXPECT_EQ(guess("essai" + std::to_string(i)), Refused);
    }
  };
  guessUntilHeld();
  EXPECT_TRUE(RowSaid(List, "Trop d'essais : adresse retenue 1 min"_cp));
  EXPECT_EQ(guess("sésame"_cp), HeldBack) << "the right password is not even tried";
  EXPECT_TRUE(RowSaid(List, TooManyGuessesText));

  auto ann = Connect();
  ann->SendFrame(MsgPassword, "sésame"_cp);
  Join(*ann, "Ann", 0);

  clock.Advance(TGuessGate::FirstHoldMs);
  guessUntilHeld();
  clock.Advance(TGuessGate::FirstHoldMs);
  EXPECT_EQ(guess("encore"), HeldBack) << "a second hold lasts twice as long";
  clock.Advance(TGuessGate::FirstHoldMs);
  TRawClient player(port, 0, "127.0.0.2");
  player.SendFrame(MsgPassword, "sésame"_cp);
  Join(player, "Player", 1);
  ExpectFrame(*ann, MsgPlayer, Id(1) + Packed(0) + Packed(127) + Packed(128) + '\0' + "Player");
}

TEST(GuessGate, HoldsDoubleWhileGuessingGoesOnAndAreForgivenAfterwards) {
  TGuessGate gate;
  uint32_t now = 5000;
  auto refuseAll = [&](const std::string& source) {
    uint32_t hold = 0;
    for (int i = 0; i < TGuessGate::RefusalsAllowed; ++i) hold = gate.Refused(source, now += 100);
    return hold;
  };
  // Four within a minute and a fifth later start nothing.
  for (int i = 0; i < TGuessGate::RefusalsAllowed - 1; ++i) EXPECT_EQ(gate.Refused("a", now += 1000), 0u);
  EXPECT_EQ(gate.Refused("a", now += TGuessGate::RefusalWindowMs), 0u);
  EXPECT_FALSE(gate.HeldBack("a", now));

  std::vector<uint32_t> holds;
  for (int round = 0; round < 6; ++round) {
    holds.push_back(refuseAll("b"));
    EXPECT_TRUE(gate.HeldBack("b", now));
    EXPECT_FALSE(gate.HeldBack("c", now));
    now += holds.back();
    EXPECT_FALSE(gate.HeldBack("b", now));
  }
  const uint32_t minute = 60 * 1000;
  EXPECT_EQ(holds,
            (std::vector<uint32_t>{minute, 2 * minute, 4 * minute, 8 * minute, 15 * minute, 15 * minute}));
  // Quiet for the longest hold: the next guessing starts from a minute.
  now += TGuessGate::LongestHoldMs;
  EXPECT_EQ(refuseAll("b"), minute);

  // Past MaxSources, the sources that hold nothing make room; held ones stay.
  for (std::size_t i = 0; i < TGuessGate::MaxSources + 10; ++i) gate.Refused("s" + std::to_string(i), now);
  EXPECT_LE(gate.Sources(), TGuessGate::MaxSources);
  EXPECT_TRUE(gate.HeldBack("b", now));
  now += TGuessGate::RefusalWindowMs;
  EXPECT_EQ(refuseAll("late"), minute) << "a newcomer is still counted once the others age";
}

TEST(GuessGate, PasswordsCompareWholeAndNamesComeOutClean) {
  const std::string password = "sésame"_cp;
  EXPECT_TRUE(ConstantTimeEquals(password, std::string("sésame"_cp)));
  EXPECT_TRUE(ConstantTimeEquals("", ""));
  for (const std::string& other : {std::string("sésam"_cp), std::string("sésame!"_cp), std::string(),
                                   std::string("Sésame"_cp), std::string("sésamf"_cp)})
    EXPECT_FALSE(ConstantTimeEquals(password, other)) << other;
  EXPECT_FALSE(ConstantTimeEquals(std::string("ab\0", 3), "ab"));

  EXPECT_EQ(CleanName(std::string("  Alice nous quitte sans prévenir"_cp) + std::string(120, ' ')),
            "Alice nous quitte sans p");
  EXPECT_EQ(CleanName("\tBo\x01"
                      "b\r\n "),
            "Bob");
  EXPECT_EQ(CleanName(""), "guest");
  EXPECT_EQ(CleanName(" \x7F\x1B  "), "guest");
  EXPECT_EQ(CleanName(std::string(23, 'x') + " y"), std::string(23, 'x'));
  EXPECT_TRUE(SameName("Alice", "aLICE"));
  EXPECT_FALSE(SameName("Alice", "Alice2"));
  EXPECT_FALSE(SameName(std::string("élise"_cp), std::string("Élise"_cp))) << "only ASCII letters fold";
}

// Moves that are not exactly the integers of a cell (and a direction) on
// the map end their sender with "Erreur de flux 2", relaying nothing; the
// others hear of a departure without warning.  Valid walks past ten a
// second are dropped.
TEST_F(AdmissionTest, RelayedMovesAreCheckedAndRationed) {
  TTestClock clock;
  StartHost();
  auto ann = Connect();
  Join(*ann, "Ann", 0);
  const struct {
    uint32_t Id;
    std::string Payload;
  } bad[] = {
      {MsgWalk, Packed(1) + Packed(2) + Packed(3)},            // one too many
      {MsgWalk, Packed(1)},                                    // one short
      {MsgWalk, Packed(256) + Packed(1)},                      // off the map
      {MsgWalk, Packed(1) + "\x85"},                           // cut short
      {MsgWalk, std::string(60000, '\x01')},                   // 60 KB
      {MsgPosition, Packed(1) + Packed(2) + Packed(8)},        // no ninth direction
      {MsgPosition, Packed(1) + Packed(2)},                    // no direction
      {MsgPosition, Packed(1) + Packed(1000000) + Packed(0)},  // off the map
  };
  for (const auto& move : bad) {
    SCOPED_TRACE(move.Payload.size());
    auto bob = Connect();
    Join(*bob, "Bob", 1);
    ann->FramesWithin(50);
    const std::string bobId = Id(1), caption = Session(1).Row().Caption();
    bob->SendFrame(move.Id, move.Payload);
    ASSERT_TRUE(bob->WaitClosed());
    ExpectFrame(*ann, MsgLeave, bobId + '\1');
    ExpectNothing(*ann);
    EXPECT_TRUE(std::any_of(List.Changes.begin(), List.Changes.end(), [&](const auto& change) {
      return change.Caption == caption && change.Text == "Erreur de flux 2";
    }));
  }

  auto bob = Connect();
  Join(*bob, "Bob", 1);
  ann->FramesWithin(50);
  std::string burst;
  for (int i = 0; i < 15; ++i) burst += Frame(MsgWalk, Packed(100 + i) + Packed(100));
  bob->Send(burst);
  std::vector<TRawFrame> walks = ann->FramesWithin(300);
  ASSERT_EQ(walks.size(), std::size_t(MaxMovesPerSecond));
  EXPECT_EQ(walks.back().Payload, Id(1) + Packed(109) + Packed(100));
  clock.Advance(1000);
  bob->SendFrame(MsgWalk, Packed(200) + Packed(200));
  ExpectFrame(*ann, MsgWalk, Id(1) + Packed(200) + Packed(200));
  EXPECT_FALSE(bob->PeerClosed);
}

// Names lose what could make them pass for a line of the game's, are cut,
// and are unique among the players present; chat lines are cut too.
TEST_F(AdmissionTest, NamesAreCleanedAndUniqueAndChatLinesBounded) {
  StartHost();
  auto ann = Connect();
  ann->SendFrame(MsgJoin, std::string("  Alice nous quitte sans prévenir"_cp) + std::string(120, ' '));
  ExpectFrame(*ann, MsgJoin, Id(0));
  ExpectFrame(*ann, MsgPosition, Id(0) + Packed(0) + Packed(127) + Packed(127) + Packed(0));
  EXPECT_EQ(Session(0).Name(), "Alice nous quitte sans p");

  auto twin = Connect();
  twin->SendFrame(MsgJoin, "alice NOUS quitte sans p\r");
  ASSERT_TRUE(twin->WaitClosed());
  EXPECT_EQ(twin->Received, Frame(MsgError, NameTakenText));
  ExpectNothing(*ann);

  auto nameless = Connect();
  Join(*nameless, "\x01  ", 1);
  ExpectFrame(*ann, MsgPlayer, Id(1) + Packed(0) + Packed(127) + Packed(128) + '\0' + "guest");
  auto second = Connect();
  second->SendFrame(MsgJoin, "");
  ASSERT_TRUE(second->WaitClosed());
  EXPECT_EQ(second->Received, Frame(MsgError, NameTakenText)) << "one guest at a time";

  nameless->SendFrame(MsgChat, std::string(300, 'c'));
  ExpectFrame(*ann, MsgChat, Id(1) + std::string(MaxChatBytes, 'c'));
  ExpectFrame(*nameless, MsgChatAck, "");
}

// However many came before, a newcomer starts on the map: the written rows
// while they fit, then the columns beside them, no cell given twice before
// every one of them is.
TEST(StartCells, TheWrittenRowsThenTheNeighbouringColumnsAlwaysOnTheMap) {
  EXPECT_EQ(TZULSession::StartCell(1).Y, 127);
  EXPECT_EQ(TZULSession::StartCell(3).Y, 129);
  std::set<std::pair<int32_t, int32_t>> given;
  const int cells = 255 * 129;
  for (int number = 1; number <= cells + 1000; ++number) {
    const TZULSession::TCell cell = TZULSession::StartCell(number);
    ASSERT_TRUE(cell.X >= 0 && cell.X < 256 && cell.Y >= 0 && cell.Y < 256) << number;
    if (number <= 129) {
      EXPECT_EQ(cell.X, 127);
    }
    if (number <= cells) {
      EXPECT_TRUE(given.insert({cell.X, cell.Y}).second) << number;
    }
  }
}

// Many idle strangers do not push a newcomer off the written row.
TEST_F(AdmissionTest, IdleStrangersDoNotMoveTheNewcomersStart) {
  StartHost();
  std::vector<std::unique_ptr<TRawClient>> strangers;
  for (int i = 0; i < 40; ++i) strangers.push_back(Connect());
  auto ann = Connect();
  ann->SendFrame(MsgJoin, "Ann");
  ExpectFrame(*ann, MsgJoin, Id(40));
  ExpectFrame(*ann, MsgPosition, Id(40) + Packed(0) + Packed(127) + Packed(127) + Packed(0));
  ExpectNothing(*ann);
}

}  // namespace
