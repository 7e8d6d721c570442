#include "Lettering.h"

#include <algorithm>
#include <cmath>

#include "Materials.h"

namespace forge {

namespace {

constexpr int ArcSegments = 24;
constexpr float XHeight = 0.68f;  // of the lower-case letters, capitals being 1

struct TGlyph {
  std::vector<TPolyline> Strokes;
  float Width;
};

TPolyline Closed(TPolyline line) {
  line.push_back(line.front());
  return line;
}

// The letters, each from x = 0.
TGlyph Glyph(char c) {
  const float x = XHeight;
  switch (c) {
    case 'V':
      return {{{{0, 1}, {0.36f, 0}, {0.72f, 1}}}, 0.72f};
    case 'A':
      return {{{{0, 0}, {0.37f, 1}, {0.74f, 0}}, {{0.15f, 0.36f}, {0.59f, 0.36f}}}, 0.74f};
    case 'R': {
      TPolyline bowl = {{0, 1}, {0.30f, 1}};
      TPolyline arc = Arc({0.30f, 0.74f}, 0.27f, 0.26f, Pi / 2, -Pi / 2, ArcSegments);
      bowl.insert(bowl.end(), arc.begin(), arc.end());
      bowl.push_back({0, 0.48f});
      return {{{{0, 0}, {0, 1}}, bowl, {{0.28f, 0.48f}, {0.62f, 0}}}, 0.62f};
    }
    case 'O':
      return {{Closed(Arc({0.40f, 0.5f}, 0.40f, 0.5f, 0, 2 * Pi, 2 * ArcSegments))}, 0.80f};
    case 'z':
      return {{{{0, x}, {0.50f, x}, {0, 0}, {0.52f, 0}}}, 0.52f};
    case 'u': {
      TPolyline bowl = {{0, x}, {0, 0.25f}};
      TPolyline arc = Arc({0.26f, 0.25f}, 0.26f, 0.25f, Pi, 2 * Pi, ArcSegments);
      bowl.insert(bowl.end(), arc.begin(), arc.end());
      bowl.push_back({0.52f, x});
      return {{bowl, {{0.52f, x}, {0.52f, 0}}}, 0.52f};
    }
    case 'v':
      return {{{{0, x}, {0.28f, 0}, {0.56f, x}}}, 0.56f};
    case 'o':
      return {{Closed(Arc({0.29f, x / 2}, 0.29f, x / 2, 0, 2 * Pi, 2 * ArcSegments))}, 0.58f};
    case 'd':
      return {{Closed(Arc({0.27f, x / 2}, 0.27f, x / 2, 0, 2 * Pi, 2 * ArcSegments)),
               {{0.54f, 0}, {0.54f, 1.02f}}},
              0.54f};
    default:
      return {{}, 0};
  }
}

float Segment(TPoint2 p, TPoint2 a, TPoint2 b) { return SegmentDistance(p.X, p.Y, a.X, a.Y, b.X, b.Y); }

}  // namespace

float PolylineDistance(const TPolyline& line, TPoint2 p, bool closed) {
  float d = 1e9f;
  for (std::size_t i = 0; i + 1 < line.size(); ++i) d = std::min(d, Segment(p, line[i], line[i + 1]));
  if (closed && line.size() > 2) d = std::min(d, Segment(p, line.back(), line.front()));
  return d;
}

float PolygonDistance(const TPolyline& polygon, TPoint2 p) {
  float d = PolylineDistance(polygon, p, true);
  // Inside by the crossing rule.
  bool inside = false;
  for (std::size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
    const TPoint2 &a = polygon[i], &b = polygon[j];
    if ((a.Y > p.Y) != (b.Y > p.Y) && p.X < (b.X - a.X) * (p.Y - a.Y) / (b.Y - a.Y) + a.X) inside = !inside;
  }
  return inside ? -d : d;
}

TPolyline Arc(TPoint2 centre, float rx, float ry, float a0, float a1, int count) {
  TPolyline arc;
  for (int i = 0; i <= count; ++i) {
    float a = Mix(a0, a1, static_cast<float>(i) / count);
    arc.push_back({centre.X + rx * std::cos(a), centre.Y + ry * std::sin(a)});
  }
  return arc;
}

TStrokeText SetText(const std::string& text, float spacing) {
  TStrokeText set;
  for (char c : text) {
    TGlyph glyph = Glyph(c);
    if (glyph.Width == 0) continue;
    if (set.Width > 0) set.Width += spacing;
    for (TPolyline stroke : glyph.Strokes) {
      for (TPoint2& p : stroke) p.X += set.Width;
      set.Strokes.push_back(stroke);
    }
    set.Width += glyph.Width;
  }
  return set;
}

float StrokeDistance(const TStrokeText& text, TPoint2 p, float halfThickness) {
  float d = 1e9f;
  for (const TPolyline& stroke : text.Strokes) d = std::min(d, PolylineDistance(stroke, p, false));
  return d - halfThickness;
}

TColor Embossed(const TField& field, TPoint2 p, TColor base, float bevel, float shine) {
  // The height rises over the bevel from the edge inwards; its slope lit
  // from the top left gives the raised look.
  auto height = [&](TPoint2 q) { return Clamp(-field(q) / bevel, 0, 1); };
  const float e = bevel * 0.25f;
  float dx = height({p.X + e, p.Y}) - height({p.X - e, p.Y});
  float dy = height({p.X, p.Y + e}) - height({p.X, p.Y - e});
  TVec3 n = Normalize({-dx * 0.5f, -dy * 0.5f, 0.25f});
  float light = 0.55f + 0.75f * Dot(n, Normalize({-0.5f, 0.6f, 0.62f}));
  float highlight = std::pow(std::max(0.0f, Dot(n, Normalize({-0.3f, 0.4f, 1.0f}))), 30.0f);
  return base * Clamp(light, 0.25f, 1.4f) + TColor{1, 0.97f, 0.85f} * (shine * highlight);
}

}  // namespace forge
