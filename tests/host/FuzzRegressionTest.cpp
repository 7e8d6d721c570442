// Faults the fuzz targets found in the host's sessions, kept as tests over
// loopback.
#include "HostFixture.h"
#include "host/HostLimits.h"
#include "net/ZULSockets.h"

namespace {

using HostFuzzRegression = THostTest;

// A chat line or a walk whose relayed form (the sender's id in front) is
// larger than any frame may be went out all the same, and every other client
// refused it and dropped.  Now the largest chat line a frame holds reaches
// the others cut to MaxChatBytes, and a walk that is not two cells' integers
// ends its sender alone.
TEST_F(HostFuzzRegression, MessageTooLargeToRelayNeverReachesTheOthers) {
  StartHost();
  auto alice = Connect();
  Join(*alice, "Alice", 0);
  auto bob = Connect();
  Join(*bob, "Bob", 1);
  ExpectFrame(*alice, MsgPlayer, Id(1) + Packed(0) + Packed(127) + Packed(128) + '\0' + "Bob");
  std::string bobId = Id(1);

  const std::string largest(MaxPayloadBytes, 'x');
  bob->SendFrame(MsgChat, largest);
  ExpectFrame(*alice, MsgChat, bobId + largest.substr(0, MaxChatBytes));
  ExpectFrame(*bob, MsgChatAck, "");

  bob->SendFrame(MsgWalk, largest);
  EXPECT_TRUE(bob->WaitClosed());
  ExpectFrame(*alice, MsgLeave, bobId + '\1');
  EXPECT_EQ(Sessions().Count(), 1);
  alice->SendFrame(MsgChat, "encore");
  ExpectFrame(*alice, MsgChatAck, "");
}

}  // namespace
