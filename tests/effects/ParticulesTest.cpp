// The particle systems and the bolt without drawing: the life of a
// particle, its respawn, the order in which random numbers are drawn, and
// the shape that the bolt's subdivision gives.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "effects/Particules.h"

namespace {

void ExpectNear(const TVector3& actual, const TVector3& expected, float tolerance = 1e-6f) {
  EXPECT_NEAR(actual.X, expected.X, tolerance);
  EXPECT_NEAR(actual.Y, expected.Y, tolerance);
  EXPECT_NEAR(actual.Z, expected.Z, tolerance);
}

void ExpectNear(const TVector4& actual, const TVector4& expected, float tolerance = 1e-6f) {
  EXPECT_NEAR(actual.X, expected.X, tolerance);
  EXPECT_NEAR(actual.Y, expected.Y, tolerance);
  EXPECT_NEAR(actual.Z, expected.Z, tolerance);
  EXPECT_NEAR(actual.W, expected.W, tolerance);
}

// A system of one particle with round parameters, for hand computation.
TParticleSystem OneParticle() {
  TParticleSystem system;
  system.PositionSpread = {1, 1, 1};
  system.VelocityBase = {0, 2, 0};
  system.VelocitySpread = {1, 1, 1};
  system.StartColor = {1, 0, 0, 1};
  system.EndColor = {0, 1, 0, 0};
  system.StartSize = 1;
  system.EndSize = 0;
  system.LifeBase = 1;
  system.LifeSpread = 0.5f;
  return system;
}

}  // namespace

TEST(RandomTest, SeededSequenceRepeatsAndStaysInItsRange) {
  RandSeed(42);
  std::vector<double> first;
  for (int i = 0; i < 1000; ++i) first.push_back(Random());
  RandSeed(42);
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(Random(), first[i]) << "draw " << i;
    ASSERT_GE(first[i], 0.0);
    ASSERT_LT(first[i], 1.0);
  }
  RandSeed(43);
  EXPECT_NE(Random(), first[0]);
}

TEST(RandomTest, RandomSignedIsTheFirstDrawMinusTheSecond) {
  TTestRandom random({0.9, 0.2, 0.1, 0.6});
  EXPECT_FLOAT_EQ(RandomSigned(), 0.7f);
  EXPECT_FLOAT_EQ(RandomSigned(), -0.5f);
  EXPECT_EQ(random.Drawn, 4u);
}

TEST(ParticlesTest, FireStartsWithTwoHundredParticlesInsideItsRanges) {
  RandSeed(7);
  TFireSystem fire;
  ASSERT_EQ(fire.Particles.size(), 200u);
  for (const TParticle& p : fire.Particles) {
    EXPECT_GT(p.Life, 0.5f);
    EXPECT_LT(p.Life, 1.5f);
    EXPECT_LT(std::fabs(p.Position.X), 2.5f);
    EXPECT_LT(std::fabs(p.Position.Y), 1.5f);
    EXPECT_LT(std::fabs(p.Position.Z), 2.0f);
    EXPECT_LT(std::fabs(p.Velocity.Y - 2.0f), 0.5f);
    EXPECT_EQ(p.Color, (TVector4{0.8f, 0.3f, 0, 1.0f}));
    EXPECT_EQ(p.Size, 1.0f);
  }
  EXPECT_TRUE(fire.Attract);
  EXPECT_TRUE(fire.Blend);
  EXPECT_EQ(fire.BlendSrc, static_cast<GLenum>(GL_ONE));
  EXPECT_EQ(fire.BlendDst, static_cast<GLenum>(GL_ONE));

  // Over many seconds of frames every respawned life stays in range too.
  for (int frame = 0; frame < 500; ++frame) {
    fire.Update(40);
    for (const TParticle& p : fire.Particles) {
      ASSERT_GT(p.Life, 0.0f);
      ASSERT_LT(p.Life, 1.5f);
    }
  }
}

TEST(ParticlesTest, RespawnDrawsPositionThenVelocityThenLife) {
  TParticleSystem system = OneParticle();
  system.PositionSpread = {2, 3, 4};
  system.Particles.resize(1);
  TTestRandom random({0.75, 0.25,   // position X: +0.5
                      0.25, 0.75,   // position Y: -0.5
                      0.875, 0.125, // position Z: +0.75
                      0.5, 0.25,    // velocity X: +0.25
                      0.0, 0.5,     // velocity Y: -0.5
                      0.5, 0.5,     // velocity Z: 0
                      0.0, 0.6});   // life: 1 - 0.3
  system.Respawn(0);
  const TParticle& p = system.Particles[0];
  ExpectNear(p.Position, {1, -1.5f, 3});
  ExpectNear(p.Velocity, {0.25f, 1.5f, 0});
  EXPECT_NEAR(p.Life, 0.7f, 1e-6f);
  EXPECT_EQ(p.Color, system.StartColor);
  EXPECT_EQ(p.Size, system.StartSize);
  EXPECT_EQ(random.Drawn, 14u);

  // A negative draw of the life is taken by its absolute value.
  system.LifeBase = 0.1f;
  system.LifeSpread = 1;
  TTestRandom negative({0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.0, 0.5});
  system.Respawn(0);
  EXPECT_NEAR(system.Particles[0].Life, 0.4f, 1e-6f);
}

TEST(ParticlesTest, UpdateOfZeroMillisecondsChangesNothing) {
  RandSeed(3);
  TFireSystem fire;
  const std::vector<TParticle> before = fire.Particles;
  fire.Update(0);
  ASSERT_EQ(fire.Particles.size(), before.size());
  EXPECT_EQ(std::memcmp(fire.Particles.data(), before.data(), before.size() * sizeof(TParticle)), 0);
}

TEST(ParticlesTest, UpdateMovesByTheShareOfLifeTheStepUses) {
  TParticleSystem system = OneParticle();
  system.Gravity = {0, -10, 0};
  system.Attract = true;
  system.AttractStrength = 2;
  system.AttractPoint = {4, 0, 0};
  system.Particles.resize(1);
  TParticle& p = system.Particles[0];
  p.Position = {0, 0, 0};
  p.Velocity = {1, 0, 0};
  p.Color = {1, 0, 0, 1};
  p.Size = 1;
  p.Life = 1;

  system.Update(250);  // dt 0.25 s, a quarter of the remaining life
  // Pulled half-way to (4, 0, 0), then velocity (1, -2.5, 0) for 0.25 s.
  ExpectNear(p.Position, {2.25f, -0.625f, 0});
  ExpectNear(p.Velocity, {1, -2.5f, 0});
  ExpectNear(p.Color, {0.75f, 0.25f, 0, 0.75f});
  EXPECT_NEAR(p.Size, 0.75f, 1e-6f);
  EXPECT_NEAR(p.Life, 0.75f, 1e-6f);

  // The next step uses a third of what is left: the colour keeps heading
  // for its end value at the rate that reaches it as the life runs out.
  system.Update(250);
  ExpectNear(p.Color, {0.5f, 0.5f, 0, 0.5f});
  EXPECT_NEAR(p.Size, 0.5f, 1e-6f);
  // Pulled two thirds of the way, then moved by (1, -5, 0) for 0.25 s.
  ExpectNear(p.Position, {2.25f + 1.75f * 2 / 3 + 0.25f, -0.625f + 0.625f * 2 / 3 - 1.25f, 0}, 1e-5f);
}

TEST(ParticlesTest, ParticleWhoseLifeRunsOutIsRespawnedInTheSameUpdate) {
  TParticleSystem system = OneParticle();
  system.SetCount(3);
  system.Particles[0].Life = 0.04f;  // exactly one 40 ms step
  system.Particles[1].Life = 0.01f;  // less than a step
  system.Particles[2].Life = 1.2f;
  for (TParticle& p : system.Particles) {
    p.Color = {0.2f, 0.2f, 0.2f, 0.2f};
    p.Size = 0.3f;
  }
  system.Update(40);
  for (int i = 0; i < 2; ++i) {
    const TParticle& p = system.Particles[i];
    EXPECT_EQ(p.Color, system.StartColor) << "particle " << i;
    EXPECT_EQ(p.Size, system.StartSize) << "particle " << i;
    EXPECT_GT(p.Life, 0.5f) << "particle " << i;
  }
  EXPECT_NE(system.Particles[2].Color, system.StartColor);
  EXPECT_NEAR(system.Particles[2].Life, 1.16f, 1e-6f);
  EXPECT_EQ(system.Particles.size(), 3u);
}

TEST(ThorTest, TenPointBoltRunsAlongXAndEndsOnTheAxis) {
  RandSeed(11);
  TThorFX bolt;
  ASSERT_EQ(bolt.Points.size(), 10u);
  EXPECT_EQ(bolt.GlowSize, 0.2f);
  EXPECT_EQ(bolt.Length, 1.0f);
  for (int shape = 0; shape < 50; ++shape) {
    bolt.Generate();
    for (int i = 0; i < 10; ++i) EXPECT_NEAR(bolt.Points[i].X, -0.5f + i / 9.0f, 1e-6f);
    EXPECT_EQ(bolt.Points[0].Y, 0.0f);
    EXPECT_EQ(bolt.Points[0].Z, 0.0f);
    EXPECT_EQ(bolt.Points[9].Y, 0.0f);
    EXPECT_EQ(bolt.Points[9].Z, 0.0f);
    // Each level moves a middle by at most a quarter of its span (0.9 for
    // the whole bolt, halving per level) plus a jitter of 0.125.
    for (int i = 1; i < 9; ++i) {
      EXPECT_LT(std::fabs(bolt.Points[i].Y), 0.125f + 0.225f * 2);
      EXPECT_LT(std::fabs(bolt.Points[i].Z), 0.125f + 0.225f * 2);
    }
  }
}

TEST(ThorTest, SubdivisionDrawsTwoNumbersPerInteriorPointAndAxis) {
  for (int n : {3, 4, 7, 10, 33}) {
    TThorFX bolt;
    bolt.SetPointCount(n);
    TTestRandom random({});
    bolt.Generate();
    EXPECT_EQ(random.Drawn, static_cast<std::size_t>(4 * (n - 2))) << n << " points";
  }
}

TEST(ThorTest, SubdivisionPassesTheMidValueButNotItsJitter) {
  // Four points, Length 3: X at -1.5, -0.5, 0.5, 1.5.  With every number 0,
  // the first middle (point 1, span 3/4) takes 0 - 3/16, its jitter -1/8;
  // the upper half (points 1 to 3, span 2/4) starts from -3/16 without it.
  TThorFX bolt;
  bolt.SetPointCount(4);
  bolt.Length = 3;
  {
    TTestRandom zeros(std::vector<double>(16, 0.0));
    bolt.Generate();
  }
  const float y1 = -0.1875f - 0.125f;
  const float y2 = (-0.1875f + 0) / 2 - 0.125f - 0.125f;
  ExpectNear(bolt.Points[0], {-1.5f, 0, 0});
  ExpectNear(bolt.Points[1], {-0.5f, y1, y1});
  ExpectNear(bolt.Points[2], {0.5f, y2, y2});
  ExpectNear(bolt.Points[3], {1.5f, 0, 0});

  // Numbers are used in the order of the recursion: Y axis (offset, jitter
  // of point 1, then of point 2), then the Z axis likewise.
  {
    TTestRandom ordered({1.0, 0.5, 0.5, 1.0, 0.5, 0.0, 0.0, 0.5});
    bolt.Generate();
  }
  // Y: point 1 = 0.1875 + 0, point 2 = 0.09375 + 0 + 0.125.
  EXPECT_NEAR(bolt.Points[1].Y, 0.1875f, 1e-6f);
  EXPECT_NEAR(bolt.Points[2].Y, 0.09375f + 0.125f, 1e-6f);
  // Z: point 1 = 0 - 0.125, point 2 = 0 - 0.125 + 0.
  EXPECT_NEAR(bolt.Points[1].Z, -0.125f, 1e-6f);
  EXPECT_NEAR(bolt.Points[2].Z, -0.125f, 1e-6f);

  // Five points: both halves of the first middle are divided again, each
  // from the first middle's value without its jitter (span 4/5, then 2/5).
  TThorFX five;
  five.SetPointCount(5);
  {
    TTestRandom zeros(std::vector<double>(24, 0.0));
    five.Generate();
  }
  const float v = -0.2f;
  EXPECT_NEAR(five.Points[2].Y, v - 0.125f, 1e-6f);
  EXPECT_NEAR(five.Points[1].Y, v / 2 - 0.1f - 0.125f, 1e-6f);
  EXPECT_NEAR(five.Points[3].Y, v / 2 - 0.1f - 0.125f, 1e-6f);
  EXPECT_EQ(five.Points[0].Y, 0.0f);
  EXPECT_EQ(five.Points[4].Y, 0.0f);
}

TEST(ThorTest, BoltsOfTwoPointsOrFewerOnlyPlaceX) {
  TThorFX bolt;
  bolt.SetPointCount(2);
  TTestRandom random(std::vector<double>(8, 0.9));
  bolt.Generate();
  ExpectNear(bolt.Points[0], {-0.5f, 0, 0});
  ExpectNear(bolt.Points[1], {0.5f, 0, 0});

  bolt.SetPointCount(1);
  bolt.Points[0] = {3, 0, 0};
  bolt.Generate();
  ExpectNear(bolt.Points[0], {0, 0, 0});

  bolt.SetPointCount(0);
  bolt.Generate();
  EXPECT_TRUE(bolt.Points.empty());
}
