// The frame clock and the orbit camera against a clock moved by hand: frame
// deltas and the frames-per-second measure, edge turning speeds and limits,
// wheel zoom, and the pause while the window is not active.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "client/FrameClock.h"
#include "platform/Tick.h"

namespace {

// Puts every item of the module back to its state at process start.
void ResetModule() {
  FrameTime = FrameDelta = FramesPerSecond = FpsCount = FpsWindowStart = 0;
  ResetCamera();
  CameraLastUpdate = TurnRightSince = TurnLeftSince = TiltUpSince = TiltDownSince = 0;
  YawRate = PitchRate = 0;
  WheelDownTime = WheelUpTime = 0;
}

class FrameClockTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetModule(); }
  void TearDown() override { ResetModule(); }
  TTestClock Clock;

  // Holds the mouse at (x, y) for ms, with a frame every 40 ms.
  void Hold(int x, int y, int width, int height, uint32_t ms) {
    EdgeScroll(x, y, width, height, true);
    for (uint32_t done = 0; done < ms;) {
      uint32_t step = std::min<uint32_t>(40, ms - done);
      Clock.Advance(step);
      done += step;
      UpdateCamera(Clock.Now);
    }
  }
};

TEST_F(FrameClockTest, FirstFrameHasNoDeltaAndSteadyFramesMeasureTwentyFour) {
  TickFrame();
  EXPECT_EQ(FrameTime, Clock.Now);
  EXPECT_EQ(FrameDelta, 0u);
  EXPECT_EQ(FpsWindowStart, Clock.Now);
  EXPECT_EQ(FramesPerSecond, 0u);

  uint32_t start = Clock.Now;
  for (int frame = 1; frame <= 24; ++frame) {
    Clock.Advance(40);
    TickFrame();
    EXPECT_EQ(FrameDelta, 40u);
    EXPECT_EQ(FramesPerSecond, 0u) << "no rate before a whole second, frame " << frame;
  }
  Clock.Advance(40);  // t = start + 1000 closes the window
  TickFrame();
  EXPECT_EQ(FramesPerSecond, 24u);
  EXPECT_EQ(FpsWindowStart, start + 1000);
  EXPECT_EQ(FpsCount, 0u);
  for (int frame = 0; frame < 25; ++frame) {
    Clock.Advance(40);
    TickFrame();
  }
  EXPECT_EQ(FramesPerSecond, 24u);
}

TEST_F(FrameClockTest, LongPauseClosesTheWindowWithItsCountAndWrapsCleanly) {
  Clock.Now = 0xFFFFFE00u;  // the counter wraps during the test
  TickFrame();
  for (int frame = 0; frame < 24; ++frame) {
    Clock.Advance(40);
    TickFrame();
  }
  ASSERT_EQ(FpsCount, 24000u);
  Clock.Advance(2000);
  TickFrame();
  EXPECT_EQ(FrameDelta, 2000u);
  EXPECT_EQ(FramesPerSecond, 24000u / 2960u) << "the count it had, over the whole 2960 ms";
  EXPECT_EQ(FpsWindowStart, Clock.Now) << "the next window starts at this frame";
  Clock.Advance(100);
  TickFrame();
  EXPECT_EQ(FrameDelta, 100u);
  EXPECT_EQ(FpsCount, 1000u);
}

// Degrees a second: 250 at the left-most pixel down to 25 ten pixels in,
// 200 at the right-most down to 20, 200 at the top row, 250 at the bottom.
// Positions outside the screen (a captured mouse while the chat panel's
// edge is dragged) turn at their edge's top speed, never at an infinite or
// reversed one.
TEST_F(FrameClockTest, EdgeSpeedsFollowTheDistanceToEachEdge) {
  struct TCase {
    int X, Y;
    uint32_t Ms;
    float Yaw, Pitch;
  } cases[] = {
      {0, 200, 100, -25, StartPitch},     {9, 200, 1000, -25, StartPitch},
      {639, 200, 100, 20, StartPitch},    {630, 200, 1000, 20, StartPitch},
      {320, 0, 100, 0, StartPitch - 20},  {320, 479, 100, 0, StartPitch + 25},
      {320, 240, 1000, 0, StartPitch},    {-1, 200, 100, -25, StartPitch},
      {-50, 200, 100, -25, StartPitch},   {640, 200, 100, 20, StartPitch},
      {320, 600, 40, 0, StartPitch + 10},
  };
  for (const TCase& c : cases) {
    ResetCamera();
    UpdateCamera(Clock.Now);
    Hold(c.X, c.Y, 640, 480, c.Ms);
    EXPECT_NEAR(CameraYaw, c.Yaw, 1e-3) << "at (" << c.X << ", " << c.Y << ")";
    EXPECT_NEAR(CameraPitch, c.Pitch, 1e-3) << "at (" << c.X << ", " << c.Y << ")";
    EdgeScroll(320, 240, 640, 480, true);
  }
}

// Moving out of the band stops the turn at once; leaving the window on one
// side and coming back in on the other is one move from one band to the
// opposite one, and only the new edge turns.
TEST_F(FrameClockTest, LeavingAnEdgeStopsItsTurnAtOnce) {
  UpdateCamera(Clock.Now);
  Hold(0, 200, 640, 480, 40);
  ASSERT_NEAR(CameraYaw, -10.0f, 1e-3);
  Clock.Advance(40);
  EdgeScroll(320, 200, 640, 480, true);  // applies the last 40 ms, then stops
  Clock.Advance(500);
  UpdateCamera(Clock.Now);
  EXPECT_NEAR(CameraYaw, -20.0f, 1e-3);

  Hold(639, 200, 640, 480, 100);
  Hold(0, 200, 640, 480, 100);
  EXPECT_NEAR(CameraYaw, -20.0f + 20.0f - 25.0f, 1e-3);
  Hold(320, 479, 640, 480, 100);
  Hold(320, 0, 640, 480, 100);
  EXPECT_NEAR(CameraPitch, StartPitch + 25.0f - 20.0f, 1e-3);
}

TEST_F(FrameClockTest, PitchAndZoomStayWithinTheirLimits) {
  UpdateCamera(Clock.Now);
  Hold(320, 479, 640, 480, 5000);
  EXPECT_EQ(CameraPitch, MaxPitch);
  Hold(320, 0, 640, 480, 5000);
  EXPECT_EQ(CameraPitch, MinPitch);

  WheelDownTime = Clock.Now;
  Clock.Advance(100000);
  UpdateCamera(Clock.Now);
  EXPECT_EQ(CameraZoom, MinZoom);
  WheelUpTime = Clock.Now;
  Clock.Advance(100000);
  UpdateCamera(Clock.Now);
  EXPECT_EQ(CameraZoom, MaxZoom);
}

TEST_F(FrameClockTest, WheelZoomsByTheTimeUntilTheNextUpdateAndIsConsumed) {
  UpdateCamera(Clock.Now);
  WheelDownTime = Clock.Now;
  Clock.Advance(30);
  UpdateCamera(Clock.Now);
  EXPECT_NEAR(CameraZoom, StartZoom - 2.5f, 1e-5) << "towards the user moves the camera away";
  EXPECT_EQ(WheelDownTime, 0u);

  WheelUpTime = Clock.Now;
  UpdateCamera(Clock.Now);  // same millisecond
  EXPECT_NEAR(CameraZoom, StartZoom - 2.5f, 1e-5);
  EXPECT_EQ(WheelUpTime, 0u) << "consumed even though it changed nothing";
}

TEST_F(FrameClockTest, PausedCameraAppliesNothingUntilItRunsAgain) {
  UpdateCamera(Clock.Now);
  PauseCamera();
  WheelDownTime = Clock.Now;
  Clock.Advance(60);
  UpdateCamera(Clock.Now);  // first update after the pause only records its time
  EXPECT_EQ(CameraZoom, StartZoom);
  EXPECT_EQ(WheelDownTime, Clock.Now - 60);
  Clock.Advance(12);
  UpdateCamera(Clock.Now);  // the second applies the whole 72 ms
  EXPECT_NEAR(CameraZoom, StartZoom - 6.0f, 1e-5);

  // Not active: no edge is set and nothing turns.
  EdgeScroll(0, 0, 640, 480, false);
  EXPECT_EQ(TurnLeftSince, 0u);
  EXPECT_EQ(TiltUpSince, 0u);
  Clock.Advance(1000);
  UpdateCamera(Clock.Now);
  EXPECT_EQ(CameraYaw, 0.0f);
  EXPECT_EQ(CameraPitch, StartPitch);
}

// Each notch moves the camera a step a player sees, a fraction of a notch
// (a fine-grained wheel or a touch pad) in proportion, and forty notches
// either way reach the limit and stay there.
TEST_F(FrameClockTest, EachWheelNotchZoomsAVisibleStepUntilTheLimits) {
  const float start = ZoomBase - CameraZoom;  // the camera's distance to the player
  ZoomByWheel(-WheelNotch);
  EXPECT_GE((ZoomBase - CameraZoom) - start, 0.1f * start) << "a notch towards the user: farther by a tenth";
  ZoomByWheel(WheelNotch / 2);
  ZoomByWheel(WheelNotch / 2);
  EXPECT_FLOAT_EQ(CameraZoom, StartZoom) << "two half notches make one";
  for (int n = 0; n < 40; ++n) ZoomByWheel(-WheelNotch);
  EXPECT_EQ(CameraZoom, MinZoom);
  for (int n = 0; n < 40; ++n) ZoomByWheel(WheelNotch);
  EXPECT_EQ(CameraZoom, MaxZoom);
  ZoomByWheel(WheelNotch);
  EXPECT_EQ(CameraZoom, MaxZoom);
  EXPECT_GE(ZoomBase - MaxZoom, NearestCameraDistance);
}

// Arrow keys and drags turn by degrees; the pitch keeps its limits, the
// yaw goes round freely.
TEST_F(FrameClockTest, TurningTheCameraKeepsThePitchWithinItsLimits) {
  TurnCamera(-30, 10);
  EXPECT_FLOAT_EQ(CameraYaw, -30);
  EXPECT_FLOAT_EQ(CameraPitch, StartPitch + 10);
  TurnCamera(400, 500);
  EXPECT_FLOAT_EQ(CameraYaw, 370);
  EXPECT_EQ(CameraPitch, MaxPitch);
  TurnCamera(0, -500);
  EXPECT_EQ(CameraPitch, MinPitch);
  TurnCamera(0, std::nanf(""));
  EXPECT_EQ(CameraPitch, MinPitch) << "a NaN lands on a limit";
}

}  // namespace
