// The look extension through a real host over loopback: a look reaches only
// the players that sent one themselves, a newcomer learns the looks of those
// present, a client speaking only the catalogue never meets message 10, and
// a malformed look ends its sender alone.
#include <algorithm>

#include "HostFixture.h"
#include "platform/Text1252.h"

namespace {

using LooksTest = THostTest;

std::string LookPayload(uint32_t race, uint32_t hair, uint32_t option) {
  return Packed(race) + Packed(hair) + Packed(option);
}

// The frames of one id among those that arrive within a moment.
std::vector<std::string> Payloads(TRawClient& client, uint32_t id) {
  std::vector<std::string> payloads;
  for (const TRawFrame& frame : client.FramesWithin(200))
    if (frame.Id == id) payloads.push_back(frame.Payload);
  return payloads;
}

TEST_F(LooksTest, LooksReachOnlyPlayersThatSentOneAndANewcomerLearnsThoseOfThePresent) {
  StartHost();
  auto plain = Connect();  // a client built from the catalogue alone
  Join(*plain, "Plain", 0);
  auto ann = Connect();
  Join(*ann, "Ann", 1);
  const std::string plainId = Id(0), annId = Id(1);
  ann->SendFrame(MsgLook, LookPayload(1, 3, 2));
  EXPECT_TRUE(Payloads(*ann, MsgLook).empty()) << "nobody else sent a look yet";

  auto bob = Connect();
  Join(*bob, "Bob", 2);
  const std::string bobId = Id(2);
  bob->SendFrame(MsgLook, LookPayload(0, 0, 0));
  EXPECT_EQ(Payloads(*bob, MsgLook), std::vector<std::string>{annId + LookPayload(1, 3, 2)})
      << "Ann's look, not the plain client's default";
  EXPECT_EQ(Payloads(*ann, MsgLook), std::vector<std::string>{bobId + LookPayload(0, 0, 0)});

  // A new choice is relayed alone; a look sent before the name waits for it.
  ann->SendFrame(MsgLook, LookPayload(0, 8, 3));
  EXPECT_EQ(Payloads(*bob, MsgLook), std::vector<std::string>{annId + LookPayload(0, 8, 3)});
  EXPECT_TRUE(Payloads(*ann, MsgLook).empty());
  auto cy = Connect();
  const std::string cyId = Id(3);
  cy->SendFrame(MsgLook, LookPayload(1, 0, 1));
  EXPECT_TRUE(Payloads(*ann, MsgLook).empty()) << "nobody knows Cy yet";
  cy->SendFrame(MsgJoin, "Cy");
  std::vector<std::string> toCy = Payloads(*cy, MsgLook);
  std::sort(toCy.begin(), toCy.end());
  std::vector<std::string> present = {annId + LookPayload(0, 8, 3), bobId + LookPayload(0, 0, 0)};
  std::sort(present.begin(), present.end());
  EXPECT_EQ(toCy, present);
  EXPECT_EQ(Payloads(*bob, MsgLook), std::vector<std::string>{cyId + LookPayload(1, 0, 1)});
  EXPECT_EQ(Payloads(*ann, MsgLook), std::vector<std::string>{cyId + LookPayload(1, 0, 1)});
  EXPECT_EQ(Session(0).Look(), std::nullopt);
  EXPECT_EQ(Session(3).Look(), (TPlayerLook{LookElf, 0, 1}));

  // The plain client met every arrival and no id it does not know.
  for (const TRawFrame& frame : plain->FramesWithin(200))
    EXPECT_TRUE(frame.Id >= MsgError && frame.Id <= MsgWalk) << "message " << frame.Id;
  EXPECT_FALSE(plain->PeerClosed);
}

// Every look outside the creation page's choices, or not exactly three
// packed integers, ends its sender's connection; the others hear of a
// departure without warning and keep the looks they had.
TEST_F(LooksTest, AMalformedLookEndsItsSenderAloneAndIsNeverRelayed) {
  StartHost();
  auto ann = Connect();
  Join(*ann, "Ann", 0);
  ann->SendFrame(MsgLook, LookPayload(0, 1, 1));
  const struct {
    std::string Payload;
    std::string Status;
  } bad[] = {
      {LookPayload(2, 0, 0), "Apparence invalide"},        // no third race
      {LookPayload(0, 9, 0), "Apparence invalide"},        // eight hair styles
      {LookPayload(0, 0, 4), "Apparence invalide"},        // three beards
      {LookPayload(1, 0, 0), "Apparence invalide"},        // an elf always has ears
      {LookPayload(0, 0, 0) + "x", "Apparence invalide"},  // a byte too many
      {Packed(0) + Packed(1), "Erreur de flux 2"},         // one short
  };
  for (const auto& look : bad) {
    SCOPED_TRACE(look.Status);
    auto bob = Connect();
    Join(*bob, "Bob", 1);
    bob->FramesWithin(50);
    ann->FramesWithin(50);
    const std::string bobId = Id(1);
    bob->SendFrame(MsgLook, look.Payload);
    ASSERT_TRUE(bob->WaitClosed());
    ExpectFrame(*ann, MsgLeave, bobId + '\1');
    ExpectNothing(*ann);
    EXPECT_TRUE(std::any_of(List.Changes.begin(), List.Changes.end(),
                            [&](const auto& change) { return change.Text == look.Status; }));
    EXPECT_EQ(Sessions().Count(), 1);
  }
  EXPECT_EQ(Session(0).Look(), (TPlayerLook{LookHuman, 1, 1}));

  // On a host with a password, a stranger's look waits for a login that
  // never passes: the stranger is refused and nobody hears of it.
  Settings.Password = "pw";
  auto stranger = Connect();
  stranger->Send(Frame(MsgLook, LookPayload(0, 0, 0)) + Frame(MsgJoin, "Stranger"));
  ASSERT_TRUE(stranger->WaitClosed());
  EXPECT_EQ(stranger->Received, Frame(MsgError, "Mot de passe invalide"));
  EXPECT_TRUE(ann->FramesWithin(200).empty()) << "a refused stranger was heard of";
}

}  // namespace
