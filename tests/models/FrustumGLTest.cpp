// ExtractFrustum reads the matrices that OpenGL holds at the time of the call.
#include "GLFixture.h"
#include "models/Frustum.h"
#include "models/GLMath.h"

using FrustumGL = GLFixture;

TEST_F(FrustumGL, ExtractFrustumUsesTheCurrentProjectionAndModelview) {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  Perspective(90, 1, 1, 3);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glTranslatef(0, 0, -10);  // the camera 10 units up the z axis
  // Left on another matrix mode, as a screen may leave it.
  glMatrixMode(GL_PROJECTION);

  ExtractFrustum();
  EXPECT_TRUE(SphereInFrustum(0, 0, 8, 0.1f));
  EXPECT_FALSE(SphereInFrustum(0, 0, 5, 0.1f));   // behind the far plane
  EXPECT_FALSE(SphereInFrustum(0, 0, 9.5f, 10));  // in front of the near plane
  EXPECT_TRUE(SphereInFrustum(1.9f, 0, 8, 0.1f));
  EXPECT_FALSE(SphereInFrustum(2.5f, 0, 8, 0.1f));
  Planes = {};
}
