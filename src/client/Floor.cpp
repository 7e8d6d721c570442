#include "client/Floor.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "client/GLContext.h"
#include "models/Frustum.h"
#include "platform/Bitmaps.h"

namespace {

// A region's polygon: its rectangle, cut by one plane, has at most five
// corners.
constexpr std::size_t MaxPolygonCorners = 5;

struct TPoint2 {
  float X, Z;
};

// Whether every corner of the rectangle lies outside one of the planes: then
// nothing of it can show.
bool RectangleOutside(float x0, float z0, float x1, float z1) {
  const TPoint2 corners[4] = {{x0, z0}, {x1, z0}, {x1, z1}, {x0, z1}};
  for (const TPlane& plane : Planes) {
    bool allOutside = true;
    for (const TPoint2& c : corners)
      if (plane.A * c.X + plane.C * c.Z + plane.D >= 0) allOutside = false;
    if (allOutside) return true;
  }
  return false;
}

// The eye-space depth of the floor point (x, 0, z) under the modelview
// matrix m: negative in front of the eye.
float EyeDepth(const GLfloat (&m)[16], TPoint2 p) { return m[2] * p.X + m[10] * p.Z + m[14]; }

// The rectangle cut to the part in front of the near plane.  OpenGL would
// clip it there too, but it interpolates the fog distance, |eye depth|,
// straight across from corners behind the eye, which would fog the near
// floor wrongly; a polygon wholly in front of the eye has the right one
// everywhere.
std::size_t CutAtNearPlane(const GLfloat (&m)[16], const TPoint2 (&rectangle)[4],
                           std::array<TPoint2, MaxPolygonCorners>& polygon) {
  const float limit = -static_cast<float>(NearPlane);
  std::size_t count = 0;
  for (std::size_t k = 0; k < 4; ++k) {
    const TPoint2 a = rectangle[k], b = rectangle[(k + 1) % 4];
    const float da = EyeDepth(m, a) - limit, db = EyeDepth(m, b) - limit;
    if (da <= 0) polygon[count++] = a;
    if ((da <= 0) != (db <= 0)) {
      const float t = da / (da - db);
      polygon[count++] = {a.X + (b.X - a.X) * t, a.Z + (b.Z - a.Z) * t};
    }
  }
  return count;
}

}  // namespace

void ArrangeFloorTiles(TBitmap& picture) {
  picture.SetPixelFormat(pf24bit);
  const TBitmap source = picture;
  const int width = picture.Width(), height = picture.Height();
  constexpr int PixelBytes = 3;
  // Texture row r is the bitmap's row r from the bottom.  In the tiling,
  // column half a and row half b of the texture take the quarter of column
  // half 1 - b and row half 1 - a of the picture.
  for (int r = 0; r < height; ++r) {
    const float v = (static_cast<float>(r) + 0.5f) / static_cast<float>(height);
    const int b = v >= 0.5f ? 1 : 0;
    uint8_t* out = picture.ScanLine(height - 1 - r);
    for (int x = 0; x < width; ++x) {
      const float u = (static_cast<float>(x) + 0.5f) / static_cast<float>(width);
      const int a = u >= 0.5f ? 1 : 0;
      const float su = 0.5f * static_cast<float>(1 - b) + u - 0.5f * static_cast<float>(a);
      const float sv = 0.5f * static_cast<float>(1 - a) + v - 0.5f * static_cast<float>(b);
      const int sx = std::clamp(static_cast<int>(su * static_cast<float>(width)), 0, width - 1);
      const int sr = std::clamp(static_cast<int>(sv * static_cast<float>(height)), 0, height - 1);
      std::memcpy(out + PixelBytes * x, source.ScanLine(height - 1 - sr) + PixelBytes * sx, PixelBytes);
    }
  }
}

void DrawFloorRegions(int mapSide, float cellWidth, std::vector<TFloorVertex>& vertices) {
  GLfloat modelview[16];
  glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
  const float half = cellWidth / 2;
  // Two cells are one repeat of the arranged texture, along x from the
  // left edge of an even column, and along -z from the top edge of an even
  // row, so that each cell reads the quarter its parities choose.
  const float repeat = 2 * cellWidth;
  vertices.clear();
  for (int i0 = 0; i0 < mapSide; i0 += RegionCells)
    for (int j0 = 0; j0 < mapSide; j0 += RegionCells) {
      const float x0 = static_cast<float>(i0) * cellWidth - half;
      const float z0 = static_cast<float>(j0) * cellWidth - half;
      const float x1 = static_cast<float>(std::min(i0 + RegionCells, mapSide)) * cellWidth - half;
      const float z1 = static_cast<float>(std::min(j0 + RegionCells, mapSide)) * cellWidth - half;
      if (RectangleOutside(x0, z0, x1, z1)) continue;
      const TPoint2 rectangle[4] = {{x0, z1}, {x1, z1}, {x1, z0}, {x0, z0}};
      std::array<TPoint2, MaxPolygonCorners> polygon{};
      const std::size_t count = CutAtNearPlane(modelview, rectangle, polygon);
      const float sOrigin = x0, tOrigin = z0 + cellWidth;
      auto corner = [&](TPoint2 p) {
        vertices.push_back({(p.X - sOrigin) / repeat, (tOrigin - p.Z) / repeat, p.X, 0, p.Z});
      };
      for (std::size_t k = 1; k + 1 < count; ++k) {
        corner(polygon[0]);
        corner(polygon[k]);
        corner(polygon[k + 1]);
      }
    }
  if (vertices.empty()) return;
  glTexCoordPointer(2, GL_FLOAT, sizeof(TFloorVertex), &vertices[0].S);
  glVertexPointer(3, GL_FLOAT, sizeof(TFloorVertex), &vertices[0].X);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  glEnableClientState(GL_VERTEX_ARRAY);
  glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(vertices.size()));
  glDisableClientState(GL_VERTEX_ARRAY);
  glDisableClientState(GL_TEXTURE_COORD_ARRAY);
}
