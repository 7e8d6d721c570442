// The name tags of the in-game screen: each player's name drawn in window
// pixels above its character, on a dark backing so that it reads on the
// marble and on black, fading out with the fog and hidden beyond it.  The
// tags hold no player; the screen owns them and calls them once a frame.
// User-interface thread, with the OpenGL context current.
#pragma once

#include <array>
#include <string>
#include <vector>

class TGLFont;
class TZULPlayer;
class TZULPlayerList;

class TNameTags {
 public:
  static constexpr float TagHeight = 6.0f;     // world units above the feet: just over the head
  static constexpr float FadeFrom = 20.0f;     // eye distance where the fog starts, world units
  static constexpr float HiddenFrom = 100.0f;  // where the fog is whole: nothing shows there
  static constexpr float BackingAlpha = 0.6f;  // of the dark backing at full strength
  static constexpr int BackingMargin = 3;      // pixels left and right of the name
  static constexpr int TagTextHeight = 16;     // pixels, a glyph quad
  static constexpr float TextRed = 1.0f;       // a light gold, apart from the chat's colours
  static constexpr float TextGreen = 0.9f;
  static constexpr float TextBlue = 0.5f;

  // Takes the scene's projection, model-view and viewport: call while the
  // camera's matrices are current, before the screen turns to pixels.
  void Capture();
  // Draws the tags of the players (the local one only when showOwn) in the
  // window's pixel projection, the farthest first.  Leaves blending off.
  void Draw(TGLFont& font, const TZULPlayerList& players, const TZULPlayer* local, bool showOwn);

  // The tags of the last Draw, for tests: each name's anchor in pixels
  // (the middle of its bottom edge) and its strength, 0 to 1.
  struct TTag {
    const std::string* Name = nullptr;
    float X = 0, Y = 0;
    float Depth = 0;  // eye distance, world units
    float Alpha = 0;
  };
  const std::vector<TTag>& Tags() const { return FTags; }

 private:
  // Where a world point shows: false when it is behind the eye, beyond the
  // fog or far off the screen.
  bool Project(float x, float y, float z, TTag& tag) const;

  std::array<float, 16> FModelView{};
  std::array<float, 16> FProjection{};
  std::array<int, 4> FViewport{};
  std::vector<TTag> FTags;  // room kept from frame to frame
};
