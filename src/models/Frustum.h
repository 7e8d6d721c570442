// The planes of the current view frustum and a sphere test against them;
// the in-game screen skips the map cells that fail it.  Planes is one global
// shared by every caller, recomputed by ExtractFrustum and kept until the
// next call.  User-interface thread only, with the OpenGL context current.
#pragma once

#include <array>

// A plane A·x + B·y + C·z + D = 0 whose unit normal (A, B, C) points into the
// visible volume, so A·x + B·y + C·z + D is the signed distance of a point.
struct TPlane {
  float A = 0, B = 0, C = 0, D = 0;
};

enum : int { PlaneRight, PlaneLeft, PlaneTop, PlaneBottom, PlaneNear, PlaneFar, PlaneCount };

// The frustum in the coordinate frame of the modelview matrix at the time it
// was extracted; all zero before the first extraction (nothing passes then).
extern std::array<TPlane, PlaneCount> Planes;

// Recomputes Planes from the current projection and modelview matrices.
void ExtractFrustum();
// Recomputes Planes from the given matrices (column-major, as OpenGL keeps them).
void ExtractFrustum(const float (&Projection)[16], const float (&Modelview)[16]);

// True when the sphere may be visible: its centre lies strictly inside the
// near and far planes (the radius is not used there) and the sphere reaches
// inside the right, left, top and bottom planes.
bool SphereInFrustum(float X, float Y, float Z, float Radius);

// The cells of one column of a grid on the plane y = 0: the spheres of
// Radius centred at (X, 0, Spacing * j), j from 0 to Count - 1.  Gives a
// range First..Last outside which every sphere fails SphereInFrustum
// against the current Planes, so that only the cells inside it need the
// test; false when the range is empty.  The bounds allow for the rounding
// of the test's own arithmetic, so no sphere that passes it falls outside.
bool ColumnInFrustum(float X, float Spacing, int Count, float Radius, int& First, int& Last);
