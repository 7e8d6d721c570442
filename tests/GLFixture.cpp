#include "GLFixture.h"

#include <QOpenGLContext>
#include <QSurfaceFormat>
#include <QWindow>

std::ostream& operator<<(std::ostream& out, const TRGBA& pixel) {
  return out << "rgba(" << int(pixel.R) << ", " << int(pixel.G) << ", " << int(pixel.B) << ", "
             << int(pixel.A) << ")";
}

std::vector<TRGBA> ReadAllPixels(int width, int height) {
  std::vector<TRGBA> pixels(std::size_t(width) * std::size_t(height));
  glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  return pixels;
}

int CountDifferent(const std::vector<TRGBA>& a, const std::vector<TRGBA>& b) {
  int different = 0;
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) different += a[i] == b[i] ? 0 : 1;
  return different;
}

namespace {

constexpr int ColorBits = 8;   // per channel
constexpr int DepthBits = 24;  // the most every Mesa driver offers

QSurfaceFormat TestFormat() {
  QSurfaceFormat format;
  format.setRenderableType(QSurfaceFormat::OpenGL);
  format.setProfile(QSurfaceFormat::CompatibilityProfile);
  format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
  format.setRedBufferSize(ColorBits);
  format.setGreenBufferSize(ColorBits);
  format.setBlueBufferSize(ColorBits);
  format.setAlphaBufferSize(ColorBits);
  format.setDepthBufferSize(DepthBits);
  return format;
}

}  // namespace

TGLTestSurface::TGLTestSurface(int width, int height)
    : Width(width),
      Height(height),
      FWindow(std::make_unique<QWindow>()),
      FContext(std::make_unique<QOpenGLContext>()) {
  const QSurfaceFormat format = TestFormat();
  FWindow->setSurfaceType(QSurface::OpenGLSurface);
  FWindow->setFormat(format);
  FWindow->setGeometry(0, 0, width, height);
  FWindow->create();
  FContext->setFormat(format);
  FContext->create();
}

TGLTestSurface::~TGLTestSurface() {
  DoneCurrent();
  FContext.reset();
  FWindow.reset();
}

bool TGLTestSurface::MakeCurrent() {
  if (!FContext->isValid() || !FContext->makeCurrent(FWindow.get())) return false;
  // A hidden window's drawable starts with a viewport of its own choosing.
  glViewport(0, 0, Width, Height);
  glDrawBuffer(GL_BACK);
  glReadBuffer(GL_BACK);
  return true;
}

void TGLTestSurface::DoneCurrent() {
  if (FContext && QOpenGLContext::currentContext() == FContext.get()) FContext->doneCurrent();
}

void GLFixture::SetUp() {
  Surface = std::make_unique<TGLTestSurface>(Width, Height);
  ASSERT_TRUE(Surface->MakeCurrent()) << "no OpenGL context (is the test running under xvfb-run?)";
}

void GLFixture::TearDown() { Surface.reset(); }

TRGBA GLFixture::ReadPixel(int X, int Y) const {
  TRGBA pixel;
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(X, Y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, &pixel);
  return pixel;
}

void GLFixture::UsePixelProjection() const {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, Width, 0, Height, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}
