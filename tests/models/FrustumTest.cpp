// Frustum planes from given matrices and the sphere test against them.  The
// projection is that of a 90-degree perspective with near 1 and far 3, so the
// visible volume is -3 < z < -1, |x| < -z, |y| < -z in eye coordinates.
#include <gtest/gtest.h>

#include <cmath>

#include "models/Frustum.h"

namespace {

// Column-major, as OpenGL keeps it.
constexpr float Projection[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -2, -1, 0, 0, -3, 0};
constexpr float Identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

class Frustum : public ::testing::Test {
 protected:
  void SetUp() override { Planes = {}; }
  void TearDown() override { Planes = {}; }
};

}  // namespace

TEST_F(Frustum, NothingIsVisibleBeforeTheFirstExtraction) {
  EXPECT_FALSE(SphereInFrustum(0, 0, 0, 1));
  EXPECT_FALSE(SphereInFrustum(0, 0, -2, 1000));
}

TEST_F(Frustum, NearAndFarTestTheCentreOnlyAndTheSidesTheWholeSphere) {
  ExtractFrustum(Projection, Identity);
  EXPECT_TRUE(SphereInFrustum(0, 0, -2, 0.1f));

  // One unit in front of the near plane or behind the far plane: rejected
  // whatever the radius.
  EXPECT_FALSE(SphereInFrustum(0, 0, 0, 1000));
  EXPECT_FALSE(SphereInFrustum(0, 0, -4, 1000));
  // Exactly on the near plane is not inside.
  EXPECT_FALSE(SphereInFrustum(0, 0, -1, 1000));

  // At depth 2 the left plane passes through x = -2; one unit outside it is
  // x = -2 - sqrt(2) (the plane leans 45 degrees).
  const float outsideLeft = -2 - std::sqrt(2.0f);
  EXPECT_TRUE(SphereInFrustum(outsideLeft, 0, -2, 1.01f));
  EXPECT_FALSE(SphereInFrustum(outsideLeft, 0, -2, 0.99f));
  // The same on the other three sides.
  EXPECT_TRUE(SphereInFrustum(-outsideLeft, 0, -2, 1.01f));
  EXPECT_FALSE(SphereInFrustum(-outsideLeft, 0, -2, 0.99f));
  EXPECT_TRUE(SphereInFrustum(0, outsideLeft, -2, 1.01f));
  EXPECT_FALSE(SphereInFrustum(0, outsideLeft, -2, 0.99f));
  EXPECT_TRUE(SphereInFrustum(0, -outsideLeft, -2, 1.01f));
  EXPECT_FALSE(SphereInFrustum(0, -outsideLeft, -2, 0.99f));
}

TEST_F(Frustum, PlanesAreInTheFrameOfTheModelview) {
  // A camera 10 units up the z axis: the world point (0, 0, 8) is at eye depth 2.
  const float modelview[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, -10, 1};
  ExtractFrustum(Projection, modelview);
  EXPECT_TRUE(SphereInFrustum(0, 0, 8, 0.1f));
  EXPECT_FALSE(SphereInFrustum(0, 0, -2, 0.1f));

  // Turned 90 degrees about y (eye x = world z, eye z = -world x): the
  // visible volume lies along +x in the world.
  const float turned[16] = {0, 0, -1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 1};
  ExtractFrustum(Projection, turned);
  EXPECT_TRUE(SphereInFrustum(2, 0, 0, 0.1f));
  EXPECT_FALSE(SphereInFrustum(0, 0, -2, 0.1f));
  EXPECT_FALSE(SphereInFrustum(-2, 0, 0, 0.1f));
}
