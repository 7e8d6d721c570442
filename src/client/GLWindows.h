// The base of the client's full-window screens (the intro and the in-game
// view).  A screen is not a platform window: the client window forwards its
// size, keyboard, mouse and paint requests to the one current screen, which
// draws with the context of GLContext.h.  User-interface thread only.
#pragma once

#include <cstdint>

class QWindow;
class TFrmClient;

// The held modifier keys and mouse buttons, as the platform reports them
// with an input event.  The screens only test ssShift.
enum TShiftStateFlag : uint8_t {
  ssShift = 1,
  ssAlt = 2,
  ssCtrl = 4,
  ssLeft = 8,
  ssRight = 16,
  ssMiddle = 32,
};
using TShiftState = uint8_t;

enum class TMouseButton : uint8_t { mbLeft, mbRight, mbMiddle };

// Virtual-key codes the screens and the chat panel read.
enum : uint16_t {
  VK_BACK = 8,
  VK_TAB = 9,
  VK_RETURN = 13,
  VK_SHIFT = 16,
  VK_CONTROL = 17,
  VK_MENU = 18,
  VK_ESCAPE = 27,
  VK_SPACE = 32,
  VK_PRIOR = 33,
  VK_NEXT = 34,
  VK_END = 35,
  VK_HOME = 36,
  VK_LEFT = 37,
  VK_UP = 38,
  VK_RIGHT = 39,
  VK_DOWN = 40,
  VK_INSERT = 45,
  VK_DELETE = 46,
  VK_F1 = 112,
};

class TGLWindow {
 public:
  TGLWindow() = default;
  virtual ~TGLWindow() = default;
  TGLWindow(const TGLWindow&) = delete;
  TGLWindow& operator=(const TGLWindow&) = delete;

  // Client size in pixels, as last given to Resize.
  int32_t Width = 0;
  int32_t Height = 0;

  // The screen became current with a context, or the context was just made.
  virtual void Init() {}
  // Stores the size, sets the viewport and the perspective projection.
  virtual void Resize(int32_t width, int32_t height);
  // A key went down; key is its virtual-key code.
  virtual void KeyDown(uint16_t& key, TShiftState shift);
  // A character was typed, in Windows-1252.
  virtual void KeyPress(char& key);
  // Mouse buttons and movement, in client pixels from the top left.
  virtual void MouseDown(QWindow* sender, TMouseButton button, TShiftState shift, int32_t x, int32_t y);
  virtual void MouseMove(QWindow* sender, TShiftState shift, int32_t x, int32_t y);
  virtual void MouseUp(QWindow* sender, TMouseButton button, TShiftState shift, int32_t x, int32_t y);
  // Draws the frame, between the window's clear and Present.
  virtual void Paint() {}
  // Another screen became current, or the window closes.
  virtual void Leave() {}
};

// The one client window the screens belong to; empty while none exists.
TFrmClient* ClientWindow();
