#include "Vectors.h"

namespace forge {

namespace {

// The quaternion of a rotation matrix given by rows (r[row][column]).
TQuat QuatFromRows(const float r[3][3]) {
  float trace = r[0][0] + r[1][1] + r[2][2];
  TQuat q;
  if (trace > 0) {
    float s = std::sqrt(trace + 1.0f) * 2;
    q = {(r[2][1] - r[1][2]) / s, (r[0][2] - r[2][0]) / s, (r[1][0] - r[0][1]) / s, 0.25f * s};
  } else if (r[0][0] > r[1][1] && r[0][0] > r[2][2]) {
    float s = std::sqrt(1.0f + r[0][0] - r[1][1] - r[2][2]) * 2;
    q = {0.25f * s, (r[0][1] + r[1][0]) / s, (r[0][2] + r[2][0]) / s, (r[2][1] - r[1][2]) / s};
  } else if (r[1][1] > r[2][2]) {
    float s = std::sqrt(1.0f + r[1][1] - r[0][0] - r[2][2]) * 2;
    q = {(r[0][1] + r[1][0]) / s, 0.25f * s, (r[1][2] + r[2][1]) / s, (r[0][2] - r[2][0]) / s};
  } else {
    float s = std::sqrt(1.0f + r[2][2] - r[0][0] - r[1][1]) * 2;
    q = {(r[0][2] + r[2][0]) / s, (r[1][2] + r[2][1]) / s, 0.25f * s, (r[1][0] - r[0][1]) / s};
  }
  return NormalizeQuat(q);
}

}  // namespace

TQuat QuatFromFrames(TVec3 x0, TVec3 y0, TVec3 z0, TVec3 x1, TVec3 y1, TVec3 z1) {
  // R = F1 * F0^T, the frames as columns.
  const TVec3 f0[3] = {x0, y0, z0};
  const TVec3 f1[3] = {x1, y1, z1};
  float r[3][3];
  auto component = [](TVec3 v, int i) { return i == 0 ? v.X : i == 1 ? v.Y : v.Z; };
  for (int row = 0; row < 3; ++row)
    for (int column = 0; column < 3; ++column) {
      float sum = 0;
      for (int k = 0; k < 3; ++k) sum += component(f1[k], row) * component(f0[k], column);
      r[row][column] = sum;
    }
  return QuatFromRows(r);
}

TQuat RotationBetween(TVec3 a, TVec3 b) {
  a = Normalize(a);
  b = Normalize(b);
  float d = Dot(a, b);
  if (d > 0.999999f) return {};
  if (d < -0.999999f) {
    TVec3 axis = Cross({1, 0, 0}, a);
    if (Length(axis) < 1e-4f) axis = Cross({0, 1, 0}, a);
    return AxisAngle(axis, 180);
  }
  TVec3 c = Cross(a, b);
  return NormalizeQuat({c.X, c.Y, c.Z, 1 + d});
}

TMat4 operator*(const TMat4& a, const TMat4& b) {
  TMat4 r;
  for (int column = 0; column < 4; ++column)
    for (int row = 0; row < 4; ++row) {
      float sum = 0;
      for (int k = 0; k < 4; ++k) sum += a.M[k * 4 + row] * b.M[column * 4 + k];
      r.M[column * 4 + row] = sum;
    }
  return r;
}

TMat4 TranslateRotate(TVec3 t, TQuat q) {
  TVec3 x = Rotate(q, {1, 0, 0}), y = Rotate(q, {0, 1, 0}), z = Rotate(q, {0, 0, 1});
  TMat4 m;
  m.M = {x.X, x.Y, x.Z, 0, y.X, y.Y, y.Z, 0, z.X, z.Y, z.Z, 0, t.X, t.Y, t.Z, 1};
  return m;
}

TQuat RotationOf(const TMat4& m) {
  const float r[3][3] = {{m.M[0], m.M[4], m.M[8]}, {m.M[1], m.M[5], m.M[9]}, {m.M[2], m.M[6], m.M[10]}};
  return QuatFromRows(r);
}

}  // namespace forge
