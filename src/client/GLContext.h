// The client's one OpenGL rendering context, made for one window, and the few
// operations every frame needs: create and release it, set the viewport,
// switch between the 3D perspective and the 2D pixel projection, present the
// frame and ask for the next one.  The state below is the whole program's;
// the context module owns GLContext.  User-interface thread only.
#pragma once

#include <QPointer>
#include <QSurfaceFormat>
#include <QWindow>
#include <cstdint>

class QOpenGLContext;
class QSurface;

// The window the context was made for; empty while there is none.
extern QPointer<QWindow> GLTarget;
// The window's drawing surface (GLTarget itself, seen as a surface).
extern QSurface* GLDevice;
// The context; every operation but SetClearColor does nothing while it is
// empty.  Created by InitGL, deleted by ReleaseGL.
extern QOpenGLContext* GLContext;
// The viewport as last set, in pixels.
extern int32_t ViewWidth;
extern int32_t ViewHeight;
// Set by the first Present and never cleared: no frame is requested before
// one frame has been drawn by an ordinary paint.
extern bool Presented;
// Red, green, blue, alpha the colour buffer is cleared to (0.5 each at
// start); the client window also takes it as the fog colour.
extern float ClearColor[4];
extern float ClearDepth;
// The perspective projection: vertical field of view in degrees and the
// clipping distances in world units.
extern double FieldOfView;
extern double NearPlane;
extern double FarPlane;

// The surface a window needs for the context: double-buffered RGB with 8 bits
// a channel, a depth buffer of 32 bits where the driver has one (the closest
// below otherwise), no stencil, a compatibility-profile context.  Windows
// that will carry the context set it before they are first shown.
QSurfaceFormat GLPixelFormat();

// Creates the context for the window and makes it current; releases a
// context made for another window first.  True when a context for this
// window exists afterwards.
bool InitGL(QWindow* window);
// Stores the viewport size; sets the GL viewport unless height is 0.
void SetViewport(int32_t width, int32_t height);
// Clear colour from a packed 0xAARRGGBB value; stored even without context.
void SetClearColor(uint32_t color);
// Projection: perspective over the viewport, model-view identity.
void SetPerspective();
// Projection: one unit a pixel, origin top left, Y downwards; model-view
// identity.
void SetOrtho();
// Flushes and swaps the buffers; marks Presented.
void Present();
// Asks the target window for a frame at once, delivered to it as an update
// request on this thread, once a first frame has been presented.
void Refresh();
// Makes no context current, deletes the context, forgets the window.
void ReleaseGL();
