// Faults the fuzz targets found in the game framing, kept as tests.
#include <gtest/gtest.h>

#include <string>

#include "net/ZULSockets.h"
#include "platform/Errors.h"

namespace {

class TSilentOwner : public TZULMessageTarget {};

std::string RaisedBy(const std::function<void()>& call) {
  try {
    call();
  } catch (const Exception& error) {
    return error.Message();
  }
  return "";
}

}  // namespace

// The host relays a chat line or a walk with the sender's id in front, so a
// frame that the host accepted at the largest payload went out larger and
// every other client refused it ("Erreur de flux 2") and dropped.  Neither a
// send nor a broadcast may write a frame its reader refuses; the broadcast
// fails before the loop so that its caller, not each receiver, gets the error.
TEST(ZULFuzzRegression, NoFrameAboveTheLargestPayloadIsWritten) {
  TSilentOwner owner;
  TZULSocketIO io(&owner, ws::INVALID_SOCKET);
  EXPECT_EQ(RaisedBy([&] { io.SendMessage(5, std::string(MaxPayloadBytes + 1, 'x')); }), "Erreur de flux 2");
  EXPECT_EQ(io.OutBuffer(), "");

  TSocketLibrary library;
  TMessageTarget window;
  TZULServer server(&window, 0, WM_USER + 1);
  EXPECT_EQ(RaisedBy([&] { server.Broadcast(nullptr, 5, std::string(MaxPayloadBytes + 1, 'x')); }),
            "Erreur de flux 2");
  EXPECT_EQ(RaisedBy([&] { server.Broadcast(nullptr, 5, std::string(MaxPayloadBytes, 'x')); }), "");
}
