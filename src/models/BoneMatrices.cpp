#include "models/BoneMatrices.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {
// OpenGL's rotation leaves the matrix alone for an axis shorter than this.
constexpr double ShortestAxis = 1.0e-4;
}  // namespace

TBoneMatrix MultiplyMatrices(const TBoneMatrix& a, const TBoneMatrix& b) {
  TBoneMatrix r;
  for (int column = 0; column < 4; ++column) {
    const float b0 = b[column * 4], b1 = b[column * 4 + 1], b2 = b[column * 4 + 2], b3 = b[column * 4 + 3];
    for (int row = 0; row < 4; ++row)
      r[column * 4 + row] = a[row] * b0 + a[4 + row] * b1 + a[8 + row] * b2 + a[12 + row] * b3;
  }
  return r;
}

TBoneMatrix TranslationMatrix(float x, float y, float z) {
  TBoneMatrix m = IdentityMatrix;
  m[12] = x;
  m[13] = y;
  m[14] = z;
  return m;
}

TBoneMatrix RotationMatrix(double degrees, double x, double y, double z) {
  const double length = std::sqrt(x * x + y * y + z * z);
  if (!(length > ShortestAxis)) return IdentityMatrix;
  x /= length;
  y /= length;
  z /= length;
  const double radians = degrees * std::numbers::pi / 180;
  const double c = std::cos(radians), s = std::sin(radians), k = 1 - c;
  return {float(x * x * k + c),
          float(y * x * k + z * s),
          float(x * z * k - y * s),
          0,
          float(x * y * k - z * s),
          float(y * y * k + c),
          float(y * z * k + x * s),
          0,
          float(x * z * k + y * s),
          float(y * z * k - x * s),
          float(z * z * k + c),
          0,
          0,
          0,
          0,
          1};
}

TBoneMatrix QuaternionMatrix(const TVector4& q) {
  // A blended quaternion may have its scalar part a hair outside [-1, 1].
  const double w = std::clamp(double(q.W), -1.0, 1.0);
  const double length2 = double(q.X) * q.X + double(q.Y) * q.Y + double(q.Z) * q.Z;
  if (!(length2 > 0)) return IdentityMatrix;  // no axis: no rotation
  const double degrees = 2 * std::acos(w) * 180 / std::numbers::pi;
  // Only the axis's direction matters, as glRotatef normalises it; scaled
  // as RotateByQuaternion scales it, so that the same short axes turn
  // nothing.
  const double s = 1 / length2;
  return RotationMatrix(degrees, q.X * s, q.Y * s, q.Z * s);
}
