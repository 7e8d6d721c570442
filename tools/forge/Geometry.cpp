#include "Geometry.h"

#include <algorithm>
#include <map>

#include "Skeleton.h"
#include "models/L3D.h"

namespace forge {

namespace {

// Weights below this are dropped (and the rest scaled back to a sum of 1).
constexpr float SmallestWeight = 0.002f;

// One bone once, weights summing to 1, heaviest first.
TWeights Tidy(const TWeights& weights) {
  std::map<int, float> sums;
  for (const TInfluence& w : weights) sums[w.Bone] += w.Weight;
  TWeights result;
  float total = 0;
  for (auto [bone, weight] : sums)
    if (weight >= SmallestWeight) {
      result.push_back({bone, weight});
      total += weight;
    }
  if (result.empty()) return One(weights.empty() ? Bassin : weights.front().Bone);
  for (TInfluence& w : result) w.Weight /= total;
  std::stable_sort(result.begin(), result.end(),
                   [](const TInfluence& a, const TInfluence& b) { return a.Weight > b.Weight; });
  return result;
}

TVec3 Centre(const std::vector<TVec3>& ring) {
  TVec3 sum;
  for (TVec3 p : ring) sum += p;
  return sum * (1.0f / static_cast<float>(ring.size()));
}

float Perimeter(const std::vector<TVec3>& ring, bool wrap) {
  float length = 0;
  for (std::size_t j = 0; j + 1 < ring.size(); ++j) length += Length(ring[j + 1] - ring[j]);
  if (wrap && ring.size() > 2) length += Length(ring.front() - ring.back());
  return length;
}

struct TPlacement {
  int Part;
  float X, Y;  // texels, from the bottom left
  float W, H;
};

// Shelf packing of parts scaled by scale texels per model unit; false when
// they do not fit.
bool Shelve(const std::vector<TMeshPart*>& parts, float scale, int size, int padding,
            std::vector<TPlacement>& placements) {
  placements.clear();
  std::vector<int> order(parts.size());
  for (std::size_t i = 0; i < parts.size(); ++i) order[i] = static_cast<int>(i);
  auto height = [&](int i) { return parts[i]->Height * parts[i]->Density * scale; };
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return height(a) > height(b); });
  float x = 0, y = 0, shelf = 0;
  for (int i : order) {
    float w = std::ceil(parts[i]->Width * parts[i]->Density * scale) + 2 * padding;
    float h = std::ceil(height(i)) + 2 * padding;
    if (w > size) return false;
    if (x + w > size) {
      x = 0;
      y += shelf;
      shelf = 0;
    }
    if (y + h > size) return false;
    placements.push_back({i, x, y, w, h});
    x += w;
    shelf = std::max(shelf, h);
  }
  return true;
}

}  // namespace

TWeights One(int bone) { return {{bone, 1.0f}}; }

TWeights Blend(const TWeights& a, const TWeights& b, float t) {
  t = Clamp(t, 0, 1);
  TWeights result;
  for (const TInfluence& w : a) result.push_back({w.Bone, w.Weight * (1 - t)});
  for (const TInfluence& w : b) result.push_back({w.Bone, w.Weight * t});
  return Tidy(result);
}

int TMeshBuilder::AddPart(int material, float width, float height, float density) {
  TMeshPart part;
  part.Material = material;
  part.Width = std::max(width, 1e-3f);
  part.Height = std::max(height, 1e-3f);
  part.Density = density;
  Parts.push_back(part);
  return static_cast<int>(Parts.size()) - 1;
}

int TMeshBuilder::AddVertex(TVec3 position, TWeights weights) {
  Vertices.push_back({position, Tidy(weights), {}});
  return static_cast<int>(Vertices.size()) - 1;
}

void TMeshBuilder::AddTriangle(int part, TMeshCorner a, TMeshCorner b, TMeshCorner c) {
  Triangles.push_back({{a, b, c}, part});
}

void TMeshBuilder::Append(const TMeshBuilder& other) {
  const int vertexBase = static_cast<int>(Vertices.size());
  const int partBase = static_cast<int>(Parts.size());
  Vertices.insert(Vertices.end(), other.Vertices.begin(), other.Vertices.end());
  Parts.insert(Parts.end(), other.Parts.begin(), other.Parts.end());
  for (TMeshTriangle triangle : other.Triangles) {
    for (TMeshCorner& corner : triangle.Corners) corner.Vertex += vertexBase;
    triangle.Part += partBase;
    Triangles.push_back(triangle);
  }
}

void TMeshBuilder::ComputeNormals() {
  for (TMeshVertex& v : Vertices) v.Normal = {};
  for (const TMeshTriangle& t : Triangles) {
    TVec3 a = Vertices[t.Corners[0].Vertex].Position;
    TVec3 b = Vertices[t.Corners[1].Vertex].Position;
    TVec3 c = Vertices[t.Corners[2].Vertex].Position;
    TVec3 n = Cross(b - a, c - a);
    for (const TMeshCorner& corner : t.Corners) Vertices[corner.Vertex].Normal += n;
  }
  for (TMeshVertex& v : Vertices) v.Normal = Normalize(v.Normal);
}

void PackParts(const std::vector<TMeshBuilder*>& builders, int size, int padding) {
  std::vector<TMeshPart*> parts;
  for (TMeshBuilder* builder : builders)
    for (TMeshPart& part : builder->Parts) parts.push_back(&part);
  std::vector<TPlacement> placements;
  float lo = 0, hi = static_cast<float>(size) * 4;
  for (int step = 0; step < 40; ++step) {
    float mid = 0.5f * (lo + hi);
    (Shelve(parts, mid, size, padding, placements) ? lo : hi) = mid;
  }
  Shelve(parts, lo, size, padding, placements);
  const float texel = 1.0f / static_cast<float>(size);
  for (const TPlacement& p : placements) {
    TMeshPart& part = *parts[p.Part];
    part.U0 = (p.X + padding) * texel;
    part.V0 = (p.Y + padding) * texel;
    part.U1 = (p.X + p.W - padding) * texel;
    part.V1 = (p.Y + p.H - padding) * texel;
  }
  for (TMeshBuilder* builder : builders)
    for (TMeshTriangle& t : builder->Triangles) {
      const TMeshPart& part = builder->Parts[t.Part];
      for (TMeshCorner& corner : t.Corners) {
        corner.U = Mix(part.U0, part.U1, corner.U);
        corner.V = Mix(part.V0, part.V1, corner.V);
      }
    }
}

void TMeshBuilder::PackParts(int size, int padding) { forge::PackParts({this}, size, padding); }

std::vector<TVec3> Ring(TVec3 centre, TVec3 a, TVec3 b, float ra, float rb, int count, float exponent,
                        float start) {
  std::vector<TVec3> ring;
  for (int j = 0; j < count; ++j) {
    float angle = start + 2 * Pi * static_cast<float>(j) / static_cast<float>(count);
    float c = std::cos(angle), s = std::sin(angle);
    // A superellipse: |x/ra|^e + |y/rb|^e = 1.
    float power = 2.0f / exponent;
    float x = std::copysign(std::pow(std::fabs(c), power), c);
    float y = std::copysign(std::pow(std::fabs(s), power), s);
    ring.push_back(centre + a * (x * ra) + b * (y * rb));
  }
  return ring;
}

int AddLoft(TMeshBuilder& builder, const TLoft& loft, int material, const TWeightFn& weights, float density) {
  const int rings = static_cast<int>(loft.Rings.size());
  const int count = static_cast<int>(loft.Rings.front().size());
  const int columns = loft.Wrap ? count : count - 1;

  // V runs along the rings' centres, poles included.
  std::vector<TVec3> centres;
  for (const auto& ring : loft.Rings) centres.push_back(Centre(ring));
  std::vector<float> along(rings, 0);
  float length = loft.StartPole ? Length(centres.front() - loft.Start) : 0;
  const float startLength = length;
  for (int i = 0; i < rings; ++i) {
    if (i > 0) length += Length(centres[i] - centres[i - 1]);
    along[i] = length;
  }
  if (loft.EndPole) length += Length(loft.End - centres.back());
  float width = 0;
  for (const auto& ring : loft.Rings) width = std::max(width, Perimeter(ring, loft.Wrap));
  // Caps take texels for their radius too.
  length = std::max(length, 1e-3f);
  const int part = builder.AddPart(material, width, length, density);

  std::vector<std::vector<int>> grid(rings, std::vector<int>(count));
  for (int i = 0; i < rings; ++i)
    for (int j = 0; j < count; ++j) {
      TVec3 p = loft.Rings[i][j];
      grid[i][j] = builder.AddVertex(p, weights(p, static_cast<float>(j) / columns, along[i] / length));
    }
  const std::size_t firstTriangle = builder.Triangles.size();
  auto u = [&](int j) { return static_cast<float>(j) / static_cast<float>(columns); };
  for (int i = 0; i + 1 < rings; ++i) {
    float v0 = along[i] / length, v1 = along[i + 1] / length;
    for (int j = 0; j < columns; ++j) {
      int j1 = (j + 1) % count;
      TMeshCorner a{grid[i][j], u(j), v0}, b{grid[i][j1], u(j + 1), v0};
      TMeshCorner c{grid[i + 1][j], u(j), v1}, d{grid[i + 1][j1], u(j + 1), v1};
      builder.AddTriangle(part, a, b, c);
      builder.AddTriangle(part, b, d, c);
    }
  }
  if (loft.StartPole) {
    int pole = builder.AddVertex(loft.Start, weights(loft.Start, 0.5f, 0));
    for (int j = 0; j < columns; ++j)
      builder.AddTriangle(part, {pole, u(j) + 0.5f / columns, 0},
                          {grid[0][(j + 1) % count], u(j + 1), 0 + startLength / length},
                          {grid[0][j], u(j), startLength / length});
  }
  if (loft.EndPole) {
    int pole = builder.AddVertex(loft.End, weights(loft.End, 0.5f, 1));
    float v = along.back() / length;
    for (int j = 0; j < columns; ++j)
      builder.AddTriangle(part, {grid[rings - 1][j], u(j), v},
                          {grid[rings - 1][(j + 1) % count], u(j + 1), v}, {pole, u(j) + 0.5f / columns, 1});
  }

  // Face away from the rings' centres: measure, and turn all if needed.
  float outward = 0;
  for (std::size_t t = firstTriangle; t < builder.Triangles.size(); ++t) {
    const TMeshTriangle& tri = builder.Triangles[t];
    TVec3 a = builder.Vertices[tri.Corners[0].Vertex].Position;
    TVec3 b = builder.Vertices[tri.Corners[1].Vertex].Position;
    TVec3 c = builder.Vertices[tri.Corners[2].Vertex].Position;
    TVec3 centroid = (a + b + c) * (1.0f / 3);
    // The nearest ring centre stands for the inside.
    TVec3 inside = centres.front();
    for (TVec3 centre : centres)
      if (Length(centre - centroid) < Length(inside - centroid)) inside = centre;
    outward += Dot(Cross(b - a, c - a), centroid - inside);
  }
  if (loft.AutoOrient && outward < 0)
    for (std::size_t t = firstTriangle; t < builder.Triangles.size(); ++t)
      std::swap(builder.Triangles[t].Corners[1], builder.Triangles[t].Corners[2]);
  return part;
}

int AddLathe(TMeshBuilder& builder, TVec3 base, TVec3 top, TVec3 side, const std::vector<float>& profile,
             int count, int material, const TWeightFn& weights, float scaleB, float density) {
  TVec3 axis = Normalize(top - base);
  TVec3 a = Normalize(side - axis * Dot(side, axis));
  TVec3 b = Cross(axis, a);
  TLoft loft;
  const int steps = static_cast<int>(profile.size());
  for (int i = 0; i < steps; ++i) {
    float t = static_cast<float>(i) / static_cast<float>(steps - 1);
    TVec3 centre = Lerp(base, top, t);
    if (i == 0 && profile[i] <= 0) {
      loft.StartPole = true;
      loft.Start = centre;
      continue;
    }
    if (i == steps - 1 && profile[i] <= 0) {
      loft.EndPole = true;
      loft.End = centre;
      continue;
    }
    loft.Rings.push_back(Ring(centre, a, b, profile[i], profile[i] * scaleB, count));
  }
  return AddLoft(builder, loft, material, weights, density);
}

int AddEllipsoid(TMeshBuilder& builder, TVec3 centre, TVec3 radii, int rings, int count, int material,
                 const TWeightFn& weights, float density) {
  TLoft loft;
  loft.StartPole = loft.EndPole = true;
  loft.Start = centre - TVec3{0, radii.Y, 0};
  loft.End = centre + TVec3{0, radii.Y, 0};
  for (int i = 1; i < rings; ++i) {
    float phi = -Pi / 2 + Pi * static_cast<float>(i) / static_cast<float>(rings);
    TVec3 c = centre + TVec3{0, radii.Y * std::sin(phi), 0};
    loft.Rings.push_back(
        Ring(c, {0, 0, 1}, {1, 0, 0}, radii.Z * std::cos(phi), radii.X * std::cos(phi), count, 2, Pi));
  }
  return AddLoft(builder, loft, material, weights, density);
}

int AddCapsule(TMeshBuilder& builder, TVec3 a, TVec3 b, float r, int count, int material,
               const TWeightFn& weights, float density) {
  TVec3 axis = Normalize(b - a);
  TVec3 side = std::fabs(axis.Y) < 0.9f ? Cross(axis, TVec3{0, 1, 0}) : Cross(axis, TVec3{1, 0, 0});
  side = Normalize(side);
  TVec3 other = Cross(axis, side);
  constexpr int CapRings = 4;
  TLoft loft;
  loft.StartPole = loft.EndPole = true;
  loft.Start = a - axis * r;
  loft.End = b + axis * r;
  for (int i = 1; i <= CapRings; ++i) {
    float phi = Pi / 2 * static_cast<float>(i) / CapRings;
    loft.Rings.push_back(
        Ring(a - axis * (r * std::cos(phi)), side, other, r * std::sin(phi), r * std::sin(phi), count));
  }
  for (int i = CapRings; i >= 1; --i) {
    float phi = Pi / 2 * static_cast<float>(i) / CapRings;
    loft.Rings.push_back(
        Ring(b + axis * (r * std::cos(phi)), side, other, r * std::sin(phi), r * std::sin(phi), count));
  }
  return AddLoft(builder, loft, material, weights, density);
}

int AddBox(TMeshBuilder& builder, TVec3 centre, TVec3 ax, TVec3 ay, TVec3 az, int material,
           const TWeightFn& weights, float density) {
  TLoft loft;
  loft.StartPole = loft.EndPole = true;
  loft.Start = centre - ay;
  loft.End = centre + ay;
  for (float side : {-1.0f, 1.0f}) {
    TVec3 c = centre + ay * side;
    loft.Rings.push_back({c + ax + az, c - ax + az, c - ax - az, c + ax - az});
  }
  return AddLoft(builder, loft, material, weights, density);
}

int AddTube(TMeshBuilder& builder, const std::vector<TVec3>& path, const std::vector<float>& radii,
            TVec3 reference, int count, int material, const TWeightFn& weights, float density) {
  TLoft loft;
  const std::size_t n = path.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (radii[i] <= 0 && (i == 0 || i + 1 == n)) {
      (i == 0 ? loft.StartPole : loft.EndPole) = true;
      (i == 0 ? loft.Start : loft.End) = path[i];
      continue;
    }
    TVec3 along = Normalize(path[std::min(i + 1, n - 1)] - path[i > 0 ? i - 1 : 0]);
    TVec3 a = Normalize(reference - along * Dot(reference, along));
    TVec3 b = Cross(along, a);
    loft.Rings.push_back(Ring(path[i], a, b, radii[i], radii[i], count));
  }
  return AddLoft(builder, loft, material, weights, density);
}

int AddSheet(TMeshBuilder& builder, int across, int along, const TSheetFn& sheet, int material,
             const TWeightFn& weights, float density) {
  TLoft loft;
  loft.AutoOrient = false;
  std::vector<std::vector<TVec3>> outers, inners;
  for (int i = 0; i <= along; ++i) {
    float t = static_cast<float>(i) / along;
    std::vector<TVec3> outer(across + 1), inner(across + 1);
    for (int j = 0; j <= across; ++j) sheet(static_cast<float>(j) / across, t, outer[j], inner[j]);
    std::vector<TVec3> ring = outer;
    ring.insert(ring.end(), inner.rbegin(), inner.rend());
    loft.Rings.push_back(ring);
    outers.push_back(outer);
    inners.push_back(inner);
  }
  const std::size_t first = builder.Triangles.size();
  int part = AddLoft(builder, loft, material, weights, density);
  // The outer face must look from the inner face outwards: measure it on
  // the outer face's own triangles (the first half of every ring).
  float outward = 0;
  const int columns = 2 * (across + 1);
  for (std::size_t t = first; t < builder.Triangles.size(); ++t) {
    const TMeshTriangle& tri = builder.Triangles[t];
    int local = static_cast<int>(t - first) / 2;
    int ring = local / columns, column = local % columns;
    if (column >= across || ring >= along) continue;
    TVec3 a = builder.Vertices[tri.Corners[0].Vertex].Position;
    TVec3 b = builder.Vertices[tri.Corners[1].Vertex].Position;
    TVec3 c = builder.Vertices[tri.Corners[2].Vertex].Position;
    outward += Dot(Cross(b - a, c - a), outers[ring][column] - inners[ring][column]);
  }
  if (outward < 0)
    for (std::size_t t = first; t < builder.Triangles.size(); ++t)
      std::swap(builder.Triangles[t].Corners[1], builder.Triangles[t].Corners[2]);
  return part;
}

void FillMesh(const TMeshBuilder& builder, TMesh& mesh) {
  mesh.Vertices.clear();
  mesh.Triangles.clear();
  mesh.Groups.clear();
  mesh.Bindings.clear();
  mesh.Weights.clear();
  for (const TMeshVertex& v : builder.Vertices)
    mesh.Vertices.push_back(
        {{v.Position.X, v.Position.Y, v.Position.Z}, {v.Normal.X, v.Normal.Y, v.Normal.Z}});
  for (const TMeshTriangle& t : builder.Triangles) {
    TL3DTriangle triangle{};
    for (int k = 0; k < 3; ++k) triangle.Corners[k] = {t.Corners[k].Vertex, t.Corners[k].U, t.Corners[k].V};
    mesh.Triangles.push_back(triangle);
  }
  mesh.Groups.push_back({0, static_cast<int32_t>(mesh.Triangles.size()) - 1});
  for (int bone = 0; bone < BoneCount; ++bone) {
    const auto first = static_cast<int32_t>(mesh.Weights.size());
    for (std::size_t v = 0; v < builder.Vertices.size(); ++v)
      for (const TInfluence& w : builder.Vertices[v].Weights)
        if (w.Bone == bone) mesh.Weights.push_back({static_cast<int32_t>(v), w.Weight});
    const auto last = static_cast<int32_t>(mesh.Weights.size()) - 1;
    if (last >= first) mesh.Bindings.push_back({TShortName::From(BoneDef(bone).Name), first, last});
  }
}

}  // namespace forge
