// The six motions.  Walking and running share one gait: each foot's point
// on the ground slides back under the body at the ground speed while it
// stands (so it never slips), rolls over the heel or the ball, and swings
// forward in the air; the pelvis bobs and turns, the chest turns against it
// and the arms swing against the legs.  Standing, talking and punching keep
// the feet planted by reaching for fixed points; the fall is a sequence of
// key poses whose body is kept out of the ground.
#include "Motions.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "Geometry.h"
#include "Meshes.h"
#include "Posing.h"
#include "models/L3D.h"

namespace forge {

namespace {

// Where the flat feet stand when the body stands still.
TVec3 StandGround(bool left) { return {left ? 0.110f : -0.110f, 0, -0.022f}; }
constexpr float ToesOut = 7;  // degrees

TVec3 KneeAim(bool left) { return {left ? 0.12f : -0.12f, 0, 1}; }
TVec3 ElbowAim(bool left) { return {left ? 0.35f : -0.35f, -0.2f, -1}; }

}  // namespace

void PlantFeet(TPose& pose) { PlantFeet(pose, StandGround(true), StandGround(false), ToesOut, -ToesOut); }

void PlantFeet(TPose& pose, TVec3 left, TVec3 right, float yawLeft, float yawRight) {
  for (bool isLeft : {true, false}) {
    TVec3 ankle;
    TQuat rotation;
    FootOnGround(isLeft, isLeft ? left : right, 0, isLeft ? yawLeft : yawRight, ankle, rotation);
    ReachFoot(pose, isLeft, ankle, KneeAim(isLeft), rotation);
  }
}

namespace {

// ----------------------------------------------------------------- gaits

struct TGait {
  float Stance;             // share of the cycle a foot stands
  float Travel;             // model units the ground point slides back while standing
  float Land;               // where the ground point lands, ahead of the hips
  float Lift;               // how high the foot swings
  float LandPitch;          // degrees (negative: toes up, on the heel)
  float RollStart;          // share of the stance when the heel starts to rise
  float ToeOffPitch;        // degrees at the end of the stance
  float SwingPitch;         // heel kicked up early in the swing, degrees
  float Width;              // half the distance between the feet
  float PelvisHeight, Bob;  // Bob > 0: highest in mid-stance (walking)
  float Twist, Lean, ArmSwing, Elbow, ElbowSwing;
};

constexpr TGait Walk{0.62f,  0.62f,  0.31f,  0.085f, -14, 0.55f, 32, 20,
                     0.100f, 0.958f, 0.016f, 7,      3,   24,    14, 10};
// Running: the ground point slides back at the ground speed during the
// stance (0.28 of 660 ms), 0.684 model units.
constexpr float RunDuration = 660;
constexpr float RunStance = 0.28f;
constexpr TGait Run{RunStance, RunSpeed* RunStance* RunDuration,
                    0.215f,    0.26f,
                    0,         0.45f,
                    52,        38,
                    0.090f,    0.950f,
                    -0.024f,   9,
                    11,        40,
                    82,        18};
// Crouched, short steps.
constexpr TGait Crouch{0.6f, 0.36f, 0.20f, 0.09f, -8, 0.5f, 24, 14, 0.125f, 0.70f, 0.012f, 5, 22, 10, 40, 8};

const TGait& GaitOf(TGaitKind kind) {
  return kind == TGaitKind::Walk ? Walk : kind == TGaitKind::Run ? Run : Crouch;
}

// A smooth curve from a to b, leaving a with slope ma and reaching b with
// slope mb (cubic Hermite).
float Hermite(float a, float ma, float b, float mb, float u) {
  float u2 = u * u, u3 = u2 * u;
  return (2 * u3 - 3 * u2 + 1) * a + (u3 - 2 * u2 + u) * ma + (-2 * u3 + 3 * u2) * b + (u3 - u2) * mb;
}

// A foot of a gait at phase q of its own cycle (0: it lands), and how far
// its toes bend back.  While it stands its ground point slides back at the
// ground speed; it leaves the ground and lands again moving back at that
// speed, reaching forward in between.
void GaitFoot(const TGait& g, float q, bool left, TVec3& ankle, TQuat& rotation, float& toes) {
  float x = left ? g.Width : -g.Width;
  float z, lift = 0, pitch;
  toes = 0;
  if (q < g.Stance) {
    float s = q / g.Stance;
    z = g.Land - g.Travel * s;
    if (s < 0.2f)
      pitch = Mix(g.LandPitch, 0, SmoothStep(0, 0.2f, s));
    else
      pitch = s < g.RollStart ? 0 : g.ToeOffPitch * std::pow((s - g.RollStart) / (1 - g.RollStart), 1.5f);
    toes = -std::max(0.0f, pitch);
  } else {
    float u = (q - g.Stance) / (1 - g.Stance);
    // The stance's slope (per unit of the swing), at both ends.
    // The last stretch before landing already moves back at that speed.
    float slope = -g.Travel / g.Stance * (1 - g.Stance);
    constexpr float Reach = 0.8f;
    float reached = g.Land + slope * (Reach - 1);
    z = u < Reach ? Hermite(g.Land - g.Travel, slope * Reach, reached, slope * Reach, u / Reach)
                  : g.Land + slope * (u - 1);
    lift = g.Lift * std::pow(std::sin(Pi * std::pow(u, 0.75f)), 1.3f);
    pitch = Mix(g.ToeOffPitch, g.LandPitch, SmoothStep(0.15f, 0.9f, u)) +
            g.SwingPitch * std::sin(Pi * std::min(1.0f, u * 1.6f));
    toes = -g.ToeOffPitch * (1 - SmoothStep(0.0f, 0.35f, u));
  }
  FootOnGround(left, {x, lift, z}, pitch, left ? 4.0f : -4.0f, ankle, rotation);
}

TPose Gait(const TGait& g, float p) {
  const float c = std::cos(2 * Pi * p);
  TPoseAngles angles;
  // Two bobs a cycle, one per step; the lowest point at mid-stance when
  // running, the highest when walking.
  float bob = g.Bob * std::cos(4 * Pi * (p - g.Stance / 2));
  angles.Root = {0, g.PelvisHeight + bob, 0};
  angles.Bones[Bassin] = {g.Lean * 0.3f, -g.Twist * c, 1.5f * std::sin(2 * Pi * p)};
  angles.Bones[Dos] = {g.Lean * 0.4f, g.Twist * 0.6f * c, 0};
  angles.Bones[Poitrine] = {g.Lean * 0.3f, g.Twist * 0.9f * c, 0};
  angles.Bones[Cou] = {-g.Lean * 0.4f, -g.Twist * 0.5f * c, 0};
  angles.Bones[Tete] = {-g.Lean * 0.3f, -g.Twist * 0.4f * c, 0};
  // Arms swing against the legs: the left one forward when the right foot is.
  float left = g.ArmSwing * c, right = -g.ArmSwing * c;
  angles.Pair(BrasG, {left, 0, 6}, {right, 0, 6});
  angles.Pair(AvantBrasG, {-g.Elbow - g.ElbowSwing * std::max(0.0f, -c), 0, 0},
              {-g.Elbow - g.ElbowSwing * std::max(0.0f, c), 0, 0});
  angles.Both(MainG, {-8, 0, 0});
  TPose pose = ToPose(angles);
  for (bool isLeft : {true, false}) {
    float q = p + (isLeft ? 0.0f : 0.5f);
    q -= std::floor(q);
    TVec3 ankle;
    TQuat rotation;
    float toes;
    GaitFoot(g, q, isLeft, ankle, rotation, toes);
    ReachFoot(pose, isLeft, ankle, KneeAim(isLeft), rotation);
    pose.Local[isLeft ? OrteilsG : OrteilsD] = AxisAngle({1, 0, 0}, toes);
  }
  return pose;
}

// ------------------------------------------------------------- standing

}  // namespace

TPose GaitPose(TGaitKind kind, float phase) { return Gait(GaitOf(kind), phase); }

TPoseAngles StandingSpec(float p) {
  const float breath = std::sin(2 * Pi * p);
  TPoseAngles angles;
  angles.Root = {0.006f * std::sin(2 * Pi * p + 0.7f), 0.986f + 0.003f * breath, 0};
  angles.Bones[Bassin] = {1, 0, 0.8f * std::sin(2 * Pi * p + 0.7f)};
  angles.Bones[Dos] = {1.5f, 0, 0};
  angles.Bones[Poitrine] = {-1.5f * breath, 0, 0};
  angles.Bones[Cou] = {2, 0, 0};
  angles.Bones[Tete] = {1 + 1.5f * std::sin(2 * Pi * p + 1.3f), 5 * std::sin(2 * Pi * p + 2.0f), 0};
  angles.Both(ClavicleG, {0, 0, 1.2f * breath});
  float sway = 2 * std::sin(2 * Pi * p + 0.4f);
  angles.Pair(BrasG, {2 + sway, 0, -3}, {2 - sway, 0, -3});
  angles.Both(AvantBrasG, {-14, 0, 0});
  angles.Both(MainG, {-6, 0, 0});
  return angles;
}

namespace {

TPose Idle(float p) {
  TPose pose = ToPose(StandingSpec(p));
  PlantFeet(pose);
  return pose;
}

// Talking: gestures of the right hand, then both, a hand to the chest.
TPose Talk(float p) {
  auto key = [](TAngles rightUpper, TAngles rightFore, TAngles leftUpper, TAngles leftFore, TAngles head) {
    TPoseAngles s;
    s.Pair(BrasG, leftUpper, rightUpper);
    s.Pair(AvantBrasG, leftFore, rightFore);
    s.Bones[Tete] = head;
    return s;
  };
  std::vector<TKeyPose> keys = {
      {0.00f, key({2, 0, -3}, {-16, 0, 0}, {2, 0, -3}, {-14, 0, 0}, {2, 0, 0})},
      {0.14f, key({-28, 10, 8}, {-78, 0, 0}, {2, 0, -2}, {-16, 0, 0}, {-3, -8, 4})},
      {0.28f, key({-22, -10, 24}, {-58, 30, 0}, {0, 0, -2}, {-20, 0, 0}, {4, -4, 0})},
      {0.44f, key({-30, 5, 18}, {-62, 20, 0}, {-26, -5, 20}, {-60, -20, 0}, {-2, 6, -3})},
      {0.60f, key({-18, 0, 4}, {-40, 0, 0}, {-20, 0, 14}, {-52, 0, 0}, {6, 8, 0})},
      {0.76f, key({-20, 0, -6}, {-104, -20, 0}, {0, 0, -3}, {-16, 0, 0}, {3, -3, 2})},
      {0.90f, key({-6, 0, -3}, {-36, 0, 0}, {2, 0, -3}, {-14, 0, 0}, {1, 0, 0})},
  };
  TPoseAngles gesture = SampleKeys(keys, p, true);
  TPoseAngles angles = StandingSpec(p * 2);
  for (int bone : {BrasG, AvantBrasG, BrasD, AvantBrasD}) angles.Bones[bone] = gesture.Bones[bone];
  // Nods while speaking.
  angles.Bones[Tete].X += gesture.Bones[Tete].X + 3 * std::sin(2 * Pi * p * 6);
  angles.Bones[Tete].Y += gesture.Bones[Tete].Y;
  angles.Bones[Tete].Z += gesture.Bones[Tete].Z;
  angles.Bones[Poitrine].Y = 3 * std::sin(2 * Pi * p);
  TPose pose = ToPose(angles);
  PlantFeet(pose);
  return pose;
}

// ----------------------------------------------------------------- punch

// A straight right punch from a guard, and back: the feet apart, the left
// one forward, fists up by the chin.
TPose Punch(float p) {
  struct TPunchKey {
    float Time;
    float Turn;         // the body's turn to the left, degrees
    float Crouch;       // pelvis drop
    TVec3 Right, Left;  // wrists
  };
  const TPunchKey keys[] = {
      {0.00f, -12, 0.050f, {-0.095f, 1.500f, 0.200f}, {0.105f, 1.480f, 0.290f}},
      {0.22f, -14, 0.060f, {-0.100f, 1.490f, 0.190f}, {0.108f, 1.470f, 0.285f}},
      {0.34f, -6, 0.055f, {-0.080f, 1.520f, 0.330f}, {0.100f, 1.490f, 0.240f}},
      {0.44f, 18, 0.045f, {-0.020f, 1.545f, 0.610f}, {0.090f, 1.530f, 0.170f}},
      {0.54f, 16, 0.048f, {-0.030f, 1.540f, 0.570f}, {0.092f, 1.525f, 0.180f}},
      {0.72f, -4, 0.055f, {-0.085f, 1.510f, 0.260f}, {0.105f, 1.485f, 0.270f}},
  };
  constexpr int Count = 6;
  int i = 0;
  while (i + 1 < Count && keys[i + 1].Time <= p) ++i;
  const TPunchKey& a = keys[i];
  const TPunchKey& b = i + 1 < Count ? keys[i + 1] : keys[0];
  float span = (i + 1 < Count ? b.Time : 1.0f) - a.Time;
  float t = SmoothStep(0, 1, (p - a.Time) / span);
  float turn = Mix(a.Turn, b.Turn, t), crouch = Mix(a.Crouch, b.Crouch, t);
  TVec3 right = Lerp(a.Right, b.Right, t), left = Lerp(a.Left, b.Left, t);

  TPoseAngles angles;
  angles.Root = {0.0f, 0.986f - crouch, 0.0f};
  angles.Bones[Bassin] = {4, 0.45f * turn + 10, 0};
  angles.Bones[Dos] = {6, 0.30f * turn, 0};
  angles.Bones[Poitrine] = {4, 0.35f * turn, 0};
  angles.Bones[Cou] = {-4, -0.5f * turn, 0};
  angles.Bones[Tete] = {-4, -0.5f * turn - 8, 0};
  angles.Both(MainG, {-10, 0, 0});
  TPose pose = ToPose(angles);
  PlantFeet(pose, {0.120f, 0, 0.130f}, {-0.130f, 0, -0.150f}, 14, -32);
  // The guard and the blow are placed in the turned body's frame.
  TQuat body = AxisAngle({0, 1, 0}, 10 + 1.1f * turn);
  auto place = [&](TVec3 wrist) {
    return TVec3{0, 0, 0} + Rotate(body, wrist - TVec3{0, 1.0f, 0}) + TVec3{0, 1.0f - crouch, 0};
  };
  ReachHand(pose, false, place(right), Rotate(body, ElbowAim(false) + TVec3{-0.6f, -0.6f, 0}));
  ReachHand(pose, true, place(left), Rotate(body, ElbowAim(true) + TVec3{0.6f, -0.6f, 0}));
  return pose;
}

// ------------------------------------------------------------------ fall

// Struck, the body reels back, the knees give way, it sits down hard and
// ends on its back, arms out.
std::vector<TKeyPose> FallKeys() {
  std::vector<TKeyPose> keys;
  TPoseAngles s = StandingSpec(0);
  keys.push_back({0.0f, s});

  s.Root = {0, 0.97f, -0.05f};
  s.Bones[Bassin] = {-6, 0, 0};
  s.Bones[Dos] = {-10, 0, 0};
  s.Bones[Poitrine] = {-8, 0, 0};
  s.Bones[Tete] = {-22, 0, 4};
  s.Pair(BrasG, {-35, 0, 55}, {-30, 0, 48});
  s.Both(AvantBrasG, {-40, 0, 0});
  s.Both(CuisseG, {-8, 0, 0});
  s.Both(JambeG, {14, 0, 0});
  keys.push_back({0.16f, s});

  s.Root = {0, 0.72f, -0.17f};
  s.Bones[Bassin] = {-22, 0, 0};
  s.Bones[Dos] = {-6, 0, 0};
  s.Bones[Poitrine] = {2, 0, 0};
  s.Bones[Tete] = {8, 0, 0};
  s.Pair(BrasG, {-20, 0, 40}, {-25, 0, 35});
  s.Both(CuisseG, {-55, 0, 4});
  s.Both(JambeG, {95, 0, 0});
  s.Both(PiedG, {-25, 0, 0});
  keys.push_back({0.38f, s});

  s.Root = {0, 0.30f, -0.34f};
  s.Bones[Bassin] = {-52, 0, 0};
  s.Bones[Dos] = {-8, 0, 0};
  s.Bones[Tete] = {18, 0, 0};
  s.Pair(BrasG, {30, 0, 30}, {34, 0, 28});
  s.Both(AvantBrasG, {-20, 0, 0});
  s.Both(CuisseG, {-50, 0, 6});
  s.Both(JambeG, {60, 0, 0});
  s.Both(PiedG, {-10, 0, 0});
  keys.push_back({0.58f, s});

  s.Root = {0, 0.14f, -0.44f};
  s.Bones[Bassin] = {-86, 0, 0};
  s.Bones[Dos] = {-2, 0, 0};
  s.Bones[Poitrine] = {0, 0, 0};
  s.Bones[Tete] = {-10, 0, 0};
  s.Pair(BrasG, {20, 0, 62}, {18, 0, 58});
  s.Both(AvantBrasG, {-25, 0, 0});
  s.Pair(CuisseG, {-34, 0, 8}, {-22, 0, 6});
  s.Pair(JambeG, {40, 0, 0}, {26, 0, 0});
  s.Both(PiedG, {10, 0, 0});
  keys.push_back({0.76f, s});

  s.Bones[Bassin] = {-90, 0, 0};
  s.Bones[Tete] = {-4, 14, 0};
  s.Pair(BrasG, {12, -10, 72}, {10, 10, 66});
  s.Pair(AvantBrasG, {-30, 0, 0}, {-12, 0, 0});
  s.Pair(CuisseG, {-20, 0, 10}, {-4, 0, 7});
  s.Pair(JambeG, {38, 0, 0}, {8, 0, 0});
  s.Both(PiedG, {28, 0, 0});
  keys.push_back({0.90f, s});
  keys.push_back({1.00f, s});
  return keys;
}

TPose Fall(float p, const std::vector<TKeyPose>& keys, const TGroundProbe& ground) {
  TPose pose = ToPose(SampleKeys(keys, p, false));
  // Feet stay put while the body still stands on them.
  if (p < 0.30f) {
    TPose planted = pose;
    PlantFeet(planted);
    float keep = SmoothStep(0.30f, 0.12f, p);
    for (int bone : {CuisseG, JambeG, PiedG, CuisseD, JambeD, PiedD})
      pose.Local[bone] = Slerp(pose.Local[bone], planted.Local[bone], keep);
  }
  // Always something on the ground: the feet, then the seat, then the back.
  ground.SetOnGround(pose, 0.002f);
  return pose;
}

}  // namespace

TGroundProbe::TGroundProbe() : FBody(BuildBody()) {}

float TGroundProbe::Lowest(const TPose& pose) const {
  TPosed posed = PoseSkeleton(pose);
  float lowest = 1e9f;
  for (const TMeshVertex& v : FBody.Vertices) {
    TVec3 p;
    for (const TInfluence& w : v.Weights) p += TransformPoint(posed.Skin[w.Bone], v.Position) * w.Weight;
    lowest = std::min(lowest, p.Y);
  }
  return lowest;
}

void TGroundProbe::SetOnGround(TPose& pose, float height) const { pose.Root.Y += height - Lowest(pose); }

void TGroundProbe::KeepAboveGround(TPose& pose) const {
  float lowest = Lowest(pose);
  if (lowest < 0) pose.Root.Y -= lowest;
}

std::vector<TMotionDef> CharacterMotions() {
  auto fallKeys = std::make_shared<std::vector<TKeyPose>>(FallKeys());
  auto ground = std::make_shared<TGroundProbe>();
  return {
      {"Arret", 3000, 30, true, Idle},
      {"Parle", 4000, 48, true, Talk},
      {"Marche", 1100, 32, true, [](float p) { return Gait(Walk, p); }},
      {"Course", static_cast<uint32_t>(RunDuration), 24, true, [](float p) { return Gait(Run, p); }},
      {"att_poing", 1000, 30, true, Punch},
      {"Chute", 1200, 36, false, [fallKeys, ground](float p) { return Fall(p, *fallKeys, *ground); }},
  };
}

void FillMotion(const TMotionDef& def, TMotion& motion) {
  motion.Duration = def.Duration;
  motion.Tracks.clear();
  motion.RotationKeys.clear();
  motion.PositionKeys.clear();
  std::vector<TPose> poses;
  for (int k = 0; k <= def.Keys; ++k) {
    float phase = static_cast<float>(k) / def.Keys;
    poses.push_back(def.At(def.Loops && k == def.Keys ? 0.0f : phase));
  }
  // Track 0 stands for bones without a track of their own; every bone has
  // one, so it holds nothing.
  TM3DTrack none{};
  none.BoneName = TShortName::From("");
  none.FirstRotation = none.FirstPosition = 0;
  none.LastRotation = none.LastPosition = -1;
  motion.Tracks.push_back(none);
  for (int bone = 0; bone < BoneCount; ++bone) {
    TM3DTrack track{};
    track.BoneName = TShortName::From(BoneDef(bone).Name);
    track.FirstRotation = static_cast<int32_t>(motion.RotationKeys.size());
    TQuat previous;
    for (int k = 0; k <= def.Keys; ++k) {
      TQuat q = poses[k].Local[bone];
      // Neighbouring keys on the same side of the sphere.
      if (k > 0 && q.X * previous.X + q.Y * previous.Y + q.Z * previous.Z + q.W * previous.W < 0)
        q = {-q.X, -q.Y, -q.Z, -q.W};
      previous = q;
      motion.RotationKeys.push_back({static_cast<float>(k) / def.Keys, q.X, q.Y, q.Z, q.W});
    }
    track.LastRotation = static_cast<int32_t>(motion.RotationKeys.size()) - 1;
    track.FirstPosition = static_cast<int32_t>(motion.PositionKeys.size());
    if (bone == Bassin) {
      for (int k = 0; k <= def.Keys; ++k) {
        TVec3 r = poses[k].Root;
        motion.PositionKeys.push_back({static_cast<float>(k) / def.Keys, r.X, r.Y, r.Z});
      }
    } else {
      TVec3 offset = RestOffset(bone);
      motion.PositionKeys.push_back({0, offset.X, offset.Y, offset.Z});
    }
    track.LastPosition = static_cast<int32_t>(motion.PositionKeys.size()) - 1;
    motion.Tracks.push_back(track);
  }
}

}  // namespace forge
