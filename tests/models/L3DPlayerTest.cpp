// Skeletal animation without OpenGL: quaternion and vector blending, key
// sampling, skinning from hand-set bone matrices, the choice of motion and
// the reference counts a character holds.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cmath>

#include "models/L3DPlayer.h"
#include "models/L3DWriter.h"
#include "platform/Errors.h"

namespace {

constexpr float Tolerance = 1e-5f;

void ExpectNear(const TVector4& actual, const TVector4& expected, float tolerance = Tolerance) {
  EXPECT_NEAR(actual.X, expected.X, tolerance);
  EXPECT_NEAR(actual.Y, expected.Y, tolerance);
  EXPECT_NEAR(actual.Z, expected.Z, tolerance);
  EXPECT_NEAR(actual.W, expected.W, tolerance);
}

void ExpectNear(const TVector3& actual, const TVector3& expected, float tolerance = Tolerance) {
  EXPECT_NEAR(actual.X, expected.X, tolerance);
  EXPECT_NEAR(actual.Y, expected.Y, tolerance);
  EXPECT_NEAR(actual.Z, expected.Z, tolerance);
}

// Rotation by degrees about +Z as a quaternion.
TVector4 AboutZ(double degrees) {
  double half = degrees * M_PI / 360;
  return {0, 0, float(std::sin(half)), float(std::cos(half))};
}

TEST(L3DPlayerMath, SlerpTakesTheShorterArcAndBlendsNearlyEqualOnesLinearly) {
  TVector4 q = AboutZ(0);
  Slerp(q, AboutZ(90), 0.5f);
  ExpectNear(q, AboutZ(45));

  // Dot 0.5: spherical, so the midpoint stays a unit quaternion (a linear
  // blend would give (0, 0, 0.433, 0.75)).
  q = AboutZ(0);
  Slerp(q, AboutZ(120), 0.5f);
  ExpectNear(q, AboutZ(60));

  // The same rotation written with the other sign: still the short way.
  TVector4 negated = AboutZ(120) * -1;
  q = AboutZ(0);
  Slerp(q, negated, 0.5f);
  ExpectNear(q, AboutZ(60));

  // Equal quaternions: the angle is 0, and only the linear blend is defined.
  q = AboutZ(30);
  Slerp(q, AboutZ(30), 0.25f);
  ExpectNear(q, AboutZ(30));

  // Dot 0.9999995 is blended linearly.  Far outside [0, 1] the two blends
  // part (spherically Z would be sin 1 = 0.84), which shows the one taken.
  const float c = 0.9999995f, s = std::sqrt(1 - c * c);
  q = {0, 0, 0, 1};
  Slerp(q, {0, 0, s, c}, 1000);
  ExpectNear(q, {0, 0, 1000 * s, -999 + 1000 * c}, 1e-3f);
}

TEST(L3DPlayerMath, LerpAndTransformPoint) {
  TVector3 v{1, 2, 3};
  Lerp(v, {3, -2, 3}, 0.25f);
  ExpectNear(v, {1.5f, 1, 3});
  // Column-major: 12, 13, 14 translate; no division by the fourth row.
  TBoneMatrix m = {0, 1, 0, 7, -1, 0, 0, 7, 0, 0, 2, 7, 10, 20, 30, 9};
  ExpectNear(TransformPoint({1, 2, 3}, m), {10 - 2, 20 + 1, 30 + 6});
}

// A motion made in memory: track 0 "Root" with two rotation keys and three
// position keys, track 1 "Bare" with none.
std::unique_ptr<TMotion> SampledMotion() {
  auto motion = std::make_unique<TMotion>();
  motion->Duration = 1000;
  motion->Tracks.push_back({TShortName::From("Root"), 0, 1, 0, 2});
  motion->Tracks.push_back({TShortName::From("Bare"), 0, -1, 3, 2});
  TVector4 a = AboutZ(0), b = AboutZ(90);
  motion->RotationKeys.push_back({0, a.X, a.Y, a.Z, a.W});
  motion->RotationKeys.push_back({1, b.X, b.Y, b.Z, b.W});
  motion->PositionKeys.push_back({0, 0, 0, 0});
  motion->PositionKeys.push_back({0.5f, 2, 0, 0});
  motion->PositionKeys.push_back({1, 2, 4, 0});
  return motion;
}

TEST(L3DPlayerMath, KeySamplingHoldsBothEndsAndBlendsBetweenKeys) {
  auto motion = SampledMotion();
  TVector4 q;
  ASSERT_TRUE(SampleRotation(*motion, 0, -0.1f, q));
  ExpectNear(q, AboutZ(0));
  ASSERT_TRUE(SampleRotation(*motion, 0, 0.5f, q));
  ExpectNear(q, AboutZ(45));
  for (float phase : {1.0f, 1.2f}) {
    ASSERT_TRUE(SampleRotation(*motion, 0, phase, q));
    ExpectNear(q, AboutZ(90));
  }

  TVector3 p;
  const std::pair<float, TVector3> samples[] = {{-1, {0, 0, 0}},    {0.25f, {1, 0, 0}}, {0.5f, {2, 0, 0}},
                                                {0.75f, {2, 2, 0}}, {1, {2, 4, 0}},     {3, {2, 4, 0}}};
  for (const auto& [phase, expected] : samples) {
    SCOPED_TRACE(phase);
    ASSERT_TRUE(SamplePosition(*motion, 0, phase, p));
    ExpectNear(p, expected);
  }

  // A track without keys of a kind, or no such track: false, output kept.
  TVector4 untouched{7, 7, 7, 7};
  EXPECT_FALSE(SampleRotation(*motion, 1, 0.5f, untouched));
  EXPECT_FALSE(SampleRotation(*motion, 2, 0.5f, untouched));
  EXPECT_FALSE(SamplePosition(*motion, 1, 0.5f, p));
  EXPECT_EQ(untouched, (TVector4{7, 7, 7, 7}));
}

TBoneMatrix Translation(float x, float y, float z) {
  return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1};
}

TEST(L3DPlayerSkinning, WeightedBonesBlendAtThreeTimesModelSize) {
  auto* skeleton = new TSkeleton();  // unmanaged: its last Release frees it
  for (const char* name : {"Left", "Right"})
    skeleton->Bones.push_back({TShortName::From(name), -1, {}, 0, {0, 0, 1}});
  TAnimatedSkeleton animated;
  animated.SetSkeleton(skeleton);
  EXPECT_EQ(skeleton->RefCount, 1);
  // Left moves by (1, 0, 0), Right doubles and moves by (0, 10, 0).
  animated.Matrices = {Translation(1, 0, 0), {2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 0, 10, 0, 1}};

  auto* mesh = new TMesh();
  mesh->Vertices = {{{1, 2, 3}, {0, 0, 1}}, {{5, 5, 5}, {1, 0, 0}}, {{4, 4, 4}, {0, 1, 0}}};
  mesh->Weights = {{0, 0.5f}, {0, 0.5f}, {2, 1}};
  mesh->Bindings = {{TShortName::From("Left"), 0, 0},
                    {TShortName::From("Right"), 1, 1},
                    {TShortName::From("Missing"), 2, 2}};  // no such bone: skipped
  TTexturedMesh textured;
  textured.SetMesh(mesh);  // unmanaged: the textured mesh's Release frees it

  for (int pass = 0; pass < 2; ++pass) {  // skinning again starts from zero
    textured.SkinVertices(animated);
    ASSERT_EQ(textured.Skinned.size(), 3u);
    // 1.5 x ((2, 2, 3) + (2, 14, 6)) and likewise for the normal, which takes
    // the translation too.
    ExpectNear(textured.Skinned[0].Position, {6, 24, 13.5f});
    ExpectNear(textured.Skinned[0].Normal, {1.5f * (1 + 0), 1.5f * (0 + 10), 1.5f * (1 + 2)});
    ExpectNear(textured.Skinned[1].Position, {0, 0, 0});  // named by no weight
    ExpectNear(textured.Skinned[2].Position, {0, 0, 0});  // bound to an unknown bone
  }
}

// Motion files in a folder of their own, as the managers load them.
class L3DPlayerFiles : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(FDir.isValid()); }
  void TearDown() override {
    for (TMotion*& motion : Motions) motion = nullptr;
  }

  std::string Path(const std::string& file) const { return FDir.path().toStdString() + "/" + file; }
  std::string SaveMotion(const std::string& file, uint32_t duration) {
    TMotion motion;
    motion.Duration = duration;
    motion.Tracks.push_back({TShortName::From("Root"), 0, -1, 0, -1});
    SaveM3D(motion, Path(file));
    return Path(file);
  }
  std::string SaveSkeleton(const std::string& file) {
    TSkeleton skeleton;
    skeleton.Bones.push_back({TShortName::From("Root"), -1, {}, 0, {0, 0, 1}});
    SaveS3D(skeleton, Path(file));
    return Path(file);
  }
  std::string SaveMesh(const std::string& file) {
    TMesh mesh;
    mesh.Vertices = {{{0, 0, 0}, {0, 0, 1}}};
    SaveL3D(mesh, Path(file));
    return Path(file);
  }

  QTemporaryDir FDir;
};

TEST_F(L3DPlayerFiles, SetAnimationRestartsOnlyANewSharedMotionAndSetMotionKeepsTime) {
  auto* walk = M3DManager.Get(SaveMotion("Walk.M3D", 800));
  auto* fall = M3DManager.Get(SaveMotion("Fall.M3D", 600));
  Motions[3] = walk;
  Motions[5] = fall;
  {
    TL3DPlayer player;
    player.SetMotion(SaveMotion("Talk.M3D", 1000));
    TMotion* talk = player.Motion;
    player.Time = 400;
    player.SetMotion(talk->FileName);  // the same file: nothing happens
    EXPECT_EQ(player.Motion, talk);
    EXPECT_EQ(player.Time, 400u);

    player.SetAnimation(2);  // no motion in the table: only the number
    EXPECT_EQ(player.Animation, 2);
    EXPECT_EQ(player.Motion, talk);
    EXPECT_EQ(player.Time, 400u);

    player.SetAnimation(3);
    EXPECT_EQ(player.Motion, walk);
    EXPECT_EQ(player.Time, 0u);
    EXPECT_EQ(walk->RefCount, 1);
    player.Time = 300;
    player.SetAnimation(3);  // already playing: goes on
    EXPECT_EQ(player.Time, 300u);
    EXPECT_EQ(walk->RefCount, 1);

    player.SetMotion(Path("Talk.M3D"));  // another motion by file: Time and number kept
    EXPECT_EQ(player.Motion->FileName, Path("Talk.M3D"));
    EXPECT_EQ(player.Time, 300u);
    EXPECT_EQ(player.Animation, 3);
    EXPECT_EQ(walk->RefCount, 0);

    player.SetAnimation(5);
    EXPECT_EQ(player.Motion, fall);
    EXPECT_EQ(fall->RefCount, 1);
    // The talking motion had only this character: it is gone.
    EXPECT_EQ(M3DManager.Find(Path("Talk.M3D")), nullptr);
  }
  // The character gave its reference back; the table's stays.
  EXPECT_EQ(fall->RefCount, 0);
  EXPECT_EQ(M3DManager.Find(fall->FileName), fall);
  walk->Release();
  fall->Release();
  EXPECT_EQ(M3DManager.Count(), 0);
}

TEST_F(L3DPlayerFiles, CharactersGiveBackEveryModelTheyTook) {
  const std::string skeleton = SaveSkeleton("Biped.S3D"), mesh = SaveMesh("Body.L3D");
  const std::string motion = SaveMotion("Talk.M3D", 500);
  {
    TL3DPlayer first, second;
    for (TL3DPlayer* player : {&first, &second}) {
      player->SetSkeleton(skeleton);
      player->Meshes.Add(mesh);
      player->SetMotion(motion);
    }
    // Shared by file name, one reference a character.
    ASSERT_EQ(first.Animated.Skeleton(), second.Animated.Skeleton());
    EXPECT_EQ(first.Meshes[0]->Mesh(), second.Meshes[0]->Mesh());
    EXPECT_EQ(first.Animated.Skeleton()->RefCount, 1);
    EXPECT_EQ(first.Meshes[0]->Mesh()->RefCount, 1);
    EXPECT_EQ(first.Motion->RefCount, 1);
  }
  // The last character took every one of them with it.
  EXPECT_EQ(S3DManager.Count(), 0);
  EXPECT_EQ(L3DManager.Count(), 0);
  EXPECT_EQ(M3DManager.Count(), 0);
}

TEST_F(L3DPlayerFiles, FailedLoadsLeaveTheCharacterAsItWas) {
  TL3DPlayer player;
  player.SetMotion(SaveMotion("Talk.M3D", 500));
  TMotion* talk = player.Motion;
  EXPECT_THROW(player.SetMotion(Path("Missing.M3D")), Exception);
  EXPECT_EQ(player.Motion, talk);
  EXPECT_THROW(player.Meshes.Add(Path("Missing.L3D")), Exception);
  EXPECT_EQ(player.Meshes.Count(), 0);
  EXPECT_THROW(player.SetSkeleton(Path("Missing.S3D")), Exception);
  EXPECT_EQ(player.Animated.Skeleton(), nullptr);
}

}  // namespace
