// The host's start-up and the routing of socket notifications: what reaches
// a connection, what is ignored, what is an error, and what a failed start
// leaves running.
#include <QRegularExpression>
#include <QTime>

#include "HostFixture.h"
#include "platform/Datagrams.h"
#include "platform/Errors.h"
#include "platform/Text1252.h"

namespace {

class GameHostTest : public THostTest {
 protected:
  std::string Raised(uint32_t msg, TSocketHandle handle, uint16_t event, uint16_t error = 0) {
    TMessage message{msg, handle, WSAMAKESELECTREPLY(event, error)};
    try {
      Host->Dispatch(message);
    } catch (const Exception& raised) {
      return raised.Message();
    }
    return "";
  }
};

TEST_F(GameHostTest, StartNamesTheHostAndAFailingServerStopsTheRestOfTheStart) {
  Settings.Web = true;
  StartHost();
  ASSERT_TRUE(Host->GameServer() && Host->WebServer());
  // The caption gives the addresses others reach (loopback only when the
  // machine has nothing else), each with the game port.
  std::string addresses;
  for (uint32_t address : LanAddresses())
    addresses += (addresses.empty() ? "" : ", ") + AddressText(address) + ":" +
                 std::to_string(Host->GameServer()->Port());
  EXPECT_EQ(Host->Caption, "Serveur ZUL Vantor - " + LocalHostName() + " (" + addresses + ")");
  if (AddressText(LanAddresses().front()).rfind("127.", 0) != 0) {
    EXPECT_EQ(Host->Caption.find("(127."), std::string::npos) << "loopback given beside a LAN address";
  }
  EXPECT_EQ(Host->CutOffText, std::string("%n nous a quitté précipitemment"_cp));

  // The game port taken: nothing after it starts.
  Settings.Port = Host->GameServer()->Port();
  auto second = std::make_unique<TGameHost>(Settings, List);
  try {
    second->Start();
    ADD_FAILURE() << "started on a port in use";
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(), std::string("Impossible de démarrer le serveur (WINSOCK error #10048)"_cp));
  }
  EXPECT_TRUE(!second->GameServer() && !second->WebServer() && second->HostName.empty());
  EXPECT_EQ(second->WelcomeText, "Bonjour %n !");

  // The web port taken: the game server runs, the caption stays as it was.
  Settings.Port = 0;
  Settings.WebPort = Host->WebServer()->Port();
  second = std::make_unique<TGameHost>(Settings, List);
  EXPECT_THROW(second->Start(), Exception);
  EXPECT_TRUE(second->GameServer() && !second->WebServer());
  EXPECT_EQ(second->Caption, "Serveur ZUL Vantor");
}

TEST_F(GameHostTest, EventsAreRoutedByHandleAndErrorCodesRelease) {
  Settings.Web = true;
  StartHost();
  auto a = Connect();
  auto b = Connect();
  Join(*a, "A", 0);
  Join(*b, "B", 1);
  TRawClient browser(Host->WebServer()->Port());
  ASSERT_TRUE(PumpUntil([&] { return List.Count() == 3; }));
  const TSocketHandle unknown = 999999;
  const uint16_t OutOfBand = 4;

  EXPECT_EQ(Raised(CM_GAMESOCKET, unknown, FD_CLOSE), "");
  EXPECT_EQ(Raised(CM_GAMESOCKET, unknown, FD_READ), std::string("Session non trouvée"_cp));
  EXPECT_EQ(Raised(CM_GAMESOCKET, unknown, FD_CLOSE, 10054), std::string("Session non trouvée"_cp));
  // An accept that carries an error is no accept.
  EXPECT_EQ(Raised(CM_GAMESOCKET, Host->GameServer()->Handle(), FD_ACCEPT, 10053),
            std::string("Session non trouvée"_cp));
  for (uint16_t event : {uint16_t(FD_READ), uint16_t(FD_CLOSE), OutOfBand})
    EXPECT_EQ(Raised(CM_WEBSOCKET, unknown, event), "");
  EXPECT_EQ(List.Count(), 3);

  // A known connection with an event it cannot have: the time is stamped first.
  EXPECT_EQ(Raised(CM_GAMESOCKET, Session(0).Handle(), OutOfBand),
            "Message Winsock invalide(WINSOCK error #0)");
  QString stamped = QString::fromStdString(Session(0).Row().SubItem(TSessionRow::TimeColumn));
  ASSERT_TRUE(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d$").match(stamped).hasMatch())
      << stamped.toStdString();
  int drift = QTime::fromString(stamped, "hh:mm:ss").secsTo(QTime::currentTime());
  EXPECT_TRUE(drift >= 0 && drift <= 2) << stamped.toStdString();
  TSocketHandle web = Host->WebServer()->Connections()[0]->Handle();
  EXPECT_EQ(Raised(CM_WEBSOCKET, web, OutOfBand), "[WEB] Message Winsock invalide(WINSOCK error #0)");
  EXPECT_EQ(List.Row(2).SubItem(TSessionRow::TimeColumn), "00:00:00");
  EXPECT_EQ(List.Count(), 3);

  std::string aId = Id(0);
  EXPECT_EQ(Raised(CM_GAMESOCKET, Session(0).Handle(), FD_READ, 10054), "");
  ExpectFrame(*b, MsgLeave, aId + '\1');
  EXPECT_TRUE(a->WaitClosed());
  EXPECT_EQ(Raised(CM_WEBSOCKET, web, FD_WRITE, 10053), "");
  EXPECT_TRUE(browser.WaitClosed());
  EXPECT_EQ(List.Count(), 1);
}

// An accept event whose accept then fails (here nothing waits any more;
// with the descriptors exhausted it is the same) leaves nothing behind on
// either port: no session, no row, no error, and the ports still admit.
TEST_F(GameHostTest, AnAcceptThatFailsMakesNoSessionAndNoRow) {
  Settings.Web = true;
  StartHost();
  auto player = Connect();
  EXPECT_EQ(Raised(CM_GAMESOCKET, Host->GameServer()->Handle(), FD_ACCEPT), "");
  EXPECT_EQ(Raised(CM_WEBSOCKET, Host->WebServer()->Handle(), FD_ACCEPT), "");
  EXPECT_EQ(Sessions().Count(), 1);
  EXPECT_EQ(Host->WebServer()->Connections().Count(), 0);
  EXPECT_EQ(List.Count(), 1);
  int added = 0;
  for (const auto& change : List.Changes) {
    added += change.Kind == '+';
    EXPECT_EQ(change.Caption.find("4294967295"), std::string::npos) << change.Caption;
  }
  EXPECT_EQ(added, 1);

  auto second = Connect();
  TRawClient browser(Host->WebServer()->Port());
  EXPECT_TRUE(PumpUntil([&] { return List.Count() == 3; }));
}

}  // namespace
