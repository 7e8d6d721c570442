#include "client/GLContext.h"

#include <GL/gl.h>

#include <QCoreApplication>
#include <QEvent>
#include <QOpenGLContext>

#include "models/GLMath.h"

QPointer<QWindow> GLTarget;
QSurface* GLDevice = nullptr;
QOpenGLContext* GLContext = nullptr;
int32_t ViewWidth = 0;
int32_t ViewHeight = 0;
bool Presented = false;
float ClearColor[4] = {0.5f, 0.5f, 0.5f, 0.5f};
float ClearDepth = 1.0f;
double FieldOfView = 45.0;
double NearPlane = 0.1;
double FarPlane = 110.0;

namespace {
constexpr int ChannelBits = 8;
constexpr int DepthBits = 32;

// The window's surface, made an OpenGL one if the platform window does not
// exist yet; none when the window already exists as another kind.
QSurface* DeviceOf(QWindow* window) {
  if (!window) return nullptr;
  if (!window->handle()) {
    window->setSurfaceType(QSurface::OpenGLSurface);
    window->setFormat(GLPixelFormat());
    window->create();
  }
  if (!window->handle() || window->surfaceType() != QSurface::OpenGLSurface) return nullptr;
  return window;
}

void ApplyClearState() {
  glClearColor(ClearColor[0], ClearColor[1], ClearColor[2], ClearColor[3]);
  glClear(GL_COLOR_BUFFER_BIT);
  glClearDepth(static_cast<double>(ClearDepth));
  glClearStencil(0);
  glDisable(GL_STENCIL_TEST);
}
}  // namespace

QSurfaceFormat GLPixelFormat() {
  QSurfaceFormat format;
  format.setRenderableType(QSurfaceFormat::OpenGL);
  format.setProfile(QSurfaceFormat::CompatibilityProfile);
  format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
  format.setRedBufferSize(ChannelBits);
  format.setGreenBufferSize(ChannelBits);
  format.setBlueBufferSize(ChannelBits);
  format.setAlphaBufferSize(0);
  format.setDepthBufferSize(DepthBits);
  format.setStencilBufferSize(0);
  return format;
}

bool InitGL(QWindow* window) {
  if (GLContext && GLTarget == window) return true;
  if (GLContext) ReleaseGL();
  GLTarget = window;
  GLDevice = DeviceOf(window);
  if (!GLDevice) {
    GLTarget = nullptr;
    return false;
  }
  auto* context = new QOpenGLContext;
  context->setFormat(window->requestedFormat());
  if (!context->create() || !context->makeCurrent(window)) {
    // A failed attempt leaves no context behind.
    delete context;
    GLTarget = nullptr;
    GLDevice = nullptr;
    return false;
  }
  GLContext = context;
  ApplyClearState();
  return true;
}

void SetViewport(int32_t width, int32_t height) {
  if (!GLContext) return;
  ViewWidth = width;
  ViewHeight = height;
  if (height != 0) glViewport(0, 0, width, height);
}

void SetClearColor(uint32_t color) {
  ClearColor[0] = static_cast<float>((color >> 16) & 0xFF) / 255.0f;
  ClearColor[1] = static_cast<float>((color >> 8) & 0xFF) / 255.0f;
  ClearColor[2] = static_cast<float>(color & 0xFF) / 255.0f;
  ClearColor[3] = static_cast<float>((color >> 24) & 0xFF) / 255.0f;
  if (GLContext) glClearColor(ClearColor[0], ClearColor[1], ClearColor[2], ClearColor[3]);
}

void SetPerspective() {
  if (!GLContext) return;
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  // A zero height makes the aspect infinite; Perspective then yields a
  // degenerate matrix, never a trap.
  Perspective(FieldOfView, static_cast<double>(ViewWidth) / static_cast<double>(ViewHeight), NearPlane,
              FarPlane);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

void SetOrtho() {
  if (!GLContext) return;
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, ViewWidth, ViewHeight, 0, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

void Present() {
  if (!GLContext) return;
  glFlush();
  if (GLTarget) GLContext->swapBuffers(GLTarget);
  // A QWindow keeps no invalid region of its own: once swapped, nothing
  // asks for this frame again until the next Refresh or expose.
  Presented = true;
}

void Refresh() {
  if (!GLContext || !Presented || !GLTarget) return;
  // The window paints on an update request; sending it (not posting it)
  // draws the frame before Refresh returns.
  QEvent request(QEvent::UpdateRequest);
  QCoreApplication::sendEvent(GLTarget, &request);
}

void ReleaseGL() {
  if (!GLContext) return;
  GLContext->doneCurrent();
  delete GLContext;
  GLContext = nullptr;
  GLDevice = nullptr;
  GLTarget = nullptr;
}
