// The projection helpers and drawing primitives in a real context: matrices
// are read back from OpenGL, primitives checked through feedback mode and
// glReadPixels.
#include <cmath>
#include <map>
#include <utility>
#include <vector>

#include "GLFixture.h"
#include "models/GLMath.h"
#include "platform/Bitmaps.h"

namespace {

using TMatrix = std::vector<double>;

TMatrix CurrentProjection() {
  TMatrix m(16);
  glGetDoublev(GL_PROJECTION_MATRIX, m.data());
  return m;
}

// Starts the projection stack from a known matrix that is not the identity,
// so that a helper that loads instead of multiplying shows.
void StartProjectionWithScale(double s) {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glScaled(s, s, s);
}

void ExpectMatrix(const TMatrix& actual, const std::map<int, double>& nonZero) {
  for (int i = 0; i < 16; ++i) {
    const auto it = nonZero.find(i);
    EXPECT_NEAR(actual[i], it == nonZero.end() ? 0.0 : it->second, 1e-5) << "element " << i;
  }
}

using GLMath = GLFixture;

}  // namespace

TEST_F(GLMath, PerspectiveMultipliesTheMatrixOfGluPerspective) {
  StartProjectionWithScale(1);
  Perspective(90, 1, 1, 3);
  ExpectMatrix(CurrentProjection(), {{0, 1}, {5, 1}, {10, -2}, {11, -1}, {14, -3}});

  // Field of view 60, aspect 2: f = cot 30 degrees = sqrt(3), on top of a
  // scale by 2 (which doubles the first three rows).
  StartProjectionWithScale(2);
  Perspective(60, 2, 0.5, 10.5);
  const double f = std::sqrt(3.0);
  ExpectMatrix(CurrentProjection(),
               {{0, 2 * f / 2}, {5, 2 * f}, {10, 2 * -1.1}, {11, -1}, {14, 2 * (-2 * 0.5 * 10.5 / 10)}});
}

TEST_F(GLMath, PerspectiveLeavesTheMatrixAloneForDegenerateArguments) {
  StartProjectionWithScale(2);
  const TMatrix before = CurrentProjection();
  Perspective(45, 1, 5, 5);    // zero depth range
  Perspective(45, 0, 1, 100);  // zero aspect
  Perspective(0, 1, 1, 100);   // zero field of view
  const TMatrix after = CurrentProjection();
  for (int i = 0; i < 16; ++i) EXPECT_DOUBLE_EQ(after[i], before[i]) << "element " << i;
}

TEST_F(GLMath, PickMatrixMatchesHandComputedValues) {
  // Viewport at the origin: sx = 640 / 2, sy = 480 / 4,
  // tx = ((0 - 100) * 2 + 640) / 2, ty = ((0 - 200) * 2 + 480) / 4.
  StartProjectionWithScale(1);
  const GLint viewport[4] = {0, 0, 640, 480};
  PickMatrix(viewport, 100, 200, 2, 4);
  ExpectMatrix(CurrentProjection(), {{0, 320}, {5, 120}, {10, 1}, {12, 220}, {13, 20}, {15, 1}});

  // An offset viewport: sx = 100 / 5, sy = 50 / 10,
  // tx = ((10 - 30) * 2 + 100) / 5, ty = ((20 - 40) * 2 + 50) / 10.
  StartProjectionWithScale(1);
  const GLint offset[4] = {10, 20, 100, 50};
  PickMatrix(offset, 30, 40, 5, 10);
  ExpectMatrix(CurrentProjection(), {{0, 20}, {5, 5}, {10, 1}, {12, 12}, {13, 1}, {15, 1}});
}

TEST_F(GLMath, PickMatrixMapsThePickedPixelOntoTheCentreOfTheView) {
  // Picking around window point (48, 16) of the fixture's viewport, the
  // quad drawn over that pixel fills the whole pick view.
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  PickMatrix(viewport, 48, 16, 4, 4);
  glOrtho(0, Width, 0, Height, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  DrawRect(46, 14, 50, 18, 0xFFFFFFFF);
  for (int x : {0, Width / 2, Width - 1})
    for (int y : {0, Height / 2, Height - 1}) EXPECT_EQ(ReadPixel(x, y), (TRGBA{255, 255, 255, 255}));
}

TEST_F(GLMath, PickMatrixIgnoresAnEmptyPickRegion) {
  StartProjectionWithScale(2);
  const TMatrix before = CurrentProjection();
  const GLint viewport[4] = {0, 0, 640, 480};
  PickMatrix(viewport, 10, 10, 0, 1);
  PickMatrix(viewport, 10, 10, 1, 0);
  PickMatrix(viewport, 10, 10, -1, 1);
  const TMatrix after = CurrentProjection();
  for (int i = 0; i < 16; ++i) EXPECT_DOUBLE_EQ(after[i], before[i]) << "element " << i;
}

TEST_F(GLMath, SetColorSplitsThePackedColourWithAlphaOnTop) {
  SetColor(0x80FF4020);
  GLfloat c[4];
  glGetFloatv(GL_CURRENT_COLOR, c);
  EXPECT_FLOAT_EQ(c[0], 1.0f);
  EXPECT_FLOAT_EQ(c[1], 0x40 / 255.0f);
  EXPECT_FLOAT_EQ(c[2], 0x20 / 255.0f);
  EXPECT_FLOAT_EQ(c[3], 0x80 / 255.0f);
}

TEST_F(GLMath, DrawRectFillsItsCornersInThePackedColour) {
  UsePixelProjection();
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  DrawRect(10, 20, 30, 40, 0xFF00C000);
  const TRGBA green{0, 0xC0, 0, 255};
  const TRGBA black{0, 0, 0, 255};
  EXPECT_EQ(ReadPixel(10, 20), green);
  EXPECT_EQ(ReadPixel(29, 39), green);
  EXPECT_EQ(ReadPixel(20, 30), green);
  EXPECT_EQ(ReadPixel(9, 30), black);
  EXPECT_EQ(ReadPixel(30, 30), black);
  EXPECT_EQ(ReadPixel(20, 19), black);
  EXPECT_EQ(ReadPixel(20, 40), black);
}

TEST_F(GLMath, DrawHandPointsAlongPlusY) {
  UsePixelProjection();
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  glTranslatef(32, 16, 0);
  glColor3f(1, 1, 1);
  DrawHand(30, 6);
  const TRGBA white{255, 255, 255, 255};
  const TRGBA black{0, 0, 0, 255};
  EXPECT_EQ(ReadPixel(32, 40), white);  // along the hand, 24 units up
  EXPECT_EQ(ReadPixel(32, 13), white);  // the short tail, 3 units down
  EXPECT_EQ(ReadPixel(32, 6), black);   // past the tail
  EXPECT_EQ(ReadPixel(32, 50), black);  // past the tip
  EXPECT_EQ(ReadPixel(42, 16), black);  // past the half-width
}

TEST_F(GLMath, DrawDiscIsAClosedFanFromTheCurrentColourToTheRimColour) {
  UsePixelProjection();
  std::vector<GLfloat> feedback(512);
  glFeedbackBuffer(static_cast<GLsizei>(feedback.size()), GL_3D_COLOR, feedback.data());
  glRenderMode(GL_FEEDBACK);
  glColor3f(1, 1, 1);
  DrawDisc(4, 32, 32, 0, 10, 1, 0, 0);
  const GLint values = glRenderMode(GL_RENDER);
  ASSERT_GT(values, 0);

  // Each triangle comes as a token, a count and then x, y, z, r, g, b, a
  // per vertex.  Four segments give four triangles over six vertices: the
  // centre and five rim points, the last back on the first.
  std::map<std::pair<int, int>, int> uses;
  int triangles = 0;
  for (int i = 0; i < values;) {
    ASSERT_EQ(feedback[i], GL_POLYGON_TOKEN);
    ASSERT_EQ(feedback[i + 1], 3);
    ++triangles;
    for (int v = 0; v < 3; ++v) {
      const GLfloat* p = &feedback[i + 2 + 7 * v];
      const std::pair<int, int> at{static_cast<int>(std::lround(p[0])), static_cast<int>(std::lround(p[1]))};
      ++uses[at];
      const bool centre = at == std::pair<int, int>{32, 32};
      EXPECT_FLOAT_EQ(p[3], 1.0f);
      EXPECT_FLOAT_EQ(p[4], centre ? 1.0f : 0.0f) << "vertex at " << at.first << ", " << at.second;
      EXPECT_FLOAT_EQ(p[5], centre ? 1.0f : 0.0f) << "vertex at " << at.first << ", " << at.second;
    }
    i += 2 + 3 * 7;
  }
  EXPECT_EQ(triangles, 4);
  const std::map<std::pair<int, int>, int> expected = {
      {{32, 32}, 4}, {{42, 32}, 2}, {{32, 42}, 2}, {{22, 32}, 2}, {{32, 22}, 2}};
  EXPECT_EQ(uses, expected);
}

namespace {

// The RGBA image of the bound texture, rows from texture row 0.
std::vector<TRGBA> BoundTextureRGBA(int width, int height) {
  std::vector<TRGBA> texels(static_cast<std::size_t>(width) * height);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
  return texels;
}

// A 4 x 2 picture: top row key magenta, red, green, blue; bottom row white,
// black, the key again, and a colour one step away from the key.
TBitmap KeyedPicture() {
  TBitmap bitmap(4, 2, pf24bit);
  const uint32_t top[4] = {0x800080, 0xFF0000, 0x00FF00, 0x0000FF};
  const uint32_t bottom[4] = {0xFFFFFF, 0x000000, 0x800080, 0x800081};
  for (int x = 0; x < 4; ++x) {
    bitmap.SetPixel(x, 0, top[x]);
    bitmap.SetPixel(x, 1, bottom[x]);
  }
  return bitmap;
}

}  // namespace

TEST_F(GLMath, TextureFromBitmapMakesTheKeyColourTransparentAndEverythingElseOpaque) {
  TBitmap bitmap = KeyedPicture();
  const GLuint name = TextureFromBitmap(bitmap, 0x800080);
  EXPECT_TRUE(glIsTexture(name));
  GLint bound = 0, magnify = 0, minify = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &magnify);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minify);
  EXPECT_EQ(GLuint(bound), name);
  EXPECT_EQ(magnify, GL_NEAREST);
  EXPECT_EQ(minify, GL_NEAREST);

  // Texture row 0 is the bitmap's bottom row.
  const std::vector<TRGBA> texels = BoundTextureRGBA(4, 2);
  const TRGBA invisible{0x80, 0, 0x80, 0};
  EXPECT_EQ(texels[0], (TRGBA{255, 255, 255, 255}));
  EXPECT_EQ(texels[1], (TRGBA{0, 0, 0, 255}));
  EXPECT_EQ(texels[2], invisible);
  EXPECT_EQ(texels[3], (TRGBA{0x80, 0, 0x81, 255}));
  EXPECT_EQ(texels[4], invisible);
  EXPECT_EQ(texels[5], (TRGBA{255, 0, 0, 255}));
  EXPECT_EQ(texels[6], (TRGBA{0, 255, 0, 255}));
  EXPECT_EQ(texels[7], (TRGBA{0, 0, 255, 255}));

  // The bitmap keeps the converted pixels: 32 bits, red first.
  ASSERT_EQ(bitmap.PixelFormat(), pf32bit);
  const uint8_t* red = bitmap.ScanLine(0) + 4;
  EXPECT_EQ(red[0], 255);
  EXPECT_EQ(red[1], 0);
  EXPECT_EQ(red[2], 0);
  EXPECT_EQ(red[3], 255);
  glDeleteTextures(1, &name);
}

TEST_F(GLMath, TextureFromBitmapWithoutKeyLeavesEveryPixelOpaque) {
  TBitmap bitmap = KeyedPicture();
  const GLuint name = TextureFromBitmap(bitmap, NoKeyColor);
  const std::vector<TRGBA> texels = BoundTextureRGBA(4, 2);
  EXPECT_EQ(texels[2], (TRGBA{0x80, 0, 0x80, 255}));
  EXPECT_EQ(texels[4], (TRGBA{0x80, 0, 0x80, 255}));
  for (const TRGBA& texel : texels) EXPECT_EQ(texel.A, 255);
  glDeleteTextures(1, &name);
}
