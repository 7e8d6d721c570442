// The help drawn over either screen of the client window: the game's
// controls, one line each, in a dark box in the middle of the window.  F1
// shows and hides it; the client window owns it and draws it after the
// screen, with the shared font.  User-interface thread only.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

class TGLFont;

class THelpOverlay {
 public:
  static constexpr int LineHeight = 16;             // pixels per line of the list
  static constexpr int Padding = 12;                // pixels between the box's edge and its text
  static constexpr uint32_t BoxColor = 0xE0101018;  // 0xAARRGGBB: nearly opaque, nearly black

  bool Shown = false;
  void Toggle() { Shown = !Shown; }
  // The box and its lines in a window of width by height pixels (pixel
  // projection set); nothing while hidden.
  void Draw(TGLFont& font, int32_t width, int32_t height) const;
  // The lines as shown, the title first.
  static const std::vector<std::string_view>& Lines();
};
