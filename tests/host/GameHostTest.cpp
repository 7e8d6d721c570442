// The host's start-up and the routing of socket notifications: which events
// reach which connection, which are ignored and which are errors, and what
// a failed start leaves running.
#include <QRegularExpression>
#include <QTime>

#include "HostFixture.h"
#include "platform/Errors.h"
#include "platform/Text1252.h"

namespace {

class GameHostTest : public THostTest {
protected:
  TMessage Event(uint32_t msg, TSocketHandle handle, uint16_t event, uint16_t error = 0) {
    return TMessage{msg, handle, WSAMAKESELECTREPLY(event, error)};
  }
  std::string RaisedBy(TMessage message) {
    try {
      Host->Dispatch(message);
    } catch (const Exception& error) {
      return error.Message();
    }
    return "";
  }
};

TEST_F(GameHostTest, StartOpensBothServersAndNamesTheHostInTheCaption) {
  Settings.Web = true;
  StartHost();
  ASSERT_NE(Host->GameServer(), nullptr);
  ASSERT_NE(Host->WebServer(), nullptr);
  EXPECT_NE(Host->GameServer()->Port(), 0);
  EXPECT_NE(Host->WebServer()->Port(), 0);
  EXPECT_EQ(Host->HostName, LocalHostName());
  EXPECT_EQ(Host->Caption, "Serveur ZUL Vantor - " + Host->HostName + " (" +
                               ws::inet_ntoa(ResolveHost(Host->HostName)) + ")");
  EXPECT_EQ(Host->WelcomeText, "Bonjour %n !");
  EXPECT_EQ(Host->GoodbyeText, "%n vous dit au revoir :D");
  EXPECT_EQ(Host->CutOffText, std::string("%n nous a quitté précipitemment"_cp));
}

TEST_F(GameHostTest, GamePortInUseStopsTheStartThereWebPortInUseSkipsOnlyTheCaption) {
  TMessageTarget nobody;
  TServer taken(&nobody, 0, CM_GAMESOCKET);
  Settings.Port = taken.Port();
  Settings.Web = true;
  Host = std::make_unique<TGameHost>(Settings, List);
  try {
    Host->Start();
    FAIL() << "the start went through";
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(), std::string("Impossible de démarrer le serveur (WINSOCK error #10048)"_cp));
  }
  EXPECT_EQ(Host->GameServer(), nullptr);
  EXPECT_EQ(Host->WebServer(), nullptr);
  EXPECT_EQ(Host->HostName, "");
  EXPECT_EQ(Host->Caption, "Serveur ZUL Vantor");
  EXPECT_EQ(Host->WelcomeText, "Bonjour %n !");

  Settings.Port = 0;
  Settings.WebPort = taken.Port();
  Host = std::make_unique<TGameHost>(Settings, List);
  EXPECT_THROW(Host->Start(), Exception);
  ASSERT_NE(Host->GameServer(), nullptr);
  EXPECT_EQ(Host->WebServer(), nullptr);
  EXPECT_EQ(Host->Caption, "Serveur ZUL Vantor");
  TRawClient client(GamePort());
  EXPECT_TRUE(PumpUntil([&] { return Sessions().Count() == 1; }));
}

TEST_F(GameHostTest, EventsOfUnknownSocketsAreIgnoredOrRefused) {
  Settings.Web = true;
  StartHost();
  auto client = Connect();
  const TSocketHandle unknown = 999999;
  TSocketHandle listening = Host->GameServer()->Handle();

  EXPECT_EQ(RaisedBy(Event(CM_GAMESOCKET, unknown, FD_CLOSE)), "");
  EXPECT_EQ(RaisedBy(Event(CM_GAMESOCKET, unknown, FD_READ)), std::string("Session non trouvée"_cp));
  EXPECT_EQ(RaisedBy(Event(CM_GAMESOCKET, unknown, FD_CLOSE, 10054)), std::string("Session non trouvée"_cp));
  // An accept that carries an error is no accept.
  EXPECT_EQ(RaisedBy(Event(CM_GAMESOCKET, listening, FD_ACCEPT, 10053)), std::string("Session non trouvée"_cp));
  EXPECT_EQ(Sessions().Count(), 1);
  for (uint16_t event : {uint16_t(FD_READ), uint16_t(FD_WRITE), uint16_t(FD_CLOSE), uint16_t(4)})
    EXPECT_EQ(RaisedBy(Event(CM_WEBSOCKET, unknown, event)), "");
  EXPECT_EQ(List.Count(), 1);
}

TEST_F(GameHostTest, InvalidEventKindIsRaisedAndTheTimeColumnIsStampedFirst) {
  Settings.Web = true;
  StartHost();
  auto player = Connect();
  TRawClient browser(Host->WebServer()->Port());
  ASSERT_TRUE(PumpUntil([&] { return List.Count() == 2; }));
  TSessionRow& row = Session(0).Row();

  constexpr uint16_t OutOfBand = 4;
  EXPECT_EQ(RaisedBy(Event(CM_GAMESOCKET, Session(0).Handle(), OutOfBand)),
            "Message Winsock invalide(WINSOCK error #0)");
  std::string stamped = row.SubItem(TSessionRow::TimeColumn);
  ASSERT_TRUE(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d$").match(QString::fromStdString(stamped)).hasMatch())
      << stamped;
  int drift = QTime::fromString(QString::fromStdString(stamped), "hh:mm:ss").secsTo(QTime::currentTime());
  EXPECT_TRUE(drift >= 0 && drift <= 2) << stamped;
  EXPECT_EQ(Sessions().Count(), 1);

  TSocketHandle web = Host->WebServer()->Connections()[0]->Handle();
  EXPECT_EQ(RaisedBy(Event(CM_WEBSOCKET, web, OutOfBand)), "[WEB] Message Winsock invalide(WINSOCK error #0)");
  // The web port leaves the time column alone.
  EXPECT_EQ(List.Row(1).SubItem(TSessionRow::TimeColumn), "00:00:00");
  std::string added;
  for (const auto& change : List.Changes)
    if (change.Kind == '+' && change.Caption == List.Row(1).Caption()) added = change.Text;
  EXPECT_EQ(added, "(web)|connexion|00:00:00");
  EXPECT_EQ(List.Count(), 2);
}

TEST_F(GameHostTest, EventWithErrorCodeReleasesTheConnection) {
  Settings.Web = true;
  StartHost();
  auto a = Connect();
  auto b = Connect();
  uint32_t aId = Join(*a, "A", 1);
  Join(*b, "B", 1);
  a->FramesWithin(100);
  TRawClient browser(Host->WebServer()->Port());
  ASSERT_TRUE(PumpUntil([&] { return List.Count() == 3; }));

  EXPECT_EQ(RaisedBy(Event(CM_GAMESOCKET, aId, FD_READ, 10054)), "");
  ExpectFrame(*b, MsgLeave, Packed(aId) + '\1');
  EXPECT_TRUE(a->WaitClosed());
  TSocketHandle web = Host->WebServer()->Connections()[0]->Handle();
  EXPECT_EQ(RaisedBy(Event(CM_WEBSOCKET, web, FD_WRITE, 10053)), "");
  EXPECT_TRUE(browser.WaitClosed());
  EXPECT_EQ(List.Count(), 1);
}

TEST_F(GameHostTest, DestroyingTheHostClosesEveryConnectionWithoutDepartures) {
  StartHost();
  std::vector<std::unique_ptr<TRawClient>> players;
  for (int i = 0; i < 3; ++i) {
    players.push_back(Connect());
    Join(*players.back(), "P" + std::to_string(i), i);
  }
  for (auto& player : players) player->FramesWithin(50);
  Host.reset();
  EXPECT_EQ(List.Count(), 0);
  for (auto& player : players) {
    EXPECT_TRUE(player->WaitClosed());
    EXPECT_EQ(player->Received, "");
  }
}

}  // namespace
