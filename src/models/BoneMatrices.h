// The 4 x 4 matrices of skeletal posing, computed on our own rather than on
// the OpenGL matrix stack: the same products glTranslatef, glRotatef and
// glMultMatrixf would make, column-major as OpenGL stores them, without a
// context and without a call into the driver per bone.  Plain functions on
// values; any thread.
#pragma once

#include "models/GLMath.h"
#include "models/L3D.h"

inline constexpr TBoneMatrix IdentityMatrix = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// a * b, as glMultMatrixf(b) makes of a current matrix a.
TBoneMatrix MultiplyMatrices(const TBoneMatrix& a, const TBoneMatrix& b);
// The matrix glTranslatef(x, y, z) multiplies by.
TBoneMatrix TranslationMatrix(float x, float y, float z);
// The matrix glRotatef(degrees, x, y, z) multiplies by; the axis is
// normalised, and one shorter than OpenGL's own threshold turns nothing.
TBoneMatrix RotationMatrix(double degrees, double x, double y, double z);
// The rotation RotateByQuaternion applies: by twice the arc cosine of the
// scalar part about the vector part; one with a zero vector part is the
// identity.
TBoneMatrix QuaternionMatrix(const TVector4& q);
