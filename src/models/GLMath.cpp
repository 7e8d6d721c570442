#include "models/GLMath.h"

#include <cmath>
#include <cstddef>
#include <numbers>
#include <utility>

#include "platform/Bitmaps.h"

void Perspective(double FovY, double Aspect, double ZNear, double ZFar) {
  const double depth = ZFar - ZNear;
  if (Aspect == 0 || depth == 0) return;
  const double half = FovY * std::numbers::pi / 360;  // half the angle, in radians
  const double sine = std::sin(half);
  if (sine == 0) return;
  const double f = std::cos(half) / sine;

  GLdouble m[16] = {};
  m[0] = f / Aspect;
  m[5] = f;
  m[10] = -(ZFar + ZNear) / depth;
  m[11] = -1;
  m[14] = -2 * ZNear * ZFar / depth;
  glMultMatrixd(m);
}

void PickMatrix(const GLint (&Viewport)[4], double X, double Y, double Width, double Height) {
  // Written this way round so that a NaN size is refused as well.
  if (!(Width > 0 && Height > 0)) return;
  GLfloat m[16] = {};
  m[0] = static_cast<GLfloat>(Viewport[2] / Width);
  m[5] = static_cast<GLfloat>(Viewport[3] / Height);
  m[10] = 1;
  m[12] = static_cast<GLfloat>(((Viewport[0] - X) * 2 + Viewport[2]) / Width);
  m[13] = static_cast<GLfloat>(((Viewport[1] - Y) * 2 + Viewport[3]) / Height);
  m[15] = 1;
  glMultMatrixf(m);
}

GLuint TextureFromBitmap(TBitmap& Bitmap, uint32_t Key) {
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);

  // 32-bit rows have no padding, so the pixels from the bottom row on are
  // one run of width x height; each is blue, green, red, alpha in memory
  // and becomes red, green, blue, alpha for OpenGL.
  Bitmap.SetPixelFormat(pf32bit);
  uint8_t* pixel = Bitmap.Bits();
  const std::size_t count =
      static_cast<std::size_t>(Bitmap.Width()) * static_cast<std::size_t>(Bitmap.Height());
  for (std::size_t i = 0; i < count; ++i, pixel += 4) {
    const uint32_t colour = uint32_t{pixel[2]} << 16 | uint32_t{pixel[1]} << 8 | pixel[0];
    if (colour == Key) {
      // Red 128, green 0, blue 128 with alpha 0, whatever the key: invisible.
      pixel[0] = 0x80;
      pixel[1] = 0x00;
      pixel[2] = 0x80;
      pixel[3] = 0x00;
    } else {
      std::swap(pixel[0], pixel[2]);
      pixel[3] = 0xFF;
    }
  }
  glTexImage2D(GL_TEXTURE_2D, 0, 4, Bitmap.Width(), Bitmap.Height(), 0, GL_RGBA, GL_UNSIGNED_BYTE,
               Bitmap.Bits());
  return name;
}

void DrawDisc(int Segments, float X, float Y, float Z, float Radius, float R, float G, float B) {
  glBegin(GL_TRIANGLE_FAN);
  glVertex3f(X, Y, Z);  // the centre, still in the caller's colour
  glColor3f(R, G, B);
  for (int i = 0; i <= Segments; ++i) {
    const double angle = i * 2 * std::numbers::pi / Segments;
    glVertex3f(X + Radius * static_cast<float>(std::cos(angle)),
               Y + Radius * static_cast<float>(std::sin(angle)), Z);
  }
  glEnd();
}

void DrawHand(float Length, float Width) {
  glBegin(GL_QUADS);
  glVertex3f(0, Length, 0);
  glVertex3f(-Width, 0, 0);
  glVertex3f(0, -Width, 0);
  glVertex3f(Width, 0, 0);
  glEnd();
}

void SetColor(uint32_t Color) {
  auto byte = [Color](int shift) { return static_cast<GLfloat>((Color >> shift) & 0xFF) / 255.0f; };
  glColor4f(byte(16), byte(8), byte(0), byte(24));
}

void DrawRect(int X1, int Y1, int X2, int Y2, uint32_t Color) {
  SetColor(Color);
  glBegin(GL_QUADS);
  glVertex2i(X1, Y1);
  glVertex2i(X1, Y2);
  glVertex2i(X2, Y2);
  glVertex2i(X2, Y1);
  glEnd();
}

int NextPowerOfTwo(int N) {
  // Stopping at MaxPowerOfTwo keeps r from overflowing (and the loop from
  // running for ever) when N is above it.
  int r = 1;
  while (N > r && r < MaxPowerOfTwo) r *= 2;
  return r;
}
