// The host's side of the players over loopback: the login road byte for
// byte, start cells, password rules, relaying, departures, and what a faulty
// connection does to the others.  What strangers and hostile players get is
// in AdmissionTest.
#include <sys/socket.h>

#include <algorithm>

#include "HostFixture.h"
#include "host/HostLimits.h"
#include "platform/Text1252.h"

namespace {

using SessionsTest = THostTest;

const std::string Refused = Frame(MsgError, "Mot de passe invalide");
// Reserved 0, column 127, then the start row.
std::string Cell(uint32_t row) { return Packed(0) + Packed(127) + Packed(row); }

TEST_F(SessionsTest, LoginIntroducesEveryAdmittedPlayerByteForByteWithStartRowsFromTheirCount) {
  StartHost();
  auto silent = Connect();  // never logs in: counted nowhere, told nothing
  auto bob = Connect();
  bob->SendFrame(MsgJoin, "Bob");
  std::string expected = Frame(MsgJoin, Id(1)) + Frame(MsgPosition, Id(1) + Cell(127) + Packed(0));
  ASSERT_TRUE(bob->WaitBytes(expected.size()));
  EXPECT_EQ(bob->Received, expected);
  bob->Received.clear();
  EXPECT_EQ(List.Changes[0].Text, "guest|connexion|00:00:00");
  EXPECT_EQ(Session(1).Row().Caption(), "127.0.0.1/" + std::to_string(Session(1).Handle()));
  EXPECT_EQ(Session(1).Row().SubItem(TSessionRow::PlayerColumn), "Bob");

  auto cy = Connect();
  cy->SendFrame(MsgJoin, "Cy");
  expected = Frame(MsgJoin, Id(2)) + Frame(MsgPosition, Id(2) + Cell(128) + Packed(0)) +
             Frame(MsgPlayer, Id(1) + Cell(127) + '\1' + "Bob");
  ASSERT_TRUE(cy->WaitBytes(expected.size()));
  EXPECT_EQ(cy->Received, expected);
  cy->Received.clear();
  ExpectFrame(*bob, MsgPlayer, Id(2) + Cell(128) + '\0' + "Cy");

  // Cy walks away; Bob leaves; a third player starts in row 128 too and is
  // told Cy's start cell, not where Cy stands.
  cy->SendFrame(MsgPosition, Packed(10) + Packed(20) + Packed(3));
  ExpectFrame(*bob, MsgPosition, Id(2) + Packed(0) + Packed(10) + Packed(20) + Packed(3));
  std::string bobId = Id(1), cyId = Id(2);
  bob->Close();
  ExpectFrame(*cy, MsgLeave, bobId + '\1');
  auto dan = Connect();
  dan->SendFrame(MsgJoin, "Dan");
  ExpectFrame(*dan, MsgJoin, Id(2));
  ExpectFrame(*dan, MsgPosition, Id(2) + Cell(128) + Packed(0));
  ExpectFrame(*dan, MsgPlayer, cyId + Cell(128) + '\1' + "Cy");
  ExpectNothing(*dan);
  EXPECT_TRUE(silent->Received.empty() && silent->FramesWithin(50).empty()) << "a stranger heard the game";
}

TEST_F(SessionsTest, PasswordIsCheckedOnceAtLoginAndTheRefusalArrivesBeforeTheEnd) {
  Settings.Password = "sésame"_cp;
  StartHost();
  auto good = Connect();
  good->SendFrame(MsgPassword, "sésame"_cp);
  Join(*good, "Good", 0);

  // Refused with input still on its way: the refusal must not be lost, and
  // nobody hears of the refused connection.
  auto wrong = Connect();
  wrong->Send(Frame(MsgPassword, "sesame") + Frame(MsgJoin, "Bad") + Frame(MsgChat, std::string(50000, 'x')));
  ASSERT_TRUE(wrong->WaitClosed());
  EXPECT_EQ(wrong->Received, Refused);
  EXPECT_EQ(Sessions().Count(), 1);

  // The last 1 before the login is the one checked.
  auto second = Connect();
  second->Send(Frame(MsgPassword, "x") + Frame(MsgPassword, "sésame"_cp));
  Join(*second, "Second", 1);
  ExpectFrame(*good, MsgPlayer, Id(1) + Cell(128) + '\0' + "Second");
  auto changed = Connect();
  changed->Send(Frame(MsgPassword, "sésame"_cp) + Frame(MsgPassword, "") + Frame(MsgJoin, "Changed"));
  ASSERT_TRUE(changed->WaitClosed());
  EXPECT_EQ(changed->Received, Refused);
  ExpectNothing(*good);

  // A host without a password refuses a client that sends one.
  Host.reset();
  Settings.Password.clear();
  StartHost();
  auto eager = Connect();
  eager->Send(Frame(MsgPassword, "secret") + Frame(MsgJoin, "Eager"));
  ASSERT_TRUE(eager->WaitClosed());
  EXPECT_EQ(eager->Received, Refused);
}

TEST_F(SessionsTest, ChatAndMovementAreRelayedBehindTheSenderIdAndUnknownIdsSkipped) {
  StartHost();
  auto a = Connect();
  auto b = Connect();
  auto c = Connect();
  Join(*a, "A", 0);
  Join(*b, "B", 1);
  Join(*c, "C", 2);
  a->FramesWithin(50);
  b->FramesWithin(50);

  std::string line("salut\0\r\n\xE9", 9);
  a->SendFrame(MsgChat, line);
  ExpectFrame(*b, MsgChat, Id(0) + line);
  ExpectFrame(*c, MsgChat, Id(0) + line);
  ExpectFrame(*a, MsgChatAck, "");
  EXPECT_EQ(Session(0).Row().SubItem(TSessionRow::StatusColumn), line);

  // An empty line, then 6 from a client: nothing goes out, only 6 shows.
  auto statusChanges = [&] {
    return std::count_if(List.Changes.begin(), List.Changes.end(),
                         [](const auto& change) { return change.Column == TSessionRow::StatusColumn; });
  };
  auto before = statusChanges();
  a->SendFrame(MsgChat, "");
  ExpectNothing(*a);
  ExpectNothing(*b);
  EXPECT_EQ(statusChanges(), before);
  a->SendFrame(MsgChatAck, "");
  ExpectNothing(*b);
  EXPECT_EQ(Session(0).Row().SubItem(TSessionRow::StatusColumn), "Message inconnu (#6)");

  // Moves travel byte for byte as they came (the map's edges included); an
  // unknown id with ten bytes is skipped whole.
  std::string position = Packed(255) + Packed(0) + Packed(7), walk = Packed(0) + Packed(255);
  a->Send(Frame(MsgPosition, position) + Frame(42, "0123456789") + Frame(MsgWalk, walk));
  ExpectFrame(*b, MsgPosition, Id(0) + Packed(0) + position);
  ExpectFrame(*b, MsgWalk, Id(0) + walk);
  ExpectFrame(*c, MsgPosition, Id(0) + Packed(0) + position);
  ExpectFrame(*c, MsgWalk, Id(0) + walk);
  ExpectNothing(*a);
}

TEST_F(SessionsTest, DeparturesAreAnnouncedOnceAndFaultsCloseOnlyTheirOwnSession) {
  StartHost();
  auto a = Connect();
  auto b = Connect();
  auto big = Connect();
  Join(*a, "A", 0);
  Join(*b, "B", 1);
  Join(*big, "Big", 2);
  a->FramesWithin(50);
  b->FramesWithin(50);

  // A says goodbye twice: one 7, flag 0, and the host ends A's connection.
  std::string aId = Id(0), bId = Id(1), bigId = Id(2);
  a->Send(Frame(MsgLeave, "") + Frame(MsgLeave, ""));
  ExpectFrame(*b, MsgLeave, aId + '\0');
  ASSERT_TRUE(a->WaitClosed());
  ASSERT_TRUE(PumpUntil([&] { return Sessions().Count() == 2; }));
  ExpectNothing(*b);

  // 2 MiB announced: refused before any of it came.
  big->Send(Packed(MsgChat) + Packed(2 * 1024 * 1024) + "x");
  ASSERT_TRUE(big->WaitClosed());
  ExpectFrame(*b, MsgLeave, bigId + '\1');

  // The host can no longer send to B: C's broadcast marks B, not C.
  auto c = Connect();
  Join(*c, "C", 1);
  b->FramesWithin(50);
  ASSERT_EQ(::shutdown(static_cast<int>(Session(0).Handle()), SHUT_WR), 0);
  c->SendFrame(MsgChat, "hop");
  ExpectFrame(*c, MsgChatAck, "");
  EXPECT_TRUE(Session(0).Closing);
  EXPECT_FALSE(Session(1).Closing);
  b->Send("x");  // B's own next event releases it
  ExpectFrame(*c, MsgLeave, bId + '\1');
  EXPECT_EQ(Sessions().Count(), 1);
}

// A peer that never reads while the others chat: what is relayed to it
// piles up in the host until its unsent output would pass the cap; then it
// is released as a departure without warning, and the host holds no more
// than the cap for it meanwhile.
TEST_F(SessionsTest, PeerThatNeverReadsIsReleasedAtTheCapAndTheOthersAreTold) {
  StartHost();
  auto chatter = Connect();
  auto reader = Connect();
  constexpr int SmallBufferBytes = 4096;
  int before = Sessions().Count();
  TRawClient sleeper(Host->GameServer()->Port(), SmallBufferBytes);
  ASSERT_TRUE(PumpUntil([&] { return Sessions().Count() == before + 1; }));
  TZULSession* asleep = &Session(2);
  std::string sleeperId = Id(2), caption = asleep->Row().Caption();
  Join(*chatter, "Chatter", 0);
  Join(*reader, "Reader", 1);
  Join(sleeper, "Sleeper", 2);
  chatter->FramesWithin(50);
  reader->FramesWithin(50);

  // Far more than the cap and the socket buffers together, in bursts of
  // the longest lines a player may send.
  const std::string line(MaxChatBytes, 'z');
  constexpr int BurstLines = 256;
  std::string burst;
  for (int i = 0; i < BurstLines; ++i) burst += Frame(MsgChat, line);
  // Takes a burst's frames; the sleeper's departure may come among them.
  int departuresHeard = 0;
  auto takeBurst = [&](TRawClient& client, uint32_t id, const std::string& payload) {
    for (int got = 0; got < BurstLines;) {
      TRawFrame frame;
      ASSERT_TRUE(client.NextFrame(frame));
      if (frame.Id == MsgLeave && frame.Payload == sleeperId + '\1') {
        ++departuresHeard;
        continue;
      }
      ASSERT_EQ(frame.Id, id);
      ASSERT_EQ(frame.Payload, payload);
      ++got;
    }
  };
  const std::string chatterId = Id(0);
  constexpr int MostLines = 100;
  size_t mostHeld = 0;
  int lines = 0;
  for (; lines < MostLines && Sessions().Count() == 3; ++lines) {
    chatter->Send(burst);
    takeBurst(*reader, MsgChat, chatterId + line);
    takeBurst(*chatter, MsgChatAck, "");
    if (Sessions().Count() == 3) mostHeld = std::max(mostHeld, asleep->IO->OutBuffer().size());
  }
  EXPECT_LT(lines, MostLines) << "the sleeper was never released";
  EXPECT_LE(mostHeld, MaxUnsentBytes);
  EXPECT_GT(mostHeld, MaxUnsentBytes / 2);
  while (departuresHeard < 2) {
    TRawFrame frame;
    ASSERT_TRUE(reader->NextFrame(frame, 100) || chatter->NextFrame(frame)) << "the departure went unheard";
    EXPECT_EQ(frame.Id, uint32_t(MsgLeave));
    EXPECT_EQ(frame.Payload, sleeperId + '\1');
    ++departuresHeard;
  }
  ExpectNothing(*reader);
  ExpectNothing(*chatter);
  ASSERT_EQ(Sessions().Count(), 2);
  auto said = std::find_if(List.Changes.begin(), List.Changes.end(), [&](const auto& change) {
    return change.Caption == caption && change.Column == TSessionRow::StatusColumn;
  });
  ASSERT_NE(said, List.Changes.end());
  EXPECT_EQ(said->Text, std::string("Trop de données en attente"_cp));

  // The others go on as before.
  reader->SendFrame(MsgWalk, Packed(3) + Packed(4));
  ExpectFrame(*chatter, MsgWalk, Id(1) + Packed(3) + Packed(4));
}

}  // namespace
