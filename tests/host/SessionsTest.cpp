// The host's side of the players, through real loopback connections: the
// login road byte for byte, start cells, password rules, relaying of chat
// and movement, departures, and what a faulty connection does to the others.
#include <sys/socket.h>

#include "HostFixture.h"
#include "platform/Text1252.h"

namespace {

const std::string Refused = Frame(MsgError, "Mot de passe invalide");

class SessionsTest : public THostTest {};

// Packed Reserved (0) and start column (127) in front of the start row.
std::string StartCell(int32_t row) { return Packed(0) + Packed(127) + Packed(static_cast<uint32_t>(row)); }

TEST_F(SessionsTest, LoginAnswersNewcomerAndIntroducesEveryConnectionByteForByte) {
  StartHost();
  auto silent = Connect();  // never sends its name
  auto bob = Connect();
  uint32_t silentId = Session(0).Handle(), bobId = Session(1).Handle();

  bob->SendFrame(MsgJoin, "Bob");
  std::string expected = Frame(MsgJoin, Packed(bobId)) + Frame(MsgPosition, Packed(bobId) + StartCell(128) + Packed(0)) +
                         Frame(MsgPlayer, Packed(silentId) + StartCell(127) + '\1');
  ASSERT_TRUE(bob->WaitBytes(expected.size()));
  EXPECT_EQ(bob->Received, expected);
  bob->Received.clear();
  ExpectFrame(*silent, MsgPlayer, Packed(bobId) + StartCell(128) + '\0' + "Bob");
  EXPECT_EQ(Session(1).Row().SubItem(TSessionRow::PlayerColumn), "Bob");
  EXPECT_EQ(Session(0).Row().SubItem(TSessionRow::PlayerColumn), "guest");
  EXPECT_EQ(Session(1).Row().Caption(), "127.0.0.1/" + std::to_string(bobId));
  ASSERT_EQ(List.Changes[0].Kind, '+');
  EXPECT_EQ(List.Changes[0].Text, "guest|connexion|00:00:00");

  // A third player hears of both others in list order, the unnamed one first.
  auto cy = Connect();
  uint32_t cyId = Session(2).Handle();
  cy->SendFrame(MsgJoin, "Cy");
  expected = Frame(MsgJoin, Packed(cyId)) + Frame(MsgPosition, Packed(cyId) + StartCell(129) + Packed(0)) +
             Frame(MsgPlayer, Packed(silentId) + StartCell(127) + '\1') +
             Frame(MsgPlayer, Packed(bobId) + StartCell(128) + '\1' + "Bob");
  ASSERT_TRUE(cy->WaitBytes(expected.size()));
  EXPECT_EQ(cy->Received, expected);
  std::string announced = Packed(cyId) + StartCell(129) + '\0' + "Cy";
  ExpectFrame(*silent, MsgPlayer, announced);
  ExpectFrame(*bob, MsgPlayer, announced);
  cy->Received.clear();
  ExpectNothing(*cy);
}

TEST_F(SessionsTest, StartRowCountsLiveConnectionsAndNewcomersLearnStartCellsOnly) {
  StartHost();
  auto a = Connect();
  auto b = Connect();
  auto c = Connect();
  Join(*a, "A", 2);
  uint32_t bId = Join(*b, "B", 2);
  uint32_t cId = Join(*c, "C", 2);
  ExpectFrame(*a, MsgPlayer, Packed(bId) + StartCell(128) + '\0' + "B");
  ExpectFrame(*a, MsgPlayer, Packed(cId) + StartCell(129) + '\0' + "C");
  ExpectFrame(*b, MsgPlayer, Packed(cId) + StartCell(129) + '\0' + "C");
  // C walks away from its start cell; the host does not remember it.
  c->SendFrame(MsgPosition, Packed(10) + Packed(20) + Packed(3));
  ExpectFrame(*a, MsgPosition, Packed(cId) + Packed(0) + Packed(10) + Packed(20) + Packed(3));
  ExpectFrame(*b, MsgPosition, Packed(cId) + Packed(0) + Packed(10) + Packed(20) + Packed(3));

  b->Close();
  ExpectFrame(*a, MsgLeave, Packed(bId) + '\1');
  ExpectFrame(*c, MsgLeave, Packed(bId) + '\1');

  auto d = Connect();
  uint32_t dId = Session(2).Handle();
  d->SendFrame(MsgJoin, "D");
  ExpectFrame(*d, MsgJoin, Packed(dId));
  ExpectFrame(*d, MsgPosition, Packed(dId) + StartCell(129) + Packed(0));
  ExpectFrame(*d, MsgPlayer, Packed(Session(0).Handle()) + StartCell(127) + '\1' + "A");
  ExpectFrame(*d, MsgPlayer, Packed(cId) + StartCell(129) + '\1' + "C");
}

TEST_F(SessionsTest, PasswordIsCheckedAtEveryMessageAndRefusalReachesTheClient) {
  Settings.Password = "sésame"_cp;
  StartHost();
  auto good = Connect();
  good->SendFrame(MsgPassword, "sésame"_cp);
  Join(*good, "Good", 0);

  // A wrong password: the refusal arrives before the connection ends, and
  // the others hear of a departure.
  auto wrong = Connect();
  uint32_t wrongId = Session(1).Handle();
  wrong->SendFrame(MsgPassword, "sesame");
  wrong->SendFrame(MsgJoin, "Bad");
  ASSERT_TRUE(wrong->WaitClosed());
  EXPECT_EQ(wrong->Received, Refused);
  ExpectFrame(*good, MsgLeave, Packed(wrongId) + '\1');
  EXPECT_EQ(Sessions().Count(), 1);

  // No password at all: chat is refused the same way, and never relayed.
  auto none = Connect();
  none->SendFrame(MsgChat, "hello");
  ASSERT_TRUE(none->WaitClosed());
  EXPECT_EQ(none->Received, Refused);
  TRawFrame frame;
  ASSERT_TRUE(good->NextFrame(frame));
  EXPECT_EQ(frame.Id, uint32_t(MsgLeave));

  // A later 1 decides: wrong then right is admitted, right then wrong is not.
  auto second = Connect();
  second->SendFrame(MsgPassword, "x");
  second->SendFrame(MsgPassword, "sésame"_cp);
  Join(*second, "Second", 1);
  auto changed = Connect();
  changed->SendFrame(MsgPassword, "sésame"_cp);
  changed->SendFrame(MsgPassword, "");
  changed->SendFrame(MsgWalk, Packed(1) + Packed(2));
  ASSERT_TRUE(changed->WaitClosed());
  EXPECT_EQ(changed->Received, Refused);
}

TEST_F(SessionsTest, HostWithoutPasswordRefusesClientThatSendsOne) {
  StartHost();
  auto plain = Connect();
  Join(*plain, "Plain", 0);
  auto eager = Connect();
  uint32_t eagerId = Session(1).Handle();
  eager->SendFrame(MsgPassword, "secret");
  eager->SendFrame(MsgJoin, "Eager");
  ASSERT_TRUE(eager->WaitClosed());
  EXPECT_EQ(eager->Received, Refused);
  ExpectFrame(*plain, MsgLeave, Packed(eagerId) + '\1');
}

TEST_F(SessionsTest, ChatIsRelayedWithSenderIdAndAcknowledgedButEmptyLinesChangeNothing) {
  StartHost();
  auto a = Connect();
  auto b = Connect();
  uint32_t aId = Join(*a, "A", 1);
  Join(*b, "B", 1);
  ExpectFrame(*a, MsgPlayer, Packed(Session(1).Handle()) + StartCell(128) + '\0' + "B");

  std::string line = std::string("salut\0\r\n\xE9", 9);
  a->SendFrame(MsgChat, line);
  ExpectFrame(*b, MsgChat, Packed(aId) + line);
  ExpectFrame(*a, MsgChatAck, "");
  EXPECT_EQ(Session(0).Row().SubItem(TSessionRow::StatusColumn), line);

  std::string caption = Session(0).Row().Caption();
  int statusChanges = List.ChangesOf(caption, TSessionRow::StatusColumn);
  a->SendFrame(MsgChat, "");
  ExpectNothing(*a);
  ExpectNothing(*b);
  EXPECT_EQ(Session(0).Row().SubItem(TSessionRow::StatusColumn), line);
  EXPECT_EQ(List.ChangesOf(caption, TSessionRow::StatusColumn), statusChanges);
}

TEST_F(SessionsTest, MovementIsRelayedUndecodedBehindTheSenderId) {
  StartHost();
  auto a = Connect();
  auto b = Connect();
  auto c = Connect();  // not logged in: still addressed
  uint32_t aId = Join(*a, "A", 2);
  b->FramesWithin(100);
  c->FramesWithin(100);

  // Bytes that are no valid numbers travel as they came.
  std::string position = Packed(300) + Packed(16384) + "\x85";
  a->SendFrame(MsgPosition, position);
  ExpectFrame(*b, MsgPosition, Packed(aId) + Packed(0) + position);
  ExpectFrame(*c, MsgPosition, Packed(aId) + Packed(0) + position);
  std::string walk = Packed(2147483647) + Packed(0);
  a->SendFrame(MsgWalk, walk);
  ExpectFrame(*b, MsgWalk, Packed(aId) + walk);
  ExpectFrame(*c, MsgWalk, Packed(aId) + walk);
  ExpectNothing(*a);
  EXPECT_TRUE(Session(0).Row().SubItem(TSessionRow::StatusColumn) == "connexion");
}

TEST_F(SessionsTest, DepartureIsAnnouncedOnceAndOnlyForAdmittedPlayers) {
  Settings.Password = "pw";
  StartHost();
  auto a = Connect();
  auto b = Connect();
  a->SendFrame(MsgPassword, "pw");
  b->SendFrame(MsgPassword, "pw");
  uint32_t aId = Join(*a, "A", 1);
  Join(*b, "B", 1);

  a->SendFrame(MsgLeave, "");
  ExpectFrame(*b, MsgLeave, Packed(aId) + '\0');
  a->SendFrame(MsgLeave, "");
  a->Close();
  ASSERT_TRUE(PumpUntil([&] { return Sessions().Count() == 1; }));
  ExpectNothing(*b);

  // An intruder's 7 is ignored; its end is still announced.
  auto intruder = Connect();
  uint32_t intruderId = Session(1).Handle();
  intruder->SendFrame(MsgLeave, "");
  ExpectNothing(*b);
  EXPECT_FALSE(intruder->PeerClosed());
  intruder->Close();
  ExpectFrame(*b, MsgLeave, Packed(intruderId) + '\1');
}

TEST_F(SessionsTest, UnknownIdsAreReportedAndSkippedWhole) {
  StartHost();
  auto a = Connect();
  auto b = Connect();
  Join(*a, "A", 1);
  Join(*b, "B", 1);
  a->FramesWithin(100);

  a->SendFrame(MsgChatAck, "");
  ASSERT_TRUE(PumpUntil([&] { return Session(0).Row().SubItem(TSessionRow::StatusColumn) == "Message inconnu (#6)"; }));
  ExpectNothing(*a);
  ExpectNothing(*b);

  // A frame of an unknown id and its ten bytes, then a chat line, in one send.
  a->Send(Frame(42, "0123456789") + Frame(MsgChat, "ok"));
  ExpectFrame(*b, MsgChat, Packed(Session(0).Handle()) + "ok");
  ExpectFrame(*a, MsgChatAck, "");
  EXPECT_EQ(Sessions().Count(), 2);
}

TEST_F(SessionsTest, BadFrameClosesOnlyItsOwnSession) {
  StartHost();
  auto a = Connect();
  auto b = Connect();
  auto big = Connect();
  auto garbled = Connect();
  uint32_t aId = Join(*a, "A", 3);
  Join(*b, "B", 3);
  a->FramesWithin(100);
  big->FramesWithin(100);
  garbled->FramesWithin(100);
  uint32_t bigId = Session(2).Handle(), garbledId = Session(3).Handle();

  // A payload of 2 MiB announced: refused at once, before any of it came.
  big->Send(Packed(MsgChat) + Packed(2 * 1024 * 1024) + "x");
  ASSERT_TRUE(big->WaitClosed());
  ExpectFrame(*a, MsgLeave, Packed(bigId) + '\1');
  ExpectFrame(*b, MsgLeave, Packed(bigId) + '\1');
  // An id that never ends within five bytes.
  garbled->Send(std::string(6, '\x80'));
  ASSERT_TRUE(garbled->WaitClosed());
  ExpectFrame(*a, MsgLeave, Packed(garbledId) + '\1');
  ExpectFrame(*b, MsgLeave, Packed(garbledId) + '\1');

  EXPECT_EQ(Sessions().Count(), 2);
  a->SendFrame(MsgChat, "still here");
  ExpectFrame(*b, MsgChat, Packed(aId) + "still here");
}

TEST_F(SessionsTest, FailedBroadcastMarksTheTargetNotTheSender) {
  StartHost();
  auto a = Connect();
  auto b = Connect();
  uint32_t aId = Join(*a, "A", 1);
  uint32_t bId = Join(*b, "B", 1);
  a->FramesWithin(100);
  // The host can no longer send to B.
  ASSERT_EQ(::shutdown(static_cast<int>(Session(1).Handle()), SHUT_WR), 0);

  a->SendFrame(MsgChat, "hop");
  ExpectFrame(*a, MsgChatAck, "");
  EXPECT_TRUE(Session(1).Closing);
  EXPECT_FALSE(Session(0).Closing);
  EXPECT_EQ(Session(0).Row().SubItem(TSessionRow::StatusColumn), "hop");
  ASSERT_EQ(Sessions().Count(), 2);

  // B is released on its own next event.
  b->Send("x");
  ExpectFrame(*a, MsgLeave, Packed(bId) + '\1');
  EXPECT_EQ(Sessions().Count(), 1);
  EXPECT_EQ(Session(0).Handle(), aId);
}

}  // namespace
