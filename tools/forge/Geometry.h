// The geometry kit the characters are modelled with: a mesh under
// construction (vertices bound to bones with weights, triangles with their
// own texture coordinates per corner, grouped in parts that each get a
// rectangle of the texture), lofted surfaces through rings of points (tubes,
// lathes, capsules, ellipsoids, boxes), the packing of the parts into one
// texture and the conversion into the mesh file's records.
#pragma once

#include <functional>
#include <vector>

#include "Vectors.h"

class TMesh;

namespace forge {

struct TInfluence {
  int Bone;
  float Weight;
};
// The bones that move a vertex, with weights summing to 1.
using TWeights = std::vector<TInfluence>;

TWeights One(int bone);
// (1 - t) of a and t of b; t is clamped to [0, 1].
TWeights Blend(const TWeights& a, const TWeights& b, float t);
inline TWeights Blend(int a, int b, float t) { return Blend(One(a), One(b), t); }

struct TMeshVertex {
  TVec3 Position;
  TWeights Weights;
  TVec3 Normal;  // filled by ComputeNormals
};

struct TMeshCorner {
  int Vertex;
  float U, V;  // inside the part's own square until PackParts, then in the texture
};

struct TMeshTriangle {
  TMeshCorner Corners[3];
  int Part;
};

// A piece of surface with its own rectangle of the texture.  Width and
// Height are its extent in model units, so that every part gets texels in
// proportion to its size (times Density).
struct TMeshPart {
  int Material = 0;
  float Width = 1, Height = 1;
  float Density = 1;
  // Where PackParts put it, in texture coordinates.
  float U0 = 0, V0 = 0, U1 = 1, V1 = 1;
};

class TMeshBuilder {
 public:
  int AddPart(int material, float width, float height, float density = 1);
  int AddVertex(TVec3 position, TWeights weights);
  void AddTriangle(int part, TMeshCorner a, TMeshCorner b, TMeshCorner c);
  // Appends everything of another builder.
  void Append(const TMeshBuilder& other);

  // Area-weighted vertex normals from the triangles.
  void ComputeNormals();
  // Lays every part's square out on a texture of size x size texels, with
  // padding texels around each, at the largest common density that fits,
  // and moves the corners' coordinates there.
  void PackParts(int size, int padding);

  std::vector<TMeshVertex> Vertices;
  std::vector<TMeshTriangle> Triangles;
  std::vector<TMeshPart> Parts;
};

// The bones and weights of a point of a surface: its position and where it
// lies on the surface (U around, V along, both 0 to 1).
using TWeightFn = std::function<TWeights(TVec3 position, float u, float v)>;
inline TWeightFn Rigid(int bone) {
  return [bone](TVec3, float, float) { return One(bone); };
}

// A lofted surface: rings of points, each ring with the same count, from the
// first to the last.  A closed ring wraps around; the ends may close on a pole
// point.  The triangles face away from the rings' centres.
struct TLoft {
  std::vector<std::vector<TVec3>> Rings;
  bool Wrap = true;
  bool StartPole = false, EndPole = false;
  TVec3 Start, End;  // the poles
  // Turn the triangles to face away from the rings' centres; when false
  // they keep the winding the rings give (the caller checks it).
  bool AutoOrient = true;
};

// PackParts over the parts of several meshes that share one texture.
void PackParts(const std::vector<TMeshBuilder*>& builders, int size, int padding);

// Adds a loft as one part of the builder; returns the part.
int AddLoft(TMeshBuilder& builder, const TLoft& loft, int material, const TWeightFn& weights,
            float density = 1);

// A ring of count points around centre in the plane of axes a and b, a
// superellipse with radii ra and rb (exponent 2 is an ellipse, higher is
// boxier), the first point at angle start (radians, from a towards b).
std::vector<TVec3> Ring(TVec3 centre, TVec3 a, TVec3 b, float ra, float rb, int count, float exponent = 2,
                        float start = 0);

// Convenience shapes, each one closed part.
// A body of revolution about the segment from base to top: profile gives
// the radius at each fraction of the way (0 and 1 close on poles); side is
// a direction across the axis where U = 0 lies; scaleB squashes the rings
// along the second axis.
int AddLathe(TMeshBuilder& builder, TVec3 base, TVec3 top, TVec3 side, const std::vector<float>& profile,
             int count, int material, const TWeightFn& weights, float scaleB = 1, float density = 1);
int AddEllipsoid(TMeshBuilder& builder, TVec3 centre, TVec3 radii, int rings, int count, int material,
                 const TWeightFn& weights, float density = 1);
// A capsule between two points: a cylinder of radius r with round ends.
int AddCapsule(TMeshBuilder& builder, TVec3 a, TVec3 b, float r, int count, int material,
               const TWeightFn& weights, float density = 1);
// A box given by its centre and three half-axis vectors.
int AddBox(TMeshBuilder& builder, TVec3 centre, TVec3 ax, TVec3 ay, TVec3 az, int material,
           const TWeightFn& weights, float density = 1);

// A tube along a path: a ring of count points at each path point, across
// the path, with the given radii (a radius of 0 at an end closes it on a
// pole).  U = 0 lies towards reference.
int AddTube(TMeshBuilder& builder, const std::vector<TVec3>& path, const std::vector<float>& radii,
            TVec3 reference, int count, int material, const TWeightFn& weights, float density = 1);

// A thick sheet: for each (s, t) in [0, 1]^2 the points of its two faces
// (outer, inner).  Rings run along s, out on the outer face and back on the
// inner one, and follow each other along t; the sheet's edges at t = 0 and
// t = 1 close where the two faces meet.  Triangles of the outer face face
// from inner to outer.
using TSheetFn = std::function<void(float s, float t, TVec3& outer, TVec3& inner)>;
int AddSheet(TMeshBuilder& builder, int across, int along, const TSheetFn& sheet, int material,
             const TWeightFn& weights, float density = 1);

// The mesh file's records: vertices with normals, triangles, one group
// over all triangles (texture 0), one binding per bone that moves any
// vertex, with names from the skeleton.
void FillMesh(const TMeshBuilder& builder, TMesh& mesh);

}  // namespace forge
