// The camera transform and the two drawings of the frame-clock module on a
// real context: where ApplyCamera puts the player, which way the waiting
// clock's hands turn, and the shape of the drawn mouse pointer.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "GLFixture.h"
#include "client/FrameClock.h"
#include "models/GLMath.h"

namespace {

using TMatrix = std::array<float, 16>;

TMatrix Read(GLenum which) {
  TMatrix m{};
  glGetFloatv(which, m.data());
  return m;
}

std::array<float, 3> Transform(const TMatrix& m, float x, float y, float z) {
  return {m[0] * x + m[4] * y + m[8] * z + m[12], m[1] * x + m[5] * y + m[9] * z + m[13],
          m[2] * x + m[6] * y + m[10] * z + m[14]};
}

class FrameClockGLTest : public GLFixture {
 protected:
  void TearDown() override {
    ResetCamera();
    GLFixture::TearDown();
  }
};

TEST_F(FrameClockGLTest, CameraOrbitsFiveUnitsAboveThePlayersFeet) {
  glMatrixMode(GL_MODELVIEW);
  for (float yaw : {0.0f, 90.0f, -135.0f}) {
    for (float pitch : {-10.0f, 25.0f, 90.0f}) {
      CameraYaw = yaw;
      CameraPitch = pitch;
      CameraZoom = 12;
      glLoadIdentity();
      ApplyCamera(762, 756);
      auto feet = Transform(Read(GL_MODELVIEW_MATRIX), 762, 0, 756);
      EXPECT_NEAR(feet[0], 0, 1e-3);
      EXPECT_NEAR(feet[1], -5, 1e-3);
      EXPECT_NEAR(feet[2], -13, 1e-3) << "25 - zoom in front of the eye";
    }
  }
  // Yaw turns the world about +Y: at 90 degrees a point east of the player
  // comes out straight ahead of it, further from the eye.
  CameraYaw = 90;
  CameraPitch = 0;
  CameraZoom = 25;
  glLoadIdentity();
  ApplyCamera(6, 6);
  auto east = Transform(Read(GL_MODELVIEW_MATRIX), 7, 0, 6);
  EXPECT_NEAR(east[0], 0, 1e-4);
  EXPECT_NEAR(east[2], -1, 1e-4);
  // Pitch 90 looks straight down: a point north of the player is above
  // the middle of the view.
  CameraYaw = 0;
  CameraPitch = 90;
  glLoadIdentity();
  ApplyCamera(6, 6);
  auto north = Transform(Read(GL_MODELVIEW_MATRIX), 6, 0, 5);
  EXPECT_NEAR(north[1], -5 + 1, 1e-4);
}

// However many notches the wheel turns towards the player, at every pitch
// the eye stays clear of the character's head (six units tall, the head's
// middle at about 5.5 above the feet).
TEST_F(FrameClockGLTest, NoWheelTurnOrPitchPutsTheEyeInsideThePlayersHead) {
  constexpr float HeadMiddle = 5.5f;
  constexpr float ClearOfHead = 3.0f;  // head's radius and the shoulders, with room to spare
  glMatrixMode(GL_MODELVIEW);
  for (int notches = 0; notches <= 80; notches += 10) {
    for (float pitch = MinPitch; pitch <= MaxPitch; pitch += 5) {
      ResetCamera();
      for (int n = 0; n < notches; ++n) ZoomByWheel(WheelNotch);
      CameraPitch = pitch;
      glLoadIdentity();
      ApplyCamera(762, 756);
      auto head = Transform(Read(GL_MODELVIEW_MATRIX), 762, HeadMiddle, 756);
      const float distance = std::hypot(head[0], head[1], head[2]);
      EXPECT_GT(distance, ClearOfHead) << notches << " notches, pitch " << pitch;
    }
  }
}

// At a quarter of a second the black hand (a turn a second) points to the
// right and the red one (a turn a minute) still points up: both go clockwise.
TEST_F(FrameClockGLTest, WaitClockHandsTurnClockwise) {
  TGLTestSurface surface(256, 256);
  ASSERT_TRUE(surface.MakeCurrent());
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glEnable(GL_DEPTH_TEST);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  Perspective(45, 1, 0.1, 110);
  glMatrixMode(GL_MODELVIEW);
  DrawWaitClock(250);
  EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
  EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));

  // The clock's centre and axes in window pixels, from the matrices in force.
  TMatrix mv = Read(GL_MODELVIEW_MATRIX);
  TMatrix p = Read(GL_PROJECTION_MATRIX);
  auto toPixel = [&](float x, float y) {
    auto eye = Transform(mv, x, y, 0);
    float cx = p[0] * eye[0] + p[8] * eye[2];
    float cy = p[5] * eye[1] + p[9] * eye[2];
    float cw = -eye[2];
    return std::array<int, 2>{int(std::lround((cx / cw + 1) * 128)), int(std::lround((cy / cw + 1) * 128))};
  };
  auto pixel = [](std::array<int, 2> at) {
    TRGBA rgba;
    glReadPixels(at[0], at[1], 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, &rgba);
    return rgba;
  };
  // mv holds the black hand's rotation (-90 degrees): its +Y is the hand.
  auto blackTip = pixel(toPixel(0, 0.5f));
  EXPECT_EQ(blackTip, (TRGBA{0, 0, 0, 255})) << "black hand";
  // Seen unrotated, the red hand lies along the frame's -X (it was turned
  // by -1.5 degrees, the black one by -90 more).
  auto red = pixel(toPixel(-0.2f, 0.0f));
  EXPECT_GT(red.R, 200) << red;
  EXPECT_LT(red.G, 40) << red;
  auto rim = pixel(toPixel(0.0f, -0.8f));
  EXPECT_GT(rim.B, rim.R) << "the disc fades to blue at its rim: " << rim;
  auto beside = pixel(toPixel(0.0f, -1.5f));
  EXPECT_EQ(beside, (TRGBA{0, 0, 0, 255})) << "outside the disc";
}

TEST_F(FrameClockGLTest, PointerIsAnArrowWithItsTipAtTheMouse) {
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, Width, Height, 0, -1, 1);  // pixels, origin top left
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glEnable(GL_DEPTH_TEST);
  DrawPointer(10, 10);
  EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
  // Window rows count from the bottom: row r from the top is Height - 1 - r.
  auto at = [&](int x, int y) { return ReadPixel(x, Height - 1 - y); };
  const TRGBA black{0, 0, 0, 255};
  EXPECT_NE(at(11, 14), black) << "just below the tip";
  EXPECT_NE(at(17, 21), black) << "near the right wing";
  EXPECT_NE(at(10, 26), black) << "near the bottom point";
  EXPECT_EQ(at(18, 26), black) << "the notch between the two points";
  EXPECT_EQ(at(8, 15), black) << "left of the tip";
  EXPECT_EQ(at(16, 11), black) << "right of the tip's edge";
  EXPECT_GT(at(10, 12).B, at(10, 12).R) << "blue at the tip";
  EXPECT_GT(at(10, 26).R, 150) << "whiter at the bottom point";
}

}  // namespace
