// Faults the fuzz targets found in the host's sessions, kept as tests over
// loopback.
#include "HostFixture.h"
#include "net/ZULSockets.h"

namespace {

using HostFuzzRegression = THostTest;

// A chat line or a walk whose relayed form (the sender's id in front) is
// larger than any frame may be went out all the same, and every other client
// refused it and dropped.  Now a message that fits after the id is relayed
// as before; one that does not is the sender's stream error: its connection
// ends, the others hear of its departure and stay connected.
TEST_F(HostFuzzRegression, MessageTooLargeToRelayEndsTheSenderNotTheOthers) {
  StartHost();
  for (int32_t id : {MsgChat, MsgWalk}) {
    auto alice = Connect();
    Join(*alice, "Alice", 0);
    auto bob = Connect();
    Join(*bob, "Bob", 1);
    ExpectFrame(*alice, MsgPlayer, Id(1) + Packed(0) + Packed(127) + Packed(128) + '\0' + "Bob");
    std::string bobId = Id(1);

    std::string fits(MaxPayloadBytes - bobId.size(), 'x');
    bob->SendFrame(id, fits);
    ExpectFrame(*alice, id, bobId + fits);

    bob->SendFrame(id, fits + "y");
    EXPECT_TRUE(bob->WaitClosed()) << id;
    ExpectFrame(*alice, MsgLeave, bobId + '\1');
    EXPECT_EQ(Sessions().Count(), 1);

    alice->SendFrame(MsgChat, "encore");
    ExpectFrame(*alice, MsgChatAck, "");
    alice->Close();
    EXPECT_TRUE(PumpUntil([&] { return Sessions().Count() == 0; }));
  }
}

}  // namespace
