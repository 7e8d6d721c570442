#include "Simplify.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <queue>

namespace forge {

namespace {

// An open edge is held by a plane across it, this many times as heavy as
// the surface's own planes, so that the outline of a sheet stays put.
constexpr double OpenEdgeWeight = 100.0;
// A collapse may turn a remaining triangle's normal by less than this
// (cosine of about 78 degrees).
constexpr double MinNormalCosine = 0.2;

// The quadric of a set of planes: the sum of the squared distances of a
// point to them, as the ten distinct entries of a symmetric 4 x 4 matrix.
struct TQuadric {
  std::array<double, 10> Q{};

  static TQuadric Plane(double a, double b, double c, double d, double weight) {
    TQuadric q;
    q.Q = {a * a, a * b, a * c, a * d, b * b, b * c, b * d, c * c, c * d, d * d};
    for (double& e : q.Q) e *= weight;
    return q;
  }
  TQuadric& operator+=(const TQuadric& o) {
    for (std::size_t k = 0; k < Q.size(); ++k) Q[k] += o.Q[k];
    return *this;
  }
  double Error(TVec3 p) const {
    const double x = p.X, y = p.Y, z = p.Z;
    return Q[0] * x * x + 2 * Q[1] * x * y + 2 * Q[2] * x * z + 2 * Q[3] * x + Q[4] * y * y +
           2 * Q[5] * y * z + 2 * Q[6] * y + Q[7] * z * z + 2 * Q[8] * z + Q[9];
  }
};

struct TCandidate {
  double Cost;
  int From, To;  // From moves onto To
  unsigned FromStamp, ToStamp;
  bool operator>(const TCandidate& o) const {
    if (Cost != o.Cost) return Cost > o.Cost;
    if (From != o.From) return From > o.From;
    return To > o.To;
  }
};

class TSimplifier {
 public:
  explicit TSimplifier(const TMeshBuilder& mesh) : FMesh(mesh) {
    const std::size_t n = mesh.Vertices.size();
    FQuadrics.resize(n);
    FTrianglesOf.resize(n);
    FStamps.assign(n, 0);
    FGone.assign(n, false);
    FTriangles = mesh.Triangles;
    FAlive.assign(FTriangles.size(), true);
    FLive = FTriangles.size();
    for (std::size_t t = 0; t < FTriangles.size(); ++t)
      for (const TMeshCorner& c : FTriangles[t].Corners)
        FTrianglesOf[std::size_t(c.Vertex)].push_back(int(t));
    AddSurfacePlanes();
    AddOpenEdgePlanes();
  }

  TMeshBuilder Run(std::size_t target) {
    for (std::size_t v = 0; v < FMesh.Vertices.size(); ++v) PushEdgesOf(int(v));
    while (FLive > target && !FQueue.empty()) {
      const TCandidate c = FQueue.top();
      FQueue.pop();
      if (FGone[std::size_t(c.From)] || FGone[std::size_t(c.To)]) continue;
      if (c.FromStamp != FStamps[std::size_t(c.From)] || c.ToStamp != FStamps[std::size_t(c.To)]) continue;
      if (!Allowed(c.From, c.To)) continue;
      Collapse(c.From, c.To);
    }
    return Result();
  }

 private:
  TVec3 At(int v) const { return FMesh.Vertices[std::size_t(v)].Position; }

  TVec3 FaceNormal(const TMeshTriangle& t) const {
    return Cross(At(t.Corners[1].Vertex) - At(t.Corners[0].Vertex),
                 At(t.Corners[2].Vertex) - At(t.Corners[0].Vertex));
  }

  // Each triangle's plane on its three corners, weighted by its area plus
  // the mean area: large faces weigh more, yet the small parts (fingers,
  // locks) are not given away for nothing.
  void AddSurfacePlanes() {
    double total = 0;
    for (const TMeshTriangle& t : FTriangles) total += Length(FaceNormal(t));
    const double mean = FTriangles.empty() ? 0 : total / double(FTriangles.size());
    for (const TMeshTriangle& t : FTriangles) {
      const TVec3 n = FaceNormal(t);
      const double area = Length(n);
      if (!(area > 0)) continue;
      const TVec3 u = n * float(1 / area);
      const double d = -Dot(u, At(t.Corners[0].Vertex));
      const TQuadric q = TQuadric::Plane(u.X, u.Y, u.Z, d, area + mean);
      for (const TMeshCorner& c : t.Corners) FQuadrics[std::size_t(c.Vertex)] += q;
    }
  }

  // An edge used by one triangle only gets a heavy plane through it,
  // upright on the triangle.
  void AddOpenEdgePlanes() {
    for (const TMeshTriangle& t : FTriangles)
      for (int k = 0; k < 3; ++k) {
        const int a = t.Corners[k].Vertex, b = t.Corners[(k + 1) % 3].Vertex;
        if (SharedBy(a, b) != 1) continue;
        const TVec3 edge = At(b) - At(a);
        const TVec3 across = Normalize(Cross(edge, Normalize(FaceNormal(t))));
        if (Length(across) == 0) continue;
        const double d = -Dot(across, At(a));
        const TQuadric q = TQuadric::Plane(across.X, across.Y, across.Z, d, OpenEdgeWeight * Dot(edge, edge));
        FQuadrics[std::size_t(a)] += q;
        FQuadrics[std::size_t(b)] += q;
      }
  }

  static bool Has(const TMeshTriangle& t, int v) {
    return t.Corners[0].Vertex == v || t.Corners[1].Vertex == v || t.Corners[2].Vertex == v;
  }

  int SharedBy(int a, int b) const {
    int count = 0;
    for (int t : FTrianglesOf[std::size_t(a)])
      if (FAlive[std::size_t(t)] && Has(FTriangles[std::size_t(t)], b)) ++count;
    return count;
  }

  void PushEdgesOf(int v) {
    for (int t : FTrianglesOf[std::size_t(v)]) {
      if (!FAlive[std::size_t(t)]) continue;
      for (const TMeshCorner& c : FTriangles[std::size_t(t)].Corners) {
        const int w = c.Vertex;
        if (w == v) continue;
        Push(v, w);
        Push(w, v);
      }
    }
  }

  void Push(int from, int to) {
    TQuadric q = FQuadrics[std::size_t(from)];
    q += FQuadrics[std::size_t(to)];
    FQueue.push({q.Error(At(to)), from, to, FStamps[std::size_t(from)], FStamps[std::size_t(to)]});
  }

  // The texture coordinate `to` has in part, nearest to (u, v); false when
  // `to` lies in no triangle of that part.
  bool UVIn(int to, int part, float u, float v, float& outU, float& outV) const {
    bool found = false;
    float best = std::numeric_limits<float>::max();
    for (int t : FTrianglesOf[std::size_t(to)]) {
      const TMeshTriangle& tri = FTriangles[std::size_t(t)];
      if (!FAlive[std::size_t(t)] || tri.Part != part) continue;
      for (const TMeshCorner& c : tri.Corners)
        if (c.Vertex == to) {
          const float d = (c.U - u) * (c.U - u) + (c.V - v) * (c.V - v);
          if (d < best) {
            best = d;
            outU = c.U;
            outV = c.V;
            found = true;
          }
        }
    }
    return found;
  }

  bool Allowed(int from, int to) const {
    for (int t : FTrianglesOf[std::size_t(from)]) {
      const TMeshTriangle& tri = FTriangles[std::size_t(t)];
      if (!FAlive[std::size_t(t)] || Has(tri, to)) continue;
      TMeshTriangle moved = tri;
      for (TMeshCorner& c : moved.Corners) {
        if (c.Vertex != from) continue;
        float u = 0, v = 0;
        if (!UVIn(to, tri.Part, c.U, c.V, u, v)) return false;
        c.Vertex = to;
      }
      const TVec3 before = FaceNormal(tri), after = FaceNormal(moved);
      const double lengths = double(Length(before)) * Length(after);
      if (!(lengths > 0) || Dot(before, after) < MinNormalCosine * lengths) return false;
    }
    return true;
  }

  void Collapse(int from, int to) {
    // The texture coordinates are taken while the triangles around the
    // edge, which may hold the only ones `to` has in a part, still live.
    std::vector<int>& moved = FMoved;
    moved.clear();
    for (int t : FTrianglesOf[std::size_t(from)]) {
      if (!FAlive[std::size_t(t)]) continue;
      TMeshTriangle& tri = FTriangles[std::size_t(t)];
      if (Has(tri, to)) continue;
      for (TMeshCorner& c : tri.Corners)
        if (c.Vertex == from) UVIn(to, tri.Part, c.U, c.V, c.U, c.V);
      moved.push_back(t);
    }
    for (int t : FTrianglesOf[std::size_t(from)]) {
      if (!FAlive[std::size_t(t)]) continue;
      TMeshTriangle& tri = FTriangles[std::size_t(t)];
      if (Has(tri, to)) {
        FAlive[std::size_t(t)] = false;
        --FLive;
      }
    }
    for (int t : moved) {
      for (TMeshCorner& c : FTriangles[std::size_t(t)].Corners)
        if (c.Vertex == from) c.Vertex = to;
      FTrianglesOf[std::size_t(to)].push_back(t);
    }
    FTrianglesOf[std::size_t(from)].clear();
    FGone[std::size_t(from)] = true;
    FQuadrics[std::size_t(to)] += FQuadrics[std::size_t(from)];
    ++FStamps[std::size_t(to)];
    PushEdgesOf(to);
  }

  // The live triangles in their first order, over the vertices they use.
  TMeshBuilder Result() const {
    TMeshBuilder low;
    low.Parts = FMesh.Parts;
    std::vector<int> newIndex(FMesh.Vertices.size(), -1);
    for (std::size_t t = 0; t < FTriangles.size(); ++t) {
      if (!FAlive[t]) continue;
      TMeshTriangle tri = FTriangles[t];
      for (TMeshCorner& c : tri.Corners) {
        int& index = newIndex[std::size_t(c.Vertex)];
        if (index < 0) {
          index = int(low.Vertices.size());
          low.Vertices.push_back(FMesh.Vertices[std::size_t(c.Vertex)]);
        }
        c.Vertex = index;
      }
      low.Triangles.push_back(tri);
    }
    low.ComputeNormals();
    return low;
  }

  const TMeshBuilder& FMesh;
  std::vector<TMeshTriangle> FTriangles;
  std::vector<bool> FAlive;
  std::size_t FLive = 0;
  std::vector<TQuadric> FQuadrics;
  std::vector<std::vector<int>> FTrianglesOf;
  std::vector<unsigned> FStamps;
  std::vector<bool> FGone;
  std::vector<int> FMoved;  // Collapse's triangles that change a corner
  std::priority_queue<TCandidate, std::vector<TCandidate>, std::greater<TCandidate>> FQueue;
};

// Distance from p to the triangle abc.
float PointTriangleDistance(TVec3 p, TVec3 a, TVec3 b, TVec3 c) {
  const TVec3 n = Cross(b - a, c - a);
  const float n2 = Dot(n, n);
  if (n2 > 0) {
    // Inside the prism over the triangle: the distance to its plane.
    const TVec3 q = p - n * (Dot(p - a, n) / n2);
    const float u = Dot(Cross(b - q, c - q), n), v = Dot(Cross(c - q, a - q), n),
                w = Dot(Cross(a - q, b - q), n);
    if (u >= 0 && v >= 0 && w >= 0) return Length(p - q);
  }
  auto segment = [p](TVec3 s, TVec3 e) {
    const TVec3 d = e - s;
    const float l2 = Dot(d, d);
    const float t = l2 > 0 ? Clamp(Dot(p - s, d) / l2, 0, 1) : 0;
    return Length(p - (s + d * t));
  };
  return std::min({segment(a, b), segment(b, c), segment(c, a)});
}

}  // namespace

TMeshBuilder Simplify(const TMeshBuilder& mesh, std::size_t targetTriangles) {
  return TSimplifier(mesh).Run(targetTriangles);
}

float SurfaceDeviation(const TMeshBuilder& mesh, const TMeshBuilder& low) {
  float worst = 0;
  for (const TMeshVertex& v : mesh.Vertices) {
    float nearest = std::numeric_limits<float>::max();
    for (const TMeshTriangle& t : low.Triangles)
      nearest = std::min(
          nearest, PointTriangleDistance(v.Position, low.Vertices[std::size_t(t.Corners[0].Vertex)].Position,
                                         low.Vertices[std::size_t(t.Corners[1].Vertex)].Position,
                                         low.Vertices[std::size_t(t.Corners[2].Vertex)].Position));
    worst = std::max(worst, nearest);
  }
  return worst;
}

}  // namespace forge
