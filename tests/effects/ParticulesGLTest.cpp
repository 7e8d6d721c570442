// The particle systems and the bolt drawn into a real context: fire adds
// light onto what is behind it without writing depth, particles face the
// camera however the scene is turned, and the bolt is a line with glows.
#include <gtest/gtest.h>

#include "GLFixture.h"
#include "effects/Particules.h"

namespace {

// Eye-space units from -4 to 4 across the 64 pixels: 8 pixels per unit.
constexpr float Extent = 4;
constexpr int WindowPixels = 64;  // the fixture's width and height

int PixelOf(float eye) { return static_cast<int>((eye + Extent) * WindowPixels / (2 * Extent)); }

class ParticlesDrawTest : public GLFixture {
protected:
  void SetUp() override {
    GLFixture::SetUp();
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-Extent, Extent, -Extent, Extent, -10, 10);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
  }

  TRGBA At(float x, float y) const { return ReadPixel(PixelOf(x), PixelOf(y)); }

  // One particle at the origin, untextured.
  static TParticleSystem Single(float size, TVector4 color, bool blend) {
    TParticleSystem system;
    system.Particles.resize(1);
    system.Particles[0].Size = size;
    system.Particles[0].Color = color;
    system.Particles[0].Life = 1;
    system.Blend = blend;
    system.BlendSrc = GL_ONE;
    system.BlendDst = GL_ONE;
    return system;
  }
};

bool Near(TRGBA pixel, int r, int g, int b, int tolerance = 2) {
  return std::abs(pixel.R - r) <= tolerance && std::abs(pixel.G - g) <= tolerance &&
         std::abs(pixel.B - b) <= tolerance;
}

}  // namespace

TEST_F(ParticlesDrawTest, AdditiveParticleAddsItsColourWithoutWritingDepth) {
  glClearColor(0.25f, 0.25f, 0.25f, 1);
  glClearDepth(1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glEnable(GL_DEPTH_TEST);
  const TParticleSystem system = Single(1, {0.25f, 0.125f, 0, 1}, true);
  system.Draw();
  EXPECT_TRUE(Near(At(0, 0), 128, 96, 64)) << At(0, 0);
  system.Draw();
  EXPECT_TRUE(Near(At(0, 0), 191, 128, 64)) << At(0, 0);
  EXPECT_TRUE(Near(At(2, 2), 64, 64, 64)) << At(2, 2);

  GLboolean depthMask = GL_FALSE;
  glGetBooleanv(GL_DEPTH_WRITEMASK, &depthMask);
  EXPECT_EQ(depthMask, GL_TRUE);
  EXPECT_FALSE(glIsEnabled(GL_BLEND));

  // A square at the particle's depth passes the depth test (GL_LESS): the
  // particle left the depth buffer as it was.
  glColor3f(0, 0, 1);
  glRectf(-2, -2, 2, 2);
  EXPECT_EQ(At(0, 0), (TRGBA{0, 0, 255, 255}));
}

TEST_F(ParticlesDrawTest, WithoutBlendingDrawLeavesDepthMaskAndBlendAlone) {
  glDepthMask(GL_FALSE);
  glEnable(GL_BLEND);
  glBlendFunc(GL_ZERO, GL_ONE);
  Single(1, {1, 1, 1, 1}, false).Draw();
  GLboolean depthMask = GL_TRUE;
  glGetBooleanv(GL_DEPTH_WRITEMASK, &depthMask);
  EXPECT_EQ(depthMask, GL_FALSE);
  EXPECT_TRUE(glIsEnabled(GL_BLEND));
  GLint src = 0;
  glGetIntegerv(GL_BLEND_SRC, &src);
  EXPECT_EQ(src, GL_ZERO);
}

TEST_F(ParticlesDrawTest, QuadsFaceTheCameraWhateverTheRotation) {
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  glRotatef(60, 0, 1, 0);  // a flat square would shrink to half its width
  glRotatef(30, 1, 0, 0);
  Single(2, {1, 1, 1, 1}, false).Draw();
  for (auto [x, y] : {std::pair{1.8f, 0.0f}, {-1.8f, 0.0f}, {0.0f, 1.8f}, {0.0f, -1.8f}, {1.8f, 1.8f}})
    EXPECT_EQ(At(x, y), (TRGBA{255, 255, 255, 255})) << x << "," << y;
  for (auto [x, y] : {std::pair{2.3f, 0.0f}, {0.0f, -2.3f}, {-2.3f, 2.3f}})
    EXPECT_EQ(At(x, y), (TRGBA{0, 0, 0, 255})) << x << "," << y;
}

TEST_F(ParticlesDrawTest, FireBrightensTheMiddleOfItsBlock) {
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  RandSeed(5);
  TFireSystem fire;
  for (int frame = 0; frame < 25; ++frame) fire.Update(40);
  fire.Draw();
  const TRGBA middle = At(0, 1);
  EXPECT_GT(middle.R, 150) << middle;
  EXPECT_GE(middle.R, middle.G) << middle;
  EXPECT_EQ(middle.B, 0) << middle;
  EXPECT_EQ(At(3.9f, -3.9f), (TRGBA{0, 0, 0, 255}));
}

TEST_F(ParticlesDrawTest, BoltIsAWhiteLineWithBlueGlowsAtItsPoints) {
  // The bolt from -0.5 to 0.5 across the middle half of the window (32
  // pixels per unit), its glows reaching 0.28 from each point.
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(-1, 1, -1, 1, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  auto at = [&](float x, float y) { return ReadPixel(int((x + 1) * 32), int((y + 1) * 32)); };
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  TThorFX bolt;
  {
    TTestRandom straight(std::vector<double>(64, 0.5));  // no offsets, no jitter
    bolt.Generate();
  }
  bolt.Draw();
  EXPECT_TRUE(glIsEnabled(GL_BLEND));
  GLint src = 0, dst = 0;
  glGetIntegerv(GL_BLEND_SRC, &src);
  glGetIntegerv(GL_BLEND_DST, &dst);
  EXPECT_EQ(src, GL_SRC_ALPHA);
  EXPECT_EQ(dst, GL_ONE);

  EXPECT_EQ(at(0.25f, 0), (TRGBA{255, 255, 255, 255}));
  // Half-way out of the glow of the last point: blue more than red.
  const TRGBA glow = at(0.5f, 0.14f);
  EXPECT_GT(glow.B, glow.R + 20) << glow;
  EXPECT_GT(glow.R, 0) << glow;
  EXPECT_EQ(at(0.9f, 0), (TRGBA{0, 0, 0, 255}));
  EXPECT_EQ(at(0, 0.6f), (TRGBA{0, 0, 0, 255}));
}
