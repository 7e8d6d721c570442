// The low levels of detail: a quarter of the triangles that stays on the
// full surface, keeps each kept vertex's bones and texture place, holds
// the outline of an open sheet, and never turns a triangle over.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "Geometry.h"
#include "Meshes.h"
#include "Simplify.h"

namespace {

using namespace forge;

// Farthest a vertex of a character mesh lies from its low level's surface,
// model units (the character is two units tall): the distance at which the
// client switches to the low levels is reckoned from it.
constexpr float MaxCharacterDeviation = 0.025f;

double Area(const TMeshBuilder& b) {
  double area = 0;
  for (const TMeshTriangle& t : b.Triangles) {
    const TVec3 p = b.Vertices[t.Corners[0].Vertex].Position, q = b.Vertices[t.Corners[1].Vertex].Position,
                r = b.Vertices[t.Corners[2].Vertex].Position;
    area += 0.5 * Length(Cross(q - p, r - p));
  }
  return area;
}

bool SameWeights(const TWeights& a, const TWeights& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k)
    if (a[k].Bone != b[k].Bone || a[k].Weight != b[k].Weight) return false;
  return true;
}

// Each vertex of low is a vertex of full, with its weights, and each corner
// of low has a texture coordinate that vertex has in the same part of full.
void ExpectMadeOfTheFullMesh(const TMeshBuilder& full, const TMeshBuilder& low, const std::string& name) {
  for (const TMeshTriangle& t : low.Triangles)
    for (const TMeshCorner& c : t.Corners) {
      ASSERT_GE(c.Vertex, 0) << name;
      ASSERT_LT(std::size_t(c.Vertex), low.Vertices.size()) << name;
      const TMeshVertex& v = low.Vertices[std::size_t(c.Vertex)];
      bool found = false;
      for (const TMeshTriangle& f : full.Triangles)
        for (const TMeshCorner& fc : f.Corners) {
          const TMeshVertex& fv = full.Vertices[std::size_t(fc.Vertex)];
          if (!found && f.Part == t.Part && fc.U == c.U && fc.V == c.V && fv.Position.X == v.Position.X &&
              fv.Position.Y == v.Position.Y && fv.Position.Z == v.Position.Z)
            found = SameWeights(fv.Weights, v.Weights);
        }
      ASSERT_TRUE(found) << name << ": a corner of the low level is no corner of the mesh";
    }
}

TEST(Simplify, CharacterMeshesKeepAQuarterOfTheirTrianglesOnTheirOwnSurface) {
  struct TCase {
    std::string Name;
    TMeshBuilder Mesh;
  };
  TCase cases[] = {{"body", BuildBody()},
                   {"human head", BuildHead(TRace::Human)},
                   {"hair 5", BuildHair(5)},
                   {"beard 1", BuildBeard(1)}};
  for (TCase& c : cases) {
    c.Mesh.PackParts(256, 3);
    const std::size_t target = std::size_t(float(c.Mesh.Triangles.size()) * LowDetailShare);
    const TMeshBuilder low = Simplify(c.Mesh, target);
    EXPECT_LE(low.Triangles.size(), target) << c.Name;
    EXPECT_GE(low.Triangles.size(), target * 9 / 10) << c.Name << ": more removed than asked";
    ExpectMadeOfTheFullMesh(c.Mesh, low, c.Name);
    const float deviation = SurfaceDeviation(c.Mesh, low);
    EXPECT_LT(deviation, MaxCharacterDeviation) << c.Name;
    std::printf("%s: %zu -> %zu triangles, deviation %.4f\n", c.Name.c_str(), c.Mesh.Triangles.size(),
                low.Triangles.size(), double(deviation));
  }
}

// A flat square sheet of 10 x 10 cells, open all round: whatever is
// removed, the rest still covers the whole square, flat and face up.
TEST(Simplify, AnOpenSheetKeepsItsOutlineAndFacesTheSameWay) {
  constexpr int Side = 10;
  TMeshBuilder sheet;
  const int part = sheet.AddPart(0, 1, 1);
  for (int j = 0; j <= Side; ++j)
    for (int i = 0; i <= Side; ++i) sheet.AddVertex({float(i), 0, float(j)}, One(0));
  auto at = [](int i, int j) { return j * (Side + 1) + i; };
  auto corner = [&](int i, int j) { return TMeshCorner{at(i, j), float(i) / Side, float(j) / Side}; };
  for (int j = 0; j < Side; ++j)
    for (int i = 0; i < Side; ++i) {
      sheet.AddTriangle(part, corner(i, j), corner(i, j + 1), corner(i + 1, j + 1));
      sheet.AddTriangle(part, corner(i, j), corner(i + 1, j + 1), corner(i + 1, j));
    }
  const TMeshBuilder low = Simplify(sheet, 8);
  EXPECT_LT(low.Triangles.size(), sheet.Triangles.size() / 4);
  EXPECT_NEAR(Area(low), double(Side * Side), 1e-3) << "the outline moved, or triangles overlap";
  for (const TMeshTriangle& t : low.Triangles) {
    const TVec3 p = low.Vertices[t.Corners[0].Vertex].Position,
                q = low.Vertices[t.Corners[1].Vertex].Position,
                r = low.Vertices[t.Corners[2].Vertex].Position;
    EXPECT_GT(Cross(q - p, r - p).Y, 0) << "a triangle turned over";
    for (const TMeshCorner& c : t.Corners) {
      // The texture stays where it was: U, V still follow x and z.
      const TVec3 v = low.Vertices[c.Vertex].Position;
      EXPECT_FLOAT_EQ(c.U * Side, v.X);
      EXPECT_FLOAT_EQ(c.V * Side, v.Z);
    }
  }
}

}  // namespace
