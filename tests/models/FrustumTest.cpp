// Frustum planes from given matrices and the sphere test against them.  The
// projection is that of a 90-degree perspective with near 1 and far 3, so the
// visible volume is -3 < z < -1, |x| < -z, |y| < -z in eye coordinates.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

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

namespace {

// A gluPerspective matrix.
void PerspectiveMatrix(float fovY, float aspect, float zNear, float zFar, float (&m)[16]) {
  const double f = 1 / std::tan(fovY * M_PI / 360);
  for (float& v : m) v = 0;
  m[0] = float(f / aspect);
  m[5] = float(f);
  m[10] = -(zFar + zNear) / (zFar - zNear);
  m[11] = -1;
  m[14] = -2 * zNear * zFar / (zFar - zNear);
}

// An orbit camera as the game places it: the world turned by yaw about y,
// tilted by pitch about x, seen from distance away, centred on (cx, 0, cz).
void OrbitMatrix(float yaw, float pitch, float distance, float cx, float cz, float (&m)[16]) {
  const double y = yaw * M_PI / 180, p = pitch * M_PI / 180;
  const double cy = std::cos(y), sy = std::sin(y), cp = std::cos(p), sp = std::sin(p);
  // Rx(pitch) * Ry(yaw), then the translation.
  const double r[9] = {cy, sp * sy, -cp * sy, 0, cp, sp, sy, -sp * cy, cp * cy};
  for (int c = 0; c < 3; ++c)
    for (int row = 0; row < 3; ++row) m[4 * c + row] = float(r[3 * c + row]);
  m[3] = m[7] = m[11] = 0;
  m[12] = float(-(r[0] * cx + r[6] * cz));
  m[13] = float(-(r[1] * cx + r[7] * cz));
  m[14] = float(-(r[2] * cx + r[8] * cz) - distance);
  m[15] = 1;
}

}  // namespace

// For cameras all around a 256 x 256 grid of 6-unit cells, looking down,
// along the floor, along an axis and from below it, every cell that passes
// the sphere test lies within its column's range, and the ranges are
// narrow: about the visible cells and a few more.
TEST_F(Frustum, ColumnRangesHoldEveryVisibleCellAndLittleElse) {
  constexpr int Side = 256;
  constexpr float Cell = 6, Radius = 6;
  float projection[16];
  PerspectiveMatrix(45, 4.0f / 3, 1, 200, projection);
  struct TCamera {
    float Yaw, Pitch, Distance, X, Z;
  };
  std::vector<TCamera> cameras = {{0, 25, 30, 762, 762},  {90, 25, 30, 762, 762},    {180, 90, 30, 762, 762},
                                  {0, 0, 30, 762, 762},   {45, -10, 30, 3, 3},       {270, 1, 5, 1530, 0},
                                  {0, 25, 30, -500, 762}, {33.3f, 60, 80, 100, 1500}};
  std::mt19937 random(2048);
  std::uniform_real_distribution<float> angle(0, 360), pitch(-10, 90), place(-100, 1600), distance(2, 150);
  for (int k = 0; k < 40; ++k)
    cameras.push_back({angle(random), pitch(random), distance(random), place(random), place(random)});
  for (const TCamera& c : cameras) {
    SCOPED_TRACE(testing::Message() << "yaw " << c.Yaw << " pitch " << c.Pitch << " at " << c.X << ", "
                                    << c.Z);
    float modelview[16];
    OrbitMatrix(c.Yaw, c.Pitch, c.Distance, c.X, c.Z, modelview);
    ExtractFrustum(projection, modelview);
    int visible = 0, ranged = 0, outside = 0;
    for (int i = 0; i < Side; ++i) {
      int first = -7, last = -7;
      const bool any = ColumnInFrustum(float(i) * Cell, Cell, Side, Radius, first, last);
      EXPECT_EQ(any, first <= last);
      if (any) {
        EXPECT_GE(first, 0);
        EXPECT_LT(last, Side);
        ranged += last - first + 1;
      }
      for (int j = 0; j < Side; ++j)
        if (SphereInFrustum(float(i) * Cell, 0, float(j) * Cell, Radius)) {
          ++visible;
          if (!any || j < first || j > last) ++outside;
        }
    }
    EXPECT_EQ(outside, 0) << "visible cells outside their column's range, of " << visible;
    EXPECT_LE(ranged, visible + Side) << visible << " visible";
  }
}

// Planes whose numbers are not finite, as a singular matrix gives, narrow
// nothing and the test rejects every cell; all-zero planes reject them all.
TEST_F(Frustum, ColumnRangesOfBrokenPlanesLeaveTheDecisionToTheTest) {
  int first = 0, last = 0;
  const float zero[16] = {};
  ExtractFrustum(zero, zero);
  ASSERT_TRUE(std::isnan(Planes[PlaneNear].A));
  EXPECT_TRUE(ColumnInFrustum(0, 6, 256, 6, first, last));
  EXPECT_EQ(first, 0);
  EXPECT_EQ(last, 255);
  EXPECT_FALSE(SphereInFrustum(0, 0, 0, 6));
  Planes = {};
  EXPECT_FALSE(ColumnInFrustum(0, 6, 256, 6, first, last)) << first << ".." << last;
}
