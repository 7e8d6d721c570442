// Game framing: packed integers against hand-computed bytes, frames fed in
// every possible cut, handlers bounded by their own payload, oversize
// frames, and the server's broadcasts and gathered output over real
// loopback connections.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "net/ZULSockets.h"
#include "platform/Text1252.h"
#include "support/LoopbackPeers.h"

namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes.push_back(static_cast<char>(v));
  return bytes;
}

// A framing object fed by hand instead of by a socket.
class TFedIO : public TZULSocketIO {
 public:
  explicit TFedIO(TZULMessageTarget* owner) : TZULSocketIO(owner, ws::INVALID_SOCKET) {}
  void Feed(const std::string& bytes) {
    FInBuffer += bytes;
    DecodeFrames();
  }
};

// Records each message it gets; a handler per id may read its fields.
class TOwner : public TZULMessageTarget {
 public:
  struct TSeen {
    TZULMessage Record;
    bool Default;
  };
  void On(int32_t id, std::function<void(TZULMessage&)> read) {
    SetHandler(id, [this, read](TZULMessage& message) {
      Seen.push_back({message, false});
      if (read) read(message);
    });
  }
  void DefaultHandler(TZULMessage& message) override { Seen.push_back({message, true}); }
  std::vector<int32_t> Ids() const {
    std::vector<int32_t> ids;
    for (const TSeen& seen : Seen) ids.push_back(seen.Record.MessageId);
    return ids;
  }
  std::vector<TSeen> Seen;
};

// The four frames of the protocol's examples: player "guest", id 1968.
const std::string ClientJoin = Bytes({0x03, 0x05, 0x67, 0x75, 0x65, 0x73, 0x74});
const std::string HostPosition = Bytes({0x08, 0x06, 0x8F, 0x30, 0x00, 0x7F, 0x7F, 0x00});
const std::string HostArrival =
    Bytes({0x04, 0x0C, 0x8F, 0x30, 0x00, 0x7F, 0x81, 0x00, 0x00, 0x67, 0x75, 0x65, 0x73, 0x74});
const std::string HostDeparture = Bytes({0x07, 0x03, 0x8F, 0x30, 0x01});

// The value of a packed integer that fills bytes; -1 when it is cut short.
int32_t Decoded(const std::string& bytes) {
  size_t pos = 0;
  int32_t value = 0;
  return DecodePacked(bytes, pos, bytes.size(), value) && pos == bytes.size() ? value : -1;
}

}  // namespace

TEST(PackedInteger, ValuesSurviveBothWaysAndNegativesKeepTheirLowBits) {
  struct TCase {
    int32_t Value;
    std::string Packed;
  };
  const TCase cases[] = {
      {0, Bytes({0x00})},
      {127, Bytes({0x7F})},
      {128, Bytes({0x81, 0x00})},
      {300, Bytes({0x82, 0x2C})},
      {16383, Bytes({0xFF, 0x7F})},
      {16384, Bytes({0x81, 0x80, 0x00})},
      {2097152, Bytes({0x81, 0x80, 0x80, 0x00})},
      {2147483647, Bytes({0x87, 0xFF, 0xFF, 0xFF, 0x7F})},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(EncodeInteger(c.Value), c.Packed) << c.Value;
    EXPECT_EQ(Decoded(c.Packed), c.Value);
  }
  EXPECT_EQ(EncodeInteger(-1), Bytes({0x7F}));
  EXPECT_EQ(Decoded(EncodeInteger(-1)), 127);
  EXPECT_EQ(EncodeInteger(INT32_MIN), Bytes({0x00}));
  EXPECT_EQ(EncodeIntegers({1968, 0, 127}), Bytes({0x8F, 0x30, 0x00, 0x7F}));
  // Cut short: not decoded, the position stays.
  std::string cut = Bytes({0x81, 0x80});
  size_t pos = 0;
  int32_t value = 0;
  EXPECT_FALSE(DecodePacked(cut, pos, cut.size(), value));
  EXPECT_EQ(pos, 0u);
}

TEST(ZULSocketIO, ExampleFramesAreWrittenAndReadByteForByte) {
  // Written by SendMessage onto a real connection...
  TRecorder recorder;
  TZULServer server(&recorder, 0, GameMessage);
  TSocketHandle accepted = ws::INVALID_SOCKET;
  recorder.OnEvent = [&](const TEvent& e) {
    if (e.Kind == FD_ACCEPT) accepted = ws::accept(e.Handle, nullptr);
  };
  ws::TSocketHandle peer = ConnectPeer(server.Port());
  ASSERT_TRUE(PumpUntil([&] { return accepted != ws::INVALID_SOCKET; }));
  TOwner owner;
  TZULSocketIO io(&owner, accepted);
  io.SendMessage(3, "guest");
  io.SendMessage(8, EncodeIntegers({1968, 0, 127, 127, 0}));
  io.SendMessage(4, EncodeIntegers({1968, 0, 127, 128}) + Bytes({0}) + "guest");
  io.SendMessage(7, EncodeIntegers({1968, 1}));
  EXPECT_TRUE(io.OutBuffer().empty());
  std::string expected = ClientJoin + HostPosition + HostArrival + HostDeparture;
  std::string wire;
  ASSERT_TRUE(PumpUntil([&] {
    wire += ReadAvailable(peer, 0);
    return wire.size() >= expected.size();
  }));
  EXPECT_EQ(wire, expected);

  // ...and read back field by field.
  std::vector<int32_t> numbers;
  std::vector<std::string> strings;
  TFedIO fed(&owner);
  owner.On(3, [&](TZULMessage&) { strings.push_back(fed.ReadString()); });
  owner.On(8, [&](TZULMessage&) {
    for (int i = 0; i < 5; ++i) numbers.push_back(fed.ReadInteger());
  });
  owner.On(4, [&](TZULMessage&) {
    for (int i = 0; i < 5; ++i) numbers.push_back(fed.ReadInteger());
    strings.push_back(fed.ReadString());
  });
  owner.On(7, [&](TZULMessage&) {
    for (int i = 0; i < 2; ++i) numbers.push_back(fed.ReadInteger());
  });
  fed.Feed(expected);
  EXPECT_EQ(owner.Ids(), (std::vector<int32_t>{3, 8, 4, 7}));
  EXPECT_EQ(numbers, (std::vector<int32_t>{1968, 0, 127, 127, 0, 1968, 0, 127, 128, 0, 1968, 1}));
  EXPECT_EQ(strings, (std::vector<std::string>{"guest", "guest"}));
  EXPECT_EQ(fed.InCount(), 0);
  ws::closesocket(peer);
  ws::closesocket(accepted);
}

TEST(ZULSocketIO, FrameSplitAtAnyByteIsDispatchedOnceAfterItsLastByte) {
  // Two-byte id and two-byte length, so that cuts fall inside both.
  std::string payload = EncodeIntegers({1968}) + std::string(140, 'p');
  std::string frame = EncodeInteger(130) + EncodeInteger(static_cast<int32_t>(payload.size())) + payload;
  for (size_t cut = 1; cut < frame.size(); ++cut) {
    TOwner owner;
    TFedIO io(&owner);
    int32_t id = 0;
    std::string rest;
    owner.On(130, [&](TZULMessage&) {
      id = io.ReadInteger();
      rest = io.ReadString();
    });
    io.Feed(frame.substr(0, cut));
    EXPECT_TRUE(owner.Seen.empty()) << "cut at " << cut;
    EXPECT_EQ(io.InCount(), static_cast<int32_t>(cut));
    io.Feed(frame.substr(cut));
    ASSERT_EQ(owner.Seen.size(), 1u) << "cut at " << cut;
    EXPECT_EQ(id, 1968);
    EXPECT_EQ(rest, std::string(140, 'p'));
    EXPECT_EQ(io.InCount(), 0);
  }
  // Byte by byte.
  TOwner owner;
  TFedIO io(&owner);
  owner.On(4, nullptr);
  for (size_t i = 0; i < HostArrival.size(); ++i) {
    EXPECT_TRUE(owner.Seen.empty());
    io.Feed(HostArrival.substr(i, 1));
  }
  EXPECT_EQ(owner.Seen.size(), 1u);
}

TEST(ZULSocketIO, ThreeFramesInOneReadAreDispatchedInOrderByOneReceive) {
  TRecorder recorder;
  TZULServer server(&recorder, 0, GameMessage);
  TOwner owner;
  std::unique_ptr<TZULSocketIO> io;
  int receives = 0;
  recorder.OnEvent = [&](const TEvent& e) {
    if (e.Kind == FD_ACCEPT) io = std::make_unique<TZULSocketIO>(&owner, ws::accept(e.Handle, nullptr));
    if (e.Kind == FD_READ && io && e.Handle == io->Handle()) {
      io->Receive();
      ++receives;
    }
  };
  for (int32_t id : {5, 9, 8}) owner.On(id, nullptr);
  ws::TSocketHandle peer = ConnectPeer(server.Port());
  ASSERT_TRUE(PumpUntil([&] { return io != nullptr; }));
  std::string three = Bytes({0x05, 0x02, 'h', 'i'}) + Bytes({0x09, 0x02, 0x7F, 0x7F}) +
                      HostPosition.substr(0, 2) + HostPosition.substr(2);
  ASSERT_EQ(ws::send(peer, three.data(), static_cast<int>(three.size())), static_cast<int>(three.size()));
  ASSERT_TRUE(PumpUntil([&] { return owner.Seen.size() == 3; }));
  EXPECT_EQ(receives, 1);
  EXPECT_EQ(owner.Ids(), (std::vector<int32_t>{5, 9, 8}));
  EXPECT_EQ(io->InCount(), 0);
  ws::closesocket(peer);
  ws::closesocket(io->Handle());
}

TEST(ZULSocketIO, UnknownIdIsSkippedWholeAndStringsKeepEveryByte) {
  TOwner owner;
  TFedIO io(&owner);
  std::string chat;
  std::string empty = "unset";
  owner.On(5, [&](TZULMessage&) { chat = io.ReadString(); });
  owner.On(6, [&](TZULMessage&) { empty = io.ReadString(); });
  std::string line = std::string("a\0b\r\nc\xE9", 7);
  io.Feed(Bytes({42, 10}) + "0123456789" + Bytes({5, 7}) + line + Bytes({6, 0}));
  ASSERT_EQ(owner.Ids(), (std::vector<int32_t>{42, 5, 6}));
  EXPECT_TRUE(owner.Seen[0].Default);
  EXPECT_EQ(owner.Seen[0].Record.PayloadLength, 10);
  EXPECT_FALSE(owner.Seen[1].Default);
  EXPECT_EQ(chat, line);
  EXPECT_EQ(empty, "");
  EXPECT_EQ(io.InCount(), 0);
}

TEST(ZULSocketIO, HandlerReadingPastItsPayloadGetsStreamErrorAndTheNextFrameIsUntouched) {
  // The walk frame holds two integers; its handler asks for three.  The
  // next frame is complete in the buffer, yet the third read must not take
  // its first byte.
  TOwner owner;
  TFedIO io(&owner);
  owner.On(9, [&](TZULMessage&) {
    io.ReadInteger();
    io.ReadInteger();
    io.ReadInteger();
  });
  owner.On(7, nullptr);
  std::string walk = Bytes({0x09, 0x02, 0x7F, 0x7F});
  EXPECT_EQ(RaisedText([&] { io.Feed(walk + HostDeparture); }), "Erreur de flux 2");
  ASSERT_EQ(owner.Seen.size(), 1u);
  EXPECT_EQ(io.InBuffer(), walk + HostDeparture);

  // A read inside the payload that runs out mid-integer fails the same way.
  TOwner second;
  TFedIO cut(&second);
  second.On(8, [&](TZULMessage&) { cut.ReadInteger(); });
  EXPECT_EQ(RaisedText([&] {
              cut.Feed(Bytes({0x08, 0x01, 0x8F}) + Bytes({0x30, 0x00}));
            }),
            "Erreur de flux 2");
}

TEST(ZULSocketIO, OversizeFrameOrOverlongHeaderIsAStreamError) {
  auto header = [](int32_t id, int32_t length) { return EncodeInteger(id) + EncodeInteger(length); };
  {
    // The largest payload allowed waits for its bytes.
    TOwner owner;
    TFedIO io(&owner);
    EXPECT_EQ(RaisedText([&] { io.Feed(header(5, MaxPayloadBytes) + std::string(1000, 'x')); }), "");
    EXPECT_TRUE(owner.Seen.empty());
  }
  // Too long; negative (0xFFFFFFFF); an id, then a length, of six bytes.
  for (std::string bad : {header(5, MaxPayloadBytes + 1), Bytes({0x05, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F}),
                          Bytes({0x05, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}),
                          Bytes({0x80, 0x80, 0x80, 0x80, 0x80, 0x05, 0x00})}) {
    TOwner owner;
    TFedIO io(&owner);
    EXPECT_EQ(RaisedText([&] { io.Feed(bad); }), "Erreur de flux 2") << testing::PrintToString(bad);
    EXPECT_TRUE(owner.Seen.empty());
  }
}

TEST(ZULSocketIO, HandlerMayDestroyTheIOOrFeedItWhileDecoding) {
  // Destroyed by its handler: the frames after it are not dispatched.
  TOwner owner;
  auto io = std::make_unique<TFedIO>(&owner);
  owner.On(1, [&](TZULMessage&) { io.reset(); });
  owner.On(2, nullptr);
  io->Feed(Bytes({1, 0, 2, 0}));
  EXPECT_EQ(io, nullptr);
  EXPECT_EQ(owner.Seen.size(), 1u);

  // Bytes arriving while a handler waits (a modal box's event loop) are
  // decoded there: the frames after the waiting one, each once, in order;
  // the waiting handler then reads its own payload as it left it.
  TOwner nested;
  TFedIO fed(&nested);
  size_t seenUnderHandler = 0;
  std::string ownPayload;
  nested.On(1, [&](TZULMessage&) {
    if (nested.Seen.size() == 1) fed.Feed(Bytes({3, 0}));
    seenUnderHandler = nested.Seen.size();
    ownPayload = fed.ReadString();
  });
  nested.On(2, nullptr);
  nested.On(3, nullptr);
  fed.Feed(Bytes({1, 2, 'a', 'b', 2, 0}));
  EXPECT_EQ(nested.Ids(), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(seenUnderHandler, 3u) << "the game goes on under the box";
  EXPECT_EQ(ownPayload, "ab");
  EXPECT_EQ(fed.InCount(), 0);
}

namespace {

class TTestSession : public TZULSessionItem, public TZULMessageTarget {
 public:
  TTestSession(TZULServer& server, TSocketHandle listening) : TZULSessionItem(server, listening) {
    IO = std::make_unique<TZULSocketIO>(this, Handle());
    Admitted = true;
  }
};

}  // namespace

TEST(ZULServer, BroadcastSkipsTheSenderAndMarksSessionsItCannotReach) {
  TRecorder recorder;
  TZULServer server(&recorder, 0, GameMessage);
  recorder.OnEvent = [&](const TEvent& e) {
    if (e.Kind == FD_ACCEPT) new TTestSession(server, e.Handle);
  };
  ws::TSocketHandle peers[3];
  TTestSession* sessions[3];
  for (int i = 0; i < 3; ++i) {
    peers[i] = ConnectPeer(server.Port());
    ASSERT_TRUE(PumpUntil([&] { return server.Connections().Count() == i + 1; }));
    sessions[i] = static_cast<TTestSession*>(server.Connections()[i]);
  }
  // The third peer resets its connection; sends to it fail from then on.
  ResetPeer(peers[2]);
  ASSERT_TRUE(PumpUntil([&] { return recorder.Count(sessions[2]->Handle(), FD_CLOSE) == 1; }));

  std::string chat = EncodeInteger(1968) + "salut";
  server.Broadcast(sessions[0], 5, chat);
  std::string frame = Bytes({5, static_cast<int>(chat.size())}) + chat;
  EXPECT_EQ(ReadAvailable(peers[1], 2000), frame);
  EXPECT_EQ(ReadAvailable(peers[0], 100), "");
  EXPECT_FALSE(sessions[0]->Closing);
  EXPECT_FALSE(sessions[1]->Closing);
  EXPECT_TRUE(sessions[2]->Closing);

  // Chat relay: the others get 5, the sender its acknowledgement 6; an
  // empty payload is only acknowledged.
  sessions[2]->Release();
  server.RelayChat(*sessions[0], chat);
  EXPECT_EQ(ReadAvailable(peers[1], 2000), frame);
  EXPECT_EQ(ReadAvailable(peers[0], 2000), Bytes({6, 0}));
  server.RelayChat(*sessions[0], "");
  EXPECT_EQ(ReadAvailable(peers[0], 2000), Bytes({6, 0}));
  EXPECT_EQ(ReadAvailable(peers[1], 100), "");
  for (ws::TSocketHandle peer : {peers[0], peers[1]}) ws::closesocket(peer);
}

namespace {

// A connection whose output the server gathers, as the host's sessions do;
// it records why it was abandoned.
class TGatheringSession : public TZULSessionItem, public TZULMessageTarget {
 public:
  TGatheringSession(TZULServer& server, TSocketHandle listening, std::vector<std::string>& abandoned)
      : TZULSessionItem(server, listening), FAbandoned(abandoned) {
    IO = std::make_unique<TZULSocketIO>(this, *this);
    Admitted = true;
  }
  void Abandon(const std::string& reason) override {
    FAbandoned.push_back(reason);
    TZULSessionItem::Abandon(reason);
  }

 private:
  std::vector<std::string>& FAbandoned;
};

}  // namespace

TEST(ZULServer, GatheredOutputLeavesWithThePassInOrderAndAPeerThatNeverReadsIsAbandonedAtTheCap) {
  TRecorder recorder;
  std::vector<std::string> abandoned;
  TZULServer server(&recorder, 0, GameMessage);
  ASSERT_TRUE(server.GathersOutput());
  recorder.OnEvent = [&](const TEvent& e) {
    if (e.Kind == FD_ACCEPT) new TGatheringSession(server, e.Handle, abandoned);
  };
  constexpr int SmallBufferBytes = 4096;
  ws::TSocketHandle peers[3] = {ConnectPeer(server.Port()), ConnectPeer(server.Port()),
                                ConnectPeer(server.Port(), SmallBufferBytes)};
  ASSERT_TRUE(PumpUntil([&] { return server.Connections().Count() == 3; }));
  auto session = [&](int i) { return static_cast<TZULSessionItem*>(server.Connections()[i]); };
  PumpFor(20);

  // Sent outside the event loop: held until the loop's next pass, then
  // every frame arrives, in the order sent.
  std::string chat = EncodeInteger(1968) + "salut";
  session(0)->IO->SendMessage(3, EncodeInteger(1968));
  server.Broadcast(session(2), 5, chat);
  server.RelayChat(*session(1), EncodeInteger(7), "hop");
  EXPECT_EQ(ReadAvailable(peers[0], 50), "");
  EXPECT_TRUE(session(0)->IO->Gathering());
  QCoreApplication::processEvents();
  EXPECT_EQ(ReadAvailable(peers[0], 2000), Bytes({3, 2, 0x8F, 0x30, 5, 7}) + chat + Bytes({5, 4, 7}) + "hop");
  EXPECT_EQ(ReadAvailable(peers[1], 2000), Bytes({5, 7}) + chat + Bytes({6, 0}));

  // A last message before the release still reaches the peer before its end.
  session(1)->IO->SendMessage(2, "Mot de passe invalide");
  session(1)->Release();
  bool ended = false;
  std::string last;
  ASSERT_TRUE(PumpUntil([&] {
    last += ReadAvailable(peers[1], 10, &ended);
    return ended;
  }));
  EXPECT_EQ(last, Bytes({2, 21}) + "Mot de passe invalide");

  // The third peer never reads: its output grows to the cap at most, and it
  // is abandoned at the end of the pass where a frame would pass the cap.
  const std::string big(60000, 'z');
  size_t mostHeld = 0;
  for (int i = 0; i < 100 && server.Connections().Count() == 2; ++i) {
    server.Broadcast(session(0), 5, big);
    mostHeld = std::max(mostHeld, session(1)->IO->OutBuffer().size());
    QCoreApplication::processEvents();
  }
  EXPECT_LE(mostHeld, MaxUnsentBytes);
  EXPECT_EQ(abandoned, std::vector<std::string>{"Trop de données en attente"_cp});
  EXPECT_EQ(server.Connections().Count(), 1);
  for (ws::TSocketHandle peer : peers) ws::closesocket(peer);
}
