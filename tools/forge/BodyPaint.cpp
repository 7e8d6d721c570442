// The painter of the body's texture: which material each point of the body
// wears, where the tabard, its border and the emblem lie, and a little
// darkening where limbs and folds hide the surface from the light.
#include <algorithm>
#include <cmath>

#include "Materials.h"
#include "Meshes.h"

namespace forge {

namespace {

const TColor BeltBrown = Hex(0x5A3418);
const TColor GloveBrown = Hex(0x3C2616);
const TColor BootBrown = Hex(0x4A2E18);
const TColor InsideDark = Hex(0x141418);

// Half width of the tabard's panels.
constexpr float TabardHalfWidth = 0.122f;
constexpr float TrimWidth = 0.011f;
constexpr float BeltTop = 1.095f, BeltBottom = 1.048f;

// Where the light hardly reaches: the sides under the arms, between the
// legs, the insides of the thighs.
float Occlusion(TVec3 p, int material) {
  float dark = 0;
  float ax = std::fabs(p.X);
  if (material == mTorso) {
    dark +=
        0.32f * SmoothStep(0.14f, 0.19f, ax) * SmoothStep(1.22f, 1.36f, p.Y) * SmoothStep(1.58f, 1.48f, p.Y);
    dark += 0.35f * SmoothStep(0.96f, 0.90f, p.Y);
  }
  if (material == mLeg) {
    float inner = SmoothStep(0.08f, 0.03f, ax);
    dark += 0.28f * inner * SmoothStep(0.75f, 0.95f, p.Y);
    dark += 0.25f * SmoothStep(0.88f, 1.0f, p.Y);
  }
  if (material == mArm) dark += 0.22f * SmoothStep(0.22f, 0.19f, ax) * SmoothStep(1.30f, 1.50f, p.Y);
  return std::min(dark, 0.6f);
}

// The tabard's panels on front and back: inside, on the border, or off.
enum TCloth { Off, Border, Inside };

TCloth TabardAt(TVec3 p) {
  float ax = std::fabs(p.X);
  // A neck opening, and the panels end at the shoulders.
  float top = 1.59f;
  if (ax < 0.072f) top = 1.515f + 0.6f * ax * ax / 0.072f;
  if (ax > TabardHalfWidth || p.Y > top) return Off;
  float edge = std::min(TabardHalfWidth - ax, top - p.Y);
  return edge < TrimWidth ? Border : Inside;
}

TColor Tabard(TVec3 p, TVec3 n, bool front, TColor colour) {
  TCloth cloth = TabardAt(p);
  if (cloth == Border) return Gold(n) * 0.9f;
  TColor c = Cloth(colour, p, n);
  if (front) {
    constexpr float EmblemY = 1.385f, EmblemHalf = 0.072f;
    float gold = Emblem(p.X / EmblemHalf, (p.Y - EmblemY) / EmblemHalf, 0.05f);
    c = Mix(c, Gold(n), gold);
  }
  return c;
}

TColor Belt(TVec3 p, TVec3 n) {
  bool front = p.Z > 0.05f;
  float ax = std::fabs(p.X);
  if (front && ax < 0.034f) {
    // The buckle: a golden frame with leather showing through.
    float frame = std::max(ax - 0.024f, std::fabs(p.Y - 0.5f * (BeltTop + BeltBottom)) - 0.015f);
    if (frame > -0.008f) return Gold(n);
  }
  TColor c = Leather(BeltBrown, p, n);
  // Studs along the belt.
  float stud = std::fmod(std::atan2(p.X, p.Z) + 2 * Pi, 0.16f) - 0.08f;
  float dy = p.Y - 0.5f * (BeltTop + BeltBottom);
  if (stud * stud * 0.012f + dy * dy < 0.00004f) return Gold(n);
  float edge = std::min(BeltTop - p.Y, p.Y - BeltBottom);
  return c * (edge < 0.004f ? 0.7f : 1.0f);
}

TColor Torso(const TSurfacePoint& s, TColor tabard) {
  TVec3 p = s.Position, n = s.Normal;
  if (p.Y < BeltTop && p.Y > BeltBottom) return Belt(p, n);
  bool front = p.Z > 0.0f;
  if (TabardAt(p) != Off && p.Y < 1.60f) return Tabard(p, n, front, tabard);
  TColor c = Steel(n);
  // Lames of the tassets and the gorget: thin dark seams.
  for (float seam : {1.14f, 1.19f, 1.24f, 1.645f})
    if (std::fabs(p.Y - seam) < 0.0032f) c = c * 0.45f;
  return c;
}

TColor Skirt(const TSurfacePoint& s, TColor tabard) {
  TVec3 p = s.Position, n = s.Normal;
  if (s.V > 0.80f) return InsideDark;
  float ax = std::fabs(p.X);
  if (ax < TabardHalfWidth) {
    if (TabardHalfWidth - ax < TrimWidth || p.Y < 0.83f + TrimWidth + 0.004f) return Gold(n) * 0.9f;
    return Cloth(tabard, p, n);
  }
  // Steel lames on the hips, each overlapping the next.
  float band = std::fmod(1.09f - p.Y, 0.062f) / 0.062f;
  TColor c = Steel(n) * Mix(1.0f, 0.72f, band);
  if (band < 0.08f) c = c * 0.5f;
  return c;
}

TColor Arm(const TSurfacePoint& s) {
  TVec3 p = s.Position, n = s.Normal;
  if (p.Y > 1.235f) return Mail(p, n);
  TColor c = Steel(n);
  // Gold trim at the vambrace's top.
  if (p.Y > 1.215f) return Gold(n);
  return c;
}

TColor Pauldron(const TSurfacePoint& s) {
  TVec3 n = s.Normal;
  if (s.V < 0.13f) return InsideDark;
  if (s.V < 0.23f) return Gold(n);
  TColor c = Steel(n);
  for (float lame : {0.40f, 0.60f})
    if (std::fabs(s.V - lame) < 0.014f) c = c * 0.65f;
  return c;
}

TColor Hand(const TSurfacePoint& s) {
  TVec3 p = s.Position, n = s.Normal;
  // Steel plates on the back of the hand (the side away from the thigh).
  float outward = p.X > 0 ? n.X : -n.X;
  if (outward > 0.55f && p.Y > 0.90f) return Steel(n) * 0.9f;
  return Leather(GloveBrown, p, n);
}

TColor Leg(const TSurfacePoint& s) {
  TVec3 p = s.Position, n = s.Normal;
  bool frontPlate = n.Z > -0.25f;
  if (p.Y > 0.56f) {
    if (!frontPlate) return Mail(p, n);
    TColor c = Steel(n);
    if (std::fabs(p.Y - 0.80f) < 0.003f) c = c * 0.5f;
    return c;
  }
  return frontPlate ? Steel(n) : Mail(p, n);
}

TColor Boot(const TSurfacePoint& s) {
  TVec3 p = s.Position, n = s.Normal;
  if (p.Y < 0.010f) return Hex(0x1A120C) * Lighting(n);
  bool foot = p.Y < 0.125f && p.Z > -0.02f;
  if (foot && p.Z > 0.115f) return Steel(n) * 0.95f;
  TColor c = Leather(BootBrown, p, n);
  // The turned-down top and a strap with a buckle.
  if (p.Y > 0.325f) c = Leather(Hex(0x6A4424), p, n);
  if (std::fabs(p.Y - 0.215f) < 0.011f) {
    c = Leather(Hex(0x2A180C), p, n);
    if (p.Z > 0.03f && std::fabs(p.X) > 0.0f && std::fabs(p.Y - 0.215f) < 0.009f &&
        std::fabs(std::fabs(p.X) - 0.13f) < 0.016f)
      c = Gold(n);
  }
  return c;
}

}  // namespace

TColor ShadeBody(const TSurfacePoint& s, TColor tabard) {
  TColor c;
  switch (s.Material) {
    case mTorso:
      c = Torso(s, tabard);
      break;
    case mSkirt:
      c = Skirt(s, tabard);
      break;
    case mArm:
      c = Arm(s);
      break;
    case mPauldron:
      c = Pauldron(s);
      break;
    case mCop:
      c = Steel(s.Normal) * (s.V > 0.45f && s.V < 0.55f ? 0.6f : 1.0f);
      break;
    case mHand:
      c = Hand(s);
      break;
    case mLeg:
      c = Leg(s);
      break;
    case mBoot:
      c = Boot(s);
      break;
    case mCuff:
      c = s.V > 0.72f ? Gold(s.Normal) : Steel(s.Normal);
      break;
    default:
      c = Steel(s.Normal);
      break;
  }
  return c * (1 - Occlusion(s.Position, s.Material));
}

}  // namespace forge
