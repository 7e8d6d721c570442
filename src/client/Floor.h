// The marble floor of the in-game screen as a few large quads.  A cell shows
// the quarter of the marble texture its parities choose; the picture is
// rearranged once so that the same quarters fall on a tiling of 2 by 2
// cells, and then each region of RegionCells by RegionCells cells that
// reaches into the view frustum is one quad with a repeating texture.  The
// caller owns the texture and the vertex array; user-interface thread only,
// with the OpenGL context current for drawing.
#pragma once

#include <GL/gl.h>

#include <vector>

class TBitmap;

// Cells along a side of one region of the floor.
inline constexpr int RegionCells = 16;

// A corner of a floor polygon: texture coordinate, then position.
struct TFloorVertex {
  GLfloat S, T;
  GLfloat X, Y, Z;
};

// Moves the quarters of the floor picture to where the tiling of 2 by 2
// cells reads them: cell (i, j) shows the quarter whose column half is
// chosen by j's parity and whose row half by i's, as the cells always did.
void ArrangeFloorTiles(TBitmap& picture);

// The regions of the map of mapSide by mapSide cells of cellWidth world
// units that reach into the frustum last extracted, each cut off at the
// near plane in front of the eye of the current modelview matrix (so that
// every corner's fog distance lies in front of the eye), into vertices as
// triangles with the texture arranged by ArrangeFloorTiles, and drawn.
void DrawFloorRegions(int mapSide, float cellWidth, std::vector<TFloorVertex>& vertices);
