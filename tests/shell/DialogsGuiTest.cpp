// The start windows as a player meets them: the host-a-game and join-a-game
// dialogs with their checks and messages, the port box that takes only
// digits, and the main window's hand-over to each dialog.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include "Pump.h"
#include "ShellSupport.h"
#include "client/ClientForm.h"
#include "host/GameHost.h"
#include "host/ServerForm.h"
#include "host/Sessions.h"
#include "platform/Messages.h"
#include "platform/Text1252.h"
#include "shell/LoginForm.h"
#include "shell/SetupForm.h"
#include "shell/main.h"
#include "support/LoopbackHosts.h"

TEST(SetupDialog, PortBoxTakesDigitsOnlyAndChecksItsRange) {
  TMessageCapture messages;
  TFrmMain main;
  main.Button1Click();
  ASSERT_NE(FrmSetup, nullptr);
  TFrmSetup& setup = *FrmSetup;
  EXPECT_EQ(setup.edPort->text(), "2048");
  EXPECT_FALSE(setup.cbWeb->isChecked());
  // Opening the game to the Internet is the host's choice.
  EXPECT_FALSE(setup.cbUpnp->isChecked());
  EXPECT_EQ(setup.cbUpnp->text(), QString::fromUtf8("Ouvrir le port sur le routeur (UPnP)"));
  EXPECT_TRUE(setup.edPass->text().isEmpty());
  EXPECT_EQ(setup.size(), QSize(389, 200));

  setup.edPort->clear();
  QTest::keyClicks(setup.edPort, "6a5b5-3x5");
  EXPECT_EQ(setup.edPort->text(), "65535");

  setup.edPort->setText("65536");
  setup.Button1->click();
  ASSERT_EQ(messages.Texts.size(), 1u);
  EXPECT_EQ(messages.Texts[0], std::string("Le numéro de port doit être compris entre 0 et 65535"_cp));
  EXPECT_EQ(FrmServer, nullptr);

  setup.edPort->clear();
  setup.Button1->click();
  ASSERT_EQ(messages.Texts.size(), 2u);
  EXPECT_EQ(messages.Texts[1], "'' is not a valid integer value");
  EXPECT_EQ(FrmServer, nullptr);
  EXPECT_EQ(FrmSetup, &setup);

  setup.edPort->setText(QString::number(FreeTcpPort()));
  setup.Button1->click();
  ASSERT_NE(FrmServer, nullptr);
  EXPECT_FALSE(setup.isVisible());
  EXPECT_NE(FrmServer->Host().GameServer(), nullptr);
  FrmServer->acQuit->trigger();
  QApplication::processEvents();
  EXPECT_EQ(FrmServer, nullptr);
  EXPECT_TRUE(setup.isVisible());
  setup.close();
  QApplication::processEvents();
  EXPECT_TRUE(main.isVisible());
}

TEST(SetupDialog, HighestPortStartsAHost) {
  TFrmMain main;
  main.Button1Click();
  FrmSetup->edPort->setText("65535");
  FrmSetup->Button1->click();
  ASSERT_NE(FrmServer, nullptr);
  EXPECT_EQ(FrmSetup->Settings.Port, 65535);
  FrmServer->acQuit->trigger();
  FrmSetup->close();
  QApplication::processEvents();
}

TEST(JoinDialog, ChecksTheAddressBeforeThePortAndKeepsItsDefaults) {
  TMessageCapture messages;
  TFrmMain main;
  main.Button2Click();
  ASSERT_NE(FrmLogin, nullptr);
  TFrmLogin& login = *FrmLogin;
  EXPECT_EQ(login.size(), QSize(350, 209));
  EXPECT_EQ(login.edHost->text(), "127.0.0.1");
  EXPECT_EQ(login.edPort->text(), "2048");
  EXPECT_EQ(login.guest->text(), "guest");
  EXPECT_TRUE(login.edPass->text().isEmpty());

  login.edHost->setText("no-such-host.invalid");
  login.edPort->setText("not a port");
  login.Button1->click();
  ASSERT_EQ(messages.Texts.size(), 1u);
  EXPECT_EQ(messages.Texts[0], std::string("Serveur invalide ou introuvable"_cp));

  login.edHost->setText("localhost");
  login.edPort->setText("-1");
  login.Button1->click();
  ASSERT_EQ(messages.Texts.size(), 2u);
  EXPECT_EQ(messages.Texts[1], std::string("Numéro de port invalide"_cp));
  EXPECT_EQ(login.ServerAddresses, std::vector<ws::TAddress>{ws::InetAddress(0x0100007Fu)});
  EXPECT_EQ(FrmClient, nullptr);
  EXPECT_TRUE(login.isVisible());
  login.close();
  delete FrmLogin;
  EXPECT_EQ(FrmLogin, nullptr);
  EXPECT_TRUE(main.isVisible());
}

TEST(JoinDialog, DefaultsConnectTheClientWindowToTheLocalHostAsGuest) {
  TMessageCapture messages;
  // The client reads the game's own data from the run folder.
  TCurrentFolder runFolder(GAME_DIR);
  THostSettings settings;
  settings.Port = FreeTcpPort();
  TSessionListView list;
  TGameHost host(settings, list);
  host.Start();
  TFrmMain main;
  main.Button2Click();
  TFrmLogin& login = *FrmLogin;
  login.edPort->setText(QString::number(settings.Port));
  login.ClientArguments = QStringList{"varozuvod", "debug"};
  login.Button1->click();
  ASSERT_NE(FrmClient, nullptr);
  EXPECT_FALSE(login.isVisible());
  EXPECT_EQ(login.ServerAddresses, std::vector<ws::TAddress>{ws::InetAddress(0x0100007Fu)});
  // No password typed: the host admits the player under the default name.
  ASSERT_TRUE(PumpUntil([&] {
    return list.Count() == 1 && static_cast<TZULSession*>(list.Row(0).Data())->LoggedIn() &&
           static_cast<TZULSession*>(list.Row(0).Data())->Name() == "guest";
  })) << (messages.Texts.empty() ? "" : messages.Texts[0])
      << " rows " << list.Count() << " "
      << (list.Count() ? list.Row(0).SubItem(TSessionRow::PlayerColumn) + "/" +
                             list.Row(0).SubItem(TSessionRow::StatusColumn)
                       : "");
  delete FrmClient;
  delete FrmLogin;
}

TEST(StartWindows, PicturesOfTheMainWindowAndBothDialogs) {
  TFrmMain main;
  main.show();
  EXPECT_EQ(main.size(), QSize(430, 331));
  EXPECT_EQ(main.windowTitle(), "ZUL Vantor v1.0");
  EXPECT_EQ(main.ImageList1.size(), 4u);
  for (const QIcon& image : main.ImageList1) EXPECT_FALSE(image.pixmap(32).isNull());
  QApplication::processEvents();
  SaveScreenshot(main, "main-window");
  main.Button1Click();
  FrmSetup->show();
  QApplication::processEvents();
  SaveScreenshot(*FrmSetup, "setup-dialog");
  FrmSetup->close();
  main.Button2Click();
  QApplication::processEvents();
  SaveScreenshot(*FrmLogin, "login-dialog");
  delete FrmLogin;
}

// An IPv6 address typed in brackets with its port, as a player copies it
// from the host's page, joins over IPv6: the port in the host box goes
// before the port box's, and the host's row names the player's address
// in its short form.
TEST(JoinDialog, AnIPv6AddressTypedInBracketsWithItsPortJoinsOverIPv6) {
  if (!HasIPv6Loopback()) GTEST_SKIP() << NoIPv6Loopback;
  TMessageCapture messages;
  TCurrentFolder runFolder(GAME_DIR);
  THostSettings settings;
  settings.Port = FreeTcpPort();
  TSessionListView list;
  TGameHost host(settings, list);
  host.Start();
  TFrmMain main;
  main.Button2Click();
  TFrmLogin& login = *FrmLogin;
  login.edHost->clear();
  QTest::keyClicks(login.edHost, QString("[::1]:%1").arg(settings.Port));
  login.edPort->setText("1");  // not the game's: the host box's port wins
  login.ClientArguments = QStringList{"varozuvod", "debug"};
  QTest::mouseClick(login.Button1, Qt::LeftButton);
  ASSERT_NE(FrmClient, nullptr) << (messages.Texts.empty() ? "" : ToUtf8(messages.Texts[0]));
  ASSERT_EQ(login.ServerAddresses.size(), 1u);
  EXPECT_EQ(ws::inet_ntop(login.ServerAddresses[0]), "::1");
  EXPECT_EQ(login.ServerPort, settings.Port);
  ASSERT_TRUE(PumpUntil([&] {
    return list.Count() == 1 && static_cast<TZULSession*>(list.Row(0).Data())->Name() == "guest";
  })) << (messages.Texts.empty() ? "" : ToUtf8(messages.Texts[0]));
  auto* session = static_cast<TZULSession*>(list.Row(0).Data());
  EXPECT_EQ(session->Address(), "::1");
  EXPECT_EQ(list.Row(0).Caption().rfind("::1/", 0), 0u) << list.Row(0).Caption();
  EXPECT_TRUE(messages.Texts.empty()) << ToUtf8(messages.Texts[0]);
  delete FrmClient;
  delete FrmLogin;
}
