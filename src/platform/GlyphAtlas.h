// The glyph atlas of the OpenGL font: every Windows-1252 code drawn by the
// platform's TrueType rasteriser, white with a one-pixel black outline, into
// its 16 by 16 cell of a 256 by 256 bitmap whose background is a key colour,
// together with each code's advance width.  The caller owns the bitmap.
// Needs a QGuiApplication, no OpenGL context; user-interface thread only.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

class TBitmap;

struct TGlyphAtlas {
  static constexpr int Size = 256;                // pixels per side
  static constexpr int CellSize = 16;             // pixels per side of a cell
  static constexpr uint32_t KeyColor = 0x800080;  // 0xRRGGBB of the background
  static constexpr int FontPixels = 13;           // Verdana bold, 10 points at 96 dpi

  std::unique_ptr<TBitmap> Bitmap;    // 32 bits per pixel
  std::array<int32_t, 256> Widths{};  // advance width in pixels of each code
};

// Code c sits at column c mod 16 and row c div 16, row 0 at the top.
TGlyphAtlas DrawGlyphAtlas();
