// Skeletal animation without OpenGL: quaternion blending, key sampling,
// skinning from hand-set bone matrices, the choice of motion and the
// references a character holds.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cmath>

#include "models/L3DPlayer.h"
#include "models/L3DWriter.h"

namespace {

std::array<float, 3> Members(const TVector3& v) { return {v.X, v.Y, v.Z}; }
std::array<float, 4> Members(const TVector4& v) { return {v.X, v.Y, v.Z, v.W}; }

template <class T>
void ExpectNear(const T& actual, const T& expected, float tolerance = 1e-5f) {
  auto a = Members(actual), e = Members(expected);
  for (std::size_t i = 0; i < a.size(); ++i) EXPECT_NEAR(a[i], e[i], tolerance) << "member " << i;
}

TVector4 AboutZ(double degrees) {
  double half = degrees * M_PI / 360;
  return {0, 0, float(std::sin(half)), float(std::cos(half))};
}

TEST(L3DPlayerMath, SlerpTakesTheShorterArcAndBlendsNearlyEqualOnesLinearly) {
  TVector4 q = AboutZ(0);
  Slerp(q, AboutZ(90), 0.5f);
  ExpectNear(q, AboutZ(45));
  // Dot 0.5, either sign: spherical along the short way (a linear blend
  // would give (0, 0, 0.433, 0.75)).
  for (float sign : {1.0f, -1.0f}) {
    q = AboutZ(0);
    Slerp(q, AboutZ(120) * sign, 0.5f);
    ExpectNear(q, AboutZ(60));
  }
  // Dot 0.9999995: linear.  Far outside [0, 1] the two blends part
  // (spherically Z would be sin 1 = 0.84), which shows the one taken.
  const float c = 0.9999995f, s = std::sqrt(1 - c * c);
  q = {0, 0, 0, 1};
  Slerp(q, {0, 0, s, c}, 1000);
  ExpectNear(q, {0, 0, 1000 * s, -999 + 1000 * c}, 1e-3f);
}

TEST(L3DPlayerMath, KeySamplingHoldsBothEndsAndBlendsBetweenKeys) {
  TMotion motion;
  motion.Tracks.push_back({TShortName::From("Root"), 0, 1, 0, 2});
  motion.Tracks.push_back({TShortName::From("Bare"), 0, -1, 3, 2});
  for (float degrees : {0, 90}) {
    TVector4 q = AboutZ(degrees);
    motion.RotationKeys.push_back({degrees / 90, q.X, q.Y, q.Z, q.W});
  }
  motion.PositionKeys = {{0, 0, 0, 0}, {0.5f, 2, 0, 0}, {1, 2, 4, 0}};

  const std::pair<float, double> rotations[] = {{-0.1f, 0}, {0.5f, 45}, {1, 90}, {1.2f, 90}};
  for (auto [phase, degrees] : rotations) {
    TVector4 q;
    ASSERT_TRUE(SampleRotation(motion, 0, phase, q));
    ExpectNear(q, AboutZ(degrees));
  }
  const std::pair<float, TVector3> positions[] = {
      {-1, {0, 0, 0}}, {0.25f, {1, 0, 0}}, {0.75f, {2, 2, 0}}, {3, {2, 4, 0}}};
  for (auto [phase, expected] : positions) {
    TVector3 p;
    ASSERT_TRUE(SamplePosition(motion, 0, phase, p));
    ExpectNear(p, expected);
  }
  // No keys of the kind, or no such track: false, output kept.
  TVector4 untouched{7, 7, 7, 7};
  EXPECT_FALSE(SampleRotation(motion, 1, 0.5f, untouched));
  EXPECT_FALSE(SampleRotation(motion, 2, 0.5f, untouched));
  EXPECT_EQ(untouched, (TVector4{7, 7, 7, 7}));
}

TEST(L3DPlayerSkinning, WeightedBonesBlendAtThreeTimesModelSize) {
  auto* skeleton = new TSkeleton();  // unmanaged: the last Release frees it
  for (const char* name : {"Left", "Right"})
    skeleton->Bones.push_back({TShortName::From(name), -1, {}, 0, {0, 0, 1}});
  TAnimatedSkeleton animated;
  animated.SetSkeleton(skeleton);
  // Left moves by (1, 0, 0); Right doubles and moves by (0, 10, 0).
  animated.Matrices = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 1},
                       {2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 0, 10, 0, 1}};
  auto* mesh = new TMesh();
  mesh->Vertices = {{{1, 2, 3}, {0, 0, 1}}, {{5, 5, 5}, {1, 0, 0}}, {{4, 4, 4}, {0, 1, 0}}};
  mesh->Weights = {{0, 0.5f}, {0, 0.5f}, {2, 1}};
  mesh->Bindings = {
      {TShortName::From("Left"), 0, 0}, {TShortName::From("Right"), 1, 1}, {TShortName::From("Gone"), 2, 2}};
  TTexturedMesh textured;
  textured.SetMesh(mesh);
  for (int pass = 0; pass < 2; ++pass) {  // each skinning starts from zero
    textured.SkinVertices(animated);
    // 1.5 x ((2, 2, 3) + (2, 14, 6)); the normal takes the translation too.
    ExpectNear(textured.Skinned[0].Position, {6, 24, 13.5f});
    ExpectNear(textured.Skinned[0].Normal, {1.5f, 15, 4.5f});
    ExpectNear(textured.Skinned[1].Position, {0, 0, 0});  // named by no weight
    ExpectNear(textured.Skinned[2].Position, {0, 0, 0});  // its bone is not in the skeleton
  }
}

class L3DPlayerFiles : public ::testing::Test {
 protected:
  void TearDown() override { Motions = {}; }
  std::string SaveMotion(const std::string& file) {
    TMotion motion;
    motion.Tracks.push_back({TShortName::From("Root"), 0, -1, 0, -1});
    SaveM3D(motion, FDir.filePath(QString::fromStdString(file)).toStdString());
    return FDir.filePath(QString::fromStdString(file)).toStdString();
  }
  QTemporaryDir FDir;
};

TEST_F(L3DPlayerFiles, SetAnimationRestartsOnlyANewSharedMotionAndSetMotionKeepsTime) {
  TMotion* run = M3DManager.Get(SaveMotion("Run.M3D"));
  Motions[3] = run;
  {
    TL3DPlayer player;
    const std::string talk = SaveMotion("Talk.M3D");
    player.SetMotion(talk);
    player.Time = 400;
    player.SetAnimation(2);  // nothing in the table: only the number changes
    EXPECT_EQ(player.Motion->FileName, talk);
    EXPECT_EQ(player.Time, 400u);

    player.SetAnimation(3);
    EXPECT_EQ(player.Motion, run);
    EXPECT_EQ(player.Time, 0u);
    EXPECT_EQ(run->RefCount, 1);
    EXPECT_EQ(M3DManager.Find(talk), nullptr);  // its only holder let it go
    player.Time = 300;
    player.SetAnimation(3);  // already playing: it goes on
    EXPECT_EQ(player.Time, 300u);

    player.SetMotion(talk);  // by file: Time and number stay
    EXPECT_EQ(player.Motion->FileName, talk);
    EXPECT_EQ(player.Time, 300u);
    EXPECT_EQ(player.Animation, 3);
    EXPECT_EQ(run->RefCount, 0);
    TMotion* same = player.Motion;
    player.SetMotion(talk);
    EXPECT_EQ(player.Motion, same);
  }
  EXPECT_EQ(M3DManager.Count(), 1);  // only the table's motion is left
  run->Release();
}

TEST_F(L3DPlayerFiles, CharactersGiveBackEveryModelTheyTook) {
  TSkeleton skeleton;
  skeleton.Bones.push_back({TShortName::From("Root"), -1, {}, 0, {0, 0, 1}});
  const std::string skeletonFile = FDir.filePath("Biped.S3D").toStdString();
  SaveS3D(skeleton, skeletonFile);
  {
    TL3DPlayer first, second;
    first.SetSkeleton(skeletonFile);
    second.SetSkeleton(skeletonFile);
    ASSERT_EQ(first.Animated.Skeleton(), second.Animated.Skeleton());
    EXPECT_EQ(first.Animated.Skeleton()->RefCount, 1);  // one reference a character
  }
  EXPECT_EQ(S3DManager.Count(), 0);  // went with the last character
}

}  // namespace
