#include <GL/gl.h>

#include <QPainter>
#include <cmath>
#include <vector>

#include "Sheets.h"

namespace {

constexpr double FieldOfViewDegrees = 30;
constexpr double NearPlane = 0.5, FarPlane = 200;
constexpr int CaptionPixels = 18;
constexpr float GridHalfSize = 12, GridStep = 2;  // world units

void DrawGround() {
  glDisable(GL_TEXTURE_2D);
  glDisable(GL_CULL_FACE);
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

void TContactSheet::BeginCell(float x, float y, float z, float distance, float yaw, float pitch) {
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
  glTranslatef(0, 0, -distance);
  glRotatef(pitch, 1, 0, 0);
  glRotatef(yaw, 0, 1, 0);
  glTranslatef(-x, -y, -z);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LESS);
  glEnable(GL_CULL_FACE);
  glCullFace(GL_BACK);
  glFrontFace(GL_CCW);
  DrawGround();
}

TRGBA TContactSheet::Pixel(int x, int y) const {
  TRGBA pixel;
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, &pixel);
  return pixel;
}

void TContactSheet::EndCell(int index, const std::string& caption) {
  std::vector<uint8_t> pixels(static_cast<std::size_t>(FCellWidth) * FCellHeight * 4);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, FCellWidth, FCellHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  const int left = (index % FColumns) * FCellWidth;
  const int top = (index / FColumns) * (FCellHeight + CaptionPixels);
  for (int y = 0; y < FCellHeight; ++y)
    for (int x = 0; x < FCellWidth; ++x) {
      const uint8_t* p = &pixels[(static_cast<std::size_t>(FCellHeight - 1 - y) * FCellWidth + x) * 4];
      FSheet.setPixel(left + x, top + y, qRgb(p[0], p[1], p[2]));
    }
  QPainter painter(&FSheet);
  painter.setPen(Qt::white);
  painter.drawText(QRect(left, top + FCellHeight, FCellWidth, CaptionPixels), Qt::AlignCenter,
                   QString::fromStdString(caption));
}

void TContactSheet::Save(const std::string& fileName) const { FSheet.save(QString::fromStdString(fileName)); }
