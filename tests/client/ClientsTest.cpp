// The client connection against a raw host on 127.0.0.1 that writes the
// host's frames byte for byte: the login, each of the host's messages with
// its effect on the player list and on the chat panel's lines and colours,
// the acknowledgement order of the own chat lines, the leave message, and a
// faulty message that must not stop the ones after it.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ModelFilesSupport.h"
#include "Pump.h"
#include "client/Clients.h"
#include "client/Journal.h"
#include "effects/GLGui.h"
#include "models/L3DPlayer.h"
#include "platform/Messages.h"
#include "platform/Text1252.h"
#include "platform/Tick.h"
#include "support/RawPeers.h"
#include "world/ZULPathFinder.h"

namespace {

constexpr uint32_t Notification = 1024;
constexpr uint32_t White = 0xFFFFFFFF;  // as the panel stores them: opaque
constexpr uint32_t Green = 0xFF00FF00;
constexpr uint32_t Blue = 0xFF000000 | ArrivalColor;  // arrivals and departures

// Stands for the client window: owns the map and the chat panel and routes
// the socket events to the connection the way the window does.
class TTestWindow : public TClientOwner {
 public:
  TMap& SharedMap() override { return Map; }
  TGLMemo* ChatPanel() override { return &Chat; }
  void CloseWindow() override { ++Closes; }
  TClientJournal* Journal() override { return Notes.get(); }
  void Dispatch(TMessage& message) override {
    if (WSAGETSELECTERROR(message.LParam) != 0) {
      ConnectError = WSAGETSELECTERROR(message.LParam);
      return;
    }
    switch (WSAGETSELECTEVENT(message.LParam)) {
      case FD_READ:
        Client->Receive();
        break;
      case FD_WRITE:
        Client->IO->Flush();
        break;
      case FD_CONNECT:
        Connected = true;
        Client->SetPassword(Password);
        Client->SetName(Name);
        break;
      case FD_CLOSE:
        Closed = true;
        break;
    }
  }

  TMap256 Map;
  TGLFont Font;
  TGLMemo Chat{Font};
  std::unique_ptr<TClientJournal> Notes;
  TZULClient* Client = nullptr;
  std::string Name = "me";
  std::string Password;
  int Closes = 0;
  int ConnectError = 0;
  bool Connected = false;
  bool Closed = false;
};

struct TLine {
  std::string Text;
  uint32_t Color;
  friend bool operator==(const TLine&, const TLine&) = default;
};
std::ostream& operator<<(std::ostream& out, const TLine& line) {
  return out << '"' << ToUtf8(line.Text) << "\" 0x" << std::hex << line.Color << std::dec;
}

class ClientTest : public ::testing::Test {
 protected:
  void TearDown() override {
    Client.reset();
    ReleaseSharedMotions();
  }

  void Login(const std::string& name = "me", const std::string& password = "") {
    Window.Name = name;
    Window.Password = password;
    Client = std::make_unique<TZULClient>(Window, Notification, TRawHost::Address(), Host.Port());
    Window.Client = Client.get();
    ASSERT_TRUE(Host.Accept());
    ASSERT_TRUE(PumpUntil([&] { return Window.Connected; }));
  }
  // Logs in as "me" with number 7, takes the login frames off the wire.
  void Welcome() {
    Login();
    TRawFrame frame;
    ASSERT_TRUE(Host.NextFrame(frame));
    Host.SendFrame(3, Packed(7));
    ASSERT_TRUE(PumpUntil([&] { return Client->LocalPlayer->Id == 7; }));
  }
  // The host announces a player already present.
  void Arrive(uint32_t id, const std::string& name, uint32_t x = 127, uint32_t y = 128) {
    Host.SendFrame(4, Packed(id) + Packed(0) + Packed(x) + Packed(y) + Packed(1) + name);
  }
  // Sends bytes, then a chat line from the local player's own number as a
  // marker, and waits for the marker's panel line: whatever the bytes did
  // has been done by then.
  void SendAndSettle(const std::string& bytes) {
    int before = Window.Chat.Count();
    Host.Send(bytes + Frame(5, Packed(uint32_t(Client->LocalPlayer->Id)) + "sync"));
    ASSERT_TRUE(PumpUntil([&] {
      int count = Window.Chat.Count();
      return count > before && Window.Chat.Line(count - 1).Text == Marker();
    }));
  }
  std::string Marker() const { return Client->LocalName() + ">sync"; }
  // The panel's lines, oldest first, without the markers.
  std::vector<TLine> Lines() const {
    std::vector<TLine> lines;
    for (int age = 0; age < Window.Chat.Count(); ++age)
      if (Window.Chat.Line(age).Text != Marker())
        lines.push_back({Window.Chat.Line(age).Text, Window.Chat.Line(age).Color});
    return lines;
  }
  TZULPlayer* PlayerNumbered(int32_t id) const {
    for (TZULPlayer* player : Client->Players.Items())
      if (player->Id == id) return player;
    return nullptr;
  }

  TModelFolder Models;
  TMessageCapture Boxes;
  TRawHost Host;
  TTestWindow Window;
  std::unique_ptr<TZULClient> Client;
};

TEST_F(ClientTest, LoginSendsTheNameAloneWhenNoPasswordWasTyped) {
  Login("guest");
  ASSERT_TRUE(Host.WaitBytes(7));
  EXPECT_EQ(Host.Received, std::string("\x03\x05guest", 7)) << "no 1 before it";
  Host.Received.clear();
  EXPECT_TRUE(Host.FramesWithin(100).empty());
  EXPECT_EQ(Client->LocalName(), "guest");
  EXPECT_EQ(Client->Players.Count(), 1);
  EXPECT_EQ(Client->Players[0], Client->LocalPlayer);
}

TEST_F(ClientTest, LoginSendsThePasswordFirstWhenOneWasTyped) {
  Login("guest", "s\xE9same");
  TRawFrame first, second;
  ASSERT_TRUE(Host.NextFrame(first));
  ASSERT_TRUE(Host.NextFrame(second));
  EXPECT_EQ(first, (TRawFrame{1, "s\xE9same"}));
  EXPECT_EQ(second, (TRawFrame{3, "guest"}));
}

TEST_F(ClientTest, TheHostsAnnouncementsFillThePlayerListAndThePanel) {
  Login("guest");
  TRawFrame frame;
  ASSERT_TRUE(Host.NextFrame(frame));
  // The host's answer to the login, as it writes it for number 1968.
  Host.Send(std::string("\x03\x02\x8F\x30", 4));
  ASSERT_TRUE(PumpUntil([&] { return Client->LocalPlayer->Id == 1968; }));
  SendAndSettle(std::string("\x08\x06\x8F\x30\x00\x7F\x7E\x00", 8) +
                Frame(4, Packed(12) + Packed(0) + Packed(127) + Packed(128) + Packed(1) + "Bob") +
                Frame(4, Packed(13) + Packed(5) + Packed(10) + Packed(20) + Packed(0) + "Ann") +
                Frame(4, Packed(14) + Packed(0) + Packed(127) + Packed(128) + Packed(2) + "Zo"));
  TZULPlayer2* local = Client->LocalPlayer;
  EXPECT_EQ(local->Id, 1968);
  EXPECT_EQ(local->X, 127);
  EXPECT_EQ(local->Y, 126) << "the host's 8 places the local player too";

  ASSERT_EQ(Client->Players.Count(), 4);
  EXPECT_EQ(Client->Players[0], local) << "the local player stays first";
  TZULPlayer* bob = Client->Players[1];
  EXPECT_EQ(dynamic_cast<TZULPlayer2*>(bob), nullptr) << "remote players report nothing";
  EXPECT_EQ(bob->Id, 12);
  EXPECT_EQ(bob->Name, "Bob");
  EXPECT_EQ(bob->X, 127);
  EXPECT_EQ(bob->Y, 128);
  EXPECT_EQ(bob->Direction, 0);
  TZULPlayer* ann = Client->Players[2];
  EXPECT_EQ(ann->Reserved, 5);
  EXPECT_EQ(ann->X, 10);
  EXPECT_EQ(ann->Y, 20);
  EXPECT_EQ(Lines(), (std::vector<TLine>{{"Bonjour guest", White},
                                         {"Bob est déjà en ligne"_cp, Blue},
                                         {"Ann rejoint la partie", Blue},
                                         {"Zo est déjà en ligne"_cp, Blue}}));
  EXPECT_TRUE(Boxes.Texts.empty());
}

TEST_F(ClientTest, ChatLinesShowAsRelayedAndOwnLinesOnAcknowledgementInOrder) {
  Welcome();
  Arrive(12, "Bob");
  SendAndSettle(Frame(5, Packed(12) + "hello") + Frame(6));
  EXPECT_EQ(Lines(), (std::vector<TLine>{
                         {"Bonjour me", White}, {"Bob est déjà en ligne"_cp, Blue}, {"Bob>hello", Green}}))
      << "no blank after the sign; an acknowledgement with nothing pending shows nothing";

  Client->Say("one");
  Client->Say("two");
  Client->Say("three");
  for (const char* said : {"one", "two", "three"}) {
    TRawFrame frame;
    ASSERT_TRUE(Host.NextFrame(frame));
    EXPECT_EQ(frame, (TRawFrame{5, said}));
  }
  EXPECT_EQ(Client->PendingChat.size(), 3u);
  SendAndSettle(Frame(6) + Frame(6));
  SendAndSettle(Frame(6) + Frame(6));
  std::vector<TLine> lines = Lines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[3], (TLine{"me> one", Green})) << "a blank after the sign";
  EXPECT_EQ(lines[4], (TLine{"me> two", Green}));
  EXPECT_EQ(lines[5], (TLine{"me> three", Green}));
  EXPECT_TRUE(Client->PendingChat.empty());

  SendAndSettle(Frame(5, Packed(99) + "ghost"));
  EXPECT_EQ(Lines().size(), 6u);
  EXPECT_TRUE(Boxes.Texts.empty()) << "a stranger's line is no news for the player";
}

TEST_F(ClientTest, DeparturesTakeThePlayerAwayWithTheirLine) {
  Welcome();
  Arrive(1968, "guest");
  Arrive(12, "Bob");
  Arrive(13, "Ann");
  // The host's own bytes for 1968 leaving without warning.
  SendAndSettle(std::string("\x07\x03\x8F\x30\x01", 5) + Frame(7, Packed(12) + Packed(0)));
  ASSERT_EQ(Client->Players.Count(), 2);
  EXPECT_EQ(PlayerNumbered(1968), nullptr);
  EXPECT_EQ(PlayerNumbered(12), nullptr);
  EXPECT_NE(PlayerNumbered(13), nullptr);
  std::vector<TLine> lines = Lines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[4], (TLine{"guest nous quitte sans prévenir"_cp, Blue}));
  EXPECT_EQ(lines[5], (TLine{"Bob nous quitte", Blue}));

  SendAndSettle(Frame(7, Packed(12) + Packed(1)));
  EXPECT_TRUE(Boxes.Texts.empty()) << "already gone: nothing to say";
  EXPECT_EQ(Lines().size(), 6u);
}

// The local player is drawn and steered by the screens for the whole
// connection: a host naming it as leaving gets its line, nothing more.
TEST_F(ClientTest, ADepartureOfTheLocalPlayerKeepsIt) {
  Welcome();
  SendAndSettle(Frame(7, Packed(7) + Packed(0)));
  EXPECT_EQ(Lines().back(), (TLine{"me nous quitte", Blue}));
  ASSERT_EQ(Client->Players.Count(), 1);
  EXPECT_EQ(Client->Players[0], Client->LocalPlayer);
}

TEST_F(ClientTest, DestinationsWalkPlayersAndPositionsStopThem) {
  TTestClock clock;
  Welcome();
  Arrive(12, "Bob");
  SendAndSettle(Frame(9, Packed(12) + Packed(130) + Packed(128)));
  TZULPlayer* bob = PlayerNumbered(12);
  ASSERT_NE(bob, nullptr);
  EXPECT_TRUE(bob->Moving());
  EXPECT_EQ(bob->PathFinder->Goal(), (TPoint{130, 128}));
  EXPECT_TRUE(Host.FramesWithin(50).empty()) << "a remote player's walk sends nothing";

  clock.Advance(100);
  Client->Players.Update(clock.Now);
  SendAndSettle(Frame(8, Packed(12) + Packed(3) + Packed(131) + Packed(129) + Packed(5)));
  EXPECT_FALSE(bob->Moving()) << "stopped at once";
  EXPECT_EQ(bob->Reserved, 3);
  EXPECT_EQ(bob->X, 131);
  EXPECT_EQ(bob->Y, 129);
  EXPECT_EQ(bob->Direction, 5);
  Client->Players.Update(clock.Now + 40);
  EXPECT_EQ(bob->OffsetX, 0.0f);
  EXPECT_EQ(bob->OffsetZ, 0.0f);

  // The local player walks like after a click, and reports the walk.
  SendAndSettle(Frame(9, Packed(7) + Packed(129) + Packed(127)));
  TZULPlayer2* local = Client->LocalPlayer;
  EXPECT_TRUE(local->Moving());
  TRawFrame frame;
  ASSERT_TRUE(Host.NextFrame(frame));
  EXPECT_EQ(frame, (TRawFrame{9, Packed(129) + Packed(127)}));
  for (int step = 0; step < 100 && local->Moving(); ++step) {
    clock.Advance(40);
    Client->Players.Update(clock.Now);
  }
  EXPECT_FALSE(local->Moving());
  ASSERT_TRUE(Host.NextFrame(frame));
  EXPECT_EQ(frame, (TRawFrame{8, Packed(129) + Packed(127) + Packed(uint32_t(local->Direction))}));
  EXPECT_EQ(local->Direction, 2) << "the last step went towards +X";
}

// What a watcher outside the client reads: each walk's goal once, each walk's
// end once, whether the copy got there itself or the walker's 8 ended it,
// and nothing for a walk that only turns onto a new path at a cell boundary.
TEST_F(ClientTest, TheJournalNotesGoalsEndsOfWalksAndPanelLines) {
  QTemporaryDir folder;
  const std::string path = folder.filePath("journal").toStdString();
  Window.Notes = std::make_unique<TClientJournal>(path);
  TTestClock clock;
  Welcome();
  Arrive(12,
         "B\xE9"
         "a");
  auto walk = [&](TZULPlayer* player) {
    for (int step = 0; step < 200 && player->Moving(); ++step) {
      clock.Advance(40);
      Client->Players.Update(clock.Now);
    }
  };
  SendAndSettle(Frame(9, Packed(12) + Packed(130) + Packed(128)));
  TZULPlayer* bea = PlayerNumbered(12);
  ASSERT_NE(bea, nullptr);
  walk(bea);
  // A new goal in mid-walk takes over at the next cell boundary.
  SendAndSettle(Frame(9, Packed(12) + Packed(135) + Packed(128)));
  clock.Advance(100);
  Client->Players.Update(clock.Now);
  SendAndSettle(Frame(9, Packed(12) + Packed(130) + Packed(120)));
  clock.Advance(600);
  Client->Players.Update(clock.Now);
  ASSERT_TRUE(bea->Moving());
  SendAndSettle(Frame(8, Packed(12) + Packed(0) + Packed(131) + Packed(126) + Packed(1)));
  SendAndSettle(Frame(8, Packed(12) + Packed(0) + Packed(131) + Packed(125) + Packed(1)));
  SendAndSettle(Frame(9, Packed(7) + Packed(127) + Packed(126)));
  walk(Client->LocalPlayer);

  std::ifstream file(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);)
    if (line != "chat me>sync") lines.push_back(line);
  EXPECT_EQ(lines,
            (std::vector<std::string>{"chat Bonjour me", "chat Béa est déjà en ligne", "goal Béa 130 128",
                                      "stop Béa 130 128", "goal Béa 135 128", "goal Béa 130 120",
                                      "stop Béa 131 126", "goal me 127 126", "stop me 127 126"}));

  try {
    TClientJournal unwritable(folder.filePath("no/such/folder/journal").toStdString());
    ADD_FAILURE() << "a journal in a missing folder was opened";
  } catch (const Exception& error) {
    EXPECT_TRUE(std::string(error.what()).starts_with("Impossible d'écrire le journal "_cp.View()))
        << error.what();
  }
}

TEST_F(ClientTest, ARefusedLoginClosesTheWindowAndNeverSaysGoodbye) {
  Login("guest", "wrong");
  Host.SendFrame(2, "Mot de passe invalide");
  Host.ShutdownSending();
  ASSERT_TRUE(PumpUntil([&] { return Window.Closes == 1; }));
  EXPECT_TRUE(Client->Disconnected);
  EXPECT_EQ(Boxes.Texts, std::vector<std::string>{"Mot de passe invalide"});
  Client->Close();
  Client.reset();
  ASSERT_TRUE(Host.WaitClosed());
  std::vector<TRawFrame> frames;
  TRawFrame frame;
  while (Host.NextFrame(frame, 10)) frames.push_back(frame);
  EXPECT_EQ(frames, (std::vector<TRawFrame>{{1, "wrong"}, {3, "guest"}})) << "the login, and no 7";
  EXPECT_EQ(Boxes.Texts.size(), 1u);
}

TEST_F(ClientTest, CloseSaysGoodbyeOnceAndTheSocketCloses) {
  Welcome();
  Arrive(12, "Bob");
  Arrive(13, "Ann");
  SendAndSettle("");
  ASSERT_EQ(Client->Players.Count(), 3);
  Client->Close();
  Client->Close();
  Client.reset();  // destroys the three players and closes the socket
  std::vector<TRawFrame> frames;
  ASSERT_TRUE(Host.WaitClosed());
  TRawFrame frame;
  while (Host.NextFrame(frame, 10)) frames.push_back(frame);
  EXPECT_EQ(frames, (std::vector<TRawFrame>{{7, ""}}));
  EXPECT_TRUE(Boxes.Texts.empty());
}

// A host that keeps announcing newcomers cannot grow the client without
// bound: past the most it keeps, an arrival is refused and the rest goes on.
TEST_F(ClientTest, ArrivalsPastTheMostPlayersKeptAreRefused) {
  Welcome();
  auto arrival = [](uint32_t id) {
    return Frame(4, Packed(id) + Packed(0) + Packed(1) + Packed(2) + Packed(1) + "X");
  };
  std::string arrivals;
  for (int i = 0; i <= MaxRemotePlayers; ++i) arrivals += arrival(uint32_t(100 + i));
  // The panel is full long before the end: the last arrival's box says so.
  Host.Send(arrivals);
  ASSERT_TRUE(PumpUntil([&] { return !Boxes.Texts.empty(); }));
  EXPECT_EQ(Client->Players.Count(), 1 + MaxRemotePlayers);
  EXPECT_EQ(Boxes.Texts, std::vector<std::string>{"Trop de joueurs (1024 au plus)"});
  EXPECT_EQ(PlayerNumbered(100 + MaxRemotePlayers), nullptr);
  // A departure makes room again.
  Host.Send(Frame(7, Packed(100) + Packed(0)) + arrival(2000));
  EXPECT_TRUE(PumpUntil([&] { return PlayerNumbered(2000) != nullptr; }));
}

TEST_F(ClientTest, UnknownAndFaultyMessagesDoNotStopTheOnesAfterThem) {
  Welcome();
  SendAndSettle(Frame(42, "0123456789") + Frame(4, Packed(12) + Packed(0)) +
                Frame(4, Packed(13) + Packed(0) + Packed(1) + Packed(2) + Packed(0) + "Ann"));
  EXPECT_EQ(Boxes.Texts, (std::vector<std::string>{"Message #42 inconnu", "Erreur de flux 2"}));
  ASSERT_EQ(Client->Players.Count(), 2) << "the short arrival made no player";
  EXPECT_EQ(Client->Players[1]->Name, "Ann");
  EXPECT_EQ(Lines().back(), (TLine{"Ann rejoint la partie", Blue}));
  SendAndSettle(Frame(6));
  EXPECT_EQ(Boxes.Texts.size(), 2u) << "the faulty frame is not met again";
}

// The look of another player as its meshes show it: "Humain Humain.BMP
// Cheveux3 Barbe1 Poils.BMP", the hidden ones left out.
std::string Dress(const TZULPlayer& player) {
  std::string shown;
  auto add = [&](const TTexturedMesh* mesh) {
    if (!mesh->Visible) return;
    const std::string& file = mesh->Mesh()->FileName;  // data\qelt-3d\<stem>.L3D
    shown += (shown.empty() ? "" : " ") + file.substr(13, file.size() - 17);
    shown += " " + mesh->Textures->Items(0)->FileName.substr(13);
  };
  add(player.RaceMesh);
  add(player.HairMesh);
  add(player.BeardMesh);
  return shown;
}

// The login offers the look after the name, a new choice is sent once, and
// the looks the host relays dress the others; a player that never sent one
// wears the creation page's start, as it sees itself.
TEST_F(ClientTest, TheLookIsOfferedAfterTheNameAndRelayedLooksDressTheOthers) {
  Login();
  Client->OfferLook();
  TRawFrame frame;
  ASSERT_TRUE(Host.NextFrame(frame));
  EXPECT_EQ(frame, (TRawFrame{3, "me"}));
  ASSERT_TRUE(Host.NextFrame(frame));
  EXPECT_EQ(frame, (TRawFrame{10, Packed(0) + Packed(0) + Packed(0)})) << "nothing chosen: the start";
  Client->SetLook(DefaultLook);
  Client->SetLook(TPlayerLook{LookElf, 8, 3});
  Client->SetLook(TPlayerLook{LookElf, 8, 3});
  EXPECT_EQ(Host.FramesWithin(100), (std::vector<TRawFrame>{{10, Packed(1) + Packed(8) + Packed(3)}}));

  QTemporaryDir folder;
  Window.Notes = std::make_unique<TClientJournal>(folder.filePath("journal").toStdString());
  Host.SendFrame(3, Packed(7));
  ASSERT_TRUE(PumpUntil([&] { return Client->LocalPlayer->Id == 7; }));
  Arrive(12, "Bob");
  Arrive(13, "Ann");
  SendAndSettle("");
  EXPECT_EQ(Dress(*PlayerNumbered(12)), "Humain Humain.BMP") << "no look sent: no hair, no beard";
  SendAndSettle(Frame(10, Packed(12) + Packed(1) + Packed(3) + Packed(2)));
  EXPECT_EQ(Dress(*PlayerNumbered(12)), "Elfe Elfe.BMP Cheveux3 Poils.BMP Oreilles2 Elfe.BMP");
  SendAndSettle(Frame(10, Packed(12) + Packed(0) + Packed(0) + Packed(3)));
  EXPECT_EQ(Dress(*PlayerNumbered(12)), "Humain Humain.BMP Barbe3 Poils.BMP") << "back to human";
  EXPECT_EQ(Dress(*PlayerNumbered(13)), "Humain Humain.BMP");
  SendAndSettle(Frame(10, Packed(7) + Packed(1) + Packed(1) + Packed(1)));
  EXPECT_EQ(Client->LocalPlayer->Model->Meshes[1]->Mesh()->FileName, "data\\qelt-3d\\Humain.L3D")
      << "the creation page dresses the local player";
  EXPECT_TRUE(Boxes.Texts.empty());

  std::ifstream journal(folder.filePath("journal").toStdString());
  std::vector<std::string> looks;
  for (std::string line; std::getline(journal, line);)
    if (line.rfind("look ", 0) == 0) looks.push_back(line);
  EXPECT_EQ(looks, (std::vector<std::string>{"look Bob 1 3 2", "look Bob 0 0 3"}));
}

// Every value outside the creation page's choices, a payload too short or
// too long, is refused and changes nothing; the messages after it arrive.
TEST_F(ClientTest, LooksOutsideTheChoicesAreRefusedAndChangeNothing) {
  Welcome();
  Arrive(12, "Bob");
  const std::string bad[] = {
      Packed(12) + Packed(2) + Packed(0) + Packed(0),        // no third race
      Packed(12) + Packed(0) + Packed(9) + Packed(0),        // eight hair styles
      Packed(12) + Packed(0) + Packed(0) + Packed(4),        // three beards
      Packed(12) + Packed(1) + Packed(0) + Packed(0),        // an elf without ears
      Packed(12) + Packed(0) + Packed(0) + Packed(0) + "x",  // a byte too many
      Packed(12) + Packed(0) + Packed(0x7FFFFFFF) + Packed(0),
  };
  for (const std::string& payload : bad) {
    SCOPED_TRACE(testing::PrintToString(payload));
    Boxes.Texts.clear();
    SendAndSettle(Frame(10, payload) + Frame(5, Packed(12) + "after"));
    EXPECT_EQ(Boxes.Texts, std::vector<std::string>{"Apparence invalide"});
    EXPECT_EQ(Dress(*PlayerNumbered(12)), "Humain Humain.BMP");
    EXPECT_EQ(Lines().back(), (TLine{"Bob>after", Green}));
  }
  Boxes.Texts.clear();
  SendAndSettle(Frame(10, Packed(12) + Packed(0) + Packed(1)));
  EXPECT_EQ(Boxes.Texts, std::vector<std::string>{"Erreur de flux 2"});
  Boxes.Texts.clear();
  SendAndSettle(Frame(10, Packed(99) + Packed(0) + Packed(1) + Packed(1)));
  EXPECT_TRUE(Boxes.Texts.empty()) << "a stranger's look is ignored like its other messages";
}

// A host that announces the departure of a connection it never introduced
// (a port scanner, a refused password), or relays what a player sent
// without checking it, must not stop anyone's game: each such message is
// one line on standard error, no box, and the messages after it go on.
TEST_F(ClientTest, MessagesAboutStrangersAndUndecodableRelaysAreIgnoredWithoutABox) {
  Welcome();
  Arrive(12, "Bob");
  SendAndSettle(std::string());
  const std::vector<TLine> before = Lines();
  testing::internal::CaptureStderr();
  SendAndSettle(Frame(5, Packed(99) + "ghost") + Frame(7, Packed(99) + Packed(1)) +
                Frame(8, Packed(99) + Packed(0) + Packed(10) + Packed(10) + Packed(2)) +
                Frame(9, Packed(99) + Packed(130) + Packed(128)) +
                Frame(10, Packed(99) + Packed(0) + Packed(1) + Packed(1)) +
                Frame(9, Packed(12) + Packed(130)) + Frame(8, Packed(12) + Packed(0) + Packed(131)) +
                Frame(9, Packed(12) + "\xFF\xFF\xFF\xFF\xFF\xFF") +
                Frame(9, Packed(12) + Packed(130) + Packed(128) + Packed(1)));
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(Boxes.Texts.empty()) << Boxes.Texts.front();
  EXPECT_EQ(Lines(), before);
  TZULPlayer* bob = PlayerNumbered(12);
  ASSERT_NE(bob, nullptr);
  EXPECT_FALSE(bob->Moving()) << "no half-read walk was started";
  EXPECT_EQ(bob->X, 127);
  EXPECT_EQ(bob->Y, 128);
  EXPECT_EQ(Client->Players.Count(), 2);
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 9) << said;
  for (const char* ignored : {"Message #5 ", "Message #7 ", "Message #8 ", "Message #9 ", "Message #10 "})
    EXPECT_NE(said.find(ignored), std::string::npos) << ignored << " in " << said;
  EXPECT_NE(said.find("joueur #99 inconnu"), std::string::npos) << said;

  // The connection goes on: Bob's next walk is his.
  SendAndSettle(Frame(9, Packed(12) + Packed(130) + Packed(128)));
  EXPECT_TRUE(bob->Moving());
  EXPECT_TRUE(Boxes.Texts.empty());
}

// A host may announce the same number again (a player that sent its name
// twice): the client keeps one player for it, the latest.
TEST_F(ClientTest, AnArrivalForAKnownNumberReplacesThatPlayer) {
  Welcome();
  Arrive(12, "Bob");
  Arrive(13, "Ann");
  for (int again = 0; again < 3; ++again) Arrive(12, "Bobby", 10, 20);
  testing::internal::CaptureStderr();
  Arrive(7, "impostor");
  SendAndSettle(std::string());
  const std::string said = testing::internal::GetCapturedStderr();
  ASSERT_EQ(Client->Players.Count(), 3) << "one player per number";
  TZULPlayer* bob = PlayerNumbered(12);
  ASSERT_NE(bob, nullptr);
  EXPECT_EQ(bob->Name, "Bobby");
  EXPECT_EQ(bob->X, 10);
  EXPECT_EQ(bob->Y, 20);
  EXPECT_EQ(Client->Players[0], Client->LocalPlayer);
  EXPECT_EQ(Client->LocalName(), "me") << "the local player is never replaced";
  EXPECT_NE(said.find("Message #4 "), std::string::npos) << said;
  SendAndSettle(Frame(7, Packed(12) + Packed(0)));
  EXPECT_EQ(PlayerNumbered(12), nullptr) << "one departure takes it all away";
  EXPECT_EQ(Client->Players.Count(), 2);
  EXPECT_TRUE(Boxes.Texts.empty());
}

}  // namespace
