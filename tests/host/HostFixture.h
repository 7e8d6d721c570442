// A game host started in the test's thread on ephemeral ports, with a
// connection list that records its changes, and helpers for raw clients.
// The host handles its events while a test waits on a client.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Pump.h"
#include "host/GameHost.h"
#include "host/Sessions.h"
#include "platform/SocketEvents.h"
#include "support/RawPeers.h"
#include "support/RecordingList.h"

class THostTest : public ::testing::Test {
 protected:
  THostTest() { Settings.Port = Settings.WebPort = 0; }
  ~THostTest() override {
    Host.reset();
    PumpUntil([] { return LingeringSockets() == 0; }, 1000);
  }

  void StartHost() {
    Host = std::make_unique<TGameHost>(Settings, List);
    Host->Start();
  }
  const TSessionList& Sessions() const { return Host->GameServer()->Connections(); }
  TZULSession& Session(int index) const { return *static_cast<TZULSession*>(Sessions()[index]); }
  std::string Id(int index) const { return Packed(Session(index).Handle()); }

  // A raw client whose session exists once this returns.
  std::unique_ptr<TRawClient> Connect() {
    int before = Sessions().Count();
    auto client = std::make_unique<TRawClient>(Host->GameServer()->Port());
    EXPECT_TRUE(PumpUntil([&] { return Sessions().Count() == before + 1; }));
    return client;
  }
  // Sends 3 and takes the answers (3, 8, one 4 per other connection),
  // skipping the news of others that came before.
  static void Join(TRawClient& client, const std::string& name, int others) {
    client.SendFrame(MsgJoin, name);
    TRawFrame frame;
    while (client.NextFrame(frame) && frame.Id != MsgJoin) {
    }
    ASSERT_EQ(frame.Id, uint32_t(MsgJoin));
    for (int i = 0; i <= others; ++i) ASSERT_TRUE(client.NextFrame(frame));
    EXPECT_EQ(frame.Id, uint32_t(others ? MsgPlayer : MsgPosition));
  }
  static void ExpectFrame(TRawClient& client, uint32_t id, const std::string& payload) {
    TRawFrame frame;
    ASSERT_TRUE(client.NextFrame(frame)) << "no frame " << id;
    EXPECT_EQ(frame.Id, id);
    EXPECT_EQ(frame.Payload, payload) << "frame " << frame.Id;
  }
  static void ExpectNothing(TRawClient& client) { EXPECT_EQ(client.FramesWithin(150).size(), 0u); }

  TSocketLibrary SocketLibrary;
  THostSettings Settings;
  TRecordingList List;
  std::unique_ptr<TGameHost> Host;
};
