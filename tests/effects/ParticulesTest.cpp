// Particle life and respawn, and the bolt's subdivision, without drawing.
#include <gtest/gtest.h>

#include "effects/Particules.h"

namespace {

void ExpectNear(const TVector3& a, const TVector3& b) {
  EXPECT_NEAR(a.X, b.X, 1e-5f);
  EXPECT_NEAR(a.Y, b.Y, 1e-5f);
  EXPECT_NEAR(a.Z, b.Z, 1e-5f);
}

}  // namespace

TEST(ParticlesTest, RespawnDrawsPositionThenVelocityThenLife) {
  TParticleSystem system;
  system.PositionSpread = {2, 3, 4};
  system.VelocityBase = {0, 2, 0};
  system.VelocitySpread = {1, 1, 1};
  system.LifeBase = 1;
  system.LifeSpread = 0.5f;
  system.Particles.resize(1);
  // Each signed number is the first draw minus the second.
  TTestRandom random({0.75, 0.25, 0.25, 0.75, 0.875, 0.125, 0.5, 0.25, 0.0, 0.5, 0.5, 0.5, 0.0, 0.6});
  system.Respawn(0);
  ExpectNear(system.Particles[0].Position, {1, -1.5f, 3});
  ExpectNear(system.Particles[0].Velocity, {0.25f, 1.5f, 0});
  EXPECT_NEAR(system.Particles[0].Life, 0.7f, 1e-6f);
  // A negative life is taken by its absolute value: |-0.5 * 1 + 0.1|.
  system.LifeBase = 0.1f;
  system.LifeSpread = 1;
  random.Values.assign({0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.0, 0.5});
  random.Drawn = 0;
  system.Respawn(0);
  EXPECT_NEAR(system.Particles[0].Life, 0.4f, 1e-6f);
}

TEST(ParticlesTest, FireLivesHalfToOneAndAHalfSecondsAndStandsStillAtZeroMs) {
  RandSeed(7);
  TFireSystem fire;
  ASSERT_EQ(fire.Particles.size(), 200u);
  const std::vector<TParticle> start = fire.Particles;
  fire.Update(0);
  for (std::size_t i = 0; i < start.size(); ++i) {
    EXPECT_EQ(fire.Particles[i].Position, start[i].Position);
    EXPECT_EQ(fire.Particles[i].Color, start[i].Color);
    EXPECT_EQ(fire.Particles[i].Life, start[i].Life);
  }
  for (int frame = 0; frame < 200; ++frame) {
    fire.Update(40);
    for (const TParticle& p : fire.Particles) ASSERT_TRUE(p.Life > 0 && p.Life < 1.5f) << p.Life;
  }
}

TEST(ParticlesTest, StepsUseTheirShareOfLifeAndExpiredParticlesRespawnAtOnce) {
  TParticleSystem system;
  system.Gravity = {0, -10, 0};
  system.Attract = true;
  system.AttractStrength = 2;
  system.AttractPoint = {4, 0, 0};
  system.StartColor = {1, 0, 0, 1};
  system.EndColor = {0, 1, 0, 0};
  system.StartSize = 1;
  system.LifeBase = 1;
  system.LifeSpread = 0.5f;
  system.Particles.resize(2);
  TParticle& p = system.Particles[0];
  p = {{0, 0, 0}, {1, 0, 0}, {1, 0, 0, 1}, 1, 1};
  system.Particles[1] = {{0, 0, 0}, {0, 0, 0}, {0.5f, 0.5f, 0.5f, 0.5f}, 0.3f, 0.25f};

  system.Update(250);                           // a quarter of the first particle's life
  ExpectNear(p.Position, {2.25f, -0.625f, 0});  // pulled half-way, then moved by (1, -2.5, 0)
  EXPECT_NEAR(p.Color.Y, 0.25f, 1e-6f);
  EXPECT_NEAR(p.Size, 0.75f, 1e-6f);
  // The second one had exactly that much life left: new, in the same update.
  EXPECT_EQ(system.Particles[1].Color, system.StartColor);
  EXPECT_EQ(system.Particles[1].Size, 1.0f);
  EXPECT_GT(system.Particles[1].Life, 0.5f);

  system.Update(250);  // a third of what is left
  ExpectNear(p.Position, {2.25f + 1.75f * 2 / 3 + 0.25f, -0.625f + 0.625f * 2 / 3 - 1.25f, 0});
  EXPECT_NEAR(p.Color.X, 0.5f, 1e-6f);
  EXPECT_NEAR(p.Color.W, 0.5f, 1e-6f);
  EXPECT_NEAR(p.Life, 0.5f, 1e-6f);
}

TEST(ThorTest, BoltRunsAlongXWithEndsOnTheAxisAndTwoDrawsPerInteriorPoint) {
  RandSeed(11);
  TThorFX bolt;
  ASSERT_EQ(bolt.Points.size(), 10u);
  bolt.Generate();
  for (int i = 0; i < 10; ++i) EXPECT_NEAR(bolt.Points[i].X, -0.5f + i / 9.0f, 1e-6f);
  for (int i : {0, 9}) EXPECT_TRUE(bolt.Points[i].Y == 0 && bolt.Points[i].Z == 0) << i;
  for (int n : {3, 10, 33}) {
    bolt.SetPointCount(n);
    TTestRandom random({});
    bolt.Generate();
    EXPECT_EQ(random.Drawn, static_cast<std::size_t>(4 * (n - 2))) << n << " points";
  }
}

TEST(ThorTest, MiddlesPassOnTheirValueButNotTheirJitter) {
  // Five points, every number 0: the middle (span 4/5) takes -0.2 and a
  // jitter of -0.125; both halves (span 2/5) start from -0.2.
  TThorFX bolt;
  bolt.SetPointCount(5);
  {
    TTestRandom zeros(std::vector<double>(6, 0.0));
    bolt.Generate();
  }
  EXPECT_NEAR(bolt.Points[2].Y, -0.325f, 1e-6f);
  EXPECT_NEAR(bolt.Points[1].Y, -0.1f - 0.1f - 0.125f, 1e-6f);
  EXPECT_NEAR(bolt.Points[3].Y, -0.1f - 0.1f - 0.125f, 1e-6f);
  EXPECT_NEAR(bolt.Points[3].Z, 0.0f, 1e-6f);  // then 0.5 for Z: no offset, no jitter

  // Two points: X only, whatever the numbers; one point sits at the centre.
  TThorFX small;
  small.SetPointCount(2);
  TTestRandom high(std::vector<double>(8, 0.9));
  small.Generate();
  ExpectNear(small.Points[0], {-0.5f, 0, 0});
  ExpectNear(small.Points[1], {0.5f, 0, 0});
  small.SetPointCount(1);
  small.Generate();
  ExpectNear(small.Points[0], {0, 0, 0});
  small.SetPointCount(0);
  small.Generate();
}
