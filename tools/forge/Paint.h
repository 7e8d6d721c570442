// The painting kit: floating-point pictures, deterministic noise, the
// baking of a mesh's surface into its texture (every texel painted from the
// point of the model it shows, lighting included, since the game draws the
// characters unlit), and the output to 24-bit Windows bitmaps and 8-bit
// paletted pictures.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Geometry.h"
#include "Vectors.h"

class TBitmap;

namespace forge {

struct TColor {
  float R = 0, G = 0, B = 0;
};

inline TColor operator+(TColor a, TColor b) { return {a.R + b.R, a.G + b.G, a.B + b.B}; }
inline TColor operator*(TColor a, float s) { return {a.R * s, a.G * s, a.B * s}; }
inline TColor operator*(TColor a, TColor b) { return {a.R * b.R, a.G * b.G, a.B * b.B}; }
inline TColor Mix(TColor a, TColor b, float t) { return a + (TColor{b.R - a.R, b.G - a.G, b.B - a.B} * t); }
// 0xRRGGBB as a colour of 0..1 channels.
constexpr TColor Hex(uint32_t rgb) {
  return {static_cast<float>((rgb >> 16) & 0xFF) / 255.0f, static_cast<float>((rgb >> 8) & 0xFF) / 255.0f,
          static_cast<float>(rgb & 0xFF) / 255.0f};
}

// A picture, rows from the top.
class TImage {
 public:
  TImage(int width, int height, TColor fill = {});
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  TColor& At(int x, int y) { return FPixels[static_cast<std::size_t>(y) * FWidth + x]; }
  TColor At(int x, int y) const { return FPixels[static_cast<std::size_t>(y) * FWidth + x]; }
  // Wraps around both edges.
  TColor Wrapped(int x, int y) const;
  // Bilinear sample at pixel coordinates (centres at .5), wrapping.
  TColor Sample(float x, float y) const;
  // Paints colour over the pixel with coverage alpha (0..1).
  void Blend(int x, int y, TColor colour, float alpha);
  // Every pixel from a function of its centre in 0..1 coordinates.
  void Fill(const std::function<TColor(float x, float y)>& paint);

 private:
  int FWidth, FHeight;
  std::vector<TColor> FPixels;
};

// 24-bit bitmap of the picture, channels clamped and rounded.
void ToBitmap(const TImage& image, TBitmap& bitmap);
// Writes a 24-bit Windows bitmap file.
void SaveBitmap(const TImage& image, const std::string& fileName);
// Writes a 256-colour PCX picture: the palette is chosen from the picture's
// own colours (median cut), each pixel takes the nearest entry.
void SavePCX(const TImage& image, const std::string& fileName);

// Noise in [-1, 1], smooth, the same for the same arguments everywhere.
float Noise3(TVec3 p, uint32_t seed = 0);
// Noise in 2D repeating every period units on both axes.
float PeriodicNoise(float x, float y, int period, uint32_t seed = 0);
// Sums of octaves (each twice the frequency, half the amplitude), about [-1, 1].
float Fractal3(TVec3 p, int octaves, uint32_t seed = 0);
float PeriodicFractal(float x, float y, int period, int octaves, uint32_t seed = 0);
// A hash of integers as a float in [0, 1).
float Hash01(int32_t x, int32_t y = 0, int32_t z = 0, uint32_t seed = 0);

// A fixed pseudo-random sequence (xorshift), for scattering.
class TRandom {
 public:
  explicit TRandom(uint64_t seed) : FState(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint32_t Next();
  // Uniform in [lo, hi).
  float Range(float lo, float hi);

 private:
  uint64_t FState;
};

// The point of a surface that a texel shows.
struct TSurfacePoint {
  TVec3 Position;  // rest pose, model units
  TVec3 Normal;    // unit
  int Part = 0;
  int Material = 0;
  float U = 0, V = 0;  // inside the part's own square
};
using TShader = std::function<TColor(const TSurfacePoint&)>;

// Paints every texel that a triangle of a mesh covers (texture V = 0 at the
// bottom row, as the game uploads bitmaps); then Grow spreads the painted
// areas a few texels into the unpainted ones, so that filtering at the edges
// of each part never reaches the background.  Several meshes may share one
// picture (their parts packed together).
class TBaker {
 public:
  explicit TBaker(TImage& image);
  void Paint(const TMeshBuilder& mesh, const TShader& shader);
  void Grow(int texels);

 private:
  TImage& FImage;
  std::vector<uint8_t> FPainted;
};

// The light the characters are painted with, for a surface normal: sky from
// above, a key light from the front left and above, dim ground light.
float Lighting(TVec3 normal);
// A highlight for shiny surfaces seen from the front (0..1).
float Highlight(TVec3 normal, float sharpness);

}  // namespace forge
