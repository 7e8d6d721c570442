// Contact sheets for people to look at: cells rendered one at a time on a
// hidden surface, read back and laid out in a grid with a caption each,
// saved as a PNG picture.  A cell shows the ground (a grid on y = 0, or the
// game's marble floor) seen in perspective like the game (45 degrees of
// view), and whatever is drawn after BeginCell.  The ground writes no depth,
// like the game's floor.
#pragma once

#include <QImage>
#include <memory>
#include <string>
#include <vector>

#include "GLFixture.h"

class TGLTexture;

// The pixels where two grabs of the same cell differ: what was drawn over
// the ground.  Count 0 when nothing differs.
struct TDrawnBox {
  int Count = 0;
  int Left = 0, Bottom = 0, Right = -1, Top = -1;  // inclusive, from the bottom left
};
TDrawnBox Difference(const std::vector<TRGBA>& before, const std::vector<TRGBA>& after, int width);

class TContactSheet {
 public:
  TContactSheet(int columns, int rows, int cellWidth, int cellHeight);

  // False when there is no OpenGL context.
  bool Ready() const { return FReady; }
  // Clears the surface, sets a camera looking at (x, y, z) from distance
  // units away, turned by yaw and tilted down by pitch (degrees), and draws
  // the grid.  Face culling and depth test as in the game.
  void BeginCell(float x, float y, float z, float distance, float yaw, float pitch);
  // The in-game camera over the local player's feet at the origin (5 units
  // above them, 13 away, tilted 25 degrees, turned by yaw), over the marble
  // floor: cells of 6 units each showing a quarter of floor.
  void BeginGameView(float yaw, TGLTexture& floor);
  // The surface's pixels, rows from the bottom.
  std::vector<TRGBA> Grab() const;
  // Copies the surface into cell index with a caption.
  void EndCell(int index, const std::string& caption);
  void Save(const std::string& fileName) const;
  int CellWidth() const { return FCellWidth; }
  int CellHeight() const { return FCellHeight; }

 private:
  void Prepare();

  int FColumns, FCellWidth, FCellHeight;
  std::unique_ptr<TGLTestSurface> FSurface;
  QImage FSheet;
  bool FReady = false;
};
