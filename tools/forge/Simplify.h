// The lower levels of detail of a mesh: the same surface, bones and
// texture with fewer triangles, made by collapsing the edges whose loss
// changes the shape least (the quadric error of the planes around each
// vertex).  The characters' shadows and the characters seen from afar are
// drawn from these levels.
#pragma once

#include <cstddef>

#include "Geometry.h"

namespace forge {

// Fraction of a mesh's triangles its low level keeps.
constexpr float LowDetailShare = 0.25f;

// The mesh with at most targetTriangles triangles, or as few as the
// collapses allowed.  A collapse moves one vertex onto a neighbour, which
// keeps its position, weights and the texture coordinates it has in each
// part; no collapse joins parts or turns a triangle over, and open edges
// are held in place, so the outline and the texture stay where they were.
TMeshBuilder Simplify(const TMeshBuilder& mesh, std::size_t targetTriangles);

// The greatest distance from a vertex of mesh to the surface of low, model
// units: how far the low level strays from the mesh it was made from.
float SurfaceDeviation(const TMeshBuilder& mesh, const TMeshBuilder& low);

}  // namespace forge
