// The host window with real players connecting over loopback: the
// connection list, Supprimer, the start-up error, hiding into the
// notification area and back, Quitter, the properties dialog, and a real
// message box over the host window alone.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>

#include "Pump.h"
#include "ShellSupport.h"
#include "client/ClientForm.h"
#include "host/ServerForm.h"
#include "host/ServerProps.h"
#include "net/Sockets.h"
#include "platform/Messages.h"
#include "platform/Text1252.h"
#include "shell/SetupForm.h"
#include "shell/main.h"

namespace {
// A host window started through the real host-a-game dialog on a free port.
class HostWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    Main.Button1Click();
    Setup = FrmSetup;
    // Port 0: the system picks a free port as the host binds it, so no
    // other process can take it in between.
    Setup->edPort->setText("0");
    Setup->Button1->click();
    ASSERT_NE(FrmServer, nullptr);
    Server = FrmServer;
    Port = Server->Host().GameServer()->Port();
  }
  void TearDown() override {
    if (FrmServer) FrmServer->acQuit->trigger();
    if (FrmSetup) FrmSetup->close();
    QApplication::processEvents();
  }
  QString Cell(int row, int column) const {
    QTreeWidgetItem* item = Server->List->topLevelItem(row);
    return item ? item->text(column) : QString();
  }
  // Logs in and waits for the host's answer: 3 (the own id), then 8.
  // Announcements of players who came earlier may arrive before them.
  bool Login(TRawClient& client, const std::string& name) {
    client.SendFrame(3, name);
    TRawFrame frame;
    bool ownId = false;
    while (client.NextFrame(frame)) {
      if (frame.Id == 3) ownId = true;
      if (ownId && frame.Id == 8) return true;
    }
    return false;
  }

  TFrmMain Main;
  TFrmSetup* Setup = nullptr;
  TFrmServer* Server = nullptr;
  uint16_t Port = 0;
};
}  // namespace

TEST_F(HostWindow, ListsEachConnectionAndItsPlayer) {
  EXPECT_EQ(Server->List->columnCount(), 4);
  EXPECT_EQ(Server->List->headerItem()->text(0), "Adresse");
  EXPECT_EQ(Server->List->columnWidth(1), 130);
  EXPECT_TRUE(Server->windowTitle().startsWith(ToQString("Serveur ZUL Vantor - "_cp)));
  TRawClient alice(Port);
  ASSERT_TRUE(PumpUntil([&] { return Server->List->topLevelItemCount() == 1; }));
  EXPECT_EQ(Cell(0, 1), "guest");
  EXPECT_EQ(Cell(0, 2), "connexion");
  // The time column shows when the connection last spoke, as hh:mm:ss.
  EXPECT_TRUE(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d$").match(Cell(0, 3)).hasMatch())
      << Cell(0, 3).toStdString();
  EXPECT_TRUE(Cell(0, 0).startsWith("127.0.0.1"));
  ASSERT_TRUE(Login(alice, "Alice"));
  ASSERT_TRUE(PumpUntil([&] { return Cell(0, 1) == "Alice"; }));
  TRawClient bob(Port);
  ASSERT_TRUE(Login(bob, "Bob"));
  ASSERT_TRUE(PumpUntil([&] { return Cell(1, 1) == "Bob"; }));
  TRawFrame frame;
  ASSERT_TRUE(alice.NextFrame(frame));  // Bob's arrival
  SaveScreenshot(*Server, "host-window");
}

TEST_F(HostWindow, SupprimerReleasesTheSelectedPlayerAndTellsTheOthers) {
  TRawClient alice(Port), bob(Port);
  ASSERT_TRUE(Login(alice, "Alice"));
  ASSERT_TRUE(Login(bob, "Bob"));
  ASSERT_TRUE(PumpUntil([&] { return Cell(1, 1) == "Bob"; }));
  alice.FramesWithin(100);
  Server->acDisconnect->trigger();  // nothing selected: nothing happens
  EXPECT_EQ(Server->List->topLevelItemCount(), 2);
  Server->List->setCurrentItem(Server->List->topLevelItem(1));
  Server->acDisconnect->trigger();
  EXPECT_EQ(Server->List->topLevelItemCount(), 1);
  ASSERT_TRUE(bob.WaitClosed());
  TRawFrame frame;
  ASSERT_TRUE(alice.NextFrame(frame));
  EXPECT_EQ(frame.Id, 7u);
  EXPECT_EQ(static_cast<unsigned char>(frame.Payload.back()), 1) << "flag 1: left without warning";
}

// The list moves its current row to the next one when the selected row
// goes; that row was not chosen by the user and must not be dropped.
TEST_F(HostWindow, SupprimerDropsOnlyARowTheUserSelected) {
  TRawClient a(Port), b(Port), c(Port);
  ASSERT_TRUE(Login(a, "A"));
  ASSERT_TRUE(Login(b, "B"));
  ASSERT_TRUE(Login(c, "C"));
  ASSERT_TRUE(PumpUntil([&] { return Cell(2, 1) == "C"; }));
  auto click = [&](int row) {
    QRect rect = Server->List->visualItemRect(Server->List->topLevelItem(row));
    QTest::mouseClick(Server->List->viewport(), Qt::LeftButton, {}, rect.center());
  };
  click(0);
  Server->acDisconnect->trigger();
  ASSERT_TRUE(a.WaitClosed());
  Server->acDisconnect->trigger();
  EXPECT_EQ(Server->List->topLevelItemCount(), 2) << "a second Supprimer dropped a player";
  click(0);  // B, who then leaves on their own
  b.Close();
  ASSERT_TRUE(PumpUntil([&] { return Server->List->topLevelItemCount() <= 1; }));
  Server->acDisconnect->trigger();
  EXPECT_EQ(Server->List->topLevelItemCount(), 1) << "C was dropped";
}

TEST_F(HostWindow, CloseHidesIntoOneIconAndAfficherBringsTheWindowBack) {
  for (int round = 0; round < 2; ++round) {
    Server->close();
    EXPECT_TRUE(Server->IconPresent());
    Server->close();
    EXPECT_TRUE(Server->IconPresent()) << "never two icons";
    EXPECT_EQ(FrmServer, Server) << "a close without Quitter keeps the host";
    Server->acShow->trigger();
    EXPECT_FALSE(Server->IconPresent());
    EXPECT_TRUE(Server->isVisible());
  }
  EXPECT_EQ(Server->PopupMenu1->defaultAction(), Server->acShow);
}

TEST_F(HostWindow, ACloseAfterARestoreThroughTheWindowSystemHidesAgain) {
  Server->close();
  ASSERT_TRUE(Server->IconPresent());
  Server->showNormal();  // the task bar, not Afficher
  Server->close();
  EXPECT_TRUE(Server->isHidden() || Server->isMinimized());
  EXPECT_TRUE(Server->IconPresent());
  EXPECT_EQ(FrmServer, Server);
}

TEST_F(HostWindow, QuitterClosesEveryConnectionWithoutADepartureMessage) {
  TRawClient a(Port), b(Port), c(Port);
  ASSERT_TRUE(Login(a, "A"));
  ASSERT_TRUE(Login(b, "B"));
  ASSERT_TRUE(Login(c, "C"));
  ASSERT_TRUE(PumpUntil([&] { return Server->List->topLevelItemCount() == 3; }));
  for (TRawClient* client : {&a, &b, &c}) client->FramesWithin(100);
  Server->acQuit->trigger();
  QApplication::processEvents();
  EXPECT_EQ(FrmServer, nullptr);
  EXPECT_TRUE(Setup->isVisible());
  for (TRawClient* client : {&a, &b, &c}) {
    ASSERT_TRUE(client->WaitClosed());
    EXPECT_TRUE(client->Received.empty()) << "no 7 on Quitter";
  }
}

// A signal ends the event loop with the host window still open (hidden in
// the tray, say): the end of the windows ends its host in order, servers
// and router ports with it, before the process goes.
TEST_F(HostWindow, TheEndOfTheWindowsEndsTheHostInOrder) {
  TRawClient player(Port);
  ASSERT_TRUE(Login(player, "A"));
  Server->close();  // hidden, the host runs on
  ASSERT_EQ(FrmServer, Server);
  EndHostWindow();
  EXPECT_EQ(FrmServer, nullptr);
  EXPECT_TRUE(player.WaitClosed());
  int late = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in game{};
  game.sin_family = AF_INET;
  game.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  game.sin_port = htons(Port);
  EXPECT_NE(::connect(late, reinterpret_cast<sockaddr*>(&game), sizeof game), 0) << "the game port is closed";
  ::close(late);
}

TEST_F(HostWindow, PropertiesKeepTheTextsOnAnnulerAndTakeThemOnOK) {
  TGameHost& host = Server->Host();
  EXPECT_EQ(host.WelcomeText, "Bonjour %n !");
  auto answer = [&](bool ok) {
    QTimer::singleShot(0, [ok] {
      auto* props = qobject_cast<TFrmServerProps*>(QApplication::activeModalWidget());
      ASSERT_NE(props, nullptr);
      EXPECT_EQ(props->size(), QSize(402, 128));
      props->edWelcome->setText("Salut %n");
      props->edDisconnected->setText(ToQString("Coupé %n"_cp));
      (ok ? props->OK : props->Annuler)->click();
    });
    Server->acProperties->trigger();
  };
  answer(false);
  EXPECT_EQ(host.WelcomeText, "Bonjour %n !");
  EXPECT_EQ(host.CutOffText, std::string("%n nous a quitté précipitemment"_cp));
  answer(true);
  EXPECT_EQ(host.WelcomeText, "Salut %n");
  EXPECT_EQ(host.GoodbyeText, "%n vous dit au revoir :D");
  EXPECT_EQ(host.CutOffText, std::string("Coupé %n"_cp));
}

TEST(HostWindowStart, PortInUseIsReportedAndTheWindowOpensWithoutAGameServer) {
  TMessageCapture messages;
  TFrmMain main;
  main.Button1Click();
  TServer blocker(nullptr, 0, 0);
  FrmSetup->edPort->setText(QString::number(blocker.Port()));
  FrmSetup->Button1->click();
  ASSERT_NE(FrmServer, nullptr);
  EXPECT_EQ(FrmServer->Host().GameServer(), nullptr);
  ASSERT_EQ(messages.Texts.size(), 1u);
  EXPECT_EQ(messages.Texts[0], std::string("Impossible de démarrer le serveur (WINSOCK error #10048)"_cp));
  EXPECT_EQ(FrmServer->windowTitle(), "Serveur ZUL Vantor");
  FrmServer->acLocal->trigger();
  EXPECT_EQ(FrmClient, nullptr);
  EXPECT_EQ(messages.Texts.size(), 2u) << "Local says why it cannot play";
  EXPECT_EQ(messages.Texts.back(),
            std::string("Le serveur de jeu n'a pas démarré : impossible de jouer en local"_cp));
  FrmServer->acQuit->trigger();
  FrmSetup->close();
  QApplication::processEvents();
}

// A real box runs its own event loop over the host window, which is then
// the only window shown, while the process's loop runs as in the game.
// Neither the box nor its dismissal may close or hide a window; the loop
// ends when the main window closes.
TEST(HostWindowAlone, ABoxLeavesItShownAndOnlyTheMainWindowEndsTheProcess) {
  auto* main = new TFrmMain;
  QPointer<TFrmMain> mainLeft = main;
  EndProcessWithMainWindow(*main);
  main->show();
  main->Button1Click();
  FrmSetup->edPort->setText("0");
  FrmSetup->Button1->click();
  ASSERT_NE(FrmServer, nullptr);
  TFrmServer* server = FrmServer;
  QString boxTitle;
  QTimer dismiss;
  QObject::connect(&dismiss, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      boxTitle = box->windowTitle();
      QTest::keyClick(box, Qt::Key_Return);
    }
  });
  bool shownAfterBox = false, mainClosed = false;
  QTimer script;
  script.setSingleShot(true);
  QObject::connect(&script, &QTimer::timeout, [&] {
    dismiss.start(20);
    ShowMessage("Session fermée"_cp);
    dismiss.stop();
    PumpFor(200);
    shownAfterBox = server->isVisible() && !server->IconPresent();
    server->acQuit->trigger();
    FrmSetup->close();
    mainClosed = true;
    main->close();
  });
  script.start(0);
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(1); });
  watchdog.start(10000);
  EXPECT_EQ(QApplication::exec(), 0) << "the main window's close did not end the loop";
  if (mainLeft) mainLeft->disconnect();  // its end must not stop a later test's loop
  EXPECT_EQ(boxTitle.toStdString(), "VAROzuvod");
  EXPECT_TRUE(shownAfterBox) << "the host window went into the tray";
  EXPECT_TRUE(mainClosed) << "the loop ended before the main window closed";
  QGuiApplication::setQuitOnLastWindowClosed(true);
}
