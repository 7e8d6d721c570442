// Surface looks shared by the painters of the characters and the knight:
// polished steel that mirrors a bright sky and a dark ground, mail, cloth,
// leather, gold, and the emblem of the game.  Each takes the lighting from
// the surface normal itself (the game draws the characters unlit).
#pragma once

#include "Paint.h"
#include "Vectors.h"

namespace forge {

TColor Steel(TVec3 normal, float grime = 0);
TColor Gold(TVec3 normal);
// Mail: small rings at a position on the surface (any 3D point).
TColor Mail(TVec3 position, TVec3 normal);
TColor Cloth(TColor base, TVec3 position, TVec3 normal);
TColor Leather(TColor base, TVec3 position, TVec3 normal);

// Distance from p to the segment a-b, in the plane.
float SegmentDistance(float px, float py, float ax, float ay, float bx, float by);
// The emblem (a Z in a ring) in a square of side 2 centred on 0: the
// coverage of the gold at (x, y), soft over the width aa.
float Emblem(float x, float y, float aa);

}  // namespace forge
