// The frame clock, the orbit camera of the in-game view and two small
// drawings of the client window (the waiting clock and the mouse pointer).
// Module-wide state that lives as long as the process; the screens tick the
// clock and feed the camera, the client window zooms it by wheel notches.
// All times are tick-counter milliseconds, differences taken modulo 2^32.
#pragma once

#include <cstdint>

// Frame clock.
extern uint32_t FrameTime;        // time stamp of the current frame; 0 before the first
extern uint32_t FrameDelta;       // ms between the previous frame and this one
extern uint32_t FramesPerSecond;  // last measured rate; 0 until a second was measured
extern uint32_t FpsCount;         // 1000 per frame counted in the measuring window
extern uint32_t FpsWindowStart;   // start of the measuring window; 0 before the first frame

// Camera, angles in degrees.
extern float CameraYaw;            // turn of the world about the vertical axis
extern float CameraPitch;          // tilt, within MinPitch..MaxPitch (90 looks down)
extern float CameraZoom;           // nearness: the camera stands 25 - zoom from its target
extern uint32_t CameraLastUpdate;  // last UpdateCamera; 0 while paused
extern uint32_t TurnRightSince;    // not 0 while the mouse is near the right edge
extern uint32_t TurnLeftSince;     // ... the left edge
extern uint32_t TiltUpSince;       // ... the top edge
extern uint32_t TiltDownSince;     // ... the bottom edge
extern float YawRate;              // degrees per ms for the yaw
extern float PitchRate;            // degrees per ms for the pitch
// Zoom by the time from a turn to the next update, 0 when none; the window
// zooms by notches (ZoomByWheel) and sets neither any more.
extern uint32_t WheelDownTime;  // a turn towards the user not yet applied
extern uint32_t WheelUpTime;    // a turn away from the user not yet applied

constexpr float StartPitch = 25.0f;
constexpr float StartZoom = 12.0f;
constexpr float MinPitch = -10.0f;
constexpr float MaxPitch = 90.0f;
constexpr float MinZoom = -18.0f;
constexpr float ZoomBase = 25.0f;              // distance to the target at zoom 0, world units
constexpr float NearestCameraDistance = 8.0f;  // world units: outside the head at any pitch
constexpr float MaxZoom = ZoomBase - NearestCameraDistance;
constexpr float ZoomMsPerUnit = 12.0f;  // wheel: one unit of zoom per 12 ms
constexpr int EdgeBand = 10;            // pixels from an edge that turn the camera
constexpr int WheelNotch = 120;         // angle delta of one notch of a common wheel
constexpr float ZoomPerNotch = 2.0f;    // world units nearer or farther per notch

// The frame timer's rate (--fps), frames a second.  Everything that moves
// is driven by the time elapsed between frames, so any rate walks the same
// paths at the same times; a higher one only draws more of the steps.
constexpr int DefaultFrameRate = 25;  // the written 40 ms a frame
constexpr int MinFrameRate = 10;
constexpr int MaxFrameRate = 120;
// What main read on the command line; the client window's timer runs at it.
extern int FrameRate;
// The timer's period for a rate, whole milliseconds (25: 40, 60: 17).
int FramePeriodMs(int rate);

// Advances the frame clock to GetTickCount; once at the start of each Paint.
void TickFrame();
// Yaw 0, pitch and zoom as at start; nothing else.
void ResetCamera();
// Applies the held edges and the pending wheel turns up to now.
void UpdateCamera(uint32_t now);
// Zooms by a wheel's angle delta at once, WheelNotch to a notch, positive
// away from the user (nearer); fractions of a notch count in proportion.
void ZoomByWheel(int angleDelta);
// Turns the camera by the given degrees (arrow keys, a right-button drag);
// the pitch stays within its limits.
void TurnCamera(float yawDegrees, float pitchDegrees);
// The next UpdateCamera only records its time.
void PauseCamera();
// Starts or stops the edge turning from a mouse position in a screen of
// width by height pixels; a window that is not active stops every edge.
void EdgeScroll(int32_t x, int32_t y, int32_t width, int32_t height, bool active);
// The in-game view transform on the model-view matrix, around the world
// point (wx, 0, wz).
void ApplyCamera(float wx, float wz);
// The waiting clock, elapsed ms after connecting began (perspective set).
void DrawWaitClock(uint32_t elapsed);
// The mouse pointer with its tip at client pixel (x, y) (pixel projection set).
void DrawPointer(int32_t x, int32_t y);
