// The generator's small vector kit: 3-vectors, unit quaternions (X, Y, Z,
// W with W the scalar part, the convention of the motion files) and 4 x 4
// matrices in OpenGL's column-major order.  Plain value types with free
// functions; angles are given in degrees where a caller writes them by hand.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>

namespace forge {

constexpr float Pi = 3.14159265358979f;
constexpr float DegToRad = Pi / 180.0f;

struct TVec3 {
  float X = 0, Y = 0, Z = 0;
};

inline TVec3 operator+(TVec3 a, TVec3 b) { return {a.X + b.X, a.Y + b.Y, a.Z + b.Z}; }
inline TVec3 operator-(TVec3 a, TVec3 b) { return {a.X - b.X, a.Y - b.Y, a.Z - b.Z}; }
inline TVec3 operator-(TVec3 a) { return {-a.X, -a.Y, -a.Z}; }
inline TVec3 operator*(TVec3 a, float s) { return {a.X * s, a.Y * s, a.Z * s}; }
inline TVec3 operator*(float s, TVec3 a) { return a * s; }
inline TVec3& operator+=(TVec3& a, TVec3 b) { return a = a + b; }
inline TVec3& operator-=(TVec3& a, TVec3 b) { return a = a - b; }
inline TVec3& operator*=(TVec3& a, float s) { return a = a * s; }
// Component by component.
inline TVec3 Mul(TVec3 a, TVec3 b) { return {a.X * b.X, a.Y * b.Y, a.Z * b.Z}; }

inline float Dot(TVec3 a, TVec3 b) { return a.X * b.X + a.Y * b.Y + a.Z * b.Z; }
inline TVec3 Cross(TVec3 a, TVec3 b) {
  return {a.Y * b.Z - a.Z * b.Y, a.Z * b.X - a.X * b.Z, a.X * b.Y - a.Y * b.X};
}
inline float Length(TVec3 a) { return std::sqrt(Dot(a, a)); }
// The unit vector along a; a zero vector stays zero.
inline TVec3 Normalize(TVec3 a) {
  float length = Length(a);
  return length > 0 ? a * (1.0f / length) : a;
}
inline TVec3 Lerp(TVec3 a, TVec3 b, float t) { return a + (b - a) * t; }

inline float Clamp(float v, float lo, float hi) { return std::min(std::max(v, lo), hi); }
inline float Mix(float a, float b, float t) { return a + (b - a) * t; }
// 0 below edge0, 1 above edge1, a smooth step between (edges may be reversed).
inline float SmoothStep(float edge0, float edge1, float x) {
  float t = Clamp((x - edge0) / (edge1 - edge0), 0.0f, 1.0f);
  return t * t * (3 - 2 * t);
}

struct TQuat {
  float X = 0, Y = 0, Z = 0, W = 1;
};

inline TQuat operator*(TQuat a, TQuat b) {
  return {a.W * b.X + a.X * b.W + a.Y * b.Z - a.Z * b.Y, a.W * b.Y - a.X * b.Z + a.Y * b.W + a.Z * b.X,
          a.W * b.Z + a.X * b.Y - a.Y * b.X + a.Z * b.W, a.W * b.W - a.X * b.X - a.Y * b.Y - a.Z * b.Z};
}
inline TQuat Conjugate(TQuat q) { return {-q.X, -q.Y, -q.Z, q.W}; }
inline TQuat NormalizeQuat(TQuat q) {
  float n = std::sqrt(q.X * q.X + q.Y * q.Y + q.Z * q.Z + q.W * q.W);
  return {q.X / n, q.Y / n, q.Z / n, q.W / n};
}
// A right-handed rotation by degrees about axis (as glRotatef turns).
inline TQuat AxisAngle(TVec3 axis, float degrees) {
  TVec3 a = Normalize(axis);
  float half = 0.5f * degrees * DegToRad;
  float s = std::sin(half);
  return {a.X * s, a.Y * s, a.Z * s, std::cos(half)};
}
// Rotations about X, then Y, then Z of the parent frame (degrees): a bone
// bends forward with X, turns with Y and leans sideways with Z.
inline TQuat Euler(float x, float y, float z) {
  return AxisAngle({0, 0, 1}, z) * AxisAngle({0, 1, 0}, y) * AxisAngle({1, 0, 0}, x);
}
inline TVec3 Rotate(TQuat q, TVec3 v) {
  TVec3 u{q.X, q.Y, q.Z};
  TVec3 t = Cross(u, v) * 2.0f;
  return v + t * q.W + Cross(u, t);
}
// The shorter-arc spherical blend of two unit quaternions.
inline TQuat Slerp(TQuat a, TQuat b, float t) {
  float d = a.X * b.X + a.Y * b.Y + a.Z * b.Z + a.W * b.W;
  if (d < 0) {
    d = -d;
    b = {-b.X, -b.Y, -b.Z, -b.W};
  }
  float w0 = 1 - t, w1 = t;
  if (d < 0.9999f) {
    float omega = std::acos(d);
    float k = 1.0f / std::sin(omega);
    w0 = std::sin((1 - t) * omega) * k;
    w1 = std::sin(t * omega) * k;
  }
  return NormalizeQuat({w0 * a.X + w1 * b.X, w0 * a.Y + w1 * b.Y, w0 * a.Z + w1 * b.Z, w0 * a.W + w1 * b.W});
}
// The rotation that takes the orthonormal frame (x0, y0, z0) onto (x1, y1, z1).
TQuat QuatFromFrames(TVec3 x0, TVec3 y0, TVec3 z0, TVec3 x1, TVec3 y1, TVec3 z1);
// The smallest rotation taking direction a onto direction b.
TQuat RotationBetween(TVec3 a, TVec3 b);

// Column-major: element [column * 4 + row], translation in 12, 13, 14.
struct TMat4 {
  std::array<float, 16> M{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
};

TMat4 operator*(const TMat4& a, const TMat4& b);
// Translation by t, then rotation by q (a bone's local transform).
TMat4 TranslateRotate(TVec3 t, TQuat q);
inline TVec3 TransformPoint(const TMat4& m, TVec3 v) {
  const auto& e = m.M;
  return {v.X * e[0] + v.Y * e[4] + v.Z * e[8] + e[12], v.X * e[1] + v.Y * e[5] + v.Z * e[9] + e[13],
          v.X * e[2] + v.Y * e[6] + v.Z * e[10] + e[14]};
}
inline TVec3 TransformVector(const TMat4& m, TVec3 v) {
  const auto& e = m.M;
  return {v.X * e[0] + v.Y * e[4] + v.Z * e[8], v.X * e[1] + v.Y * e[5] + v.Z * e[9],
          v.X * e[2] + v.Y * e[6] + v.Z * e[10]};
}
// The rotation part of a rigid transform, as a quaternion.
TQuat RotationOf(const TMat4& m);

}  // namespace forge
