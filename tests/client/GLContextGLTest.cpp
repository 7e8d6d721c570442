// The context module on real windows under Xvfb: one context at a time,
// the clear state it starts with, the viewport and the two projections read
// back from OpenGL, Present swapping the buffers, and Refresh asking for a
// frame only once a first one was presented.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <QEvent>
#include <QImage>
#include <QOpenGLContext>
#include <QPixmap>
#include <QScreen>
#include <QWindow>
#include <array>
#include <cmath>
#include <memory>

#include "GLFixture.h"
#include "Pump.h"
#include "client/GLContext.h"

namespace {

constexpr int SurfaceWidth = 64;
constexpr int SurfaceHeight = 48;

// A window that counts the update requests it receives.
class TCountingWindow : public QWindow {
 public:
  TCountingWindow() {
    setSurfaceType(QSurface::OpenGLSurface);
    setFormat(GLPixelFormat());
    resize(SurfaceWidth, SurfaceHeight);
  }
  int Updates = 0;

 protected:
  bool event(QEvent* event) override {
    if (event->type() == QEvent::UpdateRequest) ++Updates;
    return QWindow::event(event);
  }
};

class GLContextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Presented = false;
    ClearColor[0] = ClearColor[1] = ClearColor[2] = ClearColor[3] = 0.5f;
  }
  void TearDown() override {
    ReleaseGL();
    Presented = false;
  }

  static std::array<float, 16> Matrix(GLenum which) {
    std::array<float, 16> m{};
    glGetFloatv(which, m.data());
    return m;
  }
  // Where the current projection puts a point given in eye coordinates,
  // in normalised device coordinates.
  static std::array<double, 2> Project(const std::array<float, 16>& p, double x, double y, double z) {
    double cx = p[0] * x + p[4] * y + p[8] * z + p[12];
    double cy = p[1] * x + p[5] * y + p[9] * z + p[13];
    double cw = p[3] * x + p[7] * y + p[11] * z + p[15];
    return {cx / cw, cy / cw};
  }
};

TEST_F(GLContextTest, OneContextPerWindowAndASecondWindowReplacesIt) {
  TCountingWindow first;
  TCountingWindow second;
  ASSERT_TRUE(InitGL(&first)) << "no OpenGL (is the test running under xvfb-run?)";
  QOpenGLContext* made = GLContext;
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(GLTarget, &first);
  EXPECT_EQ(QOpenGLContext::currentContext(), made);
  EXPECT_GE(made->format().depthBufferSize(), 24);
  EXPECT_TRUE(made->format().swapBehavior() == QSurfaceFormat::DoubleBuffer);

  bool firstDestroyed = false;
  QObject::connect(made, &QObject::destroyed, [&] { firstDestroyed = true; });
  EXPECT_TRUE(InitGL(&first));
  EXPECT_EQ(GLContext, made) << "the same window keeps its context";
  EXPECT_FALSE(firstDestroyed);

  ASSERT_TRUE(InitGL(&second));
  EXPECT_TRUE(firstDestroyed) << "the first context is released before the second is made";
  EXPECT_EQ(GLTarget, &second);

  ReleaseGL();
  EXPECT_EQ(GLContext, nullptr);
  EXPECT_EQ(GLTarget, nullptr);
  EXPECT_EQ(QOpenGLContext::currentContext(), nullptr);
}

TEST_F(GLContextTest, AWindowThatCannotCarryTheContextLeavesNone) {
  QWindow raster;
  raster.setSurfaceType(QSurface::RasterSurface);
  raster.create();
  EXPECT_FALSE(InitGL(&raster));
  EXPECT_EQ(GLContext, nullptr);
  EXPECT_EQ(GLTarget, nullptr);
  EXPECT_FALSE(InitGL(nullptr));
  // Without a context nothing is stored or drawn.
  ViewWidth = ViewHeight = 0;
  SetViewport(320, 200);
  EXPECT_EQ(ViewWidth, 0);
  SetPerspective();
  SetOrtho();
  Present();
  EXPECT_FALSE(Presented);
}

TEST_F(GLContextTest, TheContextStartsWithTheStoredClearState) {
  SetClearColor(0xFF204060);  // stored before the context exists
  EXPECT_NEAR(ClearColor[0], 0x20 / 255.0f, 1e-6);
  EXPECT_NEAR(ClearColor[1], 0x40 / 255.0f, 1e-6);
  EXPECT_NEAR(ClearColor[2], 0x60 / 255.0f, 1e-6);
  EXPECT_EQ(ClearColor[3], 1.0f);
  TCountingWindow window;
  ASSERT_TRUE(InitGL(&window));
  auto clear = Matrix(GL_COLOR_CLEAR_VALUE);
  EXPECT_NEAR(clear[0], 0x20 / 255.0f, 1e-3);
  EXPECT_NEAR(clear[2], 0x60 / 255.0f, 1e-3);
  GLfloat depth = 0;
  glGetFloatv(GL_DEPTH_CLEAR_VALUE, &depth);
  EXPECT_EQ(depth, 1.0f);
  EXPECT_FALSE(glIsEnabled(GL_STENCIL_TEST));

  SetClearColor(0);
  for (float channel : ClearColor) EXPECT_EQ(channel, 0.0f);
  clear = Matrix(GL_COLOR_CLEAR_VALUE);
  EXPECT_EQ(clear[3], 0.0f) << "passed on while the context exists";
  SetClearColor(0xFF808080);
  EXPECT_NEAR(ClearColor[0], 0.502f, 1e-3);
  EXPECT_NEAR(ClearColor[2], 0.502f, 1e-3);
  EXPECT_EQ(ClearColor[3], 1.0f);
}

TEST_F(GLContextTest, ViewportAndProjectionsReadBackFromOpenGL) {
  TCountingWindow window;
  ASSERT_TRUE(InitGL(&window));
  SetViewport(SurfaceWidth, SurfaceHeight);
  GLint viewport[4] = {};
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(viewport[2], SurfaceWidth);
  EXPECT_EQ(viewport[3], SurfaceHeight);

  SetViewport(800, 0);  // stored, but OpenGL keeps the last real viewport
  EXPECT_EQ(ViewWidth, 800);
  EXPECT_EQ(ViewHeight, 0);
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(viewport[2], SurfaceWidth);

  SetViewport(640, 480);
  SetOrtho();
  auto p = Matrix(GL_PROJECTION_MATRIX);
  auto topLeft = Project(p, 0, 0, 0);
  auto bottomRight = Project(p, 640, 480, 0);
  EXPECT_NEAR(topLeft[0], -1.0, 1e-6);
  EXPECT_NEAR(topLeft[1], 1.0, 1e-6) << "(0, 0) is the top left";
  EXPECT_NEAR(bottomRight[0], 1.0, 1e-6);
  EXPECT_NEAR(bottomRight[1], -1.0, 1e-6) << "Y grows downwards";
  GLint mode = 0;
  glGetIntegerv(GL_MATRIX_MODE, &mode);
  EXPECT_EQ(mode, GL_MODELVIEW);

  glMatrixMode(GL_MODELVIEW);
  glTranslatef(3, 4, 5);  // SetPerspective must reset it
  SetPerspective();
  p = Matrix(GL_PROJECTION_MATRIX);
  double f = 1.0 / std::tan(45.0 * M_PI / 360.0);
  EXPECT_NEAR(p[0], f / (640.0 / 480.0), 1e-5);
  EXPECT_NEAR(p[5], f, 1e-5);
  EXPECT_NEAR(p[10], -(110.0 + 0.1) / (110.0 - 0.1), 1e-5);
  EXPECT_NEAR(p[11], -1.0, 1e-6);
  EXPECT_NEAR(p[14], -2 * 110.0 * 0.1 / (110.0 - 0.1), 1e-5);
  auto mv = Matrix(GL_MODELVIEW_MATRIX);
  EXPECT_EQ(mv[12], 0.0f);
  EXPECT_EQ(mv[14], 0.0f);

  FarPlane = 2000.0;  // what the intro screen sets for good
  SetPerspective();
  p = Matrix(GL_PROJECTION_MATRIX);
  EXPECT_NEAR(p[10], -(2000.0 + 0.1) / (2000.0 - 0.1), 1e-5);
  FarPlane = 110.0;
}

TEST_F(GLContextTest, PresentSwapsTheFrameToTheFront) {
  TCountingWindow window;
  window.show();
  ASSERT_TRUE(PumpUntil([&] { return window.isExposed(); }));
  ASSERT_TRUE(InitGL(&window));
  SetViewport(SurfaceWidth, SurfaceHeight);
  // What the X server shows in the window is the presented frame.  Test
  // windows of other programs on the same display may cover it for a
  // while: it is presented again until it shows.
  auto shown = [&] {
    glClearColor(1, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    Present();
    window.raise();
    QImage image = window.screen()->grabWindow(window.winId()).toImage();
    return !image.isNull() && image.pixelColor(SurfaceWidth / 2, SurfaceHeight / 2) == QColor(255, 0, 0);
  };
  EXPECT_TRUE(PumpUntil(shown)) << "the red frame is on the screen";
  EXPECT_TRUE(Presented);

  ReleaseGL();
  EXPECT_TRUE(Presented) << "releasing keeps it";
}

TEST_F(GLContextTest, RefreshAsksForAFrameOnlyAfterTheFirstPresent) {
  TCountingWindow window;
  ASSERT_TRUE(InitGL(&window));
  Refresh();
  EXPECT_EQ(window.Updates, 0) << "no frame was presented yet";
  Present();
  Refresh();
  EXPECT_EQ(window.Updates, 1) << "delivered before Refresh returns";
  ReleaseGL();
  Refresh();
  EXPECT_EQ(window.Updates, 1) << "no context, no frame";
}

}  // namespace
