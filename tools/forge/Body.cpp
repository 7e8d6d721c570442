// The armoured body (Corps): a knight in polished plate over mail, a blue
// tabard with a golden border and the emblem on the chest, a leather belt,
// dark leather gauntlets and boots with steel caps.
#include <cmath>

#include "Meshes.h"
#include "Skeleton.h"

namespace forge {

namespace {

// How much plate adds to the figure: the torso's sections and the limbs'.
constexpr float TorsoBulk = 1.06f;
constexpr float ArmBulk = 1.16f;
constexpr float LegBulk = 1.05f;

// Around-counts of the rings.
constexpr int TorsoSides = 16;
constexpr int LimbSides = 8;  // the boots
constexpr int TubeSides = 6;  // arms, legs and the gauntlets' cuffs

struct TTorsoRing {
  float Y, HalfWidth, HalfDepth, Forward;
};

// From the crotch up to the collar, model units.
constexpr TTorsoRing TorsoRings[] = {
    {0.900f, 0.095f, 0.072f, 0.000f},  {0.945f, 0.150f, 0.102f, 0.000f},  {1.000f, 0.170f, 0.114f, -0.004f},
    {1.075f, 0.166f, 0.112f, -0.002f}, {1.120f, 0.150f, 0.106f, 0.002f},  {1.200f, 0.154f, 0.113f, 0.006f},
    {1.280f, 0.170f, 0.124f, 0.012f},  {1.360f, 0.188f, 0.134f, 0.018f},  {1.440f, 0.197f, 0.137f, 0.018f},
    {1.505f, 0.202f, 0.130f, 0.012f},  {1.555f, 0.198f, 0.118f, 0.005f},  {1.595f, 0.172f, 0.102f, 0.000f},
    {1.630f, 0.124f, 0.090f, -0.004f}, {1.660f, 0.094f, 0.084f, -0.006f}, {1.692f, 0.086f, 0.080f, -0.008f},
    {1.702f, 0.080f, 0.075f, -0.008f},
};

// Left or right bone of a pair, by the side of x.
int Side(int leftBone, float x) { return x >= 0 ? leftBone : MirrorBone(leftBone); }

TWeights TorsoWeights(TVec3 p, float, float) {
  TWeights w = Blend(Bassin, Dos, SmoothStep(1.04f, 1.20f, p.Y));
  w = Blend(w, One(Poitrine), SmoothStep(1.22f, 1.40f, p.Y));
  w = Blend(w, One(Cou), 0.45f * SmoothStep(1.62f, 1.67f, p.Y));
  float ax = std::fabs(p.X);
  // The shoulders follow the clavicles, their outer ends the arms a little.
  float shoulder = SmoothStep(0.10f, 0.19f, ax) * SmoothStep(1.42f, 1.56f, p.Y);
  w = Blend(w, One(Side(ClavicleG, p.X)), 0.75f * shoulder);
  w = Blend(w, One(Side(BrasG, p.X)), 0.30f * shoulder * SmoothStep(0.17f, 0.21f, ax));
  // The crotch follows the thighs a little.
  float low = SmoothStep(0.97f, 0.90f, p.Y) * 0.25f;
  return Blend(w, Blend(CuisseG, CuisseD, SmoothStep(0.04f, -0.04f, p.X)), low);
}

void AddTorso(TMeshBuilder& b) {
  TLoft loft;
  loft.StartPole = loft.EndPole = true;
  loft.Start = {0, 0.885f, 0};
  loft.End = {0, 1.704f, -0.008f};
  for (const TTorsoRing& r : TorsoRings) {
    // Plate is bulkier than the body under it, less so at the collar.
    float bulk = r.Y < 1.64f ? TorsoBulk : 1.0f;
    loft.Rings.push_back(Ring({0, r.Y, r.Forward}, {0, 0, 1}, {1, 0, 0}, r.HalfDepth * bulk,
                              r.HalfWidth * bulk, TorsoSides, 2.3f, Pi));
  }
  AddLoft(b, loft, mTorso, TorsoWeights);
}

// A short flared skirt of plates and cloth from the belt to mid-thigh.
void AddSkirt(TMeshBuilder& b) {
  TLoft loft;
  const float levels[][3] = {
      // y, half width, half depth
      {1.085f, 0.178f, 0.121f}, {1.030f, 0.187f, 0.128f}, {0.960f, 0.198f, 0.138f},
      {0.890f, 0.208f, 0.146f}, {0.830f, 0.214f, 0.152f},
  };
  for (const auto& l : levels)
    loft.Rings.push_back(Ring({0, l[0], -0.004f}, {0, 0, 1}, {1, 0, 0}, l[2], l[1], TorsoSides, 2.2f, Pi));
  // Folded back inside at the hem, so the skirt has a thickness.
  loft.Rings.push_back(
      Ring({0, 0.835f, -0.004f}, {0, 0, 1}, {1, 0, 0}, 0.137f, 0.198f, TorsoSides, 2.2f, Pi));
  loft.Rings.push_back(Ring({0, 0.95f, -0.004f}, {0, 0, 1}, {1, 0, 0}, 0.112f, 0.170f, TorsoSides, 2.2f, Pi));
  loft.EndPole = true;
  loft.End = {0, 1.0f, -0.004f};
  AddLoft(b, loft, mSkirt, [](TVec3 p, float, float) {
    float toThighs = 0.62f * SmoothStep(1.03f, 0.83f, p.Y);
    TWeights legs = Blend(CuisseD, CuisseG, SmoothStep(-0.07f, 0.07f, p.X));
    return Blend(One(Bassin), legs, toThighs);
  });
}

// A tube through the joints of a limb with a radius at each station.
struct TStation {
  TVec3 Centre;
  float RadiusFront, RadiusSide;
};

void AddLimbTube(TMeshBuilder& b, const std::vector<TStation>& stations, TVec3 start, TVec3 end, int material,
                 float bulk, const TWeightFn& weights) {
  TLoft loft;
  loft.StartPole = loft.EndPole = true;
  loft.Start = start;
  loft.End = end;
  for (std::size_t i = 0; i < stations.size(); ++i) {
    TVec3 prev = i == 0 ? start : stations[i - 1].Centre;
    TVec3 next = i + 1 == stations.size() ? end : stations[i + 1].Centre;
    TVec3 along = Normalize(next - prev);
    TVec3 front = Normalize(TVec3{0, 0, 1} - along * along.Z);
    TVec3 side = Cross(along, front);
    loft.Rings.push_back(Ring(stations[i].Centre, front, side, stations[i].RadiusFront * bulk,
                              stations[i].RadiusSide * bulk, TubeSides, 2.0f, Pi));
  }
  AddLoft(b, loft, material, weights);
}

// How far along the segment from a to b the point p lies (0 at a, 1 at b).
float Along(TVec3 p, TVec3 a, TVec3 b) { return Dot(p - a, b - a) / Dot(b - a, b - a); }

void AddArm(TMeshBuilder& b, bool left) {
  const int clavicle = left ? ClavicleG : ClavicleD;
  const int upper = left ? BrasG : BrasD, fore = left ? AvantBrasG : AvantBrasD, hand = left ? MainG : MainD;
  const TVec3 s = RestJoint(upper), e = RestJoint(fore), w = RestJoint(hand);
  const TVec3 d1 = Normalize(e - s), d2 = Normalize(w - e);
  const float upperLength = Length(e - s), foreLength = Length(w - e);
  std::vector<TStation> stations = {
      {s - d1 * 0.030f, 0.044f, 0.044f},      {s + d1 * 0.005f, 0.060f, 0.060f},
      {s + d1 * 0.070f, 0.058f, 0.056f},      {s + d1 * 0.140f, 0.055f, 0.053f},
      {s + d1 * 0.215f, 0.050f, 0.049f},      {e - d1 * 0.035f, 0.047f, 0.046f},
      {e + (d2 - d1) * 0.0f, 0.046f, 0.045f}, {e + d2 * 0.040f, 0.050f, 0.048f},
      {e + d2 * 0.100f, 0.052f, 0.050f},      {e + d2 * 0.165f, 0.046f, 0.044f},
      {e + d2 * 0.215f, 0.039f, 0.038f},      {w - d2 * 0.010f, 0.035f, 0.034f},
  };
  AddLimbTube(b, stations, s - d1 * 0.05f, w + d2 * 0.01f, mArm, ArmBulk, [=](TVec3 p, float, float) {
    float t = Along(p, s, e);
    float elbowBlend = SmoothStep(upperLength - 0.05f, upperLength + 0.05f, t * upperLength);
    TWeights weights = Blend(upper, fore, elbowBlend);
    weights = Blend(weights, One(clavicle), 0.4f * SmoothStep(0.02f, -0.08f, t * upperLength));
    float u = Along(p, e, w) * foreLength;
    return Blend(weights, One(hand), SmoothStep(foreLength - 0.03f, foreLength + 0.01f, u) * 0.5f);
  });

  // Pauldron: a dome of plates over the shoulder, tilted outwards.
  const float side = left ? 1.0f : -1.0f;
  TVec3 axis = Normalize({side * 0.62f, 0.78f, -0.05f});
  TVec3 base = s + TVec3{side * -0.012f, -0.012f, 0.0f};
  AddLathe(
      b, base - axis * 0.035f, base + axis * 0.085f, {0, 0, 1},
      {0.0f, 0.084f, 0.108f, 0.115f, 0.113f, 0.105f, 0.090f, 0.068f, 0.038f, 0.0f}, 8, mPauldron,
      [=](TVec3, float, float) { return Blend(clavicle, upper, 0.6f); }, 1.08f);

  // Elbow cop behind the joint, moving with the forearm.
  AddEllipsoid(b, e + TVec3{side * 0.004f, 0.004f, -0.034f}, {0.030f, 0.034f, 0.024f}, 3, 6, mCop,
               Rigid(fore));
}

void AddHand(TMeshBuilder& b, bool left) {
  const int fore = left ? AvantBrasG : AvantBrasD, hand = left ? MainG : MainD;
  const float side = left ? 1.0f : -1.0f;
  const TVec3 w = RestJoint(hand);
  const TVec3 down = Normalize(w - RestJoint(fore));
  // Flared cuff of the gauntlet over the wrist.
  AddLathe(
      b, w - down * 0.075f, w + down * 0.030f, {0, 0, 1},
      {0.0f, 0.047f, 0.052f, 0.056f, 0.058f, 0.050f, 0.0f}, TubeSides, mCuff,
      [=](TVec3 p, float, float) { return Blend(fore, hand, SmoothStep(-0.05f, 0.01f, Dot(p - w, down))); });

  // Palm and fingers: a flat body curling towards the thigh at the tips.
  TVec3 inward{-side, 0, 0};
  TLoft loft;
  loft.StartPole = loft.EndPole = true;
  const float stations[][4] = {
      // along, half width (front-back), half thickness, curl
      {0.005f, 0.034f, 0.024f, 0.000f}, {0.035f, 0.043f, 0.022f, 0.000f}, {0.075f, 0.046f, 0.020f, 0.002f},
      {0.105f, 0.045f, 0.019f, 0.008f}, {0.135f, 0.042f, 0.017f, 0.018f}, {0.160f, 0.038f, 0.015f, 0.030f},
  };
  loft.Start = w - down * 0.012f;
  for (const auto& s : stations) {
    TVec3 centre = w + down * s[0] + inward * s[3];
    loft.Rings.push_back(Ring(centre, {0, 0, 1}, inward, s[1], s[2], 6, 2.6f, Pi));
  }
  loft.End = w + down * 0.172f + inward * 0.040f;
  AddLoft(b, loft, mHand, Rigid(hand));
  // Thumb along the front edge, pointing down and inwards.
  TVec3 thumbBase = w + down * 0.030f + TVec3{0, 0, 0.034f} + inward * 0.010f;
  AddCapsule(b, thumbBase, thumbBase + down * 0.060f + inward * 0.016f + TVec3{0, 0, 0.008f}, 0.0125f, 6,
             mHand, Rigid(hand));
}

void AddLeg(TMeshBuilder& b, bool left) {
  const int thigh = left ? CuisseG : CuisseD, calf = left ? JambeG : JambeD, foot = left ? PiedG : PiedD,
            toes = left ? OrteilsG : OrteilsD;
  const float side = left ? 1.0f : -1.0f;
  const TVec3 h = RestJoint(thigh), k = RestJoint(calf), a = RestJoint(foot);
  const TVec3 d1 = Normalize(k - h), d2 = Normalize(a - k);
  const float thighLength = Length(k - h);
  std::vector<TStation> stations = {
      {h - d1 * 0.040f + TVec3{side * -0.010f, 0, 0}, 0.085f, 0.080f},
      {h + d1 * 0.040f, 0.090f, 0.088f},
      {h + d1 * 0.140f, 0.084f, 0.080f},
      {h + d1 * 0.250f, 0.075f, 0.071f},
      {h + d1 * 0.350f, 0.064f, 0.061f},
      {k - d1 * 0.030f, 0.060f, 0.058f},
      {k + d2 * 0.030f + TVec3{0, 0, -0.006f}, 0.058f, 0.056f},
      {k + d2 * 0.110f + TVec3{0, 0, -0.010f}, 0.063f, 0.058f},
      {k + d2 * 0.200f + TVec3{0, 0, -0.006f}, 0.057f, 0.052f},
      {k + d2 * 0.300f, 0.048f, 0.045f},
      {a - d2 * 0.060f, 0.042f, 0.040f},
  };
  AddLimbTube(b, stations, h - d1 * 0.07f, a, mLeg, LegBulk, [=](TVec3 p, float, float) {
    float t = Along(p, h, k) * thighLength;
    TWeights w = Blend(thigh, calf, SmoothStep(thighLength - 0.05f, thighLength + 0.05f, t));
    w = Blend(w, One(Bassin), 0.35f * SmoothStep(0.03f, -0.06f, t));
    return Blend(w, One(foot), SmoothStep(0.16f, 0.09f, p.Y));
  });
  // Knee cop, half with each bone.
  AddEllipsoid(b, k + TVec3{0, 0.005f, 0.048f}, {0.044f, 0.048f, 0.026f}, 3, 6, mCop,
               [=](TVec3, float, float) { return Blend(thigh, calf, 0.5f); });

  // Boot shaft around the lower leg.
  AddLathe(
      b, a + TVec3{0, -0.03f, -0.004f}, a + TVec3{0, 0.27f, -0.010f}, {0, 0, 1},
      {0.0f, 0.057f, 0.061f, 0.062f, 0.064f, 0.066f, 0.069f, 0.072f, 0.0f}, LimbSides, mBoot,
      [=](TVec3 p, float, float) { return Blend(foot, calf, SmoothStep(0.10f, 0.22f, p.Y)); }, 1.05f);

  // The foot from heel to toe, its sole flat on the ground.
  TLoft loft;
  loft.StartPole = loft.EndPole = true;
  const float x = a.X;
  const float stations2[][4] = {
      // z, half width, top, sole
      {-0.070f, 0.030f, 0.080f, 0.004f}, {-0.050f, 0.040f, 0.100f, 0.000f}, {-0.010f, 0.046f, 0.118f, 0.000f},
      {0.040f, 0.049f, 0.092f, 0.000f},  {0.090f, 0.051f, 0.068f, 0.000f},  {0.135f, 0.048f, 0.056f, 0.000f},
      {0.170f, 0.040f, 0.046f, 0.002f},  {0.195f, 0.027f, 0.036f, 0.006f},
  };
  loft.Start = {x, 0.040f, -0.078f};
  for (const auto& s : stations2) {
    float mid = 0.5f * (s[2] + s[3]), half = 0.5f * (s[2] - s[3]);
    std::vector<TVec3> ring = Ring({x + side * 0.004f, mid, s[0]}, {0, 1, 0}, {1, 0, 0}, half, s[1], 6, 3.0f);
    loft.Rings.push_back(ring);
  }
  loft.End = {x + side * 0.004f, 0.022f, 0.206f};
  AddLoft(b, loft, mBoot, [=](TVec3 p, float, float) {
    return Blend(foot, toes, SmoothStep(RestJoint(toes).Z - 0.03f, RestJoint(toes).Z + 0.03f, p.Z));
  });
}

}  // namespace

TMeshBuilder BuildBody() {
  TMeshBuilder b;
  AddTorso(b);
  AddSkirt(b);
  for (bool left : {true, false}) {
    AddArm(b, left);
    AddHand(b, left);
    AddLeg(b, left);
  }
  b.ComputeNormals();
  return b;
}

}  // namespace forge
