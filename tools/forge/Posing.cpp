#include "Posing.h"

#include <algorithm>
#include <cmath>

namespace forge {

namespace {

// The joint of the toes (the foot rolls over it, the toes staying flat) and
// the ground under the heel, from the ground under the ankle of a flat foot.
constexpr TVec3 BallFromGround{0.004f, 0.025f, 0.127f};
constexpr TVec3 HeelFromGround{0, 0, -0.055f};
constexpr float AnkleHeight = 0.088f;

TAngles Mix(const TAngles& a, const TAngles& b, float t) {
  return {forge::Mix(a.X, b.X, t), forge::Mix(a.Y, b.Y, t), forge::Mix(a.Z, b.Z, t)};
}

float CatmullRom(float p0, float p1, float p2, float p3, float u) {
  return 0.5f * ((2 * p1) + (-p0 + p2) * u + (2 * p0 - 5 * p1 + 4 * p2 - p3) * u * u +
                 (-p0 + 3 * p1 - 3 * p2 + p3) * u * u * u);
}

TVec3 CatmullRom(TVec3 a, TVec3 b, TVec3 c, TVec3 d, float u) {
  return {CatmullRom(a.X, b.X, c.X, d.X, u), CatmullRom(a.Y, b.Y, c.Y, d.Y, u),
          CatmullRom(a.Z, b.Z, c.Z, d.Z, u)};
}

// The world rotation of a bone in a pose.
TQuat WorldRotation(const TPose& pose, int bone) {
  return ParentWorldRotation(pose, bone) * pose.Local[bone];
}

// World position of a bone's joint in a pose.
TVec3 JointOf(const TPose& pose, int bone) { return PoseSkeleton(pose).Joint(bone); }

// A frame along a bone: its direction and a second axis across it towards aim.
void Frame(TVec3 direction, TVec3 aim, TVec3& x, TVec3& y, TVec3& z) {
  y = Normalize(direction);
  z = Normalize(aim - y * Dot(aim, y));
  x = Cross(y, z);
}

// Turns a two-bone chain (upper, lower, end) so that the end's joint lands
// on target with the middle joint towards aim; restAim is the same aim in
// the rest pose (where the bones' frames are the model's).
void Reach(TPose& pose, int upper, int lower, int end, TVec3 target, TVec3 aim, TVec3 restAim) {
  const TVec3 root = JointOf(pose, upper);
  const float l1 = Length(RestOffset(lower)), l2 = Length(RestOffset(end));
  TVec3 toTarget = target - root;
  float d = Clamp(Length(toTarget), std::fabs(l1 - l2) + 1e-4f, l1 + l2 - 1e-4f);
  TVec3 u = Normalize(toTarget);
  TVec3 v = Normalize(aim - u * Dot(aim, u));
  float cosA = Clamp((l1 * l1 + d * d - l2 * l2) / (2 * l1 * d), -1, 1);
  TVec3 middle = root + (u * cosA + v * std::sqrt(1 - cosA * cosA)) * l1;
  TVec3 endPoint = root + u * d;

  TVec3 x0, y0, z0, x1, y1, z1;
  Frame(RestOffset(lower), restAim, x0, y0, z0);
  Frame(middle - root, aim, x1, y1, z1);
  TQuat upperWorld = QuatFromFrames(x0, y0, z0, x1, y1, z1);
  Frame(RestOffset(end), restAim, x0, y0, z0);
  Frame(endPoint - middle, aim, x1, y1, z1);
  TQuat lowerWorld = QuatFromFrames(x0, y0, z0, x1, y1, z1);

  pose.Local[upper] = Conjugate(ParentWorldRotation(pose, upper)) * upperWorld;
  pose.Local[lower] = Conjugate(upperWorld) * lowerWorld;
}

}  // namespace

void TPoseAngles::Pair(int leftBone, TAngles left, TAngles right) {
  Bones[leftBone] = left;
  Bones[MirrorBone(leftBone)] = {right.X, -right.Y, -right.Z};
}

TPoseAngles Blend(const TPoseAngles& a, const TPoseAngles& b, float t) {
  TPoseAngles r;
  r.Root = Lerp(a.Root, b.Root, t);
  for (int i = 0; i < BoneCount; ++i) r.Bones[i] = Mix(a.Bones[i], b.Bones[i], t);
  return r;
}

TPose ToPose(const TPoseAngles& angles) {
  TPose pose;
  pose.Root = angles.Root;
  for (int i = 0; i < BoneCount; ++i)
    pose.Local[i] = Euler(angles.Bones[i].X, angles.Bones[i].Y, angles.Bones[i].Z);
  return pose;
}

TPoseAngles SampleKeys(const std::vector<TKeyPose>& keys, float time, bool loop) {
  const int n = static_cast<int>(keys.size());
  if (n == 1) return keys[0].Angles;
  // The segment [i, i + 1] holding time; in a loop the last one wraps.
  auto timeOf = [&](int k) {
    if (!loop) return keys[std::clamp(k, 0, n - 1)].Time;
    int wraps = k < 0 ? -1 : k / n;
    return keys[((k % n) + n) % n].Time + static_cast<float>(wraps);
  };
  auto specOf = [&](int k) -> const TPoseAngles& {
    return loop ? keys[((k % n) + n) % n].Angles : keys[std::clamp(k, 0, n - 1)].Angles;
  };
  if (loop) time = time - std::floor(time);
  int i = 0;
  while (i + 1 < (loop ? n + 1 : n) && timeOf(i + 1) <= time) ++i;
  if (!loop && i >= n - 1) return keys[n - 1].Angles;
  float span = timeOf(i + 1) - timeOf(i);
  float u = span > 0 ? (time - timeOf(i)) / span : 0;
  const TPoseAngles &p0 = specOf(i - 1), &p1 = specOf(i), &p2 = specOf(i + 1), &p3 = specOf(i + 2);
  TPoseAngles r;
  r.Root = CatmullRom(p0.Root, p1.Root, p2.Root, p3.Root, u);
  for (int b = 0; b < BoneCount; ++b) {
    const TAngles &a0 = p0.Bones[b], &a1 = p1.Bones[b], &a2 = p2.Bones[b], &a3 = p3.Bones[b];
    r.Bones[b] = {CatmullRom(a0.X, a1.X, a2.X, a3.X, u), CatmullRom(a0.Y, a1.Y, a2.Y, a3.Y, u),
                  CatmullRom(a0.Z, a1.Z, a2.Z, a3.Z, u)};
  }
  return r;
}

void ReachFoot(TPose& pose, bool left, TVec3 ankle, TVec3 kneeAim, TQuat footWorld) {
  const int thigh = left ? CuisseG : CuisseD, calf = left ? JambeG : JambeD, foot = left ? PiedG : PiedD;
  Reach(pose, thigh, calf, foot, ankle, kneeAim, {0, 0, 1});
  pose.Local[foot] = Conjugate(WorldRotation(pose, calf)) * footWorld;
}

void ReachHand(TPose& pose, bool left, TVec3 wrist, TVec3 elbowAim) {
  const int upper = left ? BrasG : BrasD, fore = left ? AvantBrasG : AvantBrasD, hand = left ? MainG : MainD;
  Reach(pose, upper, fore, hand, wrist, elbowAim, {0, 0, -1});
}

void FootOnGround(bool left, TVec3 ground, float pitch, float yaw, TVec3& ankle, TQuat& rotation) {
  TQuat turn = AxisAngle({0, 1, 0}, yaw);
  rotation = turn * AxisAngle({1, 0, 0}, pitch);
  TVec3 side{left ? 1.0f : -1.0f, 1, 1};
  TVec3 flatAnkle = ground + TVec3{0, AnkleHeight, 0};
  TVec3 pivotOffset = pitch >= 0 ? Mul(BallFromGround, side) : HeelFromGround;
  TVec3 pivot = ground + Rotate(turn, pivotOffset);
  // The ankle turns about the pivot with the foot.
  ankle = pivot + Rotate(rotation, Rotate(Conjugate(turn), flatAnkle - pivot));
}

float SoleHeight(const TPose& pose, bool left) {
  const int foot = left ? PiedG : PiedD, toes = left ? OrteilsG : OrteilsD;
  TPosed posed = PoseSkeleton(pose);
  const float x = RestJoint(foot).X;
  float lowest = 1e9f;
  for (TVec3 p : {TVec3{x, 0, -0.077f}, TVec3{x - 0.04f, 0, 0.0f}, TVec3{x + 0.04f, 0, 0.0f}})
    lowest = std::min(lowest, TransformPoint(posed.Skin[foot], p).Y);
  for (TVec3 p : {TVec3{x, 0, 0.105f}, TVec3{x, 0.006f, 0.205f}})
    lowest = std::min(lowest, TransformPoint(posed.Skin[toes], p).Y);
  return lowest;
}

}  // namespace forge
