// The motions as the game poses them (TL3DPlayer, at three times model
// size): the standing motions keep the feet on the ground, the gaits never
// sink into it, the fall ends lying on it, and a foot that stands during the
// run moves back under the body at exactly the pace of a walking player
// (6 world units every 540 ms), so that it does not slide on the floor.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "Forged.h"
#include "GLFixture.h"

namespace {

constexpr float CellUnits = 6;
constexpr float StepMs = 540;
constexpr float GroundTolerance = 0.03f;  // world units

class MotionsGL : public GLFixture {
 protected:
  static void SetUpTestSuite() { ForgeOnce(); }
};

// The lowest and highest skinned points of the body.
std::pair<float, float> BodyHeights(const TL3DPlayer& character) {
  float lo = 1e9f, hi = -1e9f;
  for (const TSkinnedVertex& v : character.Meshes[0]->Skinned) {
    lo = std::min(lo, v.Position.Y);
    hi = std::max(hi, v.Position.Y);
  }
  return {lo, hi};
}

// Where a bone's joint is in the last pose, in world units: the rest joint
// (the sum of the bone's and its parents' rest positions, the skeleton's
// rest rotations being none) through the bone's skinning matrix.
TVector3 JointOf(const TL3DPlayer& character, const std::string& name) {
  const TSkeleton& skeleton = *character.Animated.Skeleton();
  int bone = skeleton.IndexOfBone(name);
  TVector3 rest;
  for (int b = bone; b >= 0; b = skeleton.Bones[b].Parent) {
    rest.X += skeleton.Bones[b].Position.X;
    rest.Y += skeleton.Bones[b].Position.Y;
    rest.Z += skeleton.Bones[b].Position.Z;
  }
  TVector3 p = TransformPoint(rest, character.Animated.Matrices[bone]);
  return {p.X * SkinScale, p.Y * SkinScale, p.Z * SkinScale};
}

TEST_F(MotionsGL, StandingMotionsKeepTheFeetOnTheGroundAndGaitsNeverSinkIntoIt) {
  std::unique_ptr<TL3DPlayer> character = MakeHuman(5, 1);
  for (const char* motion : {"Arret", "Parle", "att_poing", "Marche", "Course"}) {
    const bool standing = std::string(motion) != "Marche" && std::string(motion) != "Course";
    float lowest = 1e9f;
    for (int i = 0; i <= 40; ++i) {
      ShowMotion(*character, motion, i / 40.0f);
      auto [lo, hi] = BodyHeights(*character);
      lowest = std::min(lowest, lo);
      EXPECT_GT(lo, -GroundTolerance) << motion << " at " << i / 40.0f << ": below the ground";
      if (standing) {
        EXPECT_LT(lo, GroundTolerance) << motion << " at " << i / 40.0f << ": off the ground";
      }
      EXPECT_GT(hi, 4.6f) << motion << ": upright";  // the collar, 1.7 up
    }
    EXPECT_LT(lowest, GroundTolerance) << motion << ": never touches the ground";
  }
}

TEST_F(MotionsGL, TheFallEndsLyingOnTheGround) {
  std::unique_ptr<TL3DPlayer> character = MakeHuman(5, 1);
  ShowMotion(*character, "Chute", 0);
  EXPECT_GT(BodyHeights(*character).second, 4.6f);
  ShowMotion(*character, "Chute", 1);
  auto [lo, hi] = BodyHeights(*character);
  EXPECT_NEAR(lo, 0.0f, GroundTolerance);
  EXPECT_LT(hi, 1.5f) << "the body should lie flat";
  // Held there: the game clamps the fall at its end.
  character->SetAnimation(0);
  Motions[HeldAnimation] = M3DManager.Get(ModelFile("Chute.M3D"));
  character->SetAnimation(HeldAnimation);
  character->Advance(character->Motion->Duration * 3);
  EXPECT_EQ(character->Time, character->Motion->Duration);
  character->SetAnimation(0);
  Motions[HeldAnimation]->Release();
  Motions[HeldAnimation] = nullptr;
}

TEST_F(MotionsGL, AFootStandingInTheRunMovesBackAtTheWalkingPace) {
  std::unique_ptr<TL3DPlayer> character = MakeHuman(0, 0);
  ShowMotion(*character, "Course", 0);
  const float duration = float(character->Motion->Duration);
  const float pace = CellUnits / StepMs;  // world units per ms
  for (const char* toes : {"OrteilsG", "OrteilsD"}) {
    int planted = 0;
    TVector3 previous{};
    bool previousDown = false;
    constexpr int Samples = 132;
    for (int i = 0; i <= Samples; ++i) {
      ShowMotion(*character, "Course", float(i) / Samples);
      TVector3 p = JointOf(*character, toes);
      // The ball of the foot is about 0.075 above the ground when it stands on it.
      bool down = p.Y < 0.09f;
      if (down && previousDown) {
        float speed = (previous.Z - p.Z) / (duration / Samples);
        EXPECT_NEAR(speed, pace, pace * 0.08f) << toes << " at " << float(i) / Samples;
        EXPECT_NEAR(p.X, previous.X, 0.01f) << toes << " slides sideways";
        ++planted;
      }
      previous = p;
      previousDown = down;
    }
    // Each foot stands for a good part of its cycle.
    EXPECT_GE(planted, Samples / 6) << toes;
  }
}

}  // namespace

// Posing computes its matrices on its own: for every motion of the game at
// several phases they are those the OpenGL matrix stack makes from the same
// tracks (each bone's chain from its root, then its inverse rest transform
// as glRotatef and glTranslatef build it).
TEST_F(MotionsGL, PosesAreTheMatricesTheOpenGLStackMakes) {
  std::unique_ptr<TL3DPlayer> character = MakeHuman(5, 1);
  const TSkeleton& skeleton = *character->Animated.Skeleton();
  glMatrixMode(GL_MODELVIEW);
  float worst = 0;
  for (const char* motion : {"Arret", "Parle", "Marche", "Course", "att_poing", "Chute"})
    for (int i = 0; i <= 8; ++i) {
      ShowMotion(*character, motion, float(i) / 8);
      for (std::size_t b = 0; b < skeleton.Bones.size(); ++b) {
        glLoadIdentity();
        character->Animated.ApplyBone(int(b));
        for (int x = int(b); x >= 0; x = skeleton.Bones[std::size_t(x)].Parent) {
          const TS3DBone& bone = skeleton.Bones[std::size_t(x)];
          glRotatef(-bone.Angle, bone.Axis.X, bone.Axis.Y, bone.Axis.Z);
          glTranslatef(-bone.Position.X, -bone.Position.Y, -bone.Position.Z);
        }
        TBoneMatrix stack{};
        glGetFloatv(GL_MODELVIEW_MATRIX, stack.data());
        for (std::size_t e = 0; e < stack.size(); ++e)
          worst = std::max(worst, std::fabs(stack[e] - character->Animated.Matrices[b][e]));
      }
    }
  glLoadIdentity();
  EXPECT_LT(worst, 1e-4f);
}
