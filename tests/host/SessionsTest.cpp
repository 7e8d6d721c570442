// The host's side of the players over loopback: the login road byte for
// byte, start cells, password rules, relaying, departures, and what a faulty
// connection does to the others.
#include <sys/socket.h>

#include <algorithm>

#include "HostFixture.h"
#include "platform/Text1252.h"

namespace {

using SessionsTest = THostTest;

const std::string Refused = Frame(MsgError, "Mot de passe invalide");
// Reserved 0, column 127, then the start row.
std::string Cell(uint32_t row) { return Packed(0) + Packed(127) + Packed(row); }

TEST_F(SessionsTest, LoginIntroducesEveryoneByteForByteWithStartRowsFromTheConnectionCount) {
  StartHost();
  auto silent = Connect();  // never sends its name
  auto bob = Connect();
  bob->SendFrame(MsgJoin, "Bob");
  std::string expected = Frame(MsgJoin, Id(1)) + Frame(MsgPosition, Id(1) + Cell(128) + Packed(0)) +
                         Frame(MsgPlayer, Id(0) + Cell(127) + '\1');
  ASSERT_TRUE(bob->WaitBytes(expected.size()));
  EXPECT_EQ(bob->Received, expected);
  bob->Received.clear();
  ExpectFrame(*silent, MsgPlayer, Id(1) + Cell(128) + '\0' + "Bob");
  EXPECT_EQ(List.Changes[0].Text, "guest|connexion|00:00:00");
  EXPECT_EQ(Session(1).Row().Caption(), "127.0.0.1/" + std::to_string(Session(1).Handle()));
  EXPECT_EQ(Session(1).Row().SubItem(TSessionRow::PlayerColumn), "Bob");

  auto cy = Connect();
  cy->SendFrame(MsgJoin, "Cy");
  expected = Frame(MsgJoin, Id(2)) + Frame(MsgPosition, Id(2) + Cell(129) + Packed(0)) +
             Frame(MsgPlayer, Id(0) + Cell(127) + '\1') + Frame(MsgPlayer, Id(1) + Cell(128) + '\1' + "Bob");
  ASSERT_TRUE(cy->WaitBytes(expected.size()));
  EXPECT_EQ(cy->Received, expected);
  ExpectFrame(*silent, MsgPlayer, Id(2) + Cell(129) + '\0' + "Cy");
  ExpectFrame(*bob, MsgPlayer, Id(2) + Cell(129) + '\0' + "Cy");

  // Cy walks away; Bob leaves; a fourth player starts in row 129 too and is
  // told the others' start cells, not where they stand.
  cy->SendFrame(MsgPosition, Packed(10) + Packed(20) + Packed(3));
  for (TRawClient* other : {silent.get(), bob.get()})
    ExpectFrame(*other, MsgPosition, Id(2) + Packed(0) + Packed(10) + Packed(20) + Packed(3));
  std::string bobId = Id(1), cyId = Id(2);
  bob->Close();
  ExpectFrame(*silent, MsgLeave, bobId + '\1');
  auto dan = Connect();
  dan->SendFrame(MsgJoin, "Dan");
  ExpectFrame(*dan, MsgJoin, Id(2));
  ExpectFrame(*dan, MsgPosition, Id(2) + Cell(129) + Packed(0));
  ExpectFrame(*dan, MsgPlayer, Id(0) + Cell(127) + '\1');
  ExpectFrame(*dan, MsgPlayer, cyId + Cell(129) + '\1' + "Cy");
}

TEST_F(SessionsTest, PasswordIsCheckedAtEveryMessageAndTheRefusalArrivesBeforeTheEnd) {
  Settings.Password = "sésame"_cp;
  StartHost();
  auto good = Connect();
  good->SendFrame(MsgPassword, "sésame"_cp);
  Join(*good, "Good", 0);

  // Refused with input still on its way: the refusal must not be lost.
  auto wrong = Connect();
  std::string wrongId = Id(1);
  wrong->Send(Frame(MsgPassword, "sesame") + Frame(MsgJoin, "Bad") + Frame(MsgChat, std::string(50000, 'x')));
  ASSERT_TRUE(wrong->WaitClosed());
  EXPECT_EQ(wrong->Received, Refused);
  ExpectFrame(*good, MsgLeave, wrongId + '\1');
  EXPECT_EQ(Sessions().Count(), 1);

  // No password: a chat line is refused alike.  A later 1 decides.
  auto none = Connect();
  none->SendFrame(MsgChat, "hello");
  ASSERT_TRUE(none->WaitClosed());
  EXPECT_EQ(none->Received, Refused);
  auto second = Connect();
  second->Send(Frame(MsgPassword, "x") + Frame(MsgPassword, "sésame"_cp));
  Join(*second, "Second", 1);
  auto changed = Connect();
  changed->Send(Frame(MsgPassword, "sésame"_cp) + Frame(MsgPassword, "") + Frame(MsgWalk, Packed(1)));
  ASSERT_TRUE(changed->WaitClosed());
  EXPECT_EQ(changed->Received, Refused);

  // A host without a password refuses a client that sends one.
  Host.reset();
  Settings.Password.clear();
  StartHost();
  auto eager = Connect();
  eager->Send(Frame(MsgPassword, "secret") + Frame(MsgPosition, Packed(1)));
  ASSERT_TRUE(eager->WaitClosed());
  EXPECT_EQ(eager->Received, Refused);
}

TEST_F(SessionsTest, ChatAndMovementAreRelayedBehindTheSenderIdAndUnknownIdsSkipped) {
  StartHost();
  auto a = Connect();
  auto b = Connect();
  auto c = Connect();  // not logged in, still addressed
  Join(*a, "A", 2);
  Join(*b, "B", 2);
  a->FramesWithin(50);
  c->FramesWithin(50);

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

  // Payloads that are no valid numbers travel as they came; an unknown id
  // with ten bytes is skipped whole.
  std::string position = Packed(300) + Packed(16384) + "\x85", walk = Packed(2147483647) + "\x80";
  a->Send(Frame(MsgPosition, position) + Frame(42, "0123456789") + Frame(MsgWalk, walk));
  ExpectFrame(*b, MsgPosition, Id(0) + Packed(0) + position);
  ExpectFrame(*b, MsgWalk, Id(0) + walk);
  ExpectFrame(*c, MsgPosition, Id(0) + Packed(0) + position);
  ExpectNothing(*a);
}

TEST_F(SessionsTest, DeparturesAreAnnouncedOnceAndFaultsCloseOnlyTheirOwnSession) {
  StartHost();
  auto a = Connect();
  auto b = Connect();
  auto big = Connect();
  Join(*a, "A", 2);
  Join(*b, "B", 2);
  a->FramesWithin(50);

  // A says goodbye twice and leaves: one 7, flag 0.
  std::string aId = Id(0), bId = Id(1), bigId = Id(2);
  a->SendFrame(MsgLeave, "");
  a->SendFrame(MsgLeave, "");
  ExpectFrame(*b, MsgLeave, aId + '\0');
  a->Close();
  ASSERT_TRUE(PumpUntil([&] { return Sessions().Count() == 2; }));
  ExpectNothing(*b);

  // 2 MiB announced: refused before any of it came.
  big->Send(Packed(MsgChat) + Packed(2 * 1024 * 1024) + "x");
  ASSERT_TRUE(big->WaitClosed());
  ExpectFrame(*b, MsgLeave, bigId + '\1');

  // A 7 before the password check passed is ignored; the end is announced.
  Settings.Password = "pw";
  auto intruder = Connect();
  std::string intruderId = Id(1);
  intruder->SendFrame(MsgLeave, "");
  intruder->Close();
  ExpectFrame(*b, MsgLeave, intruderId + '\1');

  // The host can no longer send to B: C's broadcast marks B, not C.
  Settings.Password.clear();
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
  Join(*chatter, "Chatter", 2);
  Join(*reader, "Reader", 2);
  chatter->FramesWithin(50);

  // Far more than the cap and the socket buffers together.
  const std::string line(60000, 'z');
  constexpr int MostLines = 100;
  size_t mostHeld = 0;
  int lines = 0;
  for (; lines < MostLines && Sessions().Count() == 3; ++lines) {
    chatter->SendFrame(MsgChat, line);
    ExpectFrame(*reader, MsgChat, Id(0) + line);
    ExpectFrame(*chatter, MsgChatAck, "");
    if (Sessions().Count() == 3) mostHeld = std::max(mostHeld, asleep->IO->OutBuffer().size());
  }
  EXPECT_LT(lines, MostLines) << "the sleeper was never released";
  EXPECT_LE(mostHeld, MaxUnsentBytes);
  EXPECT_GT(mostHeld, MaxUnsentBytes / 2);
  ExpectFrame(*reader, MsgLeave, sleeperId + '\1');
  ExpectFrame(*chatter, MsgLeave, sleeperId + '\1');
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
