// The knight's twenty animations, one pose per file frame.  The sword sits
// in the right hand, so the right arm's angles aim it: with the arm hanging
// the blade points forward, and the arm's bends about X (upper arm, forearm
// and hand together) tilt it, up for negative sums.  Standing animations
// keep the feet planted; jumps, falls and deaths keep the body out of the
// ground.
#include <cmath>

#include "Knight.h"
#include "Motions.h"
#include "Posing.h"

namespace forge {

namespace {

enum TFeet { Planted, Free, Lying };

struct TAnimation {
  bool Loop;
  TFeet Feet;
  std::vector<TKeyPose> Keys;  // empty when the animation is made by a formula
};

// The knight at ease with the sword held low, pointing ahead.
TPoseAngles Ready(float breath) {
  TPoseAngles s = StandingSpec(breath);
  s.Bones[BrasD] = {-6, 0, -4};
  s.Bones[AvantBrasD] = {-34, 0, 0};
  s.Bones[MainD] = {52, 0, 0};
  return s;
}

// Sets the sword arm (angles as for the left arm, mirrored).
void SwordArm(TPoseAngles& s, TAngles upper, TAngles fore, TAngles hand) {
  s.Pair(BrasG, s.Bones[BrasG], upper);
  s.Pair(AvantBrasG, s.Bones[AvantBrasG], fore);
  s.Pair(MainG, s.Bones[MainG], hand);
}

void ShieldArm(TPoseAngles& s, TAngles upper, TAngles fore) {
  s.Bones[BrasG] = upper;
  s.Bones[AvantBrasG] = fore;
}

TPoseAngles Crouched(float breath) {
  TPoseAngles s = Ready(breath);
  s.Root = {0, 0.68f + 0.004f * std::sin(2 * Pi * breath), 0.02f};
  s.Bones[Bassin] = {14, 0, 0};
  s.Bones[Dos] = {14, 0, 0};
  s.Bones[Poitrine] = {6, 0, 0};
  s.Bones[Cou] = {-16, 0, 0};
  s.Bones[Tete] = {-14, 0, 0};
  SwordArm(s, {-34, 0, 14}, {-58, 0, 0}, {50, 0, 0});
  ShieldArm(s, {-28, 0, 16}, {-52, 0, 0});
  return s;
}

// Evenly spaced keys from a list of poses.
std::vector<TKeyPose> Spread(const std::vector<TPoseAngles>& specs, bool loop) {
  std::vector<TKeyPose> keys;
  const float n = static_cast<float>(loop ? specs.size() : specs.size() - 1);
  for (std::size_t i = 0; i < specs.size(); ++i) keys.push_back({static_cast<float>(i) / n, specs[i]});
  return keys;
}

TAnimation Attack() {
  auto key = [](TAngles upper, TAngles fore, TAngles hand, float chest, float lean, float hips) {
    TPoseAngles s = Ready(0);
    SwordArm(s, upper, fore, hand);
    ShieldArm(s, {-12, 0, 18 + chest * 0.3f}, {-40, 0, 0});
    s.Bones[Poitrine].Y = chest;
    s.Bones[Dos] = {lean, chest * 0.4f, 0};
    s.Bones[Bassin].Y = hips;
    s.Bones[Tete].Y = -chest * 0.6f;
    return s;
  };
  return {false, Planted,
          Spread({key({-20, 0, 8}, {-48, 0, 0}, {44, 0, 0}, 0, 2, 0),
                  key({-128, 0, 38}, {-78, 0, 0}, {-6, 0, 0}, -24, -2, -8),
                  key({-158, -10, 32}, {-92, 0, 0}, {-18, 0, 0}, -30, -6, -10),
                  key({-104, 20, 10}, {-32, 0, 0}, {8, 0, 0}, 2, 10, 2),
                  key({-52, 30, -14}, {-12, 0, 0}, {24, 0, 0}, 30, 18, 12),
                  key({-22, 28, -28}, {-10, 0, 0}, {40, 0, 0}, 38, 20, 14),
                  key({-22, 10, 0}, {-38, 0, 0}, {46, 0, 0}, 14, 8, 6),
                  key({-8, 0, -4}, {-34, 0, 0}, {52, 0, 0}, 0, 2, 0)},
                 false)};
}

// A flinch: the body thrown by a blow and back.
TAnimation Pain(TAngles back, TAngles chest, TAngles head, float drop) {
  TPoseAngles rest = Ready(0), hit = Ready(0.2f);
  hit.Root.Y -= drop;
  hit.Bones[Dos] = back;
  hit.Bones[Poitrine] = chest;
  hit.Bones[Tete] = head;
  ShieldArm(hit, {-30, 0, 30}, {-70, 0, 0});
  SwordArm(hit, {10, 0, 20}, {-20, 0, 0}, {60, 0, 0});
  return {false, Planted, Spread({rest, hit, Blend(rest, hit, 0.45f), rest}, false)};
}

TAnimation Jump() {
  TPoseAngles rest = Ready(0);
  TPoseAngles crouch = Crouched(0);
  crouch.Root.Y = 0.80f;
  TPoseAngles push = rest;
  push.Root.Y = 1.04f;
  ShieldArm(push, {-60, 0, 30}, {-30, 0, 0});
  TPoseAngles air = push;
  air.Root.Y = 1.32f;
  air.Both(CuisseG, {-50, 0, 4});
  air.Both(JambeG, {85, 0, 0});
  air.Both(PiedG, {10, 0, 0});
  TPoseAngles fall = Blend(air, rest, 0.4f);
  fall.Root.Y = 1.12f;
  TPoseAngles land = crouch;
  land.Root.Y = 0.78f;
  return {false, Free, Spread({crouch, push, air, fall, land, rest}, false)};
}

TAnimation Salute() {
  TPoseAngles rest = Ready(0);
  TPoseAngles up = rest;
  // The hilt before the chin, the blade straight up.
  SwordArm(up, {-38, 0, -22}, {-102, 0, 0}, {50, 0, 0});
  up.Bones[Tete] = {6, 0, 0};
  TPoseAngles bow = up;
  bow.Bones[Dos].X = 10;
  bow.Bones[Tete].X = 16;
  TPoseAngles down = rest;
  SwordArm(down, {-24, 0, 34}, {-18, 0, 0}, {62, 0, 0});
  return {false, Planted,
          Spread({rest, Blend(rest, up, 0.6f), up, bow, bow, up, Blend(up, down, 0.5f), down, down,
                  Blend(down, rest, 0.5f), rest},
                 false)};
}

TAnimation Taunt() {
  std::vector<TPoseAngles> specs;
  for (int i = 0; i < 17; ++i) {
    float t = static_cast<float>(i) / 16;
    TPoseAngles s = Ready(t);
    float in = SmoothStep(0, 0.15f, t) * SmoothStep(1, 0.85f, t);
    float beckon = 0.5f + 0.5f * std::cos(2 * Pi * 3 * t);
    ShieldArm(s, {-70 * in, 0, 10 * in}, {Mix(-14, Mix(-40, -105, beckon), in), 0, 0});
    s.Bones[MainG] = {Mix(-6, Mix(-45, 10, beckon), in), 0, 0};
    SwordArm(s, {-6 + 4 * in, 0, Mix(-4, 36, in)}, {Mix(-34, -10, in), 0, 0}, {Mix(52, 30, in), 0, 0});
    s.Bones[Poitrine].X = -7 * in;
    s.Bones[Tete] = {-9 * in, 0, 8 * in};
    s.Bones[Bassin].Z = 3 * in * std::sin(2 * Pi * 1.5f * t);
    specs.push_back(s);
  }
  return {false, Planted, Spread(specs, false)};
}

TAnimation Wave() {
  std::vector<TPoseAngles> specs;
  for (int i = 0; i < 11; ++i) {
    float t = static_cast<float>(i) / 10;
    TPoseAngles s = Ready(t);
    float in = SmoothStep(0, 0.2f, t) * SmoothStep(1, 0.8f, t);
    ShieldArm(s, {-12 * in, 0, 148 * in}, {-20 * in, 0, 28 * in * std::sin(2 * Pi * 2.5f * t)});
    s.Bones[Tete] = {-4 * in, 14 * in, 0};
    specs.push_back(s);
  }
  return {false, Planted, Spread(specs, false)};
}

TAnimation Point() {
  TPoseAngles rest = Ready(0), aim = Ready(0.3f);
  ShieldArm(aim, {-86, 10, 8}, {-4, 0, 0});
  aim.Bones[MainG] = {0, 0, 0};
  aim.Bones[Poitrine].Y = 12;
  aim.Bones[Tete] = {0, 10, 0};
  return {false, Planted,
          Spread({rest, Blend(rest, aim, 0.6f), aim, aim, aim, aim, aim, aim, aim, Blend(aim, rest, 0.4f),
                  Blend(aim, rest, 0.8f), rest},
                 false)};
}

TAnimation CrouchAttack() {
  TPoseAngles ready = Crouched(0);
  TPoseAngles back = ready;
  SwordArm(back, {-10, 0, 24}, {-100, 0, 0}, {30, 0, 0});
  back.Bones[Poitrine].Y = -18;
  TPoseAngles thrust = ready;
  SwordArm(thrust, {-76, 0, 4}, {-8, 0, 0}, {68, 0, 0});
  thrust.Bones[Poitrine].Y = 20;
  thrust.Bones[Dos].X = 24;
  return {false, Planted,
          Spread({ready, Blend(ready, back, 0.6f), back, Blend(back, thrust, 0.6f), thrust, thrust,
                  Blend(thrust, ready, 0.4f), Blend(thrust, ready, 0.8f), ready},
                 false)};
}

TAnimation CrouchPain() {
  TPoseAngles rest = Crouched(0), hit = Crouched(0.2f);
  hit.Bones[Dos].X = -4;
  hit.Bones[Tete].X = -20;
  ShieldArm(hit, {-40, 0, 40}, {-70, 0, 0});
  return {false, Planted, Spread({rest, hit, Blend(rest, hit, 0.4f), rest}, false)};
}

TAnimation CrouchDeath() {
  TPoseAngles a = Crouched(0);
  TPoseAngles b = a;
  b.Bones[Bassin] = {20, 0, -30};
  b.Bones[Tete] = {-10, 0, -20};
  TPoseAngles c = b;
  c.Root = {-0.3f, 0.4f, 0.05f};
  c.Bones[Bassin] = {15, 0, -70};
  SwordArm(c, {-40, 0, 60}, {-20, 0, 0}, {40, 0, 0});
  TPoseAngles d = c;
  d.Root = {-0.5f, 0.2f, 0.05f};
  d.Bones[Bassin] = {8, 0, -90};
  d.Bones[Dos] = {6, 0, 0};
  d.Bones[Tete] = {0, 0, 10};
  d.Pair(CuisseG, {-40, 0, 0}, {-30, 0, 0});
  d.Pair(JambeG, {70, 0, 0}, {50, 0, 0});
  return {false, Lying, Spread({a, b, c, d, d}, false)};
}

TAnimation ForwardDeath() {
  TPoseAngles a = Ready(0);
  TPoseAngles b = a;
  b.Root.Y = 0.92f;
  b.Bones[Dos].X = 24;
  b.Bones[Tete].X = 20;
  ShieldArm(b, {-20, 0, 10}, {-80, 0, 0});
  TPoseAngles c = b;
  c.Root = {0, 0.56f, 0.05f};
  c.Both(CuisseG, {-5, 0, 0});
  c.Both(JambeG, {100, 0, 0});
  c.Both(PiedG, {40, 0, 0});
  TPoseAngles d = c;
  d.Root = {0, 0.45f, 0.2f};
  d.Bones[Bassin].X = 45;
  SwordArm(d, {-70, 0, 20}, {-20, 0, 0}, {40, 0, 0});
  ShieldArm(d, {-70, 0, 20}, {-20, 0, 0});
  TPoseAngles e = d;
  e.Root = {0, 0.2f, 0.45f};
  e.Bones[Bassin].X = 88;
  e.Bones[Dos].X = 2;
  e.Bones[Tete] = {-20, 30, 0};
  // Legs along the ground, toes down.
  e.Pair(CuisseG, {-6, 0, 6}, {-2, 0, 4});
  e.Pair(JambeG, {6, 0, 0}, {14, 0, 0});
  e.Both(PiedG, {40, 0, 0});
  SwordArm(e, {-150, 0, 20}, {-10, 0, 0}, {30, 0, 0});
  ShieldArm(e, {-130, 0, 30}, {-30, 0, 0});
  return {false, Lying, Spread({a, b, c, d, e, e}, false)};
}

TAnimation SpinDeath() {
  TPoseAngles a = Ready(0);
  TPoseAngles b = a;
  b.Bones[Bassin].Y = 40;
  b.Bones[Dos].Y = 25;
  b.Bones[Tete] = {-10, 20, 0};
  ShieldArm(b, {-40, 0, 50}, {-30, 0, 0});
  TPoseAngles c = b;
  c.Bones[Bassin] = {6, 70, -8};
  c.Bones[Dos] = {12, 20, -10};
  TPoseAngles d = c;
  d.Root = {0, 0.62f, 0};
  d.Pair(CuisseG, {-70, 0, 0}, {-10, 0, 0});
  d.Pair(JambeG, {110, 0, 0}, {100, 0, 0});
  TPoseAngles e = d;
  e.Root = {0.2f, 0.40f, -0.1f};
  e.Bones[Bassin] = {10, 90, 50};
  TPoseAngles f = e;
  f.Root = {0.45f, 0.2f, -0.2f};
  f.Bones[Bassin] = {4, 90, 86};
  f.Bones[Dos] = {8, 0, 0};
  f.Bones[Tete] = {0, 0, 15};
  // On its side, legs folded a little, the sword arm flung out along the ground.
  f.Pair(CuisseG, {-30, 0, 0}, {-12, 0, 0});
  f.Pair(JambeG, {45, 0, 0}, {20, 0, 0});
  SwordArm(f, {-70, 0, -10}, {-10, 0, 0}, {20, 0, 0});
  ShieldArm(f, {-40, 0, 10}, {-30, 0, 0});
  return {false, Lying, Spread({a, b, c, Blend(c, d, 0.5f), d, e, f, f}, false)};
}

// The pose of frame i of an animation with n frames.
TPose AnimationPose(int animation, int i, int n, const TGroundProbe& ground,
                    const std::vector<TAnimation>& keyed, const TMotionDef& fall) {
  const float loopPhase = static_cast<float>(i) / n;
  const float phase = n > 1 ? static_cast<float>(i) / (n - 1) : 0;
  TPose pose;
  switch (animation) {
    case 0: {  // stand: two slow breaths
      TPoseAngles s = Ready(2 * loopPhase);
      s.Root.X += 0.010f * std::sin(2 * Pi * loopPhase);
      pose = ToPose(s);
      PlantFeet(pose);
      return pose;
    }
    case 1:     // run in place, the sword ready
    case 13: {  // crouched walk
      pose = GaitPose(animation == 1 ? TGaitKind::Run : TGaitKind::Crouch, loopPhase);
      TPoseAngles arms = animation == 1 ? Ready(0) : Crouched(0);
      if (animation == 1)
        SwordArm(arms, {-10 + 14 * std::cos(2 * Pi * loopPhase), 0, 8}, {-72, 0, 0}, {58, 0, 0});
      for (int bone : {BrasD, AvantBrasD, MainD}) {
        TAngles a = arms.Bones[bone];
        pose.Local[bone] = Euler(a.X, a.Y, a.Z);
      }
      if (animation == 13)
        for (int bone : {BrasG, AvantBrasG}) {
          TAngles a = arms.Bones[bone];
          pose.Local[bone] = Euler(a.X, a.Y, a.Z);
        }
      return pose;
    }
    case 7: {  // flip: two turns of the sword about the forearm
      TPoseAngles s = Ready(loopPhase);
      SwordArm(s, {-56, 0, 10}, {-34, 0, 0}, {0, 720 * phase, 0});
      s.Bones[Tete] = {8, -8, 0};
      s.Root.Y -= 0.015f * std::sin(Pi * phase);
      pose = ToPose(s);
      PlantFeet(pose);
      return pose;
    }
    case 12: {  // crouched, breathing
      pose = ToPose(Crouched(loopPhase));
      PlantFeet(pose, {0.150f, 0, 0.09f}, {-0.150f, 0, -0.08f}, 14, -20);
      return pose;
    }
    case 17: {  // the fall on the back of the characters
      pose = fall.At(phase);
      return pose;
    }
    default:
      break;
  }
  const TAnimation& a = keyed[animation];
  pose = ToPose(SampleKeys(a.Keys, a.Loop ? loopPhase : phase, a.Loop));
  const bool crouched = animation >= 14 && animation <= 16;
  if (a.Feet == Planted) {
    if (crouched)
      PlantFeet(pose, {0.150f, 0, 0.09f}, {-0.150f, 0, -0.08f}, 14, -20);
    else
      PlantFeet(pose);
  }
  // Jumps leave the ground only in the middle frames.
  if (animation == 6 && (i <= 1 || i >= 4)) PlantFeet(pose);
  if (a.Feet == Lying)
    ground.SetOnGround(pose, 0.002f);
  else
    ground.KeepAboveGround(pose);
  return pose;
}

}  // namespace

std::vector<TPose> KnightPoses() {
  const TGroundProbe ground;
  const TMotionDef fall = CharacterMotions().back();
  std::vector<TAnimation> keyed(AnimationCount);
  keyed[2] = Attack();
  keyed[3] = Pain({-12, 0, 0}, {-6, 0, 0}, {-16, 0, 0}, 0.01f);
  keyed[4] = Pain({0, 0, -12}, {0, -8, -6}, {0, 0, -16}, 0.02f);
  keyed[5] = Pain({26, 0, 0}, {10, 0, 0}, {12, 0, 0}, 0.06f);
  keyed[6] = Jump();
  keyed[8] = Salute();
  keyed[9] = Taunt();
  keyed[10] = Wave();
  keyed[11] = Point();
  keyed[14] = CrouchAttack();
  keyed[15] = CrouchPain();
  keyed[16] = CrouchDeath();
  keyed[18] = ForwardDeath();
  keyed[19] = SpinDeath();
  std::vector<TPose> poses;
  for (int a = 0; a < AnimationCount; ++a) {
    const int n = AnimationFirstFrame[a + 1] - AnimationFirstFrame[a];
    for (int i = 0; i < n; ++i) poses.push_back(AnimationPose(a, i, n, ground, keyed, fall));
  }
  return poses;
}

std::string KnightFrameName(int frame) {
  static constexpr const char* Names[AnimationCount] = {
      "stand", "run",   "attack", "pain",   "pain",    "pain",   "jump",    "flip",  "salute", "taunt",
      "wave",  "point", "crstnd", "crwalk", "crattak", "crpain", "crdeath", "death", "death",  "death"};
  static constexpr const char* Suffix[AnimationCount] = {"", "", "", "a", "b", "c", "", "",  "",  "",
                                                         "", "", "", "",  "",  "",  "", "a", "b", "c"};
  int a = 0;
  while (frame >= AnimationFirstFrame[a + 1]) ++a;
  int number = frame - AnimationFirstFrame[a] + 1;
  std::string digits = std::to_string(number);
  if (a == 0 || a == 12) digits = (number < 10 ? "0" : "") + digits;
  return std::string(Names[a]) + Suffix[a] + digits;
}

}  // namespace forge
