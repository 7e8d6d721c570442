#include "client/GLWindows.h"

#include "client/GLContext.h"

void TGLWindow::Resize(int32_t width, int32_t height) {
  Width = width;
  Height = height;
  SetViewport(width, height);
  SetPerspective();
}

void TGLWindow::KeyDown(uint16_t&, TShiftState) {}

void TGLWindow::KeyPress(char&) {}

void TGLWindow::MouseDown(QWindow*, TMouseButton, TShiftState, int32_t, int32_t) {}

void TGLWindow::MouseMove(QWindow*, TShiftState, int32_t, int32_t) {}

void TGLWindow::MouseUp(QWindow*, TMouseButton, TShiftState, int32_t, int32_t) {}
