// The vector operations and NextPowerOfTwo, which need no OpenGL context.
#include <gtest/gtest.h>

#include <climits>
#include <ostream>

#include "models/GLMath.h"

std::ostream& operator<<(std::ostream& out, const TVector3& v) {
  return out << "(" << v.X << ", " << v.Y << ", " << v.Z << ")";
}
std::ostream& operator<<(std::ostream& out, const TVector4& v) {
  return out << "(" << v.X << ", " << v.Y << ", " << v.Z << ", " << v.W << ")";
}

TEST(GLMath, VectorOperationsWorkComponentWiseEvenWhenTheResultIsAnArgument) {
  TVector3 a{1, 2, 3};
  VectorAdd(a, TVector3{10, 20, 30});
  EXPECT_EQ(a, (TVector3{11, 22, 33}));

  TVector3 c;
  VectorSub(a, TVector3{1, 2, 3}, c);
  EXPECT_EQ(c, (TVector3{10, 20, 30}));
  VectorSub(c, c, c);  // the result aliases both operands
  EXPECT_EQ(c, (TVector3{0, 0, 0}));

  VectorScale(a, a, 0.5f);
  EXPECT_EQ(a, (TVector3{5.5f, 11, 16.5f}));

  TVector4 colour{0.25f, 0.5f, 0.75f, 1};
  Vector4Add(colour, TVector4{0.25f, 0.25f, 0.25f, -0.5f});
  EXPECT_EQ(colour, (TVector4{0.5f, 0.75f, 1, 0.5f}));
  TVector4 fade;
  Vector4Sub(colour, TVector4{0.5f, 0.5f, 0.5f, 0.5f}, fade);
  EXPECT_EQ(fade, (TVector4{0, 0.25f, 0.5f, 0}));
  Vector4Scale(fade, fade, 4);
  EXPECT_EQ(fade, (TVector4{0, 1, 2, 0}));

  // The operators agree with the named operations.
  EXPECT_EQ((TVector3{1, 2, 3} + TVector3{1, 1, 1} * 2 - TVector3{3, 4, 5}), (TVector3{0, 0, 0}));
  EXPECT_EQ(((TVector4{1, 2, 3, 4} - TVector4{1, 1, 1, 1}) * 0.5f), (TVector4{0, 0.5f, 1, 1.5f}));
}

TEST(GLMath, NextPowerOfTwoIsTheSmallestPowerAtLeastN) {
  EXPECT_EQ(NextPowerOfTwo(0), 1);
  EXPECT_EQ(NextPowerOfTwo(1), 1);
  EXPECT_EQ(NextPowerOfTwo(-5), 1);
  EXPECT_EQ(NextPowerOfTwo(2), 2);
  EXPECT_EQ(NextPowerOfTwo(3), 4);
  EXPECT_EQ(NextPowerOfTwo(5), 8);
  EXPECT_EQ(NextPowerOfTwo(60), 64);
  EXPECT_EQ(NextPowerOfTwo(64), 64);
  EXPECT_EQ(NextPowerOfTwo(100), 128);
  EXPECT_EQ(NextPowerOfTwo(MaxPowerOfTwo), MaxPowerOfTwo);
}

TEST(GLMath, NextPowerOfTwoStopsAtTheLargestIntPowerInsteadOfOverflowing) {
  // Doubling past 2^30 would overflow and never end.
  EXPECT_EQ(NextPowerOfTwo(MaxPowerOfTwo + 1), MaxPowerOfTwo);
  EXPECT_EQ(NextPowerOfTwo(INT_MAX), MaxPowerOfTwo);
}
