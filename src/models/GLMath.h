// OpenGL maths and drawing helpers shared by the screens: small vector
// operations, the perspective and pick projections (the matrices of
// gluPerspective and gluPickMatrix, without GLU), the upload of a bitmap as a
// texture with an optional transparent key colour, and a few immediate-mode
// primitives.  User-interface thread only, with the OpenGL context current for
// everything that calls OpenGL.  Texture names made by TextureFromBitmap belong
// to the caller.
#pragma once

#include <GL/gl.h>

#include <cstdint>

class TBitmap;

// Plain vectors.  TVector4 also holds RGBA colours and quaternions
// (X, Y, Z, W with W the scalar part).
struct TVector3 {
  float X = 0, Y = 0, Z = 0;
};

struct TVector4 {
  float X = 0, Y = 0, Z = 0, W = 0;
};

// The named operations write their result into one of their arguments; any
// argument may be the result (VectorSub(A, B, A) is A -= B).
// A becomes A + B.
inline void VectorAdd(TVector3& A, const TVector3& B) {
  A.X += B.X;
  A.Y += B.Y;
  A.Z += B.Z;
}
// C becomes A - B.
inline void VectorSub(const TVector3& A, const TVector3& B, TVector3& C) {
  C.X = A.X - B.X;
  C.Y = A.Y - B.Y;
  C.Z = A.Z - B.Z;
}
// C becomes A * S.
inline void VectorScale(const TVector3& A, TVector3& C, float S) {
  C.X = A.X * S;
  C.Y = A.Y * S;
  C.Z = A.Z * S;
}

inline void Vector4Add(TVector4& A, const TVector4& B) {
  A.X += B.X;
  A.Y += B.Y;
  A.Z += B.Z;
  A.W += B.W;
}
inline void Vector4Sub(const TVector4& A, const TVector4& B, TVector4& C) {
  C.X = A.X - B.X;
  C.Y = A.Y - B.Y;
  C.Z = A.Z - B.Z;
  C.W = A.W - B.W;
}
inline void Vector4Scale(const TVector4& A, TVector4& C, float S) {
  C.X = A.X * S;
  C.Y = A.Y * S;
  C.Z = A.Z * S;
  C.W = A.W * S;
}

// The same operations as operators, for expressions.
inline TVector3 operator+(const TVector3& A, const TVector3& B) { return {A.X + B.X, A.Y + B.Y, A.Z + B.Z}; }
inline TVector3 operator-(const TVector3& A, const TVector3& B) { return {A.X - B.X, A.Y - B.Y, A.Z - B.Z}; }
inline TVector3 operator*(const TVector3& A, float S) { return {A.X * S, A.Y * S, A.Z * S}; }
inline TVector3& operator+=(TVector3& A, const TVector3& B) {
  VectorAdd(A, B);
  return A;
}
inline bool operator==(const TVector3& A, const TVector3& B) {
  return A.X == B.X && A.Y == B.Y && A.Z == B.Z;
}

inline TVector4 operator+(const TVector4& A, const TVector4& B) {
  return {A.X + B.X, A.Y + B.Y, A.Z + B.Z, A.W + B.W};
}
inline TVector4 operator-(const TVector4& A, const TVector4& B) {
  return {A.X - B.X, A.Y - B.Y, A.Z - B.Z, A.W - B.W};
}
inline TVector4 operator*(const TVector4& A, float S) { return {A.X * S, A.Y * S, A.Z * S, A.W * S}; }
inline TVector4& operator+=(TVector4& A, const TVector4& B) {
  Vector4Add(A, B);
  return A;
}
inline bool operator==(const TVector4& A, const TVector4& B) {
  return A.X == B.X && A.Y == B.Y && A.Z == B.Z && A.W == B.W;
}

// Projections: each multiplies the current OpenGL matrix.
// FovY in degrees.  Does nothing for a zero aspect, a zero depth range or a
// field of view whose sine is 0.
void Perspective(double FovY, double Aspect, double ZNear, double ZFar);
// Restricts the view to a Width x Height region centred on (X, Y) in window
// coordinates; Viewport as glGetIntegerv(GL_VIEWPORT) gives it.  Does nothing
// for a pick region that is not at least a little wide and high, which would
// otherwise put infinities into the matrix.
void PickMatrix(const GLint (&Viewport)[4], double X, double Y, double Width, double Height);

// Key value that matches no colour (any value above 0xFFFFFF does).
constexpr uint32_t NoKeyColor = 0x1FFFFFFF;

// A new texture name holding Bitmap (nearest filtering, RGBA).  The pixels of
// colour Key (0xRRGGBB) become transparent, every other pixel opaque.  The
// bitmap is converted to 32 bits per pixel in place and keeps the converted
// pixels.  Its bottom row is texture row 0; its sides are used as they are.
GLuint TextureFromBitmap(TBitmap& Bitmap, uint32_t Key);

// A filled disc in the plane z = Z as a triangle fan: the centre keeps the
// current colour, the Segments + 1 rim vertices (the last one closing the
// circle) take (R, G, B).
void DrawDisc(int Segments, float X, float Y, float Z, float Radius, float R, float G, float B);
// A four-sided clock hand pointing along +y, Width being its half-width.
void DrawHand(float Length, float Width);
// glColor4f of a packed 0xAARRGGBB colour.
void SetColor(uint32_t Color);
// A flat quad (X1, Y1) (X1, Y2) (X2, Y2) (X2, Y1) in a packed colour.
void DrawRect(int X1, int Y1, int X2, int Y2, uint32_t Color);

// The largest power of two an int holds.
constexpr int MaxPowerOfTwo = 1 << 30;
// The smallest power of two at least N; 1 for N below 2, MaxPowerOfTwo for
// anything above it.
int NextPowerOfTwo(int N);
