#include "client/ClientForm.h"

#include <GL/gl.h>

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QWheelEvent>
#include <exception>

#include "audio/Sounds.h"
#include "client/FrameClock.h"
#include "client/GLContext.h"
#include "client/GameWindow.h"
#include "client/IntroWindow.h"
#include "client/Journal.h"
#include "effects/GLGui.h"
#include "models/GLTextures.h"
#include "platform/Errors.h"
#include "platform/Messages.h"
#include "platform/SocketEvents.h"
#include "platform/Text1252.h"
#include "platform/Tick.h"
#include "world/ZULPathFinder.h"

TClientLinks ClientLinks;
TFrmClient* FrmClient = nullptr;

TFrmClient* ClientWindow() { return FrmClient; }

TSoundSystem* ClientSound() { return FrmClient ? FrmClient->Sounds.get() : nullptr; }

namespace {
// Fog over the 3D scene, in world units from the eye.
constexpr float FogStart = 20.0f;
constexpr float FogEnd = 100.0f;
constexpr float FogDensity = 0.8f;
// Turns every sound off and on again; a function key, since the chat input
// line takes every printable one.
constexpr uint16_t SoundKey = VK_F1 + 8;  // F9
constexpr uint16_t HelpKey = VK_F1;

TMouseButton ButtonOf(Qt::MouseButton button) {
  if (button == Qt::RightButton) return TMouseButton::mbRight;
  if (button == Qt::MiddleButton) return TMouseButton::mbMiddle;
  return TMouseButton::mbLeft;
}

QPoint PositionOf(const QMouseEvent* event) { return event->position().toPoint(); }

// The characters of a key's text that the chat panel can show.  Control
// characters are keys, not text: Delete's DEL, Enter's CR or Tab would
// otherwise be typed as invisible bytes after their key has done its work.
std::string ShownCharacters(const QString& text) {
  QString shown;
  for (QChar c : text)
    if (c.isPrint()) shown += c;
  return FromQString(shown);
}

// Sets a flag for the life of the scope, however it ends.
class TFlagScope {
 public:
  explicit TFlagScope(bool& flag) : FFlag(flag) { FFlag = true; }
  ~TFlagScope() { FFlag = false; }
  TFlagScope(const TFlagScope&) = delete;
  TFlagScope& operator=(const TFlagScope&) = delete;

 private:
  bool& FFlag;
};
}  // namespace

uint16_t VirtualKey(int qtKey) {
  if ((qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) || (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9))
    return static_cast<uint16_t>(qtKey);  // the same codes as the letters and digits
  if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) return static_cast<uint16_t>(VK_F1 + (qtKey - Qt::Key_F1));
  switch (qtKey) {
    case Qt::Key_Backspace:
      return VK_BACK;
    case Qt::Key_Tab:
      return VK_TAB;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return VK_RETURN;
    case Qt::Key_Shift:
      return VK_SHIFT;
    case Qt::Key_Control:
      return VK_CONTROL;
    case Qt::Key_Alt:
      return VK_MENU;
    case Qt::Key_Escape:
      return VK_ESCAPE;
    case Qt::Key_Space:
      return VK_SPACE;
    case Qt::Key_PageUp:
      return VK_PRIOR;
    case Qt::Key_PageDown:
      return VK_NEXT;
    case Qt::Key_End:
      return VK_END;
    case Qt::Key_Home:
      return VK_HOME;
    case Qt::Key_Left:
      return VK_LEFT;
    case Qt::Key_Up:
      return VK_UP;
    case Qt::Key_Right:
      return VK_RIGHT;
    case Qt::Key_Down:
      return VK_DOWN;
    case Qt::Key_Insert:
      return VK_INSERT;
    case Qt::Key_Delete:
      return VK_DELETE;
    default:
      return 0;
  }
}

TShiftState ShiftState(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons) {
  TShiftState state = 0;
  if (modifiers & Qt::ShiftModifier) state |= ssShift;
  if (modifiers & Qt::AltModifier) state |= ssAlt;
  if (modifiers & Qt::ControlModifier) state |= ssCtrl;
  if (buttons & Qt::LeftButton) state |= ssLeft;
  if (buttons & Qt::RightButton) state |= ssRight;
  if (buttons & Qt::MiddleButton) state |= ssMiddle;
  return state;
}

// --- Creation and destruction ---

// A journal that cannot be opened stops the window before it is FrmClient.
TFrmClient::TFrmClient(const QStringList& arguments) : FJournal(TClientJournal::FromEnvironment()) {
  FrmClient = this;
  FormCreate(arguments);
}

TFrmClient::~TFrmClient() { FormDestroy(); }

void TFrmClient::FormCreate(const QStringList& arguments) {
  setSurfaceType(QSurface::OpenGLSurface);
  setFormat(GLPixelFormat());
  setTitle(QStringLiteral("VAROzuvod"));
  // Exactly "debug", case and all.
  bool debug = arguments.size() > 1 && arguments[1] == QLatin1String("debug");
  if (debug) {
    setFlags(Qt::Window);
    resize(DebugWidth, DebugHeight);
  } else {
    setFlags(Qt::Window | Qt::FramelessWindowHint);
    resize(NormalWidth, NormalHeight);
  }
  Sounds = std::make_unique<TSoundSystem>(SoundSettings);
  Map = std::make_unique<TMap256>();
  Font = std::make_unique<TGLFont>();
  Intro = std::make_unique<TIntroWindow>(*Font);
  auto game = std::make_unique<TGameWindow>(*Font);
  FChat = &game->Chat;
  Game = std::move(game);
  SetScreen(Intro.get());
  ResetCamera();
  if (debug)
    show();
  else
    showMaximized();
}

void TFrmClient::FormDestroy() {
  FChat = nullptr;
  Screen = nullptr;
  Game.reset();
  Intro.reset();
  Font.reset();
  if (Client) Client->Disconnected = true;
  Guarded([this] { Stop(); });
  // The players walk on the map: it goes after the connection that owns them.
  Map.reset();
  ForgetTarget(this);
  Sounds.reset();
  if (FrmClient == this) FrmClient = nullptr;
}

// --- Connection and screens ---

void TFrmClient::Connect(uint32_t address, uint16_t port, const std::string& name,
                         const std::string& password) {
  Connect(std::vector<ws::TAddress>{ws::InetAddress(address)}, port, name, password);
}

void TFrmClient::Connect(std::vector<ws::TAddress> addresses, uint16_t port, const std::string& name,
                         const std::string& password) {
  WaitStart = GetTickCount();
  PlayerName = name;
  Password = password;
  setTitle(QStringLiteral("ZUL Vantor"));
  Client = std::make_unique<TZULClient>(*this, SocketMessage, std::move(addresses), port);
  if (FChat)
    FChat->OnSay = [this](const std::string& line) {
      if (Client) Client->Say(line);
    };
  Timer = std::make_unique<QTimer>();
  Timer->setTimerType(Qt::PreciseTimer);
  Timer->setInterval(FramePeriodMs(FrameRate));
  QObject::connect(Timer.get(), &QTimer::timeout, [this] { Guarded(*this, [this] { TimerTick(); }); });
  Timer->start();
  // A window already on screen has had its first paint request while
  // nothing ran yet; ask for another so that the first frame is drawn.
  if (isExposed()) requestUpdate();
}

void TFrmClient::SetScreen(TGLWindow* screen) {
  if (Screen && Screen != screen) Screen->Leave();
  Screen = screen;
  screen->Resize(width(), height());
  if (ContextWindow != 0) screen->Init();
}

TMap& TFrmClient::SharedMap() { return *Map; }

TGLMemo* TFrmClient::ChatPanel() { return FChat; }

bool TFrmClient::Hosting() const { return ClientLinks.ServerExists && ClientLinks.ServerExists(); }

void TFrmClient::EndProcess() {
  if (ClientLinks.EndProcess)
    ClientLinks.EndProcess();
  else
    QCoreApplication::exit(0);
}

// --- Frames ---

void TFrmClient::TimerTick() { Refresh(); }

void TFrmClient::FormPaint() {
  if (!Timer || !Screen) return;  // stopping
  // A message box shown during a paint runs its own event loop, which may
  // ask for a paint again: the frame under way finishes first.
  if (FPainting) return;
  TFlagScope painting(FPainting);
  WId current = handle() ? winId() : 0;
  if (current != ContextWindow) CreateContext(current);
  if (ContextWindow == 0) return;
  GLContext->makeCurrent(this);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
  Screen->Paint();
  DrawOverlay();
  Present();
}

void TFrmClient::CreateContext(WId current) {
  if (ContextWindow != 0) {
    // The platform window was made anew under the same window.
    ShowMessage("argh !"_cp);
    GLContext->makeCurrent(this);
    ModelTextures.DeleteAll();
    ReleaseGL();
  }
  ContextWindow = current;
  if (!InitGL(this)) {
    ContextWindow = 0;
    ShowMessage("Erreur d'initialisation d'OpenGL"_cp);
    return;
  }
  Screen->Init();
  FormResize();
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_CULL_FACE);
  // Fog is set up here and switched on by the screens for what they want
  // fogged; its colour is the clear colour as the screen's Init left it.
  glFogi(GL_FOG_MODE, GL_LINEAR);
  glFogf(GL_FOG_START, FogStart);
  glFogf(GL_FOG_END, FogEnd);
  glFogf(GL_FOG_DENSITY, FogDensity);
  glFogfv(GL_FOG_COLOR, ClearColor);
  SetPerspective();
}

void TFrmClient::DrawOverlay() {
  if (WaitStart != 0) {
    SetPerspective();
    DrawWaitClock(FrameTime - WaitStart);
  }
  if (Help.Shown) {
    SetOrtho();
    Help.Draw(*Font, width(), height());
  }
  if (isActive() && cursor().shape() == Qt::BlankCursor) {
    SetOrtho();
    QPoint mouse = mapFromGlobal(QCursor::pos());
    DrawPointer(mouse.x(), mouse.y());
  }
}

void TFrmClient::FormResize() {
  if (ContextWindow != 0 && height() >= 1 && Screen) Screen->Resize(width(), height());
}

// --- Ending ---

void TFrmClient::Stop() {
  Timer.reset();
  if (ContextWindow != 0) {
    // The MD2 skins' texture objects go while their context still exists.
    GLContext->makeCurrent(this);
    ModelTextures.DeleteAll();
    ReleaseGL();
    ContextWindow = 0;
  }
  if (Client) {
    // Ended even when its leave message cannot be sent; while a handler of
    // its own waits under a box, it ends when that handler returns.
    std::unique_ptr<TZULClient, TDisposer> client(Client.release());
    client->Close();
  }
}

void TFrmClient::Close() {
  if (FClosing) return;
  FClosing = true;
  FormClose();
  hide();
  Dispose();
}

void TFrmClient::Destroy() { deleteLater(); }

void TFrmClient::FormClose() {
  if (!Hosting() && ClientLinks.ShowLogin) ClientLinks.ShowLogin();
  Timer.reset();
  // Not a sound more once the window is gone from the screen.
  if (Screen) Screen->Leave();
  Sounds.reset();
}

// --- Input ---

void TFrmClient::FormKeyDown(uint16_t key, TShiftState shift) {
  if (Screen) Screen->KeyDown(key, shift);
  if (key == SoundKey && Sounds) Sounds->ToggleMuted();
  if (key == HelpKey) Help.Toggle();
  if (key != VK_ESCAPE) return;
  // The window goes whatever the leave message meets; a failure to send it
  // is still reported once the window is on its way.
  std::exception_ptr failure;
  try {
    Stop();
  } catch (...) {
    failure = std::current_exception();
  }
  if (!Hosting() && (shift & ssShift))
    EndProcess();  // no window closes first
  else
    Close();
  if (failure) std::rethrow_exception(failure);
}

bool TFrmClient::event(QEvent* event) {
  switch (event->type()) {
    case QEvent::UpdateRequest:
      Guarded(*this, [this] { FormPaint(); });
      return true;
    case QEvent::Close:
      Guarded(*this, [this] { Close(); });
      event->accept();
      return true;
    case QEvent::DeferredDelete:
      // Whoever asked for it, the window goes once its handlers are done.
      if (PostponeEnd()) return true;
      return QWindow::event(event);
    default:
      return QWindow::event(event);
  }
}

void TFrmClient::exposeEvent(QExposeEvent*) {
  if (isExposed()) Guarded(*this, [this] { FormPaint(); });
}

void TFrmClient::resizeEvent(QResizeEvent*) {
  Guarded(*this, [this] { FormResize(); });
}

void TFrmClient::keyPressEvent(QKeyEvent* event) {
  Guarded(*this, [this, event] {
    TShiftState shift = ShiftState(event->modifiers(), QGuiApplication::mouseButtons());
    // Every key goes down first, those without a code of ours as 0.
    FormKeyDown(VirtualKey(event->key()), shift);
    if (FClosing || !Screen) return;
    for (char c : ShownCharacters(event->text())) Screen->KeyPress(c);
  });
}

void TFrmClient::mousePressEvent(QMouseEvent* event) {
  Guarded(*this, [this, event] {
    if (!Screen) return;
    QPoint at = PositionOf(event);
    Screen->MouseDown(this, ButtonOf(event->button()), ShiftState(event->modifiers(), event->buttons()),
                      at.x(), at.y());
  });
}

void TFrmClient::mouseMoveEvent(QMouseEvent* event) {
  Guarded(*this, [this, event] {
    if (!Screen) return;
    QPoint at = PositionOf(event);
    Screen->MouseMove(this, ShiftState(event->modifiers(), event->buttons()), at.x(), at.y());
  });
}

void TFrmClient::mouseReleaseEvent(QMouseEvent* event) {
  Guarded(*this, [this, event] {
    if (!Screen) return;
    QPoint at = PositionOf(event);
    Screen->MouseUp(this, ButtonOf(event->button()), ShiftState(event->modifiers(), event->buttons()), at.x(),
                    at.y());
  });
}

void TFrmClient::wheelEvent(QWheelEvent* event) {
  // Every notch counts, however many arrive between two frames.
  ZoomByWheel(event->angleDelta().y());
  event->ignore();
}

// --- Socket events ---

void TFrmClient::Dispatch(TMessage& message) {
  if (message.Msg == SocketMessage)
    SocketEvent(message);
  else
    DefaultHandler(message);
}

void TFrmClient::SocketEvent(const TMessage& message) {
  if (!Client) throw Exception("message socket inattendu"_cp);
  if (WSAGETSELECTERROR(message.LParam) != 0) {
    // A host with several addresses: the next one is tried, the clock goes on.
    const bool connecting = WSAGETSELECTEVENT(message.LParam) == FD_CONNECT;
    if (connecting && Client->MoveOn()) return;
    WaitStart = 0;
    // Marked before the box, whose event loop may deliver the close event.
    Client->Disconnected = true;
    ShowMessage(connecting && Client->AddressCount() > 1 ? NoAddressAnswersText
                                                         : "Erreur de communication"_cp);
    Close();
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
      setTitle(title() + QStringLiteral(" [connected]"));
      Client->SetPassword(Password);
      Client->SetName(PlayerName);
      Client->OfferLook();
      WaitStart = 0;
      break;
    case FD_CLOSE:
      if (Client->Disconnected) break;
      Client->Disconnected = true;
      if (!Hosting()) ShowMessage("Connexion fermée"_cp);
      Close();
      break;
    default:
      break;
  }
}
