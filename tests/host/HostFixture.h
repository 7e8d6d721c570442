// A game host started in the test's own thread on ephemeral ports, with a
// connection list that remembers what changed, and helpers that connect raw
// clients and log them in.  The host's events run while a test waits on a
// raw client (PumpUntil).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Pump.h"
#include "RawClientSupport.h"
#include "host/GameHost.h"
#include "host/Sessions.h"
#include "net/Sockets.h"
#include "platform/SocketEvents.h"

// Remembers every change of the connection list.
class TRecordingList : public TSessionListView {
public:
  struct TChange {
    char Kind;  // '+', '=', '-'
    std::string Caption;
    int Column;
    std::string Text;  // of the column; for a new row, its three columns joined by '|'
  };
  std::vector<TChange> Changes;

  int ChangesOf(const std::string& caption, int column) const {
    int count = 0;
    for (const TChange& change : Changes)
      if (change.Kind == '=' && change.Caption == caption && change.Column == column) ++count;
    return count;
  }

protected:
  void RowAdded(const TSessionRow& row, int) override {
    Changes.push_back({'+', row.Caption(), -1,
                       row.SubItem(0) + "|" + row.SubItem(1) + "|" + row.SubItem(2)});
  }
  void RowChanged(const TSessionRow& row, int, int column) override {
    Changes.push_back({'=', row.Caption(), column, row.SubItem(column)});
  }
  void RowRemoved(const TSessionRow& row, int) override { Changes.push_back({'-', row.Caption(), -1, ""}); }
};

class THostTest : public ::testing::Test {
protected:
  THostTest() {
    Settings.Port = 0;
    Settings.WebPort = 0;
  }
  ~THostTest() override {
    Host.reset();
    PumpUntil([] { return LingeringSockets() == 0; }, 1000);
  }

  void StartHost() {
    Host = std::make_unique<TGameHost>(Settings, List);
    Host->Start();
  }
  uint16_t GamePort() const { return Host->GameServer()->Port(); }
  const TSessionList& Sessions() const { return Host->GameServer()->Connections(); }
  TZULSession& Session(int index) const { return *static_cast<TZULSession*>(Sessions()[index]); }

  // A raw client whose session exists once this returns.
  std::unique_ptr<TRawClient> Connect() {
    int before = Sessions().Count();
    auto client = std::make_unique<TRawClient>(GamePort());
    EXPECT_TRUE(client->Connected());
    EXPECT_TRUE(PumpUntil([&] { return Sessions().Count() == before + 1; }));
    return client;
  }

  // Sends 3 with the name and takes the answers: 3, 8 and one 4 per other
  // connection.  What came before the 3 (other players' news) is skipped.
  // Returns the id the host gave.
  uint32_t Join(TRawClient& client, const std::string& name, int others) {
    client.SendFrame(MsgJoin, name);
    TRawFrame frame;
    do {
      if (!client.NextFrame(frame)) {
        ADD_FAILURE() << "no answer to 3";
        return 0;
      }
    } while (frame.Id != uint32_t(MsgJoin));
    std::size_t pos = 0;
    uint32_t id = UnpackAt(frame.Payload, pos);
    EXPECT_TRUE(client.NextFrame(frame));
    EXPECT_EQ(frame.Id, uint32_t(MsgPosition));
    for (int i = 0; i < others; ++i) {
      EXPECT_TRUE(client.NextFrame(frame));
      EXPECT_EQ(frame.Id, uint32_t(MsgPlayer));
    }
    return id;
  }

  // Takes the next frame, which must be id with that payload.
  static void ExpectFrame(TRawClient& client, uint32_t id, const std::string& payload) {
    TRawFrame frame;
    ASSERT_TRUE(client.NextFrame(frame)) << "no frame " << id;
    EXPECT_EQ(frame.Id, id);
    EXPECT_EQ(frame.Payload, payload) << "frame " << frame.Id;
  }
  static void ExpectNothing(TRawClient& client, int ms = 150) {
    auto frames = client.FramesWithin(ms);
    EXPECT_TRUE(frames.empty()) << frames.size() << " frames, first id " << frames.front().Id;
  }

  static uint32_t UnpackAt(const std::string& bytes, std::size_t& pos) {
    uint32_t value = 0;
    while (pos < bytes.size()) {
      auto byte = static_cast<unsigned char>(bytes[pos++]);
      value += byte & 0x7F;
      if (!(byte & 0x80)) break;
      value <<= 7;
    }
    return value;
  }

  TSocketLibrary SocketLibrary;
  THostSettings Settings;
  TRecordingList List;
  std::unique_ptr<TGameHost> Host;
};
