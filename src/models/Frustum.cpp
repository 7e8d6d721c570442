#include "models/Frustum.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <limits>

std::array<TPlane, PlaneCount> Planes{};

void ExtractFrustum() {
  float projection[16];
  float modelview[16];
  glGetFloatv(GL_PROJECTION_MATRIX, projection);
  glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
  ExtractFrustum(projection, modelview);
}

namespace {

// One plane from the combined clip matrix: row 3 plus or minus row `column`
// (sign +1 or -1), normalised so that its distances are in world units.
TPlane PlaneOf(const float (&clip)[16], int column, float sign) {
  TPlane p;
  p.A = clip[3] + sign * clip[column];
  p.B = clip[7] + sign * clip[4 + column];
  p.C = clip[11] + sign * clip[8 + column];
  p.D = clip[15] + sign * clip[12 + column];
  const float scale = 1 / std::sqrt(p.A * p.A + p.B * p.B + p.C * p.C);
  p.A *= scale;
  p.B *= scale;
  p.C *= scale;
  p.D *= scale;
  return p;
}

float Distance(const TPlane& p, float X, float Y, float Z) { return p.A * X + p.B * Y + p.C * Z + p.D; }

}  // namespace

void ExtractFrustum(const float (&Projection)[16], const float (&Modelview)[16]) {
  const float(&P)[16] = Projection;
  const float(&M)[16] = Modelview;
  float clip[16];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      clip[4 * i + j] =
          M[4 * i] * P[j] + M[4 * i + 1] * P[4 + j] + M[4 * i + 2] * P[8 + j] + M[4 * i + 3] * P[12 + j];

  Planes[PlaneRight] = PlaneOf(clip, 0, -1);
  Planes[PlaneLeft] = PlaneOf(clip, 0, +1);
  Planes[PlaneTop] = PlaneOf(clip, 1, -1);
  Planes[PlaneBottom] = PlaneOf(clip, 1, +1);
  Planes[PlaneNear] = PlaneOf(clip, 2, +1);
  Planes[PlaneFar] = PlaneOf(clip, 2, -1);
}

bool SphereInFrustum(float X, float Y, float Z, float Radius) {
  // Near and far first: they reject most of the map when the camera looks
  // along the floor.  Only the centre counts against them.
  if (!(Distance(Planes[PlaneNear], X, Y, Z) > 0)) return false;
  if (!(Distance(Planes[PlaneFar], X, Y, Z) > 0)) return false;
  for (int i = PlaneRight; i <= PlaneBottom; ++i)
    if (!(Distance(Planes[i], X, Y, Z) > -Radius)) return false;
  return true;
}

namespace {

// The relative rounding of one float operation.
constexpr double FloatRounding = std::numeric_limits<float>::epsilon() / 2;
// Rounds the test's four operations may add up to, with room to spare:
// twice the error of the sum a * X + b * Y + c * Z + d, each of its terms
// at most its magnitude.
constexpr double DistanceRoundings = 8;
// Whole cells kept beyond each computed bound, for the rounding of the
// bounds themselves.
constexpr double SpareCells = 1;

// Narrows First..Last to the cells j for which the plane's exact distance
// at (X, 0, Spacing * j) exceeds Threshold - Slack, where Slack is more
// than the rounding of SphereInFrustum's float distance; outside them the
// float distance cannot exceed Threshold.  A plane whose numbers are not
// finite narrows nothing: the test itself rejects its cells.
void NarrowColumn(const TPlane& p, double threshold, double X, double spacing, int count, int& first,
                  int& last) {
  const double a = p.A, c = p.C, d = p.D;
  if (!std::isfinite(a) || !std::isfinite(c) || !std::isfinite(d)) return;
  const double farthestZ = spacing * double(count - 1);
  const double slack = DistanceRoundings * FloatRounding *
                       (std::abs(a * X) + std::abs(c) * farthestZ + std::abs(d) + std::abs(threshold));
  const double need = threshold - slack - a * X - d;  // c * Z must exceed this
  if (c == 0) {
    if (!(0 > need)) last = -1;  // no cell of the column passes
    return;
  }
  const double j = need / (c * spacing);
  if (!std::isfinite(j)) return;
  if (c > 0) {
    if (j - SpareCells > double(first)) first = int(std::min(std::floor(j - SpareCells), double(count)));
  } else {
    if (j + SpareCells < double(last)) last = int(std::max(std::ceil(j + SpareCells), -1.0));
  }
}

}  // namespace

bool ColumnInFrustum(float X, float Spacing, int Count, float Radius, int& First, int& Last) {
  First = 0;
  Last = Count - 1;
  // The same thresholds as SphereInFrustum: the centre alone against near
  // and far, the whole sphere against the sides.
  NarrowColumn(Planes[PlaneNear], 0, X, Spacing, Count, First, Last);
  NarrowColumn(Planes[PlaneFar], 0, X, Spacing, Count, First, Last);
  for (int i = PlaneRight; i <= PlaneBottom; ++i)
    NarrowColumn(Planes[i], -double(Radius), X, Spacing, Count, First, Last);
  return First <= Last;
}
