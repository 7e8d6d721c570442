// The knight's and the sword's meshes, their skins, and their MD2 frames:
// each file frame is the mesh skinned in that frame's pose at three times
// model size, then turned into file coordinates (the inverse of the
// reader's conversion) and packed into bytes over the frame's bounds.
#include "Knight.h"

#include <cmath>
#include <map>
#include <utility>

#include "Materials.h"
#include "Meshes.h"
#include "models/MD2Writer.h"

namespace forge {

namespace {

// Characters are drawn at three times their model size.
constexpr float WorldScale = 3.0f;
constexpr TColor KnightTabard = Hex(0x8A1A1A);

// A great helm over the head: a rounded drum with a flat-ish crown.
void AddHelmet(TMeshBuilder& b) {
  AddLathe(
      b, {0, 1.640f, 0.004f}, {0, 2.040f, 0.004f}, {0, 0, 1},
      {0.0f, 0.086f, 0.100f, 0.112f, 0.120f, 0.125f, 0.127f, 0.127f, 0.125f, 0.120f, 0.110f, 0.090f, 0.055f,
       0.0f},
      26, mHelmet, [](TVec3 p, float, float) { return Blend(Cou, Tete, SmoothStep(1.66f, 1.74f, p.Y)); },
      0.90f, 1.5f);
  // A plume along the crown, from the brow to the nape.
  std::vector<TVec3> path;
  std::vector<float> radii;
  constexpr int Steps = 14;
  for (int i = 0; i <= Steps; ++i) {
    float a = static_cast<float>(i) / Steps;
    float angle = Mix(-0.9f, 2.2f, a);
    path.push_back({0, 1.915f + 0.125f * std::cos(angle) + 0.02f * std::sin(Pi * a),
                    0.004f + 0.118f * std::sin(-angle) * 0.95f});
    radii.push_back(i == 0 || i == Steps ? 0.0f : 0.030f * std::sin(Pi * std::pow(a, 0.7f)) + 0.006f);
  }
  TLoft loft;
  loft.StartPole = loft.EndPole = true;
  loft.Start = path.front();
  loft.End = path.back();
  for (int i = 1; i < Steps; ++i) {
    TVec3 along = Normalize(path[i + 1] - path[i - 1]);
    TVec3 up = Normalize(Cross({1, 0, 0}, along));
    loft.Rings.push_back(Ring(path[i] + up * (radii[i] * 0.6f), up, {1, 0, 0}, radii[i], 0.014f, 10));
  }
  AddLoft(b, loft, mPlume, Rigid(Tete));
}

// The right hand's grip in the rest pose: where the sword's grip passes
// through the fist, the sword's axis (forward) and the blade's edge
// direction (down the hanging hand).
struct TGrip {
  TVec3 Centre, Axis, Edge, Flat;
};

TGrip RightGrip() {
  TVec3 wrist = RestJoint(MainD);
  TVec3 down = Normalize(wrist - RestJoint(AvantBrasD));
  TGrip grip;
  grip.Centre = wrist + down * 0.092f + TVec3{0.020f, 0, 0};
  grip.Axis = Normalize(TVec3{0, 0, 1} - down * down.Z);
  grip.Edge = down;
  grip.Flat = Cross(grip.Axis, grip.Edge);
  return grip;
}

enum TSwordMaterial { sBlade, sGuard, sGrip, sPommel };

// Makes vertex a take index b and b take a.
void SwapVertices(TMeshBuilder& mesh, int a, int b) {
  std::swap(mesh.Vertices[a], mesh.Vertices[b]);
  for (TMeshTriangle& t : mesh.Triangles)
    for (TMeshCorner& c : t.Corners) c.Vertex = c.Vertex == a ? b : c.Vertex == b ? a : c.Vertex;
}

int NearestVertex(const TMeshBuilder& mesh, TVec3 p) {
  int best = 0;
  for (std::size_t i = 0; i < mesh.Vertices.size(); ++i)
    if (Length(mesh.Vertices[i].Position - p) < Length(mesh.Vertices[best].Position - p))
      best = static_cast<int>(i);
  return best;
}

struct TSkinCoordKey {
  int S, T;
  bool operator<(const TSkinCoordKey& o) const { return S != o.S ? S < o.S : T < o.T; }
};

// Skin coordinates and triangles of a mesh; the triangles' corners are
// written in reverse, since the game draws them from the last to the first.
void FillTopology(const TMeshBuilder& mesh, int skinSize, TMD2ModelData& model) {
  model.SkinWidth = model.SkinHeight = skinSize;
  std::map<TSkinCoordKey, int> coords;
  for (const TMeshTriangle& t : mesh.Triangles) {
    TMD2Triangle triangle;
    for (int k = 0; k < 3; ++k) {
      const TMeshCorner& c = t.Corners[2 - k];
      TSkinCoordKey key{static_cast<int>(std::lround(c.U * skinSize)),
                        static_cast<int>(std::lround((1 - c.V) * skinSize))};
      auto found = coords.find(key);
      if (found == coords.end()) {
        found = coords.emplace(key, static_cast<int>(model.SkinCoords.size())).first;
        model.SkinCoords.push_back({static_cast<int16_t>(key.S), static_cast<int16_t>(key.T)});
      }
      triangle.Vertex[k] = static_cast<int16_t>(c.Vertex);
      triangle.SkinCoord[k] = static_cast<int16_t>(found->second);
    }
    model.Triangles.push_back(triangle);
  }
}

// Every frame of a mesh whose vertices move with the bones as their weights
// say (points given in world units become file coordinates).
void FillFrames(const TMeshBuilder& mesh, const std::vector<TPose>& poses, TMD2ModelData& model) {
  for (int frame = 0; frame < KnightFrameCount; ++frame) {
    TPosed posed = PoseSkeleton(poses[frame]);
    std::vector<std::array<float, 3>> points;
    for (const TMeshVertex& v : mesh.Vertices) {
      TVec3 p;
      for (const TInfluence& w : v.Weights) p += TransformPoint(posed.Skin[w.Bone], v.Position) * w.Weight;
      p *= WorldScale;
      points.push_back(MD2PointFromWorld(p.X, p.Y, p.Z));
    }
    model.Frames.push_back(MakeMD2Frame(KnightFrameName(frame), points));
  }
}

}  // namespace

TMeshBuilder BuildKnight() {
  TMeshBuilder b = BuildBody();
  AddHelmet(b);
  b.ComputeNormals();
  b.PackParts(KnightSkinSize, 2);
  return b;
}

TMeshBuilder BuildSword() {
  const TGrip g = RightGrip();
  constexpr float GuardAt = 0.066f, BladeLength = 0.80f;
  TMeshBuilder b;
  // The blade: a flattened diamond from the guard to the point.
  TLoft blade;
  blade.EndPole = true;
  const float stations[][2] = {{0.0f, 0.028f}, {0.25f, 0.026f}, {0.55f, 0.023f}, {0.85f, 0.017f}};
  for (const auto& s : stations) {
    TVec3 c = g.Centre + g.Axis * (GuardAt + s[0] * BladeLength);
    blade.Rings.push_back({c + g.Edge * s[1], c + g.Flat * 0.0065f, c - g.Edge * s[1], c - g.Flat * 0.0065f});
  }
  blade.End = g.Centre + g.Axis * (GuardAt + BladeLength);
  // A closed base under the guard.
  blade.StartPole = true;
  blade.Start = g.Centre + g.Axis * (GuardAt - 0.004f);
  AddLoft(b, blade, sBlade, Rigid(MainD));
  AddBox(b, g.Centre + g.Axis * (GuardAt - 0.010f), g.Flat * 0.014f, g.Axis * 0.010f, g.Edge * 0.105f, sGuard,
         Rigid(MainD));
  AddTube(b,
          {g.Centre - g.Axis * 0.075f, g.Centre - g.Axis * 0.07f, g.Centre, g.Centre + g.Axis * 0.055f,
           g.Centre + g.Axis * 0.058f},
          {0.0f, 0.016f, 0.017f, 0.016f, 0.0f}, g.Edge, 8, sGrip, Rigid(MainD));
  AddEllipsoid(b, g.Centre - g.Axis * 0.088f, {0.024f, 0.024f, 0.024f}, 6, 8, sPommel, Rigid(MainD));
  // The trail follows the point and the middle of the blade's base.
  SwapVertices(b, SwordTipVertex, NearestVertex(b, blade.End));
  SwapVertices(b, SwordBaseVertex, NearestVertex(b, blade.Rings.front()[1]));
  b.ComputeNormals();
  b.PackParts(SwordSkinSize, 2);
  return b;
}

TMD2ModelData KnightModel(const TMeshBuilder& knight, const std::vector<TPose>& poses) {
  TMD2ModelData model;
  model.SkinNames = {"knight.pcx"};
  FillTopology(knight, KnightSkinSize, model);
  FillFrames(knight, poses, model);
  return model;
}

TMD2ModelData SwordModel(const TMeshBuilder& sword, const std::vector<TPose>& poses) {
  TMD2ModelData model;
  model.SkinNames = {"weapon.pcx"};
  FillTopology(sword, SwordSkinSize, model);
  FillFrames(sword, poses, model);
  return model;
}

TColor ShadeKnight(const TSurfacePoint& s) {
  if (s.Material == mPlume) {
    float feather = 0.15f * std::sin(s.U * 60) + 0.1f * Fractal3(s.Position * 80.0f, 2, 41);
    return Hex(0xB01818) * (Lighting(s.Normal) * (1 + feather));
  }
  if (s.Material != mHelmet) return ShadeBody(s, KnightTabard);
  TVec3 p = s.Position, n = s.Normal;
  float theta = std::atan2(p.X, p.Z - 0.004f);
  bool front = std::fabs(theta) < 1.15f;
  // The eye slit and the breathing holes are dark; a cross of gold binds
  // the front.
  if (front && std::fabs(p.Y - 1.885f) < 0.011f && std::fabs(theta) > 0.07f) return Hex(0x080808);
  if (front && p.Y < 1.84f && p.Y > 1.74f && theta < -0.2f && theta > -0.9f) {
    float hx = std::fmod(theta + 10, 0.12f) - 0.06f, hy = std::fmod(p.Y, 0.022f) - 0.011f;
    if (hx * hx / 0.0009f + hy * hy / 0.000025f < 1) return Hex(0x0A0A0A);
  }
  if (front && (std::fabs(theta) < 0.05f && p.Y < 1.96f && p.Y > 1.70f)) return Gold(n);
  if (front && std::fabs(p.Y - 1.905f) < 0.006f) return Gold(n);
  TColor c = Steel(n);
  if (std::fabs(p.Y - 1.70f) < 0.004f || std::fabs(p.Y - 1.985f) < 0.004f) c = c * 0.5f;
  return c;
}

TColor ShadeSword(const TSurfacePoint& s) {
  TVec3 n = s.Normal;
  switch (s.Material) {
    case sBlade: {
      // Bright steel, a darker groove down the middle, paler edges.
      float across = std::fabs(s.U - 0.25f) < 0.25f ? std::fabs(s.U - 0.25f) : std::fabs(s.U - 0.75f);
      TColor c = Steel(n) * 1.05f;
      if (across < 0.05f && s.V < 0.7f) c = c * 0.7f;
      return c;
    }
    case sGuard:
    case sPommel:
      return Gold(n);
    default: {
      float wrap = std::fmod(s.V * 14 + s.U, 1.0f);
      return Leather(Hex(0x3A2010), s.Position, n) * (wrap < 0.15f ? 0.6f : 1.0f);
    }
  }
}

}  // namespace forge
