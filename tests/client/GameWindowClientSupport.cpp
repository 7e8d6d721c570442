#include "GameWindowClientSupport.h"

#include <GL/gl.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QOpenGLContext>

#include "Pump.h"
#include "client/Clients.h"
#include "client/FrameClock.h"
#include "client/GLContext.h"
#include "client/GameWindow.h"
#include "client/IntroWindow.h"
#include "effects/GLGui.h"
#include "world/ZULPlayers.h"

namespace {
const QStringList DebugArguments = {"varozuvod", "debug"};

// The frame clock and the camera are the process's: each test starts them
// afresh.
void ResetFrameClockAndCamera() {
  FrameTime = FrameDelta = FramesPerSecond = FpsCount = FpsWindowStart = 0;
  ResetCamera();
  PauseCamera();
  TurnRightSince = TurnLeftSince = TiltUpSince = TiltDownSince = 0;
  WheelDownTime = WheelUpTime = 0;
}
}  // namespace

void ScreensTest::SetUp() {
  ASSERT_TRUE(Files.Valid());
  ForgetSharedModels();
  const QString game = Files.StartFolder() + "/../../game";
  if (WithGameData() && QFile::exists(game + "/data/tris.md2")) QDir::setCurrent(game);
  QGuiApplication::setQuitOnLastWindowClosed(false);
  ClientLinks = {};
  ClientLinks.ServerExists = [] { return false; };
  ClientLinks.ShowLogin = [] {};
  ResetFrameClockAndCamera();
  Window = new TFrmClient(DebugArguments);
  Window->resize(FrameWidth, FrameHeight);
  Window->Connect(TRawHost::Address(), Host.Port(), "me", "");
  ASSERT_TRUE(Host.Accept());
  TRawFrame login;
  ASSERT_TRUE(Host.NextFrame(login));
  ASSERT_EQ(login, (TRawFrame{3, "me"}));
  ASSERT_TRUE(Host.NextFrame(login));
  ASSERT_EQ(login, (TRawFrame{10, std::string(3, '\0')})) << "the look follows: nothing chosen yet";
  Host.SendFrame(3, Packed(LocalId));
  ASSERT_TRUE(PumpUntil([&] {
    return Window->ContextWindow != 0 && Window->width() == FrameWidth && Window->height() == FrameHeight &&
           Window->Client && Window->Client->LocalPlayer->Id == LocalId;
  })) << "no OpenGL window (is the test running under xvfb-run?)";
  // The screen sizes come from the window's resize, which may follow the
  // context; give the current screen its size in any case.
  Window->Screen->Resize(FrameWidth, FrameHeight);
}

void ScreensTest::TearDown() {
  delete Window.data();
  ClientLinks = {};
}

TIntroWindow& ScreensTest::Intro() const { return static_cast<TIntroWindow&>(*Window->Intro); }
TGameWindow& ScreensTest::Game() const { return static_cast<TGameWindow&>(*Window->Game); }
TZULPlayer& ScreensTest::Local() const { return *Window->Client->LocalPlayer; }

void ScreensTest::Paint() {
  GLContext->makeCurrent(Window.data());
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
  Window->Screen->Paint();
  glFinish();
}

TRGBA ScreensTest::PixelAt(int x, int y) const {
  TRGBA pixel;
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadBuffer(GL_BACK);
  glReadPixels(x, FrameHeight - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, &pixel);
  return pixel;
}

QImage ScreensTest::Frame() const {
  QImage image(FrameWidth, FrameHeight, QImage::Format_RGBA8888);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glReadBuffer(GL_BACK);
  glReadPixels(0, 0, FrameWidth, FrameHeight, GL_RGBA, GL_UNSIGNED_BYTE, image.bits());
  return image.mirrored(false, true);
}

void ScreensTest::SaveScreenshot(const std::string& name) const {
  const QString path = Files.StartFolder() + "/" + QString::fromStdString(name);
  Frame().convertToFormat(QImage::Format_RGB888).save(path, "PNG");
}

QPoint ScreensTest::ScreenOf(float x, float y, float z) const {
  GLContext->makeCurrent(Window.data());
  SetPerspective();
  float wx = 0, wz = 0;
  Local().GetWorldPos(wx, wz);
  ApplyCamera(wx, wz);
  GLdouble m[16], p[16];
  glGetDoublev(GL_MODELVIEW_MATRIX, m);
  glGetDoublev(GL_PROJECTION_MATRIX, p);
  const double in[4] = {x, y, z, 1};
  double eye[4] = {0, 0, 0, 0}, clip[4] = {0, 0, 0, 0};
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) eye[r] += m[c * 4 + r] * in[c];
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) clip[r] += p[c * 4 + r] * eye[c];
  const double sx = (clip[0] / clip[3] + 1) / 2 * FrameWidth;
  const double sy = (clip[1] / clip[3] + 1) / 2 * FrameHeight;
  return QPoint(static_cast<int>(sx), FrameHeight - 1 - static_cast<int>(sy));
}

namespace {
void SendMouse(QWindow* window, QEvent::Type type, int x, int y, Qt::MouseButton button,
               Qt::MouseButtons buttons) {
  const QPointF at(x, y);
  QMouseEvent event(type, at, window->mapToGlobal(at), button, buttons, Qt::NoModifier);
  QCoreApplication::sendEvent(window, &event);
}
}  // namespace

void ScreensTest::MouseMove(int x, int y) {
  SendMouse(Window.data(), QEvent::MouseMove, x, y, Qt::NoButton, Qt::NoButton);
}

void ScreensTest::Press(int x, int y) {
  SendMouse(Window.data(), QEvent::MouseButtonPress, x, y, Qt::LeftButton, Qt::LeftButton);
}

void ScreensTest::Release(int x, int y) {
  SendMouse(Window.data(), QEvent::MouseButtonRelease, x, y, Qt::LeftButton, Qt::NoButton);
}

void ScreensTest::Place(int32_t id, int32_t x, int32_t y, int32_t direction) {
  Host.SendFrame(8, Packed(uint32_t(id)) + Packed(0) + Packed(uint32_t(x)) + Packed(uint32_t(y)) +
                        Packed(uint32_t(direction)));
}

void ScreensTest::Arrive(int32_t id, const std::string& name, int32_t x, int32_t y) {
  Host.SendFrame(
      4, Packed(uint32_t(id)) + Packed(0) + Packed(uint32_t(x)) + Packed(uint32_t(y)) + Packed(1) + name);
}

void ScreensTest::Settle() {
  const std::string line = "sync" + std::to_string(++FSettled);
  Host.SendFrame(5, Packed(uint32_t(LocalId)) + line);
  TGLMemo& chat = Game().Chat;
  ASSERT_TRUE(
      PumpUntil([&] { return chat.Count() > 0 && chat.Line(chat.Count() - 1).Text == "me>" + line; }));
}

bool ScreensTest::Gone() {
  return PumpUntil([&] {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return Window.isNull();
  });
}

// ---------------------------------------------------------------- text

TTextMask MaskOf(const QImage& frame, const QRect& area, TTextColour colour) {
  TTextMask mask;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) {
      const QColor c = frame.pixelColor(x, y);
      const bool lit = colour == TTextColour::Green ? c.green() > 128 && c.red() < 64 && c.blue() < 64
                                                    : c.red() > 128 && c.green() < 64 && c.blue() < 64;
      mask.Bits.push_back(lit);
      mask.Count += lit ? 1 : 0;
    }
  return mask;
}

QImage TextFrame(TGLFont& font, TTextColour colour,
                 const std::vector<std::pair<QPoint, std::string>>& texts) {
  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  SetOrtho();
  font.BeginText();
  if (colour == TTextColour::Green)
    glColor3f(0, 1, 0);
  else
    glColor3f(1, 0, 0);
  for (const auto& [at, text] : texts) font.TextOut(at.x(), at.y(), text);
  font.EndText();
  glFinish();
  QImage image(ViewWidth, ViewHeight, QImage::Format_RGBA8888);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glReadBuffer(GL_BACK);
  glReadPixels(0, 0, ViewWidth, ViewHeight, GL_RGBA, GL_UNSIGNED_BYTE, image.bits());
  glClearColor(ClearColor[0], ClearColor[1], ClearColor[2], ClearColor[3]);
  return image.mirrored(false, true);
}
