// Hair and beards.  Every style starts from a cap lying on the skull down
// to a hairline; longer styles add sheets that hang from under the cap
// (behind the shoulders for the long ones), a ponytail, a crest, spikes or
// braids.  Beards are sheets over the human jaw, a moustache and a goatee.
// All share the hair texture: its left three quarters are strands, lit from
// above (V follows the height on the body), the last quarter a dark shade
// for the faces turned inwards.
#include <algorithm>
#include <cmath>

#include "Meshes.h"
#include "Skeleton.h"

namespace forge {

namespace {

// How a part of a hair mesh is mapped onto the hair texture.
enum THairMaterial { hCap, hSheet, hStrand, hDark };

// Texture regions, in U.
constexpr float StrandsEnd = 0.74f;
constexpr float DarkStart = 0.80f, DarkEnd = 0.98f;
// Heights (model units) mapped to the texture's V = 0 and V = 1.
constexpr float HairLow = 1.10f, HairHigh = 2.05f;

float HairV(float y) { return Clamp((y - HairLow) / (HairHigh - HairLow), 0.02f, 0.98f); }

bool InsideSkull(TVec3 p) {
  float theta, phi;
  HeadAngles(p, theta, phi);
  return Length(p - HeadCentre) < Length(SkullSurface(theta, phi) - HeadCentre) - 0.001f;
}

// Moves every corner's part-local coordinates onto the hair texture; a
// negative shade moves V down to the darker strands (cropped hair).
void MapHair(TMeshBuilder& b, float shade = 0) {
  for (TMeshTriangle& t : b.Triangles) {
    int material = b.Parts[t.Part].Material;
    for (TMeshCorner& c : t.Corners) {
      TVec3 p = b.Vertices[c.Vertex].Position;
      bool dark =
          material == hDark || (material == hCap && InsideSkull(p)) || (material == hSheet && c.U > 0.5f);
      float u = material == hSheet ? std::fmod(c.U * 2, 1.0f + 1e-6f) : c.U;
      c.U = dark ? Mix(DarkStart, DarkEnd, u) : u * StrandsEnd;
      c.V = Clamp(HairV(p.Y) + shade, 0.02f, 0.98f);
    }
  }
  for (TMeshPart& part : b.Parts) part = {part.Material, part.Width, part.Height, part.Density, 0, 0, 1, 1};
}

// The outward normal of the skull at (theta, phi), from its neighbours.
TVec3 SkullNormalAt(float theta, float phi) {
  constexpr float Step = 0.01f;
  TVec3 dt = SkullSurface(theta + Step, phi) - SkullSurface(theta - Step, phi);
  TVec3 dp = SkullSurface(theta, phi + Step) - SkullSurface(theta, phi - Step);
  TVec3 n = Normalize(Cross(dt, dp));
  if (std::fabs(phi) > 1.5f) n = {0, phi > 0 ? 1.0f : -1.0f, 0};
  if (Dot(n, SkullSurface(theta, phi) - HeadCentre) < 0) n = -n;
  return n;
}

TVec3 OnSkull(float theta, float phi, float offset) {
  return SkullSurface(theta, phi) + SkullNormalAt(theta, phi) * offset;
}

// Piecewise smooth curve through (x, y) points, x increasing.
float Curve(const std::vector<std::pair<float, float>>& points, float x) {
  if (x <= points.front().first) return points.front().second;
  for (std::size_t i = 1; i < points.size(); ++i)
    if (x <= points[i].first) {
      float t = (x - points[i - 1].first) / (points[i].first - points[i - 1].first);
      return Mix(points[i - 1].second, points[i].second, t * t * (3 - 2 * t));
    }
  return points.back().second;
}

// Latitude of the hairline at a longitude: high on the brow, down in front
// of the ears (sideburns), up over them, low on the nape.
float Hairline(float theta, float fringe, float recede = 0) {
  float a = std::fabs(std::remainder(theta, 2 * Pi));
  float phi = Curve({{0.0f, 0.46f},
                     {0.50f, 0.41f},
                     {0.90f, 0.25f},
                     {1.22f, 0.06f},
                     {1.36f, -0.14f},
                     {1.47f, 0.27f},
                     {1.95f, 0.31f},
                     {2.20f, -0.08f},
                     {2.55f, -0.36f},
                     {Pi, -0.52f}},
                    a);
  phi += recede * SmoothStep(1.3f, 0.3f, a);
  // A fringe brings the hair down on the brow, in locks.
  if (fringe > 0 && a < 1.0f) {
    float locks = 0.035f * std::fabs(std::sin(theta * 9.0f));
    phi = Mix(phi, 0.30f - locks, fringe * SmoothStep(1.0f, 0.6f, a));
  }
  return phi;
}

struct TCapStyle {
  float Thickness;   // on top
  float Edge;        // at the hairline
  float Fringe;      // 0 none, 1 full
  float Swept;       // the fringe leans to one side
  float Recede = 0;  // the hairline higher on the brow, radians
};

constexpr int CapColumns = 28;
constexpr int CapRings = 7;

void AddCap(TMeshBuilder& b, const TCapStyle& style) {
  TLoft loft;
  loft.StartPole = loft.EndPole = true;
  loft.Start = HeadCentre;
  // The edge, just under the skin, then outwards and up to the crown.
  auto theta = [](int j) { return Pi + 2 * Pi * static_cast<float>(j) / CapColumns; };
  std::vector<TVec3> edge;
  for (int j = 0; j < CapColumns; ++j)
    edge.push_back(OnSkull(theta(j), Hairline(theta(j), style.Fringe, style.Recede), -0.004f));
  loft.Rings.push_back(edge);
  for (int i = 0; i < CapRings; ++i) {
    float f = static_cast<float>(i) / CapRings;
    std::vector<TVec3> ring;
    for (int j = 0; j < CapColumns; ++j) {
      float th = theta(j);
      float low = Hairline(th, style.Fringe, style.Recede);
      float phi = Mix(low, Pi / 2 - 0.02f, std::pow(f, 0.85f));
      float thick = Mix(style.Edge, style.Thickness, SmoothStep(0.0f, 0.45f, f));
      // A swept fringe stands off the brow, more on one side.
      thick += style.Swept * 0.016f * SmoothStep(1.2f, 0.0f, std::fabs(std::remainder(th + 0.4f, 2 * Pi))) *
               SmoothStep(0.6f, 0.05f, f);
      ring.push_back(OnSkull(th, phi, thick));
    }
    loft.Rings.push_back(ring);
  }
  loft.End = OnSkull(0, Pi / 2, style.Thickness);
  AddLoft(b, loft, hCap, Rigid(Tete));
}

// Where hair hanging from the head is bound: the head above the jaw, then
// the neck and the chest as it falls.
TWeights FallingWeights(TVec3 p, float, float) {
  TWeights w = Blend(Cou, Tete, SmoothStep(1.66f, 1.80f, p.Y));
  w = Blend(w, One(Poitrine), SmoothStep(1.64f, 1.52f, p.Y));
  return Blend(w, One(Dos), SmoothStep(1.34f, 1.20f, p.Y));
}

// The skull's horizontal section at height y, at longitude theta, and its
// horizontal outward normal; below the widest part the hair falls straight.
void SectionPoint(float theta, float y, TVec3& point, TVec3& normal) {
  float widest = HeadCentre.Y - 0.01f;
  float yy = std::max(y, widest);
  float lo = -0.2f, hi = Pi / 2;
  for (int k = 0; k < 30; ++k) {
    float mid = 0.5f * (lo + hi);
    (SkullSurface(theta, mid).Y < yy ? lo : hi) = mid;
  }
  point = SkullSurface(theta, lo);
  point.Y = y;
  TVec3 n = SkullNormalAt(theta, lo);
  normal = Normalize(TVec3{n.X, 0, n.Z});
}

struct THangStyle {
  float FrontTheta;   // longitude of the front edges
  float Top, Bottom;  // heights
  float Thickness;
  float Flare;  // outwards per unit of fall
  bool Behind;  // falls behind the shoulders
};

void AddHang(TMeshBuilder& b, const THangStyle& style) {
  const float behindFrom = 1.80f, behindTo = 1.62f;
  AddSheet(
      b, 22, 8,
      [&](float s, float t, TVec3& outer, TVec3& inner) {
        float theta = style.FrontTheta + s * (2 * Pi - 2 * style.FrontTheta);
        // Locks of different lengths, shorter towards the face.
        float bottom = style.Bottom + 0.022f * std::fabs(std::sin(s * 7.5f * Pi)) +
                       0.35f * (style.Top - style.Bottom) * std::pow(std::fabs(2 * s - 1), 6.0f);
        float y = Mix(style.Top, bottom, t);
        TVec3 p, n;
        SectionPoint(theta, y, p, n);
        float fall = std::max(0.0f, HeadCentre.Y - y);
        TVec3 axis{HeadCentre.X, y, HeadCentre.Z - 0.02f};
        p = axis + (p - axis) * (1 + style.Flare * fall);
        if (style.Behind) {
          float w = SmoothStep(behindFrom, behindTo, y);
          float c = std::cos(Pi * s);
          TVec3 back{0.125f * c, y, -0.150f - 0.018f * std::sin(Pi * s)};
          p = Lerp(p, back, w);
          n = Normalize(Lerp(n, Normalize(TVec3{0.35f * c, 0, -1}), w));
        }
        float thick = style.Thickness * SmoothStep(0.0f, 0.12f, t) * (1 - std::pow(t, 6.0f));
        inner = p + n * 0.006f;
        outer = inner + n * thick;
      },
      hSheet, FallingWeights);
}

void AddSpikes(TMeshBuilder& b, float thickness) {
  constexpr int Count = 26;
  for (int k = 0; k < Count; ++k) {
    // Spread evenly over the top of the head (golden angle).
    float f = (static_cast<float>(k) + 0.5f) / Count;
    float phi = Mix(0.40f, 1.45f, 1 - f * f);
    float theta = static_cast<float>(k) * 2.39996f;
    TVec3 n = SkullNormalAt(theta, phi);
    TVec3 base = OnSkull(theta, phi, thickness - 0.006f);
    TVec3 tip = base + Normalize(n + TVec3{0, 0.35f, -0.25f}) * (0.045f + 0.02f * Hash01(k, 3));
    AddLathe(b, base, tip, {0, 0, 1}, {0.0f, 0.020f, 0.015f, 0.008f, 0.0f}, 6, hStrand, Rigid(Tete));
  }
}

void AddCrest(TMeshBuilder& b) {
  // Along the middle of the skull from the brow to the nape.
  std::vector<TVec3> path;
  std::vector<float> heights;
  constexpr int Steps = 18;
  for (int i = 0; i <= Steps; ++i) {
    float a = static_cast<float>(i) / Steps;
    float arc = Mix(0.44f, Pi + 0.25f, a);
    float theta = arc <= Pi / 2 ? 0.0f : Pi;
    float phi = arc <= Pi / 2 ? arc : Pi - arc;
    path.push_back(OnSkull(theta, phi, 0.0f));
    heights.push_back(0.028f + 0.040f * std::sin(Pi * std::pow(a, 0.8f)));
  }
  TLoft loft;
  loft.StartPole = loft.EndPole = true;
  loft.Start = path.front();
  loft.End = path.back();
  for (int i = 1; i < Steps; ++i) {
    float a = static_cast<float>(i) / Steps;
    float arc = Mix(0.44f, Pi + 0.25f, a);
    TVec3 n = SkullNormalAt(arc <= Pi / 2 ? 0.0f : Pi, arc <= Pi / 2 ? arc : Pi - arc);
    // Leaning back a little, like combed hair.
    TVec3 up = Normalize(n + TVec3{0, 0, -0.25f});
    loft.Rings.push_back(
        Ring(path[i] + up * (heights[i] * 0.5f - 0.006f), up, {1, 0, 0}, heights[i] * 0.5f, 0.012f, 8, 2.0f));
  }
  AddLoft(b, loft, hStrand, Rigid(Tete));
}

void AddPonytail(TMeshBuilder& b) {
  std::vector<TVec3> path = {{0, 1.905f, -0.070f}, {0, 1.875f, -0.112f}, {0, 1.835f, -0.142f},
                             {0, 1.780f, -0.160f}, {0, 1.715f, -0.170f}, {0, 1.645f, -0.176f},
                             {0, 1.575f, -0.178f}, {0, 1.505f, -0.172f}, {0, 1.450f, -0.166f}};
  std::vector<float> radii = {0.0f, 0.024f, 0.031f, 0.033f, 0.030f, 0.026f, 0.021f, 0.013f, 0.0f};
  AddTube(b, path, radii, {1, 0, 0}, 8, hStrand, FallingWeights);
  // The band that ties it.
  AddLathe(b, {0, 1.888f, -0.100f}, {0, 1.862f, -0.124f}, {1, 0, 0}, {0.0f, 0.029f, 0.030f, 0.029f, 0.0f}, 12,
           hDark, Rigid(Tete));
}

void AddBraids(TMeshBuilder& b) {
  for (float side : {1.0f, -1.0f}) {
    std::vector<TVec3> path;
    std::vector<float> radii;
    const TVec3 points[] = {{0.080f, 1.860f, -0.030f}, {0.100f, 1.760f, 0.000f}, {0.104f, 1.680f, 0.045f},
                            {0.102f, 1.600f, 0.118f},  {0.096f, 1.510f, 0.168f}, {0.090f, 1.420f, 0.182f},
                            {0.086f, 1.300f, 0.172f},  {0.084f, 1.230f, 0.163f}};
    constexpr int Steps = 40;
    for (int i = 0; i <= Steps; ++i) {
      float t = static_cast<float>(i) / Steps * 7;
      int k = std::min(static_cast<int>(t), 6);
      TVec3 p = Lerp(points[k], points[k + 1], t - k);
      path.push_back({side * p.X, p.Y, p.Z});
      // Plaits: the radius swells and narrows every few steps.
      float plait = 0.78f + 0.22f * std::fabs(std::sin(static_cast<float>(i) * 0.8f));
      float r = 0.019f * plait * Mix(1.0f, 0.7f, t / 7);
      radii.push_back(i == 0 || i == Steps ? 0.0f : r);
    }
    AddTube(b, path, radii, {side, 0, 0}, 6, hStrand, FallingWeights);
    TVec3 tie{side * 0.085f, 1.26f, 0.168f};
    AddEllipsoid(b, tie, {0.016f, 0.010f, 0.016f}, 6, 8, hDark, FallingWeights);
  }
}

}  // namespace

TMeshBuilder BuildHair(int style) {
  TMeshBuilder b;
  switch (style) {
    case 1:
      AddCap(b, {0.005f, 0.0015f, 0, 0, 0.08f});
      b.ComputeNormals();
      MapHair(b, -0.32f);
      return b;
    case 2:
      AddCap(b, {0.012f, 0.003f, 0, 0});
      AddSpikes(b, 0.012f);
      break;
    case 3:
      // Tousled: full on top, a swept fringe, the ears half hidden.
      AddCap(b, {0.034f, 0.006f, 1.0f, 1.0f});
      AddHang(b, {1.30f, 1.950f, 1.835f, 0.014f, 0.12f, false});
      break;
    case 4:
      AddCap(b, {0.005f, 0.002f, 0, 0});
      AddCrest(b);
      break;
    case 5:
      AddCap(b, {0.024f, 0.006f, 0.85f, 0});
      AddHang(b, {1.12f, 1.950f, 1.765f, 0.016f, 0.10f, false});
      break;
    case 6:
      AddCap(b, {0.014f, 0.004f, 0, 0});
      AddPonytail(b);
      break;
    case 7:
      AddCap(b, {0.020f, 0.005f, 0.3f, 0});
      AddHang(b, {1.44f, 1.950f, 1.380f, 0.020f, 0.06f, true});
      break;
    default:
      AddCap(b, {0.020f, 0.005f, 0, 0});
      AddHang(b, {1.50f, 1.950f, 1.180f, 0.022f, 0.05f, true});
      AddBraids(b);
      break;
  }
  b.ComputeNormals();
  MapHair(b);
  return b;
}

// ------------------------------------------------------------------ beards

namespace {

// The upper edge of a beard over the cheeks, by longitude.
float BeardTop(float theta) {
  return Curve(
      {{0.0f, -0.585f}, {0.20f, -0.56f}, {0.34f, -0.36f}, {0.60f, -0.20f}, {1.05f, -0.06f}, {1.36f, 0.05f}},
      std::fabs(theta));
}
float BeardBottom(float theta) {
  return Curve({{0.0f, -1.08f}, {0.6f, -1.0f}, {1.0f, -0.86f}, {1.36f, -0.46f}}, std::fabs(theta));
}

TVec3 FaceAt(float theta, float phi, float offset) {
  constexpr float Step = 0.01f;
  TVec3 p = HeadSurface(TRace::Human, theta, phi);
  TVec3 dt = HeadSurface(TRace::Human, theta + Step, phi) - HeadSurface(TRace::Human, theta - Step, phi);
  TVec3 dp = HeadSurface(TRace::Human, theta, phi + Step) - HeadSurface(TRace::Human, theta, phi - Step);
  TVec3 n = Normalize(Cross(dt, dp));
  if (Dot(n, p - HeadCentre) < 0) n = -n;
  return p + n * offset;
}

// A beard lying on the jaw between its bottom and top edges.
void AddJawBeard(TMeshBuilder& b, float thickness, float theta0, float chinOnly) {
  AddSheet(
      b, 14, 5,
      [&](float s, float t, TVec3& outer, TVec3& inner) {
        float theta = Mix(-theta0, theta0, s);
        float top = BeardTop(theta), bottom = BeardBottom(theta);
        if (chinOnly > 0) top = Mix(top, -0.60f, chinOnly);
        float phi = Mix(bottom, top, t);
        float thick = thickness * SmoothStep(0.0f, 0.25f, t) * SmoothStep(1.0f, 0.7f, t);
        // Fuller on the chin.
        thick *= 1 + 0.6f * std::exp(-std::pow(theta / 0.4f, 2.0f)) * (1 - t);
        inner = FaceAt(theta, phi, -0.002f);
        outer = FaceAt(theta, phi, thick);
      },
      hSheet, Rigid(Tete));
}

void AddMoustache(TMeshBuilder& b) {
  std::vector<TVec3> path;
  std::vector<float> radii;
  constexpr int Steps = 10;
  for (int i = 0; i <= Steps; ++i) {
    float a = Mix(-1.0f, 1.0f, static_cast<float>(i) / Steps);
    float theta = 0.25f * a;
    // Over the upper lip, drooping at the ends.
    float phi = -0.405f - 0.17f * std::pow(std::fabs(a), 3.0f);
    path.push_back(FaceAt(theta, phi, 0.007f));
    radii.push_back(i == 0 || i == Steps ? 0.0f : 0.0085f * (1 - 0.55f * a * a));
  }
  AddTube(b, path, radii, {0, 1, 0}, 6, hStrand, Rigid(Tete));
}

// The long beard's fall from under the chin to the chest.
void AddBeardFall(TMeshBuilder& b) {
  AddSheet(
      b, 12, 8,
      [](float s, float t, TVec3& outer, TVec3& inner) {
        float y = Mix(1.800f, 1.500f, t);
        float half = 0.075f * (1 - 0.85f * std::pow(t, 1.4f));
        float x = Mix(-half, half, s);
        float front =
            Curve({{1.50f, 0.168f}, {1.58f, 0.150f}, {1.66f, 0.128f}, {1.74f, 0.105f}, {1.80f, 0.082f}}, y);
        float bulge = 0.018f * (1 - std::pow(2 * s - 1, 2.0f));
        float thick = 0.030f * SmoothStep(0.0f, 0.08f, t) * (1 - std::pow(t, 4.0f)) + 0.002f;
        outer = {x, y, front + bulge};
        inner = {x * 0.92f, y, front + bulge - thick};
      },
      hSheet, [](TVec3 p, float, float) { return Blend(Cou, Tete, SmoothStep(1.60f, 1.76f, p.Y)); });
}

}  // namespace

TMeshBuilder BuildBeard(int style) {
  TMeshBuilder b;
  switch (style) {
    case 1:
      AddJawBeard(b, 0.012f, 1.36f, 0);
      AddMoustache(b);
      break;
    case 2:
      AddJawBeard(b, 0.016f, 0.30f, 0.0f);
      AddMoustache(b);
      break;
    default:
      AddJawBeard(b, 0.022f, 1.36f, 0);
      AddMoustache(b);
      AddBeardFall(b);
      break;
  }
  b.ComputeNormals();
  MapHair(b);
  return b;
}

void PaintHair(TImage& image) {
  const TColor dark = Hex(0x1E1008), base = Hex(0x45260F), light = Hex(0x7A4A22);
  constexpr int Strands = 40;  // across the strand region, repeating
  image.Fill([&](float x, float y) {
    float v = 1 - y;
    if (x > StrandsEnd + 0.02f) return Mix(dark, base, 0.5f + 0.3f * PeriodicNoise(x * 40, y * 4, 40, 3));
    float u = std::min(x / StrandsEnd, 1.0f);
    float streak = PeriodicFractal(u * Strands, v * 3, Strands, 3, 5);
    float fine = PeriodicNoise(u * Strands * 4, v * 2, Strands * 4, 9);
    TColor c = Mix(base, light, Clamp(0.5f + 0.9f * streak, 0, 1));
    c = Mix(c, dark, Clamp(0.4f * fine + 0.15f, 0, 1));
    // Lit from above, a sheen where the head turns away from the light.
    float shade = Mix(0.55f, 1.12f, SmoothStep(0.35f, 0.95f, v));
    float sheen = 0.22f * std::exp(-std::pow((v - 0.86f) / 0.035f, 2.0f));
    return c * shade + TColor{1, 0.85f, 0.65f} * sheen;
  });
}

}  // namespace forge
