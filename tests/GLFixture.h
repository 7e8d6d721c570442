// A current OpenGL compatibility context on a small hidden window, for the
// tests that draw, pick or upload textures (*GLTest.cpp, run under Xvfb with
// Mesa).  GLFixture gives every test a fresh context with OpenGL's default
// state, the viewport over the whole surface and the back buffer for drawing
// and reading; TGLTestSurface is the same context for tests that need one
// outside the fixture.
#pragma once

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <vector>

class QOpenGLContext;
class QWindow;

// One pixel as glReadPixels gives it with GL_RGBA, GL_UNSIGNED_BYTE.
struct TRGBA {
  uint8_t R = 0, G = 0, B = 0, A = 0;
  friend bool operator==(const TRGBA&, const TRGBA&) = default;
};
std::ostream& operator<<(std::ostream& out, const TRGBA& pixel);

// The whole colour buffer being drawn, bottom row first.
std::vector<TRGBA> ReadAllPixels(int width, int height);
// How many pixels of two pictures of one size differ.
int CountDifferent(const std::vector<TRGBA>& a, const std::vector<TRGBA>& b);

// A hidden window of Width x Height pixels and its context (RGBA 8 bits each,
// depth buffer, double-buffered, compatibility profile).  Never shown, so
// tests running side by side on one X server do not cover each other.
class TGLTestSurface {
 public:
  TGLTestSurface(int width, int height);
  ~TGLTestSurface();
  TGLTestSurface(const TGLTestSurface&) = delete;
  TGLTestSurface& operator=(const TGLTestSurface&) = delete;

  // Makes the context current on the window; false when OpenGL is missing.
  bool MakeCurrent();
  void DoneCurrent();
  QOpenGLContext& Context() { return *FContext; }
  QWindow& Window() { return *FWindow; }

  const int Width;
  const int Height;

 private:
  std::unique_ptr<QWindow> FWindow;
  std::unique_ptr<QOpenGLContext> FContext;
};

class GLFixture : public ::testing::Test {
 protected:
  static constexpr int Width = 64;   // pixels
  static constexpr int Height = 64;  // pixels

  void SetUp() override;
  void TearDown() override;

  // The pixel at (X, Y) of the back buffer, counted from the bottom left as
  // OpenGL counts window coordinates.
  TRGBA ReadPixel(int X, int Y) const;
  // Projection where one unit is one pixel, origin at the bottom left, and
  // an identity modelview.
  void UsePixelProjection() const;

  std::unique_ptr<TGLTestSurface> Surface;
};
