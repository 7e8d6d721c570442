// Posing a biped by hand: joint angles per bone (easy to write, to mirror
// and to blend), smooth curves through key poses, and two-bone reaching
// (thigh and calf to put an ankle on a point, upper arm and forearm for a
// wrist) so that planted feet stay planted.  Angles are degrees about the
// parent's axes: X bends forward (a negative X lifts an arm or a thigh to
// the front, a positive X bends the knee and the spine), Y turns, Z leans
// towards +X (the left).
#pragma once

#include <array>
#include <vector>

#include "Skeleton.h"

namespace forge {

struct TAngles {
  float X = 0, Y = 0, Z = 0;
};

struct TPoseAngles {
  TVec3 Root = RestJoint(Bassin);
  std::array<TAngles, BoneCount> Bones{};

  // Sets a bone of the left side and its mirror on the right (turns and
  // leans mirrored) at once.
  void Pair(int leftBone, TAngles left, TAngles right);
  void Both(int leftBone, TAngles angles) { Pair(leftBone, angles, angles); }
};

TPoseAngles Blend(const TPoseAngles& a, const TPoseAngles& b, float t);
TPose ToPose(const TPoseAngles& angles);

// A smooth curve through key poses at increasing times (0..1): Catmull-Rom
// on every angle and the root; Loop makes the last key lead back to the
// first.
struct TKeyPose {
  float Time;
  TPoseAngles Angles;
};
TPoseAngles SampleKeys(const std::vector<TKeyPose>& keys, float time, bool loop);

// Puts the ankle of a leg (left or right) on a point of the model's space
// with the knee bending towards kneeAim, and gives the foot a world
// rotation.  The pose's pelvis must be final.
void ReachFoot(TPose& pose, bool left, TVec3 ankle, TVec3 kneeAim, TQuat footWorld);
// The same for an arm: the wrist on a point, the elbow towards elbowAim;
// the hand keeps its rotation relative to the forearm.
void ReachHand(TPose& pose, bool left, TVec3 wrist, TVec3 elbowAim);

// Feet on the ground: the foot turned by pitch degrees about X (positive
// lifts the heel) and yaw about Y, pivoting on the joint of the toes when the
// heel is up (the toes then bend back by as much, to stay flat) and on the
// heel when the toes are up, so that the pivot stays where the flat foot's
// would be.  ground is the point under the ankle of
// the flat foot (y = 0).  Gives the ankle position and the foot's rotation.
void FootOnGround(bool left, TVec3 ground, float pitch, float yaw, TVec3& ankle, TQuat& rotation);

// The lowest point of a foot's sole in a pose (model units), and the
// position of a bone's joint.
float SoleHeight(const TPose& pose, bool left);

}  // namespace forge
