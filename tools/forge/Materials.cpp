#include "Materials.h"

#include <algorithm>
#include <cmath>

namespace forge {

namespace {

// What polished metal mirrors: a pale sky, a bright horizon, dark ground.
TColor Environment(TVec3 n) {
  float up = n.Y * 0.85f + n.Z * 0.15f;
  if (up >= 0) return Mix(Hex(0x7A8494), Hex(0xC8D0DC), std::sqrt(up));
  // A dark band just under the horizon, as polished plate shows it.
  if (up > -0.18f) return Mix(Hex(0x3A3834), Hex(0x24221F), -up / 0.18f);
  return Mix(Hex(0x4A4642), Hex(0x2A2725), std::min(1.0f, (-up - 0.18f) * 2.0f));
}

}  // namespace

TColor Steel(TVec3 n, float grime) {
  TColor base = Hex(0x6C727C);
  TColor c = Environment(n) * 0.56f + base * (Lighting(n) * 0.38f);
  c = c + TColor{1, 1, 1} * (0.60f * Highlight(n, 40));
  return c * (1 - grime);
}

TColor Gold(TVec3 n) {
  TColor base = Hex(0xC8962E);
  TColor env = Environment(n);
  float brightness = (env.R + env.G + env.B) / 3;
  TColor c = base * (0.35f + 0.75f * brightness) * Mix(0.75f, 1.1f, Lighting(n) - 0.4f);
  return c + Hex(0xFFF0C0) * (0.5f * Highlight(n, 24));
}

TColor Mail(TVec3 p, TVec3 n) {
  // Staggered rows of rings, 7 thousandths of a unit apart.
  constexpr float Pitch = 0.0075f;
  float row = p.Y / Pitch;
  float around = (p.X * 0.7f + p.Z) / Pitch + (static_cast<int>(std::floor(row)) % 2) * 0.5f;
  float fx = around - std::floor(around) - 0.5f, fy = row - std::floor(row) - 0.5f;
  float ring = std::fabs(std::sqrt(fx * fx + fy * fy) - 0.33f);
  float metal = SmoothStep(0.22f, 0.08f, ring);
  TColor dark = Hex(0x2E3034) * Lighting(n);
  TColor bright = Mix(Hex(0x7A7F86), Hex(0xC8CDD4), Highlight(n, 8)) * Lighting(n);
  return Mix(dark, bright, metal);
}

TColor Cloth(TColor base, TVec3 p, TVec3 n) {
  float weave = 0.04f * std::sin(p.X * 900) * std::sin(p.Y * 900);
  float fold = 0.06f * Fractal3(p * 40.0f, 3, 11);
  return base * (Lighting(n) * (1 + weave + fold));
}

TColor Leather(TColor base, TVec3 p, TVec3 n) {
  float grain = 0.10f * Fractal3(p * 120.0f, 3, 23) + 0.06f * Fractal3(p * 25.0f, 2, 29);
  return base * (Lighting(n) * (1 + grain)) + TColor{1, 0.9f, 0.8f} * (0.08f * Highlight(n, 10));
}

float SegmentDistance(float px, float py, float ax, float ay, float bx, float by) {
  float dx = bx - ax, dy = by - ay;
  float t = Clamp(((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy), 0, 1);
  float ex = px - (ax + dx * t), ey = py - (ay + dy * t);
  return std::sqrt(ex * ex + ey * ey);
}

float Emblem(float x, float y, float aa) {
  float r = std::sqrt(x * x + y * y);
  float ring = std::fabs(r - 0.86f) - 0.09f;
  // The Z: top bar, diagonal, bottom bar.
  float z = std::min({SegmentDistance(x, y, -0.42f, 0.46f, 0.42f, 0.46f),
                      SegmentDistance(x, y, 0.42f, 0.46f, -0.42f, -0.46f),
                      SegmentDistance(x, y, -0.42f, -0.46f, 0.42f, -0.46f)}) -
            0.11f;
  float d = std::min(ring, z);
  return SmoothStep(aa, -aa, d);
}

}  // namespace forge
