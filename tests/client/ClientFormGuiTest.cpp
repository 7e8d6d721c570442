// The client window on a real display (Xvfb) against a raw host: its two
// window kinds, the context made on the first paint, the login on connect,
// and every way the game ends for the player (Escape, Shift+Escape, a
// refused login, a refused connection, a host that goes away, a stream no
// host may send), with what each sends to the host and which boxes it
// shows.  Some tests show real message boxes, whose own event loops deliver
// socket events, frames and deferred deletions while a handler waits.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMessageBox>
#include <QOpenGLContext>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QWheelEvent>

#include "GameWindowDataSupport.h"
#include "Pump.h"
#include "client/ClientForm.h"
#include "client/FrameClock.h"
#include "client/GLContext.h"
#include "client/GameWindow.h"
#include "effects/GLGui.h"
#include "platform/Errors.h"
#include "platform/Messages.h"
#include "platform/Text1252.h"
#include "platform/Tick.h"
#include "support/LoopbackHosts.h"
#include "support/RawPeers.h"

namespace {

const QStringList DebugArguments = {"varozuvod", "debug"};

// A screen that records what the window forwards to it.
class TSpyScreen : public TGLWindow {
 public:
  void Init() override { ++Inits; }
  void Resize(int32_t width, int32_t height) override {
    TGLWindow::Resize(width, height);
    ++Resizes;
  }
  void KeyDown(uint16_t& key, TShiftState shift) override {
    Keys.push_back({key, shift});
    Order += 'D';
  }
  void KeyPress(char& key) override {
    Typed += key;
    Order += 'P';
  }
  void MouseDown(QWindow*, TMouseButton button, TShiftState, int32_t x, int32_t y) override {
    Clicks.push_back({int(button), x, y});
  }
  void Paint() override {
    TickFrame();
    ++Paints;
  }
  int Inits = 0, Resizes = 0, Paints = 0;
  std::vector<std::pair<uint16_t, TShiftState>> Keys;
  std::string Typed;
  std::string Order;  // 'D' a KeyDown, 'P' a KeyPress
  std::vector<std::array<int, 3>> Clicks;
};

// Real message boxes instead of the capture: each box runs its own event
// loop, as the player sees it.  A timer of that loop runs the test's steps
// while the innermost box is open and clicks its button when they say so.
class TRealBoxes {
 public:
  static constexpr int StepMs = 10;
  // A box left open this many steps is closed all the same, so that a
  // failing test ends.
  static constexpr int MostSteps = 500;

  TRealBoxes() : FPrevious(SetMessageHook({})) {
    FTimer.setInterval(StepMs);
    QObject::connect(&FTimer, &QTimer::timeout, [this] { Step(); });
    FTimer.start();
  }
  ~TRealBoxes() { SetMessageHook(std::move(FPrevious)); }
  TRealBoxes(const TRealBoxes&) = delete;
  TRealBoxes& operator=(const TRealBoxes&) = delete;

  // Called at each step while a box is open, with its text and how many
  // boxes are open; true closes it.  Empty: every box closes at once.
  std::function<bool(const std::string&, int)> WhileOpen;
  // The text of every box that opened, in order.
  std::vector<std::string> Texts;
  int MostOpenAtOnce = 0;
  int StepsLeftOpen = 0;  // boxes closed because the steps ran out

 private:
  void Step() {
    int open = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(widget);
      if (!box || !box->isVisible()) continue;
      ++open;
      if (!box->property("seen").toBool()) {
        box->setProperty("seen", true);
        Texts.push_back(box->text().toStdString());
      }
    }
    MostOpenAtOnce = std::max(MostOpenAtOnce, open);
    auto* top = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!top || FInStep) return;
    FInStep = true;
    int steps = top->property("steps").toInt() + 1;
    top->setProperty("steps", steps);
    bool close = !WhileOpen || WhileOpen(top->text().toStdString(), open);
    if (!close && steps >= MostSteps) {
      close = true;
      ++StepsLeftOpen;
    }
    FInStep = false;
    if (close) top->button(QMessageBox::Ok)->click();
  }

  TMessageHook FPrevious;
  QTimer FTimer;
  bool FInStep = false;
};

class ClientFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QGuiApplication::setQuitOnLastWindowClosed(false);
    ClientLinks.ServerExists = [this] { return Hosting; };
    ClientLinks.ShowLogin = [this] { ++LoginShown; };
    ClientLinks.EndProcess = [this] { ++ProcessEnded; };
  }
  void TearDown() override {
    delete Window.data();
    ClientLinks = {};
  }

  // A debug window connected to the raw host and logged in as guest.
  void Join(const std::string& password = "") {
    Window = new TFrmClient(DebugArguments);
    Window->Connect(TRawHost::Address(), Host.Port(), "guest", password);
    ASSERT_TRUE(Host.Accept());
    TRawFrame frame;
    ASSERT_TRUE(Host.NextFrame(frame));
    if (!password.empty()) {
      ASSERT_TRUE(Host.NextFrame(frame));
    }
    ASSERT_EQ(frame, (TRawFrame{3, "guest"}));
    ASSERT_TRUE(Host.NextFrame(frame));
    ASSERT_EQ(frame, (TRawFrame{10, std::string(3, '\0')})) << "the look follows the name";
  }
  // Waits until the window has closed and been destroyed.
  bool Gone() {
    return PumpUntil([&] {
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
      return Window.isNull();
    });
  }
  void Press(int key, Qt::KeyboardModifiers modifiers, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QCoreApplication::sendEvent(Window.data(), &press);
  }
  // Whatever the host still receives until the client's socket closes.
  std::vector<TRawFrame> FramesUntilClosed() {
    EXPECT_TRUE(Host.WaitClosed());
    std::vector<TRawFrame> frames;
    TRawFrame frame;
    while (Host.NextFrame(frame, 10)) frames.push_back(frame);
    return frames;
  }

  TGameFiles Models;
  TMessageCapture Boxes;
  TRawHost Host;
  QPointer<TFrmClient> Window;
  bool Hosting = false;
  int LoginShown = 0;
  int ProcessEnded = 0;
};

TEST_F(ClientFormTest, OnlyTheExactWordDebugGivesANormalWindow) {
  Window = new TFrmClient(DebugArguments);
  EXPECT_EQ(FrmClient, Window.data());
  EXPECT_EQ(Window->width(), 320);
  EXPECT_EQ(Window->height(), 400);
  EXPECT_FALSE(Window->flags() & Qt::FramelessWindowHint);
  EXPECT_FALSE(Window->windowStates() & Qt::WindowMaximized);
  EXPECT_EQ(Window->title(), "VAROzuvod");
  EXPECT_TRUE(Window->isVisible());
  EXPECT_EQ(Window->Screen->Width, 320) << "the first screen has the window's size";
  delete Window.data();
  EXPECT_EQ(FrmClient, nullptr);

  for (const QStringList& arguments : {QStringList{"varozuvod", "Debug"}, QStringList{"varozuvod"}}) {
    Window = new TFrmClient(arguments);
    EXPECT_TRUE(Window->flags() & Qt::FramelessWindowHint) << arguments.join(' ').toStdString();
    EXPECT_TRUE(Window->windowStates() & Qt::WindowMaximized) << arguments.join(' ').toStdString();
    delete Window.data();
  }
}

TEST_F(ClientFormTest, FirstPaintMakesTheContextWithBlackFogAndTheLoginFollowsTheConnect) {
  Join("pw");
  EXPECT_EQ(Window->title(), "ZUL Vantor [connected]");
  EXPECT_EQ(Window->WaitStart, 0u);
  ASSERT_TRUE(PumpUntil([&] { return Window->ContextWindow != 0; }))
      << "no OpenGL (is the test running under xvfb-run?)";
  EXPECT_TRUE(Boxes.Texts.empty());
  ASSERT_NE(GLContext, nullptr);
  EXPECT_EQ(GLTarget, Window.data());
  GLContext->makeCurrent(Window.data());
  GLfloat fog[4] = {1, 1, 1, 1};
  glGetFloatv(GL_FOG_COLOR, fog);
  for (GLfloat channel : fog) EXPECT_EQ(channel, 0.0f) << "black with alpha 0, as the first screen left it";
  GLfloat start = 0, end = 0;
  glGetFloatv(GL_FOG_START, &start);
  glGetFloatv(GL_FOG_END, &end);
  EXPECT_EQ(start, 20.0f);
  EXPECT_EQ(end, 100.0f);
  GLint mode = 0;
  glGetIntegerv(GL_FOG_MODE, &mode);
  EXPECT_EQ(mode, GL_LINEAR);
  EXPECT_FALSE(glIsEnabled(GL_FOG)) << "the screens switch fog on for what they fog";
  EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
  EXPECT_EQ(ViewWidth, 320);
  EXPECT_EQ(ViewHeight, 400);
}

TEST_F(ClientFormTest, FramesComeFromTheTimerAndShowTheWaitingClockWhileConnecting) {
  Join();
  auto spy = std::make_unique<TSpyScreen>();
  ASSERT_TRUE(PumpUntil([&] { return Window->ContextWindow != 0; }));
  Window->SetScreen(spy.get());
  EXPECT_EQ(spy->Inits, 1) << "a context exists, so the screen is initialised at once";
  EXPECT_EQ(spy->Width, 320);
  ASSERT_TRUE(PumpUntil([&] { return spy->Paints >= 5; })) << "the 40 ms timer asks for frames";

  // Lit pixels of the window as the X server shows it.  Test windows of
  // other programs on the same display may cover it for a while; the timer
  // draws it again every frame.
  auto lit = [&] {
    Window->raise();
    QImage shown = Window->screen()->grabWindow(Window->winId()).toImage();
    int count = 0;
    for (int y = 0; y < shown.height(); ++y)
      for (int x = 0; x < shown.width(); ++x)
        if (shown.pixelColor(x, y) != QColor(0, 0, 0)) ++count;
    return count;
  };
  EXPECT_TRUE(PumpUntil([&] { return lit() == 0; })) << "connected: a black screen";
  Window->WaitStart = GetTickCount();
  EXPECT_TRUE(PumpUntil([&] { return lit() > 1000; })) << "the waiting clock is drawn over the screen";
  Window->WaitStart = 0;
  Window->SetScreen(Window->Intro.get());
}

TEST_F(ClientFormTest, KeysAndButtonsGoToTheCurrentScreenAndTheWheelToTheCamera) {
  Join();
  TSpyScreen spy;
  Window->SetScreen(&spy);
  Press(Qt::Key_A, Qt::ShiftModifier, "A");
  Press(Qt::Key_Return, Qt::NoModifier, "\r");
  Press(Qt::Key_Left, Qt::NoModifier, "");
  ASSERT_EQ(spy.Keys.size(), 3u);
  EXPECT_EQ(spy.Keys[0].first, 'A');
  EXPECT_TRUE(spy.Keys[0].second & ssShift);
  EXPECT_EQ(spy.Keys[1].first, VK_RETURN);
  EXPECT_EQ(spy.Keys[2].first, VK_LEFT);
  EXPECT_EQ(spy.Typed, "A") << "characters as well as their keys; a CR is no character to show";

  QMouseEvent click(QEvent::MouseButtonPress, QPointF(12, 34), QPointF(12, 34), Qt::RightButton,
                    Qt::RightButton, Qt::NoModifier);
  QCoreApplication::sendEvent(Window.data(), &click);
  ASSERT_EQ(spy.Clicks.size(), 1u);
  EXPECT_EQ(spy.Clicks[0], (std::array<int, 3>{int(TMouseButton::mbRight), 12, 34}));

  ResetCamera();
  QWheelEvent towards(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(Window.data(), &towards);
  EXPECT_FLOAT_EQ(CameraZoom, StartZoom - ZoomPerNotch) << "a notch towards the user: one step farther";
  ResetCamera();
  Window->SetScreen(Window->Intro.get());
}

// F1 shows and hides the help whatever the screen, which gets the key too;
// the help stays shown across a change of screen.
TEST_F(ClientFormTest, F1ShowsAndHidesTheHelpOverEveryScreen) {
  Join();
  TSpyScreen spy;
  Window->SetScreen(&spy);
  EXPECT_FALSE(Window->Help.Shown);
  Press(Qt::Key_F1, Qt::NoModifier, "");
  EXPECT_TRUE(Window->Help.Shown);
  ASSERT_EQ(spy.Keys.size(), 1u);
  EXPECT_EQ(spy.Keys[0].first, VK_F1);
  Window->SetScreen(Window->Game.get());
  EXPECT_TRUE(Window->Help.Shown);
  Press(Qt::Key_F1, Qt::NoModifier, "");
  EXPECT_FALSE(Window->Help.Shown);
  EXPECT_TRUE(static_cast<TGameWindow&>(*Window->Game).Chat.InputText.empty()) << "no character typed";
  Window->SetScreen(Window->Intro.get());
}

// Keys without a virtual-key code of their own (an accented letter,
// punctuation) still go down to the screen before their character; keys
// whose text is a control character (Delete's DEL, Tab) only go down.
TEST_F(ClientFormTest, EveryKeyGoesDownFirstAndOnlyCharactersThePanelShowsAreTyped) {
  Join();
  TSpyScreen spy;
  Window->SetScreen(&spy);
  Press(Qt::Key_Eacute, Qt::NoModifier, QStringLiteral("\u00e9"));
  Press(Qt::Key_Comma, Qt::NoModifier, ",");
  Press(Qt::Key_Delete, Qt::NoModifier, "\x7f");
  Press(Qt::Key_Tab, Qt::NoModifier, "\t");
  EXPECT_EQ(spy.Order, "DPDPDD");
  std::vector<uint16_t> codes;
  for (const auto& key : spy.Keys) codes.push_back(key.first);
  EXPECT_EQ(codes, (std::vector<uint16_t>{0, 0, VK_DELETE, VK_TAB})) << "0: no virtual-key code";
  EXPECT_EQ(spy.Typed, "\xE9,");
  Window->SetScreen(Window->Intro.get());
}

// "xyz", Home, Delete, Enter in the game's chat: the line sent is "yz".
TEST_F(ClientFormTest, DeleteInTheChatSendsNoInvisibleByte) {
  Join();
  Window->SetScreen(Window->Game.get());
  Press(Qt::Key_X, Qt::NoModifier, "x");
  Press(Qt::Key_Y, Qt::NoModifier, "y");
  Press(Qt::Key_Z, Qt::NoModifier, "z");
  Press(Qt::Key_Home, Qt::NoModifier, "");
  Press(Qt::Key_Delete, Qt::NoModifier, "\x7f");
  Press(Qt::Key_Return, Qt::NoModifier, "\r");
  TRawFrame frame;
  ASSERT_TRUE(Host.NextFrame(frame));
  EXPECT_EQ(frame.Id, 5u);
  EXPECT_EQ(frame.Payload, "yz");
}

TEST_F(ClientFormTest, EscapeSaysGoodbyeThenClosesAndShowsTheJoinDialog) {
  Join();
  ASSERT_TRUE(PumpUntil([&] { return Window->ContextWindow != 0; }));
  Press(Qt::Key_Escape, Qt::NoModifier, "\x1b");
  EXPECT_EQ(GLContext, nullptr) << "the context is released before the window goes";
  EXPECT_TRUE(Gone());
  EXPECT_EQ(FrmClient, nullptr);
  EXPECT_EQ(FramesUntilClosed(), (std::vector<TRawFrame>{{7, ""}}));
  EXPECT_EQ(LoginShown, 1);
  EXPECT_TRUE(Boxes.Texts.empty());
}

// The host reset the connection and the client has not heard of it yet:
// the leave message cannot go, the failure is shown, the window goes anyway.
TEST_F(ClientFormTest, EscapeClosesTheWindowEvenWhenTheGoodbyeCannotBeSent) {
  Join();
  Host.Reset();
  QThread::msleep(20);  // the reset reaches the client's socket, not its event loop
  Press(Qt::Key_Escape, Qt::NoModifier, "\x1b");
  EXPECT_TRUE(Gone());
  EXPECT_EQ(Boxes.Texts, std::vector<std::string>{"Erreur d'écriture 10054"_cp});
  EXPECT_EQ(LoginShown, 1);
}

TEST_F(ClientFormTest, ShiftEscapeWhileHostingOnlyClosesTheWindow) {
  Hosting = true;
  Join();
  Press(Qt::Key_Escape, Qt::ShiftModifier, "\x1b");
  EXPECT_TRUE(Gone());
  EXPECT_EQ(FramesUntilClosed(), (std::vector<TRawFrame>{{7, ""}}));
  EXPECT_EQ(LoginShown, 0) << "the host window stays; no join dialog";
}

TEST_F(ClientFormTest, ShiftEscapeEndsTheProcessWhenNotHosting) {
  Join();
  Press(Qt::Key_Escape, Qt::ShiftModifier, "\x1b");
  EXPECT_EQ(ProcessEnded, 1);
  PumpFor(100);
  EXPECT_FALSE(Window.isNull()) << "no window is closed first";
  EXPECT_EQ(LoginShown, 0);
  EXPECT_EQ(FramesUntilClosed(), (std::vector<TRawFrame>{{7, ""}})) << "stopped all the same";
}

TEST_F(ClientFormTest, ARefusedLoginShowsTheHostsTextAndClosesWithoutGoodbye) {
  Join("wrong");
  Host.SendFrame(2, "Mot de passe invalide");
  Host.ShutdownSending();  // the host's end, as it releases the connection
  EXPECT_TRUE(Gone());
  EXPECT_EQ(Boxes.Texts, std::vector<std::string>{"Mot de passe invalide"})
      << "no \"Connexion fermée\" after it";
  EXPECT_EQ(LoginShown, 1);
  EXPECT_TRUE(FramesUntilClosed().empty()) << "no 7";
}

TEST_F(ClientFormTest, ARefusedConnectionReportsACommunicationError) {
  Host.StopListening();
  Window = new TFrmClient(DebugArguments);
  Window->Connect(TRawHost::Address(), Host.Port(), "guest", "");
  EXPECT_NE(Window->WaitStart, 0u);
  EXPECT_TRUE(Gone());
  EXPECT_EQ(Boxes.Texts, std::vector<std::string>{"Erreur de communication"});
  EXPECT_EQ(LoginShown, 1);
}

// A name with several addresses: the one that refuses hands over to the
// next without a box, and the player logs in there; when none takes the
// connection, one box says so.
TEST_F(ClientFormTest, AHostsAddressesAreTriedInTurnAndOneBoxSaysWhenNoneAnswers) {
  if (!HasIPv6Loopback()) GTEST_SKIP() << NoIPv6Loopback;
  ws::TAddress refusing;  // [::1]: the raw host listens on 127.0.0.1 only
  refusing.Family = ws::AddressFamilyInet6;
  refusing.Bytes[15] = 1;
  Window = new TFrmClient(DebugArguments);
  Window->Connect({refusing, ws::InetAddress(TRawHost::Address())}, Host.Port(), "guest", "");
  ASSERT_TRUE(Host.Accept());
  TRawFrame frame;
  ASSERT_TRUE(Host.NextFrame(frame));
  EXPECT_EQ(frame, (TRawFrame{3, "guest"}));
  EXPECT_TRUE(Boxes.Texts.empty());
  delete Window.data();

  Host.StopListening();
  Window = new TFrmClient(DebugArguments);
  Window->Connect({refusing, ws::InetAddress(TRawHost::Address())}, Host.Port(), "guest", "");
  EXPECT_TRUE(Gone());
  EXPECT_EQ(Boxes.Texts, std::vector<std::string>{"Aucune adresse du serveur ne répond"_cp});
  EXPECT_EQ(LoginShown, 1);
}

TEST_F(ClientFormTest, AHostThatGoesAwayClosesTheWindowWithItsBoxUnlessHosting) {
  Join();
  Host.Close();
  EXPECT_TRUE(Gone());
  EXPECT_EQ(Boxes.Texts, std::vector<std::string>{"Connexion fermée"_cp});
  EXPECT_EQ(LoginShown, 1);

  TRawHost second;
  Hosting = true;
  Window = new TFrmClient(DebugArguments);
  Window->Connect(TRawHost::Address(), second.Port(), "Server", "");
  ASSERT_TRUE(second.Accept());
  TRawFrame frame;
  ASSERT_TRUE(second.NextFrame(frame));
  second.Close();
  EXPECT_TRUE(Gone());
  EXPECT_EQ(Boxes.Texts.size(), 1u) << "a hosting process shows no box";
  EXPECT_EQ(LoginShown, 1);
}

// The player reads a box shown by a message handler while the host hangs
// up, frames go on arriving and the frame timer ticks: the window closes
// under the box (the join dialog comes back) but neither it nor its
// connection is destroyed until the handler under the box has returned.
TEST_F(ClientFormTest, AWindowClosedUnderAHandlersBoxLivesUntilTheHandlerReturns) {
  Join();
  TSpyScreen spy;
  Window->SetScreen(&spy);
  TRealBoxes boxes;
  int paintsUnderBox = -1;
  bool aliveAfterClose = false;
  int stepsAfterClose = 0;
  boxes.WhileOpen = [&](const std::string&, int) {
    if (boxes.Texts.size() > 1) return true;
    if (paintsUnderBox < 0) {
      paintsUnderBox = spy.Paints;
      return false;
    }
    if (LoginShown == 0) {
      // Frames are drawn under the box before the host goes.
      if (spy.Paints < paintsUnderBox + 3) return false;
      Host.Send(Frame(5, Packed(998) + "encore") + Frame(6));
      Host.Close();
      return false;
    }
    // Closed: whatever deferred deletion is pending runs now.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    aliveAfterClose = !Window.isNull();
    return ++stepsAfterClose >= 5 || !aliveAfterClose;
  };
  Host.SendFrame(3, Packed(7));
  // A message the client does not know, then one more frame in the same read.
  Host.Send(Frame(42) + Frame(4, Packed(12) + Packed(0) + Packed(1) + Packed(2) + Packed(1) + "Bob"));
  EXPECT_TRUE(Gone());
  EXPECT_TRUE(aliveAfterClose) << "the window went while the handler under its box waited";
  EXPECT_EQ(boxes.Texts, std::vector<std::string>{"Message #42 inconnu"});
  EXPECT_EQ(boxes.MostOpenAtOnce, 1);
  EXPECT_EQ(boxes.StepsLeftOpen, 0);
  EXPECT_EQ(LoginShown, 1);
}

// A host that sends fault after fault while the player reads the first
// box: no second box opens, over it or after it, and the game goes on.
TEST_F(ClientFormTest, OneBoxAtATimeAndTheConnectionGoesOnUnderIt) {
  Join();
  TRealBoxes boxes;
  bool burstSent = false;
  // Then a megabyte of chat, a piece per step (host and client share this
  // thread), which the client must not keep once it has handled it.
  const std::string piece = [] {
    std::string lines;
    for (int i = 0; i < 256; ++i) lines += Frame(5, Packed(7) + std::string(250, 'x'));
    return lines;
  }();
  int piecesLeft = 16;
  std::size_t unreadAtTheEnd = 0;
  boxes.WhileOpen = [&](const std::string&, int open) {
    if (open > 1 || boxes.Texts.size() > 1) return true;
    if (!burstSent) {
      std::string burst;
      for (int i = 0; i < 10; ++i) burst += Frame(42) + Frame(5, Packed(999) + "x") + Frame(8, Packed(7));
      Host.Send(burst);
      burstSent = true;
      return false;
    }
    if (piecesLeft > 0) {
      Host.Send(--piecesLeft > 0
                    ? piece
                    : piece + Frame(4, Packed(12) + Packed(0) + Packed(1) + Packed(2) + Packed(1) + "Bob"));
      return false;
    }
    // Closes once the last frame has been handled.
    TGLMemo* chat = Window->ChatPanel();
    if (chat->Count() == 0 || chat->Line(chat->Count() - 1).Text != std::string("Bob est déjà en ligne"_cp))
      return false;
    unreadAtTheEnd = Window->Client->IO->InBuffer().size();
    return true;
  };
  Host.SendFrame(3, Packed(7));
  Host.SendFrame(42);
  ASSERT_TRUE(PumpUntil([&] { return burstSent && !QApplication::activeModalWidget(); }, 10000));
  Host.SendFrame(5, Packed(12) + std::string("toujours là"_cp));
  TGLMemo* chat = Window->ChatPanel();
  ASSERT_TRUE(
      PumpUntil([&] { return chat->Line(chat->Count() - 1).Text == std::string("Bob>toujours là"_cp); }));
  EXPECT_EQ(boxes.Texts, std::vector<std::string>{"Message #42 inconnu"});
  EXPECT_EQ(boxes.MostOpenAtOnce, 1);
  EXPECT_EQ(boxes.StepsLeftOpen, 0);
  EXPECT_LT(unreadAtTheEnd, std::size_t(MaxPayloadBytes)) << "what was handled under the box is still held";
  EXPECT_FALSE(Window.isNull());
  EXPECT_EQ(LoginShown, 0);
}

// A header announcing more than 64 KiB, or a header integer longer than
// five bytes: the stream cannot be read past it, so the connection ends as
// a failure, the way back being the join dialog or, when hosting, the host
// window.
TEST_F(ClientFormTest, AFrameNoHostMaySendEndsTheConnectionAsAFailure) {
  const std::string oversized = Packed(5) + Packed(64 * 1024 + 1) + "abc";
  const std::string endless = std::string("\x05\x80\x80\x80\x80\x80\x81", 7);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    const std::string& bad = round == 0 ? oversized : endless;
    TRawHost host;
    Hosting = round == 1;
    Window = new TFrmClient(DebugArguments);
    Window->Connect(TRawHost::Address(), host.Port(), "guest", "");
    ASSERT_TRUE(host.Accept());
    TRawFrame frame;
    ASSERT_TRUE(host.NextFrame(frame));
    ASSERT_TRUE(host.NextFrame(frame));  // the look after the name
    host.SendFrame(3, Packed(7));
    host.Send(bad + Frame(5, Packed(7) + "after"));
    EXPECT_TRUE(Gone());
    EXPECT_EQ(Boxes.Texts, std::vector<std::string>{"Erreur de flux 2"});
    Boxes.Texts.clear();
    EXPECT_TRUE(host.WaitClosed());
    EXPECT_TRUE(host.FramesWithin(10).empty()) << "no 7 after a failure";
  }
  EXPECT_EQ(LoginShown, 1) << "only when not hosting";
}

TEST_F(ClientFormTest, ASocketEventWithoutConnectionIsAnError) {
  Window = new TFrmClient(DebugArguments);
  TMessage message{TFrmClient::SocketMessage, 5, WSAMAKESELECTREPLY(FD_READ, 0)};
  try {
    Window->Dispatch(message);
    FAIL() << "no error raised";
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(), "message socket inattendu");
  }
}

}  // namespace
