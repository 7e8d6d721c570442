// The join dialog's list of local games as a player uses it: two hosts of
// this process (a host window and a host core alone) answer on a discovery
// port of the test's own, the list
// searches the loopback broadcast address 127.255.255.255 only, shows both
// games, follows a login, drops a host that stops, and a choice fills the
// dialog's address and port boxes.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <memory>

#include "Pump.h"
#include "ShellSupport.h"
#include "host/GameHost.h"
#include "host/ServerForm.h"
#include "platform/Datagrams.h"
#include "platform/Messages.h"
#include "platform/Text1252.h"
#include "shell/LocalGamesForm.h"
#include "shell/LoginForm.h"
#include "shell/SetupForm.h"
#include "shell/main.h"

namespace {

constexpr uint32_t LoopbackBroadcast = 0x7FFFFFFF;  // 127.255.255.255

// A running game host of this process, answering on the given port.
struct TLocalHost {
  TLocalHost(uint16_t discoveryPort, const std::string& password) {
    Settings.Port = FreeTcpPort();
    Settings.Password = password;
    Settings.DiscoveryPort = discoveryPort;
    Host = std::make_unique<TGameHost>(Settings, List);
    Host->Start();
  }
  THostSettings Settings;
  TSessionListView List;
  std::unique_ptr<TGameHost> Host;
};

// The row of the game on that port, or null.
QTreeWidgetItem* RowOf(TFrmLocalGames& games, uint16_t port) {
  for (int i = 0; i < games.List->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = games.List->topLevelItem(i);
    if (item->text(TFrmLocalGames::PortColumn) == QString::number(port)) return item;
  }
  return nullptr;
}

TEST(LocalGames, TheListShowsTheHostsFollowsThemAndAChoiceFillsAddressAndPort) {
  TMessageCapture messages;
  const uint16_t discoveryPort = FreeUdpPort();
  TLocalHost open(discoveryPort, "");
  ASSERT_NE(open.Host->Responder(), nullptr);
  TFrmMain main;
  // The host window, started from its dialog with a password.
  main.Button1Click();
  FrmSetup->Settings.DiscoveryPort = discoveryPort;
  FrmSetup->edPort->setText(QString::number(FreeTcpPort()));
  FrmSetup->edPass->setText(ToQString("sésame"_cp));
  FrmSetup->Button1->click();
  ASSERT_NE(FrmServer, nullptr);
  ASSERT_NE(FrmServer->Host().Responder(), nullptr) << (messages.Texts.empty() ? "" : messages.Texts[0]);
  const uint16_t guardedPort = FrmSetup->Settings.Port;

  main.Button2Click();
  TFrmLogin& login = *FrmLogin;
  // The dialog keeps its size, boxes and texts, with one button more.
  EXPECT_EQ(login.size(), QSize(350, 209));
  EXPECT_EQ(login.edHost->text(), "127.0.0.1");
  EXPECT_EQ(login.edPort->text(), "2048");
  EXPECT_TRUE(login.rect().contains(login.btFind->geometry()));
  EXPECT_FALSE(login.btFind->geometry().intersects(login.Button1->geometry()));
  EXPECT_GE(login.btFind->width(), login.btFind->sizeHint().width());
  login.show();
  login.SearchTargets = {LoopbackBroadcast};
  login.SearchPort = discoveryPort;
  login.btFind->click();
  ASSERT_FALSE(login.LocalGames.isNull()) << (messages.Texts.empty() ? "" : messages.Texts[0]);
  TFrmLocalGames& games = *login.LocalGames;
  EXPECT_TRUE(games.isVisible());

  ASSERT_TRUE(PumpUntil([&] { return RowOf(games, open.Settings.Port) && RowOf(games, guardedPort); }));
  QTreeWidgetItem* row = RowOf(games, guardedPort);
  EXPECT_EQ(row->text(TFrmLocalGames::HostColumn).toStdString(), open.Host->HostName.substr(0, 63));
  // A game of this machine shows the address the others would use.
  const QString lanAddress = QString::fromStdString(AddressText(LanAddresses().front()));
  EXPECT_EQ(row->text(TFrmLocalGames::AddressColumn), lanAddress);
  EXPECT_EQ(row->text(TFrmLocalGames::PlayersColumn), "0");
  EXPECT_EQ(row->text(TFrmLocalGames::PasswordColumn), "oui");
  EXPECT_EQ(RowOf(games, open.Settings.Port)->text(TFrmLocalGames::PasswordColumn), "non");
  QApplication::processEvents();
  SaveScreenshot(games, "local-games");

  // A player logs in on the open game: the next refresh shows it.
  TRawClient alice(open.Settings.Port);
  alice.SendFrame(3, "Alice");
  TRawFrame frame;
  ASSERT_TRUE(alice.NextFrame(frame));
  EXPECT_TRUE(PumpUntil(
      [&] { return RowOf(games, open.Settings.Port)->text(TFrmLocalGames::PlayersColumn) == "1"; }, 5000));

  // The host window quits: its row goes, the other stays.
  FrmServer->acQuit->trigger();
  QApplication::processEvents();
  ASSERT_EQ(FrmServer, nullptr);
  EXPECT_TRUE(PumpUntil([&] { return RowOf(games, guardedPort) == nullptr; }, 8000));
  ASSERT_NE(RowOf(games, open.Settings.Port), nullptr);

  // Choosing with nothing selected does nothing; a double click on a row
  // fills the boxes and closes the list.
  games.Button1->click();
  EXPECT_EQ(login.edPort->text(), "2048");
  EXPECT_FALSE(login.LocalGames.isNull());
  QTreeWidgetItem* chosen = RowOf(games, open.Settings.Port);
  QRect place = games.List->visualItemRect(chosen);
  QTest::mouseClick(games.List->viewport(), Qt::LeftButton, {}, place.center());
  QTest::mouseDClick(games.List->viewport(), Qt::LeftButton, {}, place.center());
  EXPECT_TRUE(PumpUntil([&] { return login.LocalGames.isNull(); }));
  EXPECT_EQ(login.edHost->text(), lanAddress);
  EXPECT_EQ(login.edPort->text(), QString::number(open.Settings.Port));
  EXPECT_TRUE(messages.Texts.empty()) << messages.Texts[0];

  // Opened again, the list is new and the Choisir button fills the boxes.
  login.edPort->setText("2048");
  login.btFind->click();
  ASSERT_FALSE(login.LocalGames.isNull());
  ASSERT_TRUE(PumpUntil([&] { return RowOf(*login.LocalGames, open.Settings.Port) != nullptr; }));
  login.LocalGames->List->setCurrentItem(RowOf(*login.LocalGames, open.Settings.Port));
  login.LocalGames->Button1->click();
  EXPECT_TRUE(PumpUntil([&] { return login.LocalGames.isNull(); }));
  EXPECT_EQ(login.edPort->text(), QString::number(open.Settings.Port));
  delete FrmLogin;
  delete FrmSetup;
}

}  // namespace
