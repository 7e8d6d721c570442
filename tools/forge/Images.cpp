// The screens' pictures: the emblem (a shield over crossed swords bearing
// the Z of the game), the title lettered on a crimson banner, the flare the
// fires are made of, and the marble of the floor.  Each is painted as a
// function of the point, several samples a pixel.
#include "Images.h"

#include <cmath>

#include "Lettering.h"
#include "Materials.h"

namespace forge {

namespace {

const TColor GoldColour = Hex(0xD8A838);
const TColor SilverColour = Hex(0xC8D0DC);
const TColor FieldBlue = Hex(0x183072);
const TColor Crimson = Hex(0x8A1420);

// Paints with samples x samples points a pixel; paint takes pixel
// coordinates with y growing upwards from the bottom row.
TImage Render(int width, int height, int samples, const std::function<TColor(float x, float y)>& paint) {
  TImage image(width, height);
  const float step = 1.0f / samples;
  for (int row = 0; row < height; ++row)
    for (int x = 0; x < width; ++x) {
      TColor sum;
      for (int sy = 0; sy < samples; ++sy)
        for (int sx = 0; sx < samples; ++sx)
          sum = sum + paint(x + (sx + 0.5f) * step, height - row - 1 + (sy + 0.5f) * step);
      image.At(x, row) = sum * (step * step);
    }
  return image;
}

// ------------------------------------------------------------------ emblem

TPolyline ShieldOutline() {
  TPolyline left;
  left.push_back({0, 0.62f});
  left.push_back({-0.30f, 0.66f});
  left.push_back({-0.60f, 0.70f});
  left.push_back({-0.60f, 0.10f});
  // The lower side curves in to the point.
  for (int i = 1; i <= 16; ++i) {
    float t = static_cast<float>(i) / 16;
    TPoint2 a{-0.60f, 0.10f}, c{-0.56f, -0.45f}, b{0, -0.82f};
    float u = 1 - t;
    left.push_back(
        {u * u * a.X + 2 * u * t * c.X + t * t * b.X, u * u * a.Y + 2 * u * t * c.Y + t * t * b.Y});
  }
  TPolyline outline = left;
  for (int i = static_cast<int>(left.size()) - 2; i >= 1; --i) outline.push_back({-left[i].X, left[i].Y});
  return outline;
}

// A sword from its pommel at a to its point at b, as a distance field.
float SwordDistance(TPoint2 p, TPoint2 a, TPoint2 b, float& part) {
  float dx = b.X - a.X, dy = b.Y - a.Y, length = std::hypot(dx, dy);
  float ux = dx / length, uy = dy / length;
  float along = (p.X - a.X) * ux + (p.Y - a.Y) * uy, across = -(p.X - a.X) * uy + (p.Y - a.Y) * ux;
  const float guard = 0.22f * length;
  // Blade narrowing to the point, guard across, grip, pommel.
  float bladeHalf = 0.045f * Clamp((length - along) / (0.25f * length), 0, 1);
  float blade = std::max(std::fabs(across) - bladeHalf, std::max(guard - along, along - length));
  float cross = std::max(std::fabs(across) - 0.15f, std::fabs(along - guard) - 0.028f);
  float grip = std::max(std::fabs(across) - 0.028f, std::max(0.05f - along, along - guard));
  float pommel = std::hypot(along - 0.035f, across) - 0.05f;
  float d = std::min({blade, cross, grip, pommel});
  part = blade <= d + 1e-6f ? 0.0f : 1.0f;  // 0: steel, 1: gold
  return d;
}

TColor Logo(float px, float py, const TPolyline& shield) {
  TPoint2 p{px / 128.0f - 1, py / 128.0f - 1};
  const float aa = 1.2f / 128;
  // A faint dark glow that is black well before the picture's edges.
  TColor c = Hex(0x0A0E1C) * SmoothStep(0.95f, 0.2f, std::hypot(p.X, p.Y));
  // Crossed swords behind the shield.
  for (float side : {1.0f, -1.0f}) {
    float part = 0;
    TField sword = [&](TPoint2 q) {
      return SwordDistance(q, {-0.80f * side, -0.80f}, {0.70f * side, 0.78f}, part);
    };
    float d = sword(p);
    if (d < aa) {
      TColor metal = Embossed(sword, p, part > 0.5f ? GoldColour : SilverColour, 0.035f, 0.8f);
      c = Mix(c, metal, Inside(d, aa));
    }
  }
  // The shield a little smaller than the swords' cross, so that they show.
  constexpr float ShieldScale = 0.86f;
  TField shieldField = [&](TPoint2 q) {
    return PolygonDistance(shield, {q.X / ShieldScale, (q.Y + 0.04f) / ShieldScale}) * ShieldScale;
  };
  float d = shieldField(p);
  if (d > aa) return c;
  // Gold rim, blue field, a silver Z raised on it.
  TColor face;
  if (d > -0.075f) {
    face = Embossed(shieldField, p, GoldColour, 0.07f, 0.9f);
  } else {
    float shade = 0.75f + 0.35f * (p.Y + 0.8f) / 1.5f + 0.06f * Fractal3({p.X * 6, p.Y * 6, 0}, 3, 7);
    face = FieldBlue * shade;
    TField z = [](TPoint2 q) {
      float x = q.X / 0.40f, y = (q.Y + 0.02f) / 0.40f;
      return (std::min({SegmentDistance(x, y, -0.48f, 0.52f, 0.48f, 0.52f),
                        SegmentDistance(x, y, 0.48f, 0.52f, -0.48f, -0.52f),
                        SegmentDistance(x, y, -0.48f, -0.52f, 0.48f, -0.52f)}) -
              0.15f) *
             0.40f;
    };
    float dz = z(p);
    // A dark groove inside the rim.
    if (d > -0.095f) face = face * 0.45f;
    if (dz < aa)
      face = Mix(face, Embossed(z, p, SilverColour, 0.045f, 1.0f), Inside(dz, aa));
    else if (dz < 0.03f)
      face = face * 0.6f;  // its shadow
  }
  return Mix(c, face, Inside(d, aa));
}

// ------------------------------------------------------------------ title

constexpr float TitleWidth = 512, TitleHeight = 64;

// The banner: a band with swallow-tailed ends, gently waving.
float BannerDistance(TPoint2 p) {
  float y = p.Y - 2.5f * std::sin(p.X / TitleWidth * 2 * Pi) - 32;
  float band = std::fabs(y) - 24;
  // Each end is cut in as a V, deepest (22 pixels) in the middle.
  float fromEnd = std::min(p.X, TitleWidth - p.X) - 6;
  float notch = 22 * (1 - std::fabs(y) / 24);
  return std::max({band, notch - fromEnd, -fromEnd});
}

TColor Title(float px, float py, const TStrokeText& text, float scale, float left) {
  TPoint2 p{px, py};
  const float aa = 0.8f;
  float banner = BannerDistance(p);
  TColor c{};
  if (banner < aa) {
    float wave = 2.5f * std::sin(px / TitleWidth * 2 * Pi);
    float across = (py - wave - 32) / 24;  // -1 bottom to 1 top
    float fold = 0.85f + 0.15f * std::cos(px / TitleWidth * 6 * Pi);
    TColor cloth = Crimson * ((0.75f + 0.35f * (1 - across * across)) * fold);
    cloth = cloth * (1 + 0.05f * Fractal3({px * 0.2f, py * 0.5f, 0}, 2, 13));
    // Gold lines along the edges.
    if (std::fabs(std::fabs(py - wave - 32) - 20.5f) < 1.1f) cloth = GoldColour * 0.9f;
    c = cloth * Inside(banner, aa);
  }
  // The letters, golden, with a dark outline.
  TField letters = [&](TPoint2 q) {
    TPoint2 local{(q.X - left) / scale, (q.Y - 15.0f) / scale};
    return StrokeDistance(text, local, 0.085f) * scale;
  };
  float d = letters(p);
  if (d < 2.6f) c = Mix(c, Hex(0x1A0804), Inside(d - 1.6f, aa));
  if (d < aa) c = Mix(c, Embossed(letters, p, GoldColour, 2.6f, 0.9f), Inside(d, aa));
  return c;
}

// ------------------------------------------------------------------ marble

constexpr int MarbleSize = 256;

TColor Marble(float x, float y) {
  // Cells show one quarter each: the quarters hold a light and a dark
  // stone in a checkerboard, with a thin joint around every slab.
  float u = x / MarbleSize, v = y / MarbleSize;
  bool dark = (u < 0.5f) != (v < 0.5f);
  float turbulence = PeriodicFractal(u * 4, v * 4, 4, 5, dark ? 31u : 17u);
  float veins = std::sin(2 * Pi * (u * 2 + v * 2) + 4.0f * turbulence);
  float fine = std::sin(2 * Pi * (u * 6 - v * 4) + 6.0f * PeriodicFractal(u * 8, v * 8, 8, 3, 53));
  float vein = 0.8f * std::pow(1 - std::fabs(veins), 5.0f) + 0.35f * std::pow(1 - std::fabs(fine), 14.0f);
  float cloud = PeriodicFractal(u * 8, v * 8, 8, 4, 47);
  TColor light = Mix(Hex(0xE8E2D6), Hex(0xD2C8B8), 0.5f + 0.5f * cloud);
  TColor darkStone = Mix(Hex(0x4E5A52), Hex(0x39443E), 0.5f + 0.5f * cloud);
  TColor stone = dark ? darkStone : light;
  stone = Mix(stone, dark ? Hex(0xB8C4B8) : Hex(0x8C8478), 0.55f * vein);
  // Joints between slabs: at the edges of every quarter.
  float fu = std::fmod(u, 0.5f), fv = std::fmod(v, 0.5f);
  float joint = std::min(std::min(fu, 0.5f - fu), std::min(fv, 0.5f - fv)) * MarbleSize;
  if (joint < 1.2f)
    stone = stone * 0.55f;
  else if (joint < 2.4f)
    stone = stone * 1.06f;
  return stone;
}

}  // namespace

TImage PaintLogo() {
  TPolyline shield = ShieldOutline();
  return Render(256, 256, 3, [&](float x, float y) { return Logo(x, y, shield); });
}

TImage PaintTitle() {
  TStrokeText text = SetText("VAROzuvod", 0.16f);
  const float scale = 36;  // pixels to the height of a capital
  const float left = (TitleWidth - text.Width * scale) / 2;
  return Render(512, 64, 3, [&](float x, float y) { return Title(x, y, text, scale, left); });
}

TImage PaintFlare() {
  constexpr int Size = 128;
  return Render(Size, Size, 2, [](float x, float y) {
    float r = std::hypot(x - Size / 2.0f, y - Size / 2.0f) / (Size / 2.0f);
    float glow = 0.78f * std::exp(-r * r * 5.0f) + 0.30f * std::exp(-r * r * 40.0f);
    glow *= SmoothStep(1.0f, 0.72f, r);
    return TColor{1.0f, 0.96f, 0.88f} * std::min(glow, 1.0f);
  });
}

TImage PaintMarble() { return Render(MarbleSize, MarbleSize, 2, Marble); }

}  // namespace forge
