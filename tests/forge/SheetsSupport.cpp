#include <GL/gl.h>

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <vector>

#include "Sheets.h"
#include "models/GLTextures.h"

namespace {

constexpr double FieldOfViewDegrees = 45;  // the game's
constexpr double NearPlane = 0.1, FarPlane = 200;
constexpr int CaptionPixels = 18;
constexpr float GridHalfSize = 12, GridStep = 2;  // world units
constexpr int FloorCells = 9;                     // each way from the origin
constexpr float CellSize = 6;                     // world units

void DrawGrid() {
  glDisable(GL_TEXTURE_2D);
  glColor3f(0.30f, 0.34f, 0.30f);
  glBegin(GL_QUADS);
  glVertex3f(-GridHalfSize, 0, -GridHalfSize);
  glVertex3f(-GridHalfSize, 0, GridHalfSize);
  glVertex3f(GridHalfSize, 0, GridHalfSize);
  glVertex3f(GridHalfSize, 0, -GridHalfSize);
  glEnd();
  glColor3f(0.42f, 0.48f, 0.42f);
  glBegin(GL_LINES);
  for (float v = -GridHalfSize; v <= GridHalfSize; v += GridStep) {
    glVertex3f(v, 0.01f, -GridHalfSize);
    glVertex3f(v, 0.01f, GridHalfSize);
    glVertex3f(-GridHalfSize, 0.01f, v);
    glVertex3f(GridHalfSize, 0.01f, v);
  }
  glEnd();
}

// The in-game floor: cell (i, j) shows the quarter (s, t) of the texture,
// s = 0 for odd j and 0.5 for even j, t likewise by i.
void DrawFloor(TGLTexture& floor) {
  glEnable(GL_TEXTURE_2D);
  floor.Bind();
  glColor3f(1, 1, 1);
  glBegin(GL_QUADS);
  for (int i = -FloorCells; i <= FloorCells; ++i)
    for (int j = -FloorCells; j <= FloorCells; ++j) {
      float x = CellSize * i, z = CellSize * j;
      float s = (j & 1) ? 0.0f : 0.5f, t = (i & 1) ? 0.0f : 0.5f;
      glTexCoord2f(s, t);
      glVertex3f(x - 3, 0, z + 3);
      glTexCoord2f(s + 0.5f, t);
      glVertex3f(x + 3, 0, z + 3);
      glTexCoord2f(s + 0.5f, t + 0.5f);
      glVertex3f(x + 3, 0, z - 3);
      glTexCoord2f(s, t + 0.5f);
      glVertex3f(x - 3, 0, z - 3);
    }
  glEnd();
  glDisable(GL_TEXTURE_2D);
}

void EndGround() {
  glDepthMask(GL_TRUE);
  glEnable(GL_CULL_FACE);
  glColor3f(1, 1, 1);
}

}  // namespace

TContactSheet::TContactSheet(int columns, int rows, int cellWidth, int cellHeight)
    : FColumns(columns),
      FCellWidth(cellWidth),
      FCellHeight(cellHeight),
      FSurface(std::make_unique<TGLTestSurface>(cellWidth, cellHeight)),
      FSheet(columns * cellWidth, rows * (cellHeight + CaptionPixels), QImage::Format_RGB32) {
  FSheet.fill(Qt::black);
  FReady = FSurface->MakeCurrent();
}

void TContactSheet::Prepare() {
  glViewport(0, 0, FCellWidth, FCellHeight);
  glClearColor(0.55f, 0.62f, 0.70f, 1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  double top = NearPlane * std::tan(FieldOfViewDegrees * M_PI / 360);
  double right = top * FCellWidth / FCellHeight;
  glFrustum(-right, right, -top, top, NearPlane, FarPlane);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LESS);
  glEnable(GL_CULL_FACE);
  glCullFace(GL_BACK);
  glFrontFace(GL_CCW);
  glDisable(GL_CULL_FACE);
  glDepthMask(GL_FALSE);
}

void TContactSheet::BeginCell(float x, float y, float z, float distance, float yaw, float pitch) {
  Prepare();
  glTranslatef(0, 0, -distance);
  glRotatef(pitch, 1, 0, 0);
  glRotatef(yaw, 0, 1, 0);
  glTranslatef(-x, -y, -z);
  DrawGrid();
  EndGround();
}

void TContactSheet::BeginGameView(float yaw, TGLTexture& floor) {
  Prepare();
  glTranslatef(0, -5, -13);
  glRotatef(25, 1, 0, 0);
  glRotatef(yaw, 0, 1, 0);
  DrawFloor(floor);
  EndGround();
}

std::vector<TRGBA> TContactSheet::Grab() const {
  std::vector<TRGBA> pixels(static_cast<std::size_t>(FCellWidth) * FCellHeight);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, FCellWidth, FCellHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  return pixels;
}

TDrawnBox Difference(const std::vector<TRGBA>& before, const std::vector<TRGBA>& after, int width) {
  TDrawnBox box;
  for (std::size_t i = 0; i < before.size() && i < after.size(); ++i) {
    if (before[i] == after[i]) continue;
    int x = static_cast<int>(i) % width, y = static_cast<int>(i) / width;
    if (box.Count++ == 0) {
      box.Left = box.Right = x;
      box.Bottom = box.Top = y;
    }
    box.Left = std::min(box.Left, x);
    box.Right = std::max(box.Right, x);
    box.Bottom = std::min(box.Bottom, y);
    box.Top = std::max(box.Top, y);
  }
  return box;
}

void TContactSheet::EndCell(int index, const std::string& caption) {
  std::vector<TRGBA> pixels = Grab();
  const int left = (index % FColumns) * FCellWidth;
  const int top = (index / FColumns) * (FCellHeight + CaptionPixels);
  for (int y = 0; y < FCellHeight; ++y)
    for (int x = 0; x < FCellWidth; ++x) {
      const TRGBA& p = pixels[static_cast<std::size_t>(FCellHeight - 1 - y) * FCellWidth + x];
      FSheet.setPixel(left + x, top + y, qRgb(p.R, p.G, p.B));
    }
  QPainter painter(&FSheet);
  painter.setPen(Qt::white);
  painter.drawText(QRect(left, top + FCellHeight, FCellWidth, CaptionPixels), Qt::AlignCenter,
                   QString::fromStdString(caption));
}

void TContactSheet::Save(const std::string& fileName) const { FSheet.save(QString::fromStdString(fileName)); }
