// The two heads.  One skull, an ellipsoid with a fuller back, carries a face
// modelled as bumps and hollows by longitude and latitude: brows, eye
// sockets with the eyes in them, nose, cheekbones, lips and chin.  The elf's
// face is finer: a narrower jaw, a pointed chin, high cheekbones, a thin
// nose.  Each head comes with its neck, reaching down into the collar, and
// the human with his ears; the elf's ears are separate meshes.
#include <cmath>

#include "Meshes.h"
#include "Skeleton.h"

namespace forge {

const TVec3 HeadCentre{0, 1.872f, 0.012f};

namespace {

// Half width, half height and half depth of the skull's ellipsoid.
constexpr TVec3 SkullRadii{0.094f, 0.128f, 0.110f};
constexpr int HeadColumns = 30;
constexpr int HeadRows = 24;

TVec3 Direction(float theta, float phi) {
  return {std::sin(theta) * std::cos(phi), std::sin(phi), std::cos(theta) * std::cos(phi)};
}

// A bump of height h at (theta0, phi0) with widths wt and wp (radians).
float Bump(float theta, float phi, float theta0, float phi0, float wt, float wp, float h) {
  float dt = (theta - theta0) / wt, dp = (phi - phi0) / wp;
  return h * std::exp(-(dt * dt + dp * dp));
}

// The same on both sides of the face.
float Pair(float theta, float phi, float theta0, float phi0, float wt, float wp, float h) {
  return Bump(std::fabs(theta), phi, theta0, phi0, wt, wp, h);
}

// Longitude folded into [-pi, pi].
float Fold(float theta) { return std::remainder(theta, 2 * Pi); }

struct TFace {
  float JawScale;    // width of the jaw against the skull
  float ChinHeight;  // how far the chin stands out
  float ChinWidth;   // radians
  float NoseHeight;  // at the tip
  float NoseWidth;   // radians
  float CheekPhi;    // latitude of the cheekbones
  float CheekHeight;
  float EyeTilt;  // outer corners higher
};

constexpr TFace HumanFace{0.82f, 0.011f, 0.34f, 0.027f, 0.105f, -0.08f, 0.006f, 0.0f};
constexpr TFace ElfFace{0.70f, 0.013f, 0.22f, 0.022f, 0.080f, -0.02f, 0.009f, 0.25f};

const TFace& FaceOf(TRace race) { return race == TRace::Human ? HumanFace : ElfFace; }

// The nose: a ridge from between the eyes down to the tip, then in.
float Nose(float theta, float phi, const TFace& face) {
  if (phi > 0.16f || phi < -0.36f) return 0;
  float height;
  if (phi > -0.21f)
    height = Mix(0.003f, face.NoseHeight, SmoothStep(0.14f, -0.21f, phi));
  else
    height = face.NoseHeight * SmoothStep(-0.34f, -0.21f, phi);
  float width = face.NoseWidth * Mix(0.7f, 1.15f, SmoothStep(0.1f, -0.24f, phi));
  float across = theta / width;
  float ridge = height * std::exp(-across * across);
  // The wings beside the tip.
  ridge += Pair(theta, phi, 0.115f, -0.245f, 0.06f, 0.045f, 0.008f);
  return ridge;
}

// Displacement of the face from the skull, outwards, in model units.
float FaceRelief(float theta, float phi, const TFace& face) {
  if (std::cos(theta) < 0) return 0;
  float d = Nose(theta, phi, face);
  // Brow ridge.
  d += 0.006f * std::exp(-std::pow((phi - 0.20f) / 0.06f, 2.0f)) * SmoothStep(0.8f, 0.3f, std::fabs(theta));
  // Eye sockets with the eyeballs in them.
  d += Pair(theta, phi, 0.33f, 0.07f, 0.15f, 0.095f, -0.011f);
  d += Pair(theta, phi, 0.33f, 0.065f, 0.085f, 0.048f, 0.007f);
  // Cheekbones.
  d += Pair(theta, phi, 0.56f, face.CheekPhi, 0.17f, 0.10f, face.CheekHeight);
  // Lips and the line between them.
  d += Bump(theta, phi, 0, -0.43f, 0.19f, 0.035f, 0.005f);
  d += Bump(theta, phi, 0, -0.53f, 0.17f, 0.04f, 0.006f);
  d -= Bump(theta, phi, 0, -0.478f, 0.16f, 0.014f, 0.003f);
  // Chin.
  d += Bump(theta, phi, 0, -0.80f, face.ChinWidth, 0.20f, face.ChinHeight);
  return d;
}

TVec3 SkullPoint(float theta, float phi) {
  TVec3 d = Direction(theta, phi);
  // A fuller back of the skull, a flatter brow.
  float back = SmoothStep(0.2f, -0.9f, std::cos(theta)) * SmoothStep(-0.7f, 0.2f, phi);
  float scale = 1 + 0.07f * back * std::cos(phi);
  return HeadCentre + Mul(d, SkullRadii) * scale;
}

// The outward normal of the skull's ellipsoid in a direction.
TVec3 SkullNormal(float theta, float phi) {
  TVec3 d = Direction(theta, phi);
  return Normalize({d.X / SkullRadii.X, d.Y / SkullRadii.Y, d.Z / SkullRadii.Z});
}

// Longitude of column j: columns gather towards the face.
float ColumnTheta(float s) { return Pi + 2 * Pi * s + 0.60f * std::sin(2 * Pi * s); }

TWeights NeckWeights(TVec3 p, float, float) {
  TWeights w = Blend(Poitrine, Cou, SmoothStep(1.60f, 1.68f, p.Y));
  return Blend(w, One(Tete), SmoothStep(1.72f, 1.80f, p.Y));
}

void AddNeck(TMeshBuilder& b, TRace race) {
  const float r = race == TRace::Human ? 0.060f : 0.054f;
  AddLathe(b, {0, 1.585f, -0.014f}, {0, 1.835f, -0.010f}, {0, 0, 1},
           {0.0f, r * 1.05f, r * 1.02f, r, r * 0.98f, r, r * 1.02f, r * 0.9f, 0.0f}, 8, 1, NeckWeights, 0.95f,
           0.8f);
}

void AddHumanEars(TMeshBuilder& b) {
  for (float side : {1.0f, -1.0f}) {
    TVec3 root = SkullPoint(side * Pi / 2 + side * 0.12f, 0.0f);
    AddEllipsoid(b, root + TVec3{side * 0.004f, -0.004f, -0.006f}, {0.013f, 0.032f, 0.020f}, 6, 8, 2,
                 Rigid(Tete), 1.5f);
  }
}

}  // namespace

TVec3 SkullSurface(float theta, float phi) { return SkullPoint(theta, phi); }

TVec3 HeadSurface(TRace race, float theta, float phi) {
  const TFace& face = FaceOf(race);
  theta = Fold(theta);
  TVec3 p = SkullPoint(theta, phi);
  // The jaw narrows towards the chin; the elf's more.
  float jaw = SmoothStep(-0.15f, -1.05f, phi);
  float frontness = SmoothStep(-0.3f, 0.6f, std::cos(theta));
  float narrow = Mix(1.0f, face.JawScale, jaw * Mix(0.6f, 1.0f, frontness));
  p.X = HeadCentre.X + (p.X - HeadCentre.X) * narrow;
  // A flatter face.
  p.Z -= 0.010f * frontness * SmoothStep(0.5f, 0.0f, std::fabs(phi + 0.1f));
  return p + SkullNormal(theta, phi) * FaceRelief(theta, phi, face);
}

void HeadAngles(TVec3 point, float& theta, float& phi) {
  TVec3 d = point - HeadCentre;
  d = {d.X / SkullRadii.X, d.Y / SkullRadii.Y, d.Z / SkullRadii.Z};
  theta = std::atan2(d.X, d.Z);
  phi = std::asin(Clamp(d.Y / std::max(Length(d), 1e-6f), -1, 1));
}

TMeshBuilder BuildHead(TRace race) {
  TMeshBuilder b;
  TLoft loft;
  loft.StartPole = loft.EndPole = true;
  loft.Start = HeadSurface(race, 0, -Pi / 2);
  loft.End = HeadSurface(race, 0, Pi / 2);
  for (int i = 1; i < HeadRows; ++i) {
    // Rows gather a little around the eyes and mouth.
    float s = static_cast<float>(i) / HeadRows;
    float phi = -Pi / 2 + Pi * s + 0.10f * std::sin(2 * Pi * s);
    std::vector<TVec3> ring;
    for (int j = 0; j < HeadColumns; ++j)
      ring.push_back(HeadSurface(race, ColumnTheta(static_cast<float>(j) / HeadColumns), phi));
    loft.Rings.push_back(ring);
  }
  AddLoft(b, loft, 0, Rigid(Tete), 2.2f);
  AddNeck(b, race);
  if (race == TRace::Human) AddHumanEars(b);
  b.ComputeNormals();
  return b;
}

// ------------------------------------------------------------------ ears

namespace {

struct TEarShape {
  float Length;  // from the root to the tip
  float Back;    // degrees from straight up towards the back
  float Out;     // how far the tip leans away from the head
  float Width;   // widest, model units
};

constexpr TEarShape EarShapes[3] = {
    {0.095f, 48, 0.30f, 0.031f},
    {0.145f, 70, 0.40f, 0.031f},
    {0.060f, 14, 0.16f, 0.028f},
};

void AddEar(TMeshBuilder& b, const TEarShape& shape, float side) {
  TVec3 root = SkullPoint(side * (Pi / 2 + 0.10f), -0.01f) - TVec3{side * 0.006f, 0, 0};
  float back = shape.Back * DegToRad;
  TVec3 out{side, 0, 0};
  TVec3 along = Normalize(TVec3{0, std::cos(back), -std::sin(back)} + out * shape.Out);
  constexpr int Steps = 11;
  TLoft loft;
  loft.EndPole = true;
  loft.StartPole = true;
  loft.Start = root - along * 0.040f + out * 0.004f;
  for (int i = 0; i < Steps; ++i) {
    float t = -0.25f + 1.2f * static_cast<float>(i) / Steps;
    // The lobe below, the widest part low, a long taper to the tip.
    float width = t < 0.1f ? Mix(0.45f, 0.95f, SmoothStep(-0.25f, 0.1f, t))
                           : Mix(1.0f, 0.06f, std::pow(SmoothStep(0.1f, 0.95f, t), 0.9f));
    // The tip curls a little further back than the root.
    TVec3 curl = TVec3{0, 0, -1} * (0.018f * t * t);
    TVec3 centre = root + along * (shape.Length * t) + curl + out * (0.002f + 0.01f * std::max(t, 0.0f));
    TVec3 across = Normalize(Cross(along, out));
    TVec3 facing = Normalize(Cross(across, along));
    loft.Rings.push_back(Ring(centre, across, facing, shape.Width * 0.5f * width, 0.0065f, 8, 2.0f));
  }
  loft.End = root + along * (shape.Length * 1.0f) + TVec3{0, 0, -0.02f} + out * 0.012f;
  AddLoft(b, loft, 3, Rigid(Tete), 1.6f);
}

}  // namespace

TMeshBuilder BuildEars(int style) {
  TMeshBuilder b;
  for (float side : {1.0f, -1.0f}) AddEar(b, EarShapes[style - 1], side);
  b.ComputeNormals();
  return b;
}

}  // namespace forge
