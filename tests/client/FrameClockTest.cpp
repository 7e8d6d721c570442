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

TEST_F(FrameClockTest, EdgeSpeedsFollowTheDistanceToEachEdge) {
  UpdateCamera(Clock.Now);  // running
  Hold(0, 200, 640, 480, 100);
  EXPECT_NEAR(CameraYaw, -25.0f, 1e-3) << "left-most pixel: 250 degrees a second";

  ResetCamera();
  Hold(639, 200, 640, 480, 100);
  EXPECT_NEAR(CameraYaw, 20.0f, 1e-3) << "right-most pixel: 200 degrees a second";

  ResetCamera();
  Hold(9, 200, 640, 480, 1000);
  EXPECT_NEAR(CameraYaw, -25.0f, 1e-3) << "tenth pixel from the left: 25 a second";

  ResetCamera();
  Hold(630, 200, 640, 480, 1000);
  EXPECT_NEAR(CameraYaw, 20.0f, 1e-3) << "tenth pixel from the right: 20 a second";

  ResetCamera();
  Hold(320, 0, 640, 480, 100);
  EXPECT_NEAR(CameraPitch, 25.0f - 20.0f, 1e-3) << "top row: 200 a second, tilting up";

  ResetCamera();
  Hold(320, 479, 640, 480, 100);
  EXPECT_NEAR(CameraPitch, 25.0f + 25.0f, 1e-3) << "bottom row: 250 a second, tilting down";

  ResetCamera();
  Hold(320, 240, 640, 480, 1000);
  EXPECT_EQ(CameraYaw, 0.0f);
  EXPECT_EQ(CameraPitch, StartPitch);
}

TEST_F(FrameClockTest, MovingAwayFromTheEdgeStopsTheTurnAtOnce) {
  UpdateCamera(Clock.Now);
  Hold(0, 200, 640, 480, 40);
  float turned = CameraYaw;
  ASSERT_LT(turned, 0.0f);
  Clock.Advance(40);
  EdgeScroll(320, 200, 640, 480, true);  // applies the last 40 ms, then stops
  EXPECT_NEAR(CameraYaw, 2 * turned, 1e-3);
  EXPECT_EQ(TurnLeftSince, 0u);
  Clock.Advance(500);
  UpdateCamera(Clock.Now);
  EXPECT_NEAR(CameraYaw, 2 * turned, 1e-3);
}

// Leaving the window on the right and coming back in on the left is one
// move from one edge band to the other: only the new edge turns.
TEST_F(FrameClockTest, AJumpToTheOppositeEdgeTurnsThatWayAtOnce) {
  UpdateCamera(Clock.Now);
  Hold(639, 200, 640, 480, 100);
  ASSERT_NEAR(CameraYaw, 20.0f, 1e-3);
  Hold(0, 200, 640, 480, 100);
  EXPECT_NEAR(CameraYaw, 20.0f - 25.0f, 1e-3);
  Hold(320, 479, 640, 480, 100);
  ASSERT_NEAR(CameraPitch, StartPitch + 25.0f, 1e-3);
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

  WheelUpTime = Clock.Now;
  Clock.Advance(24);
  UpdateCamera(Clock.Now);
  EXPECT_NEAR(CameraZoom, StartZoom - 0.5f, 1e-5);
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

// While the chat panel's edge is dragged the mouse is captured and reports
// positions outside the screen; the camera must not turn at an infinite or
// reversed rate there.
TEST_F(FrameClockTest, PositionsOutsideTheScreenTurnAtTheEdgeSpeed) {
  UpdateCamera(Clock.Now);
  Hold(-1, 200, 640, 480, 100);
  EXPECT_NEAR(CameraYaw, -25.0f, 1e-3);
  ResetCamera();
  Hold(-50, 200, 640, 480, 100);
  EXPECT_NEAR(CameraYaw, -25.0f, 1e-3);
  ResetCamera();
  Hold(640, 200, 640, 480, 100);
  EXPECT_NEAR(CameraYaw, 20.0f, 1e-3);
  ResetCamera();
  Hold(320, 600, 640, 480, 40);
  EXPECT_NEAR(CameraPitch, StartPitch + 10.0f, 1e-3);
  EXPECT_TRUE(std::isfinite(CameraYaw));
}

}  // namespace
