// Game frames through the host's sessions: up to four peers connect, log in
// or not, and send any bytes.  Beyond the sanitizers it checks that every
// session's unread input stays within one frame and one receive, that what
// the host sends each peer is a stream of frames its own decoder takes, and
// (in the driver) that the host ends with no connection, row or descriptor
// left.
#include "FuzzSupport.h"
#include "HostDriver.h"
#include "host/Sessions.h"

namespace {

// Unread input a session may hold after its messages ran: one incomplete
// frame (header and payload) and the receive that brought its last bytes.
constexpr int32_t MaxHeldBytes = 2 * MaxPackedBytes + MaxPayloadBytes + TSocketIO::ReceiveChunkBytes;

class TFramesDriver : public THostDriver {
 public:
  TFramesDriver() : THostDriver(false) { PeerReceiveBufferBytes = 4096; }

 protected:
  void Option(uint8_t value) override { Settings.Password = value & 1 ? "mot" : ""; }

  bool HasOutput(TSessionItem& session) override {
    auto& game = static_cast<TZULSession&>(session);
    return game.IO && !game.IO->OutBuffer().empty();
  }

  // Takes the complete frames from the front of what the peer received.
  void Received(TFuzzPeer& peer) override {
    std::size_t pos = 0;
    for (;;) {
      std::size_t start = pos;
      int32_t id = 0, length = 0;
      if (!DecodePacked(peer.Received, pos, peer.Received.size(), id) ||
          !DecodePacked(peer.Received, pos, peer.Received.size(), length)) {
        pos = start;
        break;
      }
      Require(pos - start <= 2 * MaxPackedBytes, "the host writes short frame headers");
      Require(id >= MsgError && id <= MsgWalk, "the host sends only the ids of its catalogue");
      Require(length >= 0 && length <= MaxPayloadBytes, "the host sends no frame its peers would refuse");
      if (peer.Received.size() - pos < static_cast<std::size_t>(length)) {
        pos = start;
        break;
      }
      pos += static_cast<std::size_t>(length);
    }
    peer.Received.erase(0, pos);
  }

  void CheckHost() override {
    TSessionList& sessions = Server().Connections();
    for (int i = 0; i < sessions.Count(); ++i) {
      auto* session = static_cast<TZULSession*>(sessions[i]);
      Require(!session->IO || session->IO->InCount() <= MaxHeldBytes,
              "a session holds at most one frame unread");
    }
    Require(List.Count() == sessions.Count(), "one row per connection");
  }
};

TFramesDriver* Driver = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Driver = new TFramesDriver;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Driver->Settings.Password.clear();
  Driver->Run(data, size);
  return 0;
}
