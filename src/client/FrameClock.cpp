#include "client/FrameClock.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>

#include "models/GLMath.h"
#include "platform/Tick.h"

uint32_t FrameTime = 0;
uint32_t FrameDelta = 0;
uint32_t FramesPerSecond = 0;
uint32_t FpsCount = 0;
uint32_t FpsWindowStart = 0;
int FrameRate = DefaultFrameRate;

float CameraYaw = 0;
float CameraPitch = StartPitch;
float CameraZoom = StartZoom;
uint32_t CameraLastUpdate = 0;
uint32_t TurnRightSince = 0;
uint32_t TurnLeftSince = 0;
uint32_t TiltUpSince = 0;
uint32_t TiltDownSince = 0;
float YawRate = 0;
float PitchRate = 0;
uint32_t WheelDownTime = 0;
uint32_t WheelUpTime = 0;

int FramePeriodMs(int rate) {
  const int bounded = std::clamp(rate, MinFrameRate, MaxFrameRate);
  return static_cast<int>(std::lround(1000.0 / bounded));
}

namespace {
constexpr uint32_t FpsWindowMs = 1000;
constexpr uint32_t FpsUnit = 1000;  // a frame counts 1000 so that count / ms is per second

// Edge speeds: 1 / (pixels from the edge * factor) degrees per ms.  Left and
// bottom turn a little faster than right and top.
constexpr int LeftFactor = 4;
constexpr int RightFactor = 5;
constexpr int TopFactor = 5;
constexpr int BottomFactor = 4;

// Waiting clock: drift and swing periods in ms per radian, its size.
constexpr double DriftMsPerRadian = 600;
constexpr double SwingMsPerRadian = 200;
constexpr float SwingDegrees = 15;
constexpr float ClockDistance = 5;
constexpr int ClockSegments = 40;
constexpr float ClockRadius = 1.0f;
constexpr float SecondsHandsPerMinute = 60;

// Pointer arrow, pixels.
constexpr int PointerHeight = 18;
constexpr int PointerWing = 6;
constexpr int PointerWidth = 12;

// Moves one edge's time stamp to now and returns how far the angle goes.
float Advance(uint32_t& since, uint32_t now, float rate) {
  if (since == 0) return 0;
  double turned = static_cast<double>(now - since) * rate;
  since = now;
  return static_cast<float>(turned);
}

float Rate(int pixels, int factor) { return 1.0f / static_cast<float>(pixels * factor); }
}  // namespace

void TickFrame() {
  uint32_t now = GetTickCount();
  if (FrameTime == 0) FrameTime = now;
  FrameDelta = now - FrameTime;
  FrameTime = now;
  if (FpsWindowStart == 0) {
    FpsWindowStart = FrameTime;
    FpsCount = 0;
    return;
  }
  uint32_t elapsed = FrameTime - FpsWindowStart;
  if (elapsed < FpsWindowMs) {
    FpsCount += FpsUnit;
    return;
  }
  // The frame that closes the window is not counted in it.
  FramesPerSecond = FpsCount / elapsed;
  FpsCount = 0;
  FpsWindowStart = FrameTime;
}

void ResetCamera() {
  CameraYaw = 0;
  CameraPitch = StartPitch;
  CameraZoom = StartZoom;
}

namespace {
// Written as "not at least" so that a NaN lands on the lower limit too.
void KeepPitchInLimits() {
  if (!(CameraPitch >= MinPitch)) CameraPitch = MinPitch;
  if (CameraPitch > MaxPitch) CameraPitch = MaxPitch;
}

void KeepZoomInLimits() {
  if (!(CameraZoom >= MinZoom))
    CameraZoom = MinZoom;
  else if (CameraZoom > MaxZoom)
    CameraZoom = MaxZoom;
}
}  // namespace

void UpdateCamera(uint32_t now) {
  if (CameraLastUpdate != 0) {
    CameraYaw += Advance(TurnRightSince, now, YawRate);
    CameraYaw -= Advance(TurnLeftSince, now, YawRate);
    CameraPitch -= Advance(TiltUpSince, now, PitchRate);
    CameraPitch += Advance(TiltDownSince, now, PitchRate);
    KeepPitchInLimits();
    if (WheelDownTime != 0) {
      CameraZoom -= static_cast<float>((now - WheelDownTime) / ZoomMsPerUnit);
      WheelDownTime = 0;
    }
    if (WheelUpTime != 0) {
      CameraZoom += static_cast<float>((now - WheelUpTime) / ZoomMsPerUnit);
      WheelUpTime = 0;
    }
    KeepZoomInLimits();
  }
  CameraLastUpdate = now;
}

void ZoomByWheel(int angleDelta) {
  CameraZoom += static_cast<float>(angleDelta) * ZoomPerNotch / static_cast<float>(WheelNotch);
  KeepZoomInLimits();
}

void TurnCamera(float yawDegrees, float pitchDegrees) {
  CameraYaw += yawDegrees;
  CameraPitch += pitchDegrees;
  KeepPitchInLimits();
}

void PauseCamera() { CameraLastUpdate = 0; }

void EdgeScroll(int32_t x, int32_t y, int32_t width, int32_t height, bool active) {
  uint32_t t = 0;
  if (active) {
    t = GetTickCount();
    UpdateCamera(t);  // the edge in force until now applies up to now
  }
  // While the mouse is captured it reports positions outside the screen; at
  // or past an edge it turns at that edge's top speed, never at an infinite
  // or reversed one.
  x = std::clamp(x, 0, std::max(width - 1, 0));
  y = std::clamp(y, 0, std::max(height - 1, 0));
  // An edge that takes over stops the opposite one: the mouse may come
  // from there in one move (out of the window on one side, back in on the
  // other), and two edges under one rate would cancel out.
  if (x < EdgeBand) {
    TurnLeftSince = t;
    TurnRightSince = 0;
    YawRate = Rate(x + 1, LeftFactor);
  } else {
    TurnLeftSince = 0;
    if (x >= width - EdgeBand) {
      TurnRightSince = t;
      YawRate = Rate(width - x, RightFactor);
    } else {
      TurnRightSince = 0;
    }
  }
  if (y < EdgeBand) {
    TiltUpSince = t;
    TiltDownSince = 0;
    PitchRate = Rate(y + 1, TopFactor);
  } else {
    TiltUpSince = 0;
    if (y >= height - EdgeBand) {
      TiltDownSince = t;
      PitchRate = Rate(height - y, BottomFactor);
    } else {
      TiltDownSince = 0;
    }
  }
}

void ApplyCamera(float wx, float wz) {
  glTranslatef(0, -5, CameraZoom - ZoomBase);
  glRotatef(CameraPitch, 1, 0, 0);
  glRotatef(CameraYaw, 0, 1, 0);
  glTranslatef(-wx, 0, -wz);
}

void DrawWaitClock(uint32_t elapsed) {
  double e = elapsed;
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_TEXTURE_2D);
  double drift = e / DriftMsPerRadian;
  glTranslatef(static_cast<float>(std::cos(drift)), static_cast<float>(std::sin(drift)),
               static_cast<float>(-ClockDistance - std::cos(drift)));
  glRotatef(static_cast<float>(SwingDegrees * std::sin(e / SwingMsPerRadian)), 0, 1, 0);
  glColor3f(0.8f, 0.8f, 0.8f);
  DrawDisc(ClockSegments, 0, 0, 0, ClockRadius, 0, 0, 0.5f);
  // One turn a second for the black hand, one a minute for the red one;
  // the product wraps as a 32-bit count does.
  float a = static_cast<float>(static_cast<uint32_t>(elapsed * 360u)) / 1000.0f;
  glRotatef(-a / SecondsHandsPerMinute, 0, 0, 1);
  glColor3f(1, 0, 0);
  DrawHand(0.6f, 0.1f);
  glRotatef(-a + a / SecondsHandsPerMinute, 0, 0, 1);
  glColor3f(0, 0, 0);
  DrawHand(0.9f, 0.1f);
}

void DrawPointer(int32_t x, int32_t y) {
  glDisable(GL_DEPTH_TEST);
  glBegin(GL_TRIANGLE_FAN);
  glColor3f(0, 0, 1);
  glVertex2i(x, y);
  glColor3f(1, 1, 1);
  glVertex2i(x, y + PointerHeight);
  glVertex2i(x + PointerWing, y + PointerHeight - PointerWing);
  glColor3f(0, 0, 1);
  glVertex2i(x + PointerWidth, y + PointerHeight - PointerWing);
  glEnd();
}
