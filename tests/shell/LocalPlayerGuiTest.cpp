// The host's own player: "Local" in the host window opens the real client
// window on the real host of that window, over loopback, with the game's
// data from the run folder.  The window opens as a join opens it, and
// strangers who connect to the host and go (without a word, or refused at
// the password) leave that player playing: no box, walks and chat go on.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "Pump.h"
#include "ShellSupport.h"
#include "client/ClientForm.h"
#include "effects/GLGui.h"
#include "host/ServerForm.h"
#include "net/Sockets.h"
#include "platform/Messages.h"
#include "shell/LoginForm.h"
#include "shell/SetupForm.h"
#include "shell/main.h"

namespace {
const char* const Password = "sesame";
// The name under which "Local" joins.
const char* const LocalName = "Server";

// Every message box that opens while it lives, shown for real: its text is
// kept and the box closed, so that a box cannot hold the test.
class TBoxWatch {
 public:
  static constexpr int StepMs = 10;
  TBoxWatch() : FPrevious(SetMessageHook({})) {
    FTimer.setInterval(StepMs);
    QObject::connect(&FTimer, &QTimer::timeout, [this] { Step(); });
    FTimer.start();
  }
  ~TBoxWatch() { SetMessageHook(std::move(FPrevious)); }
  TBoxWatch(const TBoxWatch&) = delete;
  TBoxWatch& operator=(const TBoxWatch&) = delete;

  std::vector<std::string> Texts;  // of every box seen, in order
  int ModalSeen = 0;               // steps that found a modal widget

 private:
  void Step() {
    if (QApplication::activeModalWidget()) ++ModalSeen;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(widget);
      if (!box || !box->isVisible() || box->property("seen").toBool()) continue;
      box->setProperty("seen", true);
      Texts.push_back(box->text().toStdString());
      QTimer::singleShot(0, box, [box] { box->done(QMessageBox::Ok); });
    }
  }

  TMessageHook FPrevious;
  QTimer FTimer;
};

// A host window started through the host-a-game dialog with a password.
class LocalPlayer : public ::testing::Test {
 protected:
  void SetUp() override {
    QGuiApplication::setQuitOnLastWindowClosed(false);
    ClientLinks = {};
    ClientLinks.ServerExists = [] { return FrmServer != nullptr; };
    ClientLinks.EndProcess = [] {};
    Main.Button1Click();
    FrmSetup->edPort->setText("0");
    FrmSetup->edPass->setText(Password);
    FrmSetup->Button1->click();
    ASSERT_NE(FrmServer, nullptr);
    Server = FrmServer;
    Port = Server->Host().GameServer()->Port();
  }
  void TearDown() override {
    delete FrmClient;
    if (FrmServer) FrmServer->acQuit->trigger();
    if (FrmSetup) FrmSetup->close();
    if (FrmLogin) delete FrmLogin;
    QApplication::processEvents();
    ClientLinks = {};
  }

  // Local, then waits until the client window has its context and the host
  // has admitted its player.
  void PlayLocally() {
    Server->acLocal->trigger();
    ASSERT_NE(FrmClient, nullptr);
    ASSERT_TRUE(PumpUntil(
        [] {
          return FrmClient->ContextWindow != 0 && FrmClient->Client &&
                 FrmClient->Client->LocalPlayer->Id != 0;
        },
        10000))
        << "no client window playing (is the test running under xvfb-run?)";
  }
  // Logs a raw player in with the password; true once it has its own id.
  bool Login(TRawClient& client, const std::string& name) {
    client.SendFrame(1, Password);
    client.SendFrame(3, name);
    TRawFrame frame;
    while (client.NextFrame(frame))
      if (frame.Id == 3) return true;
    return false;
  }
  // The chat panel's last line.
  static std::string LastChatLine() {
    TGLMemo* chat = FrmClient->ChatPanel();
    return chat && chat->Count() > 0 ? chat->Line(chat->Count() - 1).Text : "";
  }
  int Rows() const { return Server->List->topLevelItemCount(); }

  TCurrentFolder RunFolder{GAME_DIR};
  TFrmMain Main;
  TFrmServer* Server = nullptr;
  uint16_t Port = 0;
};
}  // namespace

// The join road makes the window maximized and frameless (a normal framed
// window only with "debug"); Local must give the same window, and a second
// Local, or one after the window went to the task bar, must bring it back
// in that state rather than as a small normal window nobody can move.
TEST_F(LocalPlayer, LocalOpensTheClientWindowAsAJoinDoesAndBringsItBackSo) {
  Main.Button2Click();
  FrmLogin->edPort->setText(QString::number(Port));
  FrmLogin->edPass->setText(Password);
  FrmLogin->ClientArguments = QStringList{"varozuvod"};
  FrmLogin->Button1->click();
  ASSERT_NE(FrmClient, nullptr);
  QApplication::processEvents();
  const Qt::WindowFlags joinFlags = FrmClient->flags();
  const Qt::WindowStates joinStates = FrmClient->windowStates();
  EXPECT_TRUE(joinStates & Qt::WindowMaximized);
  delete FrmClient;
  delete FrmLogin;

  PlayLocally();
  TFrmClient* window = FrmClient;
  EXPECT_EQ(window->flags(), joinFlags);
  EXPECT_EQ(window->windowStates(), joinStates) << "Local left the window " << int(window->windowStates());
  EXPECT_TRUE(window->isVisible());

  Server->acLocal->trigger();
  EXPECT_EQ(FrmClient, window) << "one client window";
  EXPECT_EQ(window->windowStates(), joinStates);
  window->showMinimized();
  QApplication::processEvents();
  Server->acLocal->trigger();
  EXPECT_EQ(window->windowStates(), joinStates) << int(window->windowStates());
  EXPECT_TRUE(window->isVisible());
}

// A bare connect that closes without a word and a login refused at the
// password are strangers to the players: a playing client shows no box
// about them (a modal box would stop its walks and its chat) and goes on
// walking and chatting with the admitted players.
TEST_F(LocalPlayer, StrangersWhoComeAndGoLeaveNoBoxAndThePlayerPlaysOn) {
  TBoxWatch boxes;
  PlayLocally();
  FrmClient->SetScreen(FrmClient->Game.get());
  const uint32_t localId = static_cast<uint32_t>(FrmClient->Client->LocalPlayer->Id);
  TRawClient bob(Port);
  ASSERT_TRUE(Login(bob, "Bob"));
  ASSERT_TRUE(PumpUntil([&] { return FrmClient->Client->Players.Count() == 2; })) << "Bob never arrived";

  for (int round = 0; round < 3; ++round) {
    TRawClient scanner(Port);
    ASSERT_TRUE(PumpUntil([&] { return Rows() == 3; }));
    scanner.Close();
    TRawClient guesser(Port);
    guesser.SendFrame(1, "devine");
    guesser.SendFrame(3, "Mallory");
    TRawFrame refusal;
    ASSERT_TRUE(guesser.NextFrame(refusal));
    EXPECT_EQ(refusal.Id, 2u);
    ASSERT_TRUE(guesser.WaitClosed());
    ASSERT_TRUE(PumpUntil([&] { return Rows() == 2; }));
  }
  // Bob's line comes after whatever the host told the client about the
  // strangers: once it shows, all that has been handled.
  bob.SendFrame(5, "encore ici ?");
  ASSERT_TRUE(PumpUntil([&] { return LastChatLine() == "Bob>encore ici ?"; })) << LastChatLine();
  PumpFor(100);
  EXPECT_EQ(boxes.Texts, std::vector<std::string>{});
  EXPECT_EQ(boxes.ModalSeen, 0);
  EXPECT_EQ(FrmClient->Client->Players.Count(), 2) << "only the local player and Bob";

  // The player chats: Bob hears the line from the local player's number.
  bob.FramesWithin(50);
  for (char key : std::string("salut")) QTest::keyClick(FrmClient, key);
  QTest::keyClick(FrmClient, Qt::Key_Return);
  TRawFrame frame;
  ASSERT_TRUE(bob.NextFrame(frame));
  EXPECT_EQ(frame.Id, 5u);
  EXPECT_EQ(frame.Payload, Packed(localId) + "salut");

  // The player walks: a click on the floor before the character sends a
  // goal, which Bob hears.
  bool walked = false;
  const QSize size = FrmClient->size();
  for (int step = 1; step <= 4 && !walked; ++step) {
    QTest::mouseClick(FrmClient, Qt::LeftButton, {},
                      QPoint(size.width() / 2 + 40 * step, size.height() * 3 / 4));
    for (const TRawFrame& heard : bob.FramesWithin(300))
      walked =
          walked || (heard.Id == 9 && heard.Payload.substr(0, Packed(localId).size()) == Packed(localId));
  }
  EXPECT_TRUE(walked) << "no walk reached Bob";
  EXPECT_EQ(boxes.Texts, std::vector<std::string>{});
}
