// Contact sheets for people to look at: cells rendered one at a time on a
// hidden surface, read back and laid out in a grid with a caption each,
// saved as a PNG picture.  A cell is a perspective view of the ground plane
// (a grid on y = 0) around a point, seen from a yaw and a pitch in degrees.
#pragma once

#include <QImage>
#include <memory>
#include <string>

#include "GLFixture.h"

class TContactSheet {
 public:
  TContactSheet(int columns, int rows, int cellWidth, int cellHeight);

  // False when there is no OpenGL context.
  bool Ready() const { return FReady; }
  // Clears the surface and sets the camera for the next cell: it looks at
  // (x, y, z) from distance units away.  Face culling, depth test.
  void BeginCell(float x, float y, float z, float distance, float yaw, float pitch);
  // Copies the surface into cell index with a caption.
  void EndCell(int index, const std::string& caption);
  void Save(const std::string& fileName) const;
  // The surface's pixel at (x, y) from the bottom left, before EndCell.
  TRGBA Pixel(int x, int y) const;
  int CellWidth() const { return FCellWidth; }
  int CellHeight() const { return FCellHeight; }

 private:
  int FColumns, FCellWidth, FCellHeight;
  std::unique_ptr<TGLTestSurface> FSurface;
  QImage FSheet;
  bool FReady = false;
};
