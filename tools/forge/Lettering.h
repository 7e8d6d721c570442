// Shapes for the screens' pictures as signed distances (negative inside, in
// the units of the picture's coordinates): polygons, strokes along
// polylines, and the letters of the game's name drawn as strokes of a bold
// geometric face.  Also the embossed look that the logo and the title share.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Paint.h"

namespace forge {

struct TPoint2 {
  float X = 0, Y = 0;
};
using TPolyline = std::vector<TPoint2>;

// Distance from p to the nearest segment of the polyline (closed: the last
// point joins the first).
float PolylineDistance(const TPolyline& line, TPoint2 p, bool closed);
// Signed distance to a closed polygon.
float PolygonDistance(const TPolyline& polygon, TPoint2 p);
// An arc of an ellipse from angle a0 to a1 (radians), count segments.
TPolyline Arc(TPoint2 centre, float rx, float ry, float a0, float a1, int count);

// A text set in strokes: its polylines with the baseline at y = 0 and the
// capitals 1 high, advancing to the right; Width is where it ends.
struct TStrokeText {
  std::vector<TPolyline> Strokes;
  float Width = 0;
};
// The letters of "VAROzuvod" (others are skipped).
TStrokeText SetText(const std::string& text, float spacing);
// Signed distance to strokes of the given half thickness.
float StrokeDistance(const TStrokeText& text, TPoint2 p, float halfThickness);

// A distance field as a function of a point.
using TField = std::function<float(TPoint2)>;
// Metal or cloth raised by its distance field: a bevel bevel units wide
// lit from the top left, at point p.
TColor Embossed(const TField& field, TPoint2 p, TColor base, float bevel, float shine);
// Coverage of a field's inside at p, over a soft edge of aa units.
inline float Inside(float distance, float aa) { return SmoothStep(aa, -aa, distance); }

}  // namespace forge
