// Particles and the bolt drawn into a real context and read back.
#include <gtest/gtest.h>

#include "GLFixture.h"
#include "effects/Particules.h"

namespace {

// Eye space from -Extent to Extent across the fixture's 64 pixels.
class ParticlesDrawTest : public GLFixture {
 protected:
  void Project(float extent) {
    Extent = extent;
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-extent, extent, -extent, extent, -10, 10);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
  }
  TRGBA At(float x, float y) const {
    return ReadPixel(int((x / Extent + 1) * 32), int((y / Extent + 1) * 32));
  }

  // One untextured particle at the origin.
  static TParticleSystem Single(float size, TVector4 color, bool blend) {
    TParticleSystem system;
    system.Particles.resize(1);
    system.Particles[0].Size = size;
    system.Particles[0].Color = color;
    system.Blend = blend;
    return system;
  }

  float Extent = 1;
};

bool Near(TRGBA p, int r, int g, int b) {
  return std::abs(p.R - r) <= 2 && std::abs(p.G - g) <= 2 && std::abs(p.B - b) <= 2;
}

}  // namespace

TEST_F(ParticlesDrawTest, ParticleAddsItsColourWithoutWritingDepth) {
  Project(4);
  glClearColor(0.25f, 0.25f, 0.25f, 1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glEnable(GL_DEPTH_TEST);
  const TParticleSystem system = Single(1, {0.25f, 0.125f, 0, 1}, true);
  system.Draw();
  system.Draw();
  EXPECT_TRUE(Near(At(0, 0), 191, 128, 64)) << At(0, 0);
  EXPECT_TRUE(Near(At(2, 2), 64, 64, 64)) << At(2, 2);
  GLboolean mask = GL_FALSE;
  glGetBooleanv(GL_DEPTH_WRITEMASK, &mask);
  EXPECT_TRUE(mask && !glIsEnabled(GL_BLEND));
  // A square at the particle's depth still passes GL_LESS.
  glColor3f(0, 0, 1);
  glRectf(-2, -2, 2, 2);
  EXPECT_EQ(At(0, 0), (TRGBA{0, 0, 255, 255}));

  // Without blending, the depth mask and the blend state stay as they were.
  glDepthMask(GL_FALSE);
  glEnable(GL_BLEND);
  Single(1, {1, 1, 1, 1}, false).Draw();
  glGetBooleanv(GL_DEPTH_WRITEMASK, &mask);
  EXPECT_TRUE(!mask && glIsEnabled(GL_BLEND));

  // The fire's own settings add orange light onto black.
  Project(4);
  RandSeed(5);
  TFireSystem fire;
  fire.Update(500);
  fire.Draw();
  EXPECT_TRUE(At(0, 1).R > 150 && At(0, 1).R >= At(0, 1).G && At(0, 1).B == 0) << At(0, 1);
}

TEST_F(ParticlesDrawTest, QuadsFaceTheCameraWhateverTheRotation) {
  Project(4);
  glRotatef(60, 0, 1, 0);  // a flat square would shrink to half its width
  glRotatef(30, 1, 0, 0);
  Single(2, {1, 1, 1, 1}, false).Draw();
  for (auto [x, y] : {std::pair{1.8f, 0.0f}, {-1.8f, 0.0f}, {0.0f, -1.8f}, {1.8f, 1.8f}})
    EXPECT_EQ(At(x, y), (TRGBA{255, 255, 255, 255})) << x << "," << y;
  for (auto [x, y] : {std::pair{2.3f, 0.0f}, {0.0f, -2.3f}})
    EXPECT_EQ(At(x, y), (TRGBA{0, 0, 0, 255})) << x << "," << y;
}

TEST_F(ParticlesDrawTest, BoltIsAWhiteLineWithBlueGlowsAddedAtItsPoints) {
  Project(1);
  TThorFX bolt;
  {
    TTestRandom straight(std::vector<double>(64, 0.5));  // no offsets, no jitter
    bolt.Generate();
  }
  bolt.Draw();
  GLint src = 0, dst = 0;
  glGetIntegerv(GL_BLEND_SRC, &src);
  glGetIntegerv(GL_BLEND_DST, &dst);
  EXPECT_TRUE(glIsEnabled(GL_BLEND) && src == GL_SRC_ALPHA && dst == GL_ONE);
  EXPECT_EQ(At(0.25f, 0), (TRGBA{255, 255, 255, 255}));
  const TRGBA glow = At(0.5f, 0.14f);  // half-way out of the last point's glow
  EXPECT_TRUE(glow.B > glow.R + 20 && glow.R > 0) << glow;
  EXPECT_EQ(At(0.9f, 0), (TRGBA{0, 0, 0, 255}));
  EXPECT_EQ(At(0, 0.6f), (TRGBA{0, 0, 0, 255}));
}
