// Text inside the OpenGL screens: TGLFont, the one bitmap font shared by
// every screen (owned by the client window), and TGLMemo, the chat panel of
// the in-game screen with its coloured word-wrapped lines, scroll bar,
// input line and resizable top edge.  All drawing is in window pixels with
// the origin at the top left; everything runs on the user-interface thread.
#pragma once

#include <GL/gl.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TBitmap;

// The 256 codes of Windows-1252 as 16 by 16 pixel glyphs in one 256 by 256
// texture.  The atlas bitmap lives from construction to the first BeginText,
// the texture from then on; the texture name dies with the GL context.
class TGLFont {
 public:
  static constexpr int GlyphSize = 16;  // pixels per side of a glyph quad
  static constexpr uint32_t KeyColor = 0x800080;

  // Builds the atlas and measures the widths; needs no GL context.
  TGLFont();
  ~TGLFont();
  TGLFont(const TGLFont&) = delete;
  TGLFont& operator=(const TGLFont&) = delete;

  // Drawing: BeginText makes the texture on its first call (GL context
  // current), binds it, and sets texturing, alpha test and no depth test.
  void BeginText();
  void EndText();
  // Draws S with its top-left corner at (X, Y) in the current colour.
  void TextOut(int X, int Y, std::string_view S) const;
  // TextOut with the text's middle at X (half the width, truncated).
  void TextOutCentered(int X, int Y, std::string_view S) const;

  // Measuring
  int TextWidth(std::string_view S) const;
  int Width(char c) const { return Widths[static_cast<unsigned char>(c)]; }

  // The atlas until the first BeginText, then null.
  const TBitmap* Bitmap() const { return FBitmap.get(); }
  // The texture name, 0 until the first BeginText.
  GLuint Texture() const { return FTexture; }

  // Advance width in pixels of each code.
  std::array<int32_t, 256> Widths{};

 private:
  std::unique_ptr<TBitmap> FBitmap;
  GLuint FTexture = 0;
};

// One line of the panel as added.
struct TGLMemoLine {
  std::string Text;
  uint32_t Color = 0;   // 0xAARRGGBB, always opaque
  int32_t Height = -1;  // pixels after wrapping, 14 per display line; -1 = not measured
};

// The chat panel.  The owner places it (Left, Top, SetSize), forwards mouse
// and key events and draws it each frame; the font is the shared one and
// stays the owner's.  The lines are a ring of Capacity entries that drops
// the oldest line when full.  Enter hands the typed line to OnSay.
class TGLMemo {
 public:
  static constexpr int LineHeight = 14;        // pixels per display line
  static constexpr int DefaultHeight = 144;    // pixels
  static constexpr int DefaultCapacity = 100;  // lines
  static constexpr uint32_t DefaultBackColor = 0x80808080;

  explicit TGLMemo(TGLFont& font);

  // Lines
  void Add(const std::string& S, uint32_t Color);
  // Resizes the ring, keeping the newest lines; 0 or less keeps none.
  void SetCapacity(int N);
  int Capacity() const { return FCapacity; }
  int Count() const { return FCount; }
  int First() const { return FFirst; }
  int Next() const { return FNext; }
  // The ring entry at a ring index.
  const TGLMemoLine& Lines(int index) const { return FLines[index]; }
  // The line of a given age: 0 the oldest, Count() - 1 the newest.
  const TGLMemoLine& Line(int age) const;

  // Layout
  // A new width measures every line again; the height is taken as it is.
  void SetSize(int W, int H);
  // Measures the lines that need it and sums TotalHeight.
  void Layout();
  // Cuts the first display line off S (which keeps the rest) at Width.
  std::string CutLine(std::string& S) const;
  // The length of the first display line of S.
  std::size_t CutLength(std::string_view S) const;
  // Scroll's largest value; 0 or less when everything fits.
  int ScrollRange() const { return TotalHeight - Height + 4; }

  // Drawing (blend function SRC_ALPHA, ONE_MINUS_SRC_ALPHA set by the owner)
  void Draw();

  // Input: the mouse calls return true when the panel takes the event.
  bool MouseDown(int X, int Y);
  bool MouseMove(int Y);
  bool MouseUp();
  void KeyDown(uint16_t Key);
  void KeyPress(char Key);

  // Receives the input line when Enter is pressed on it (the connection's Say).
  std::function<void(const std::string&)> OnSay;

  int32_t Left = 0, Top = 0;  // text area, set by the owner
  int32_t Width = 0;          // lines wrap to Width - 4 pixels
  int32_t Height = DefaultHeight;
  int32_t TotalHeight = 0;  // sum of the lines' heights after Layout
  int32_t Scroll = 0;       // pixels scrolled back from the newest line
  bool Relayout = false;    // every line must be measured again
  bool Dragging = false;    // the scroll bar is being dragged
  int32_t LastY = 0;        // mouse Y at the last drag event
  uint32_t BackColor = DefaultBackColor;
  bool ResizeHover = false;  // the mouse is in the band above the panel
  bool Resizing = false;     // the owner moves the top edge
  std::string InputText;
  int32_t CaretPos = 1;  // 1-based: the caret stands before this character

 private:
  int MeasureLine(std::string_view text) const;
  void DrawLines();
  void DrawInput(int inputTop);
  void DrawThumb(int right, int bottom);

  TGLFont& FFont;
  std::vector<TGLMemoLine> FLines;
  int32_t FCapacity = 0;
  int32_t FCount = 0;
  int32_t FFirst = 0;
  int32_t FNext = 0;
};
