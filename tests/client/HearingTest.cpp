// Where the client hears from: the listener stands where ApplyCamera puts
// the eye and looks where it looks, so a walker on the screen's left is on
// the listener's left at any yaw; and a foot contact is counted once per
// foot however the frames cut the motion's cycle.
#include <gtest/gtest.h>

#include <cmath>

#include "client/Hearing.h"

namespace {

float Dot(const TSoundVector& a, const TSoundVector& b) { return a.X * b.X + a.Y * b.Y + a.Z * b.Z; }
TSoundVector Cross(const TSoundVector& a, const TSoundVector& b) {
  return {a.Y * b.Z - a.Z * b.Y, a.Z * b.X - a.X * b.Z, a.X * b.Y - a.Y * b.X};
}

TEST(Hearing, TheEarIsTheCameraOrbitingItsTarget) {
  // Yaw 0, level: five above and 25 - zoom behind the target, looking down -Z.
  TEar ear = CameraEar(100, 200, 0, 0, 5);
  EXPECT_NEAR(ear.Position.X, 100, 1e-4);
  EXPECT_NEAR(ear.Position.Y, 5, 1e-4);
  EXPECT_NEAR(ear.Position.Z, 220, 1e-4);
  EXPECT_NEAR(ear.Forward.Z, -1, 1e-4);
  EXPECT_NEAR(ear.Up.Y, 1, 1e-4);

  // Looking straight down from above the target.
  ear = CameraEar(0, 0, 0, 90, 5);
  EXPECT_NEAR(ear.Position.X, 0, 1e-4);
  EXPECT_NEAR(ear.Position.Y, 20, 1e-4);
  EXPECT_NEAR(ear.Position.Z, -5, 1e-4);
  EXPECT_NEAR(ear.Forward.Y, -1, 1e-4);

  for (float yaw : {0.0f, 37.0f, 90.0f, 200.0f}) {
    for (float pitch : {-10.0f, 25.0f, 60.0f}) {
      ear = CameraEar(30, 40, yaw, pitch, 12);
      SCOPED_TRACE(std::to_string(yaw) + " " + std::to_string(pitch));
      EXPECT_NEAR(Dot(ear.Forward, ear.Up), 0, 1e-4);
      EXPECT_NEAR(Dot(ear.Forward, ear.Forward), 1, 1e-4);
      // ApplyCamera shows the target 25 - zoom ahead of the eye and 5 below.
      const TSoundVector toTarget{30 - ear.Position.X, -ear.Position.Y, 40 - ear.Position.Z};
      EXPECT_NEAR(Dot(toTarget, ear.Forward), 13, 1e-3);
      EXPECT_NEAR(Dot(toTarget, ear.Up), -5, 1e-3);
      EXPECT_NEAR(Dot(toTarget, Cross(ear.Forward, ear.Up)), 0, 1e-3);
    }
  }
  // At yaw 0 the screen's left is world -X; turned by 90 degrees, glRotatef
  // brings world -Z to the screen's left.
  ear = CameraEar(0, 0, 0, 25, 12);
  EXPECT_LT(Dot({-10, 0, 0}, Cross(ear.Forward, ear.Up)), 0);
  ear = CameraEar(0, 0, 90, 25, 12);
  EXPECT_NEAR(Cross(ear.Forward, ear.Up).Z, 1, 1e-4);
}

TEST(Hearing, EachFootLandsOncePerCycleWhateverTheFrames) {
  EXPECT_EQ(TFootsteps::Contacts(0.10f, 0.30f), 0);
  EXPECT_EQ(TFootsteps::Contacts(0.40f, 0.50f), 1);  // the right foot, at half the cycle
  EXPECT_EQ(TFootsteps::Contacts(0.50f, 0.60f), 0);  // not counted twice
  EXPECT_EQ(TFootsteps::Contacts(0.90f, 0.05f), 1);  // looped: the left foot
  EXPECT_EQ(TFootsteps::Contacts(0.90f, 0.60f), 2);  // a long frame: both
  EXPECT_EQ(TFootsteps::Contacts(0.95f, 1.00f), 1);  // held at the very end
  // Stepping a cycle in frames of any length lands exactly two feet.
  for (float frame : {0.01f, 0.04f, 0.061f, 0.25f, 0.49f}) {
    int contacts = 0;
    float phase = 0;
    for (float t = frame; t <= 10.0f + 1e-4f; t += frame) {
      const float next = t - std::floor(t);
      contacts += TFootsteps::Contacts(phase, next);
      phase = next;
    }
    EXPECT_NEAR(contacts, 20, 1) << frame;
  }
}

}  // namespace
