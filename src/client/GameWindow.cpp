#include "client/GameWindow.h"

#include <QOpenGLContext>
#include <QWindow>
#include <cstdlib>
#include <string>

#include "client/ClientForm.h"
#include "client/Clients.h"
#include "client/Floor.h"
#include "client/FrameClock.h"
#include "client/GLContext.h"
#include "models/Frustum.h"
#include "models/GLMath.h"
#include "models/GLTextures.h"
#include "models/MD2.h"
#include "platform/Bitmaps.h"
#include "platform/Tick.h"
#include "world/ZULPlayers.h"

namespace {

constexpr const char* FloorTextureFile = "data\\images\\marbre.bmp";
constexpr const char* KnightModelFile = "data\\tris.md2";
constexpr const char* KnightSkinFile = "data\\knight.pcx";
constexpr const char* WeaponModelFile = "data\\weapon.md2";
constexpr const char* WeaponSkinFile = "data\\weapon.pcx";
constexpr int32_t WeaponTrailVertexA = 21;
constexpr int32_t WeaponTrailVertexB = 28;

// Knight animations of the standard table that the keyboard plays.
constexpr uint8_t KnightAttack = 2;
constexpr uint8_t KnightFlip = 7;
constexpr uint8_t KnightTaunt = 9;

constexpr float HalfCell = TGameWindow::CellWidth / 2;
constexpr float CellRadius = TGameWindow::CellWidth;  // of the sphere a cell is culled by
constexpr float HalfTexture = 0.5f;                   // a cell shows a quarter of the texture

// The click marker: an upside-down pyramid, its point on the floor.
constexpr float ClickMarkerHalfWidth = 1.0f;
constexpr float ClickMarkerHeight = 1.5f;

// Status text: right-aligned this far from the window's right edge, the
// cell on the first line and the frame rate on the second.
constexpr int StatusRightMargin = 4;
constexpr int StatusCellTop = 1;
constexpr int StatusFpsTop = 15;

// Fields of one hit record: name count, minimum depth, maximum depth, names.
constexpr int HitHeaderSize = 3;

// A character stands turned by its facing plus this, as the player list
// draws it.
constexpr float ModelFacingOffset = 90.0f;

}  // namespace

// ---------------------------------------------------------------- the connection

TZULPlayerList* ConnectionPlayers() {
  TFrmClient* window = ClientWindow();
  return window && window->Client ? &window->Client->Players : nullptr;
}

TZULPlayer* ConnectionLocalPlayer() {
  TFrmClient* window = ClientWindow();
  return window && window->Client ? window->Client->LocalPlayer : nullptr;
}

bool ClientWindowActive() {
  TFrmClient* window = ClientWindow();
  return window && window->isActive();
}

namespace {

void SetClientCursor(Qt::CursorShape shape) {
  if (TFrmClient* window = ClientWindow()) window->setCursor(shape);
}

// The point the camera orbits: the local player, or the start cell while
// there is none.
void CameraTarget(float& wx, float& wz) {
  if (TZULPlayer* local = ConnectionLocalPlayer()) {
    local->GetWorldPos(wx, wz);
  } else {
    wx = wz = static_cast<float>(StartCell) * TGameWindow::CellWidth;
  }
}

// The texture coordinates of a floor cell's first corner: the quarter of
// the texture that the cell's parities choose.
float CellS(int j) { return (j % 2 != 0) ? 0.0f : HalfTexture; }
float CellT(int i) { return (i % 2 != 0) ? 0.0f : HalfTexture; }

// One floor cell as an untextured quad facing up (picking).
void FloorQuad(int i, int j) {
  const float x = static_cast<float>(i) * TGameWindow::CellWidth;
  const float z = static_cast<float>(j) * TGameWindow::CellWidth;
  glVertex3f(x - HalfCell, 0, z + HalfCell);
  glVertex3f(x + HalfCell, 0, z + HalfCell);
  glVertex3f(x + HalfCell, 0, z - HalfCell);
  glVertex3f(x - HalfCell, 0, z - HalfCell);
}

bool CellVisible(int i, int j) {
  return SphereInFrustum(static_cast<float>(i) * TGameWindow::CellWidth, 0,
                         static_cast<float>(j) * TGameWindow::CellWidth, CellRadius);
}

// Calls visit(i, j) for every cell that passes CellVisible, column by
// column and row by row within a column: only the rows of a column that
// can lie inside the frustum are tested.
template <class TVisit>
void ForEachVisibleCell(TVisit visit) {
  for (int i = 0; i < TGameWindow::MapSide; ++i) {
    int first = 0, last = 0;
    if (!ColumnInFrustum(static_cast<float>(i) * TGameWindow::CellWidth, TGameWindow::CellWidth,
                         TGameWindow::MapSide, CellRadius, first, last))
      continue;
    for (int j = first; j <= last; ++j)
      if (CellVisible(i, j)) visit(i, j);
  }
}

// The last cell ForEachVisibleCell would visit, searched from the end.
bool LastVisibleCell(int& i, int& j) {
  for (i = TGameWindow::MapSide - 1; i >= 0; --i) {
    int first = 0, last = 0;
    if (!ColumnInFrustum(static_cast<float>(i) * TGameWindow::CellWidth, TGameWindow::CellWidth,
                         TGameWindow::MapSide, CellRadius, first, last))
      continue;
    for (j = last; j >= first; --j)
      if (CellVisible(i, j)) return true;
  }
  return false;
}

}  // namespace

// ---------------------------------------------------------------- life

TGameWindow::TGameWindow(TGLFont& font) : Chat(font), Knight(std::make_unique<TQ2Player>()), FFont(font) {
  TQ2Model* body = Knight->GetBody();
  body->LoadModel(KnightModelFile);
  body->LoadSkin(KnightSkinFile);
  TQ2Model* weapon = Knight->GetWeapon();
  weapon->LoadModel(WeaponModelFile);
  weapon->LoadSkin(WeaponSkinFile);
  weapon->TrailVertexA = WeaponTrailVertexA;
  weapon->TrailVertexB = WeaponTrailVertexB;
  Chat.BackColor = ChatBackColor;
}

TGameWindow::~TGameWindow() = default;

void TGameWindow::Init() { SetClientCursor(Qt::BlankCursor); }

void TGameWindow::Resize(int32_t width, int32_t height) {
  TGLWindow::Resize(width, height);
  int32_t chatHeight = Chat.Height;
  if (chatHeight > height - ChatTopMargin) chatHeight = height - ChatTopMargin;
  Chat.SetSize(width - ChatRightMargin, chatHeight);
  Chat.Left = ChatLeft;
  Chat.Top = height - ChatBottomBand - Chat.Height;
}

// ---------------------------------------------------------------- keyboard

void TGameWindow::KeyDown(uint16_t& key, TShiftState) {
  const bool typing = !Chat.InputText.empty();
  switch (key) {
    case VK_LEFT:
      if (typing) break;
      TurnCamera(-KeyYawStep, 0);
      return;
    case VK_RIGHT:
      if (typing) break;
      TurnCamera(KeyYawStep, 0);
      return;
    case VK_UP:
      TurnCamera(0, -KeyPitchStep);
      return;
    case VK_DOWN:
      TurnCamera(0, KeyPitchStep);
      return;
    default:
      break;
  }
  Chat.KeyDown(key);
}

void TGameWindow::KeyPress(char& key) {
  switch (key) {
    case 'a':
      Knight->SetAnimation(KnightAttack);
      KnightSound(AttackFile);
      break;
    case 'f':
      Knight->SetAnimation(KnightFlip);
      KnightSound(FlipFile);
      break;
    case 't':
      Knight->SetAnimation(KnightTaunt);
      KnightSound(TauntFile);
      break;
    default:
      break;
  }
  Chat.KeyPress(key);
}

void TGameWindow::KnightSound(const char* fileName) {
  if (TSoundSystem* sound = ClientSound())
    sound->Play(fileName, {KnightColumn * CellWidth, 0, KnightRow * CellWidth});
}

// ---------------------------------------------------------------- mouse

void TGameWindow::MouseDown(QWindow*, TMouseButton button, TShiftState, int32_t x, int32_t y) {
  const bool taken = Chat.MouseDown(x, y);
  if (Chat.Resizing) {
    // The drag of the edge goes on when the mouse leaves the window.
    if (TFrmClient* window = ClientWindow()) window->setMouseGrabEnabled(true);
  }
  if (taken) return;
  if (button == TMouseButton::mbRight) {
    FRightDown = true;
    FRightDragged = false;
    FRightStartX = FRightLastX = x;
    FRightStartY = FRightLastY = y;
    return;
  }
  Pick(x, y);
}

void TGameWindow::DragCamera(int32_t x, int32_t y) {
  if (!FRightDragged && std::abs(x - FRightStartX) <= DragThreshold &&
      std::abs(y - FRightStartY) <= DragThreshold)
    return;
  FRightDragged = true;
  TurnCamera(static_cast<float>(x - FRightLastX) * DragYawRate,
             static_cast<float>(y - FRightLastY) * DragPitchRate);
  FRightLastX = x;
  FRightLastY = y;
}

void TGameWindow::MouseMove(QWindow*, TShiftState, int32_t x, int32_t y) {
  if (FRightDown) DragCamera(x, y);
  const bool handled = Chat.MouseMove(y);
  if (Chat.Dragging) {
    Refresh();
  } else if (Chat.Resizing) {
    // The top edge follows the mouse; the bottom stays where it is.
    int32_t chatHeight = Height - y - ChatBottomBand;
    if (chatHeight > Height - ChatTopMargin)
      chatHeight = Height - ChatTopMargin;
    else if (chatHeight < ChatMinHeight)
      chatHeight = ChatMinHeight;
    Chat.Height = chatHeight;
    Chat.Top = Height - ChatBottomBand - Chat.Height;
    Refresh();
  }
  SetClientCursor(Chat.ResizeHover ? Qt::SplitVCursor : Qt::BlankCursor);
  if (!handled) EdgeScroll(x, y, Width, Height, ClientWindowActive());
}

void TGameWindow::MouseUp(QWindow*, TMouseButton button, TShiftState, int32_t x, int32_t y) {
  if (button == TMouseButton::mbRight && FRightDown) {
    FRightDown = false;
    if (!FRightDragged) Pick(x, y);
  }
  if (Chat.Resizing) {
    if (TFrmClient* window = ClientWindow()) window->setMouseGrabEnabled(false);
    SetClientCursor(Qt::BlankCursor);
  }
  Chat.MouseUp();
}

// ---------------------------------------------------------------- picking

// The scene is drawn again, untextured, in selection mode through a
// projection narrowed to the pixel under the mouse.  Every object carries a
// name (see PickName); OpenGL writes one hit record per name that drew
// something inside that pixel.  The floor cells are drawn only when no
// record exists yet: records are written when the next name is loaded, so
// a hit on any character but the last one keeps the floor out.
void TGameWindow::Pick(int32_t x, int32_t y) {
  if (!GLContext || !GLTarget) return;
  GLContext->makeCurrent(GLTarget);
  GLint viewport[4] = {0, 0, 0, 0};
  glGetIntegerv(GL_VIEWPORT, viewport);
  SelectBuffer.fill(0);
  glSelectBuffer(SelectBufferSize, SelectBuffer.data());

  glMatrixMode(GL_PROJECTION);
  glRenderMode(GL_SELECT);
  glInitNames();
  glPushName(0);
  glLoadIdentity();
  PickMatrix(viewport, x, viewport[3] - y, 1.0, 1.0);
  Perspective(FieldOfView, static_cast<double>(viewport[2]) / static_cast<double>(viewport[3]), NearPlane,
              FarPlane);
  glMatrixMode(GL_MODELVIEW);
  DrawPickScene();

  // Nothing under the mouse, or more records than the buffer holds.
  const GLint hits = glRenderMode(GL_RENDER);
  GLuint name = 0;
  if (hits > 0 && NearestHit(hits, name)) ClickedOn(name);
}

void TGameWindow::DrawPickScene() {
  glDisable(GL_TEXTURE_2D);
  glDisable(GL_BLEND);
  glClear(GL_DEPTH_BUFFER_BIT);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LESS);
  glLoadIdentity();
  float cx = 0, cz = 0;
  CameraTarget(cx, cz);
  ApplyCamera(cx, cz);

  if (TZULPlayerList* players = ConnectionPlayers()) {
    for (int k = 0; k < players->Count(); ++k) {
      TZULPlayer* player = (*players)[k];
      float wx = 0, wz = 0;
      player->GetWorldPos(wx, wz);
      glPushMatrix();
      glTranslatef(wx, 0, wz);
      // Turned as the player list draws it, so that the pick meets the
      // character where it is seen.
      glRotatef(DirectionAngles[static_cast<std::size_t>(player->Direction) & 7] + ModelFacingOffset, 0, 1,
                0);
      glLoadName(PickName(PlayerPickName, static_cast<uint32_t>(k)));
      player->Model->DrawPlain();
      glPopMatrix();
    }
  }

  if (SelectBuffer[0] != 0) return;
  // The frustum of the one-pixel pick region: only the cells under the
  // mouse pass.
  ExtractFrustum();
  ForEachVisibleCell([](int i, int j) {
    glLoadName(PickName(static_cast<uint32_t>(i), static_cast<uint32_t>(j)));
    glBegin(GL_QUADS);
    FloorQuad(i, j);
    glEnd();
  });
}

// Records: name count, minimum and maximum depth, then the names.  The
// smallest minimum depth wins, compared unsigned; the earliest among equals.
bool TGameWindow::NearestHit(GLint hits, GLuint& name) const {
  bool found = false;
  GLuint nearest = 0;
  std::size_t at = 0;
  for (GLint record = 0; record < hits; ++record) {
    if (at + HitHeaderSize > SelectBuffer.size()) break;
    const GLuint count = SelectBuffer[at];
    const GLuint depth = SelectBuffer[at + 1];
    const std::size_t names = at + HitHeaderSize;
    if (count > 0 && names + count <= SelectBuffer.size() && (!found || depth < nearest)) {
      found = true;
      nearest = depth;
      // The innermost name is the one loaded last.
      name = SelectBuffer[names + count - 1];
    }
    at = names + count;
  }
  return found;
}

void TGameWindow::ClickedOn(GLuint name) {
  const auto low = static_cast<int16_t>(name & 0xFFFF);
  const auto high = static_cast<int16_t>(name >> 16);
  if (low == static_cast<int16_t>(PlayerPickName)) {
    // The character falls on this client only; nothing goes to the host.
    TZULPlayerList* players = ConnectionPlayers();
    if (players && high >= 0 && high < players->Count()) (*players)[high]->Model->SetAnimation(AnimFall);
    return;
  }
  TZULPlayer* local = ConnectionLocalPlayer();
  Target = TPoint{low, high};
  if (local && local->MoveTo(Target)) ClickTime = GetTickCount();
}

// ---------------------------------------------------------------- drawing

void TGameWindow::Paint() {
  if (!FloorTexture) {
    auto texture = std::make_unique<TGLTexture>();
    texture->Load(FloorTextureFile);
    ArrangeFloorTiles(*texture->Bitmap());
    FloorTexture = std::move(texture);
  }
  TickFrame();
  if (ClientWindowActive())
    UpdateCamera(FrameTime);
  else
    PauseCamera();
  TZULPlayerList* players = ConnectionPlayers();
  if (players) players->Update(FrameTime);

  SetPerspective();
  glLoadIdentity();
  float cx = 0, cz = 0;
  CameraTarget(cx, cz);
  ApplyCamera(cx, cz);
  DrawFloor();
  if (players) players->Draw(FrameDelta);
  DrawKnight(FrameDelta);
  DrawOverlay();
  Listen(cx, cz, players);
}

void TGameWindow::Listen(float cx, float cz, TZULPlayerList* players) {
  TSoundSystem* sound = ClientSound();
  if (!sound || !sound->Active()) return;
  HearFrom(*sound, CameraEar(cx, cz, CameraYaw, CameraPitch, CameraZoom));
  if (players) FFootsteps.Hear(*players, *sound);
}

void TGameWindow::DrawFloor() {
  glEnable(GL_FOG);
  glDisable(GL_BLEND);
  glDepthMask(GL_FALSE);
  glEnable(GL_TEXTURE_2D);
  if (FloorTexture) FloorTexture->Bind();
  glColor3f(1, 1, 1);
  ExtractFrustum();
  DrawFloorRegions(MapSide, CellWidth, FFloor);
  // The current texture coordinate ends as the last corner (x - 3, z - 3)
  // of the last visible cell left it when the cells were drawn one by one.
  int i = 0, j = 0;
  if (LastVisibleCell(i, j)) glTexCoord2f(CellS(j), CellT(i) + HalfTexture);
  glEnable(GL_DEPTH_TEST);
  glDepthMask(GL_TRUE);
}

void TGameWindow::DrawKnight(uint32_t elapsedMs) {
  glColor3f(1, 1, 1);
  Knight->Advance(static_cast<int32_t>(elapsedMs));
  glPushMatrix();
  glTranslatef(KnightColumn * CellWidth, 0, KnightRow * CellWidth);
  Knight->Draw();
  glPopMatrix();
}

void TGameWindow::DrawOverlay() {
  // The markers leave blending on and a half-transparent white.
  if (TZULPlayerList* players = ConnectionPlayers()) {
    players->DrawMarkers(CameraYaw, CameraPitch);
  } else {
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  }
  glDisable(GL_TEXTURE_2D);
  if (ClickTime != 0) DrawClickMarker();
  glDisable(GL_BLEND);
  Tags.Capture();
  SetOrtho();
  glDisable(GL_FOG);
  if (TZULPlayerList* players = ConnectionPlayers(); players && ShowTags)
    Tags.Draw(FFont, *players, ConnectionLocalPlayer(), ShowOwnTag);
  Chat.Draw();
  DrawStatus();
}

// Green, fading from opaque to clear over MarkerFadeMs.  The frame after the
// fade ends still draws, with an alpha below 0 that shows nothing.
void TGameWindow::DrawClickMarker() {
  const uint32_t d = FrameTime - ClickTime;
  if (d > MarkerFadeMs) ClickTime = 0;
  glColor4f(0, 1, 0, 1.0f - static_cast<float>(d) / static_cast<float>(MarkerFadeMs));
  glPushMatrix();
  glTranslatef(static_cast<float>(Target.X) * CellWidth, 0, static_cast<float>(Target.Y) * CellWidth);
  glBegin(GL_TRIANGLE_FAN);
  glVertex3f(0, 0, 0);
  glVertex3f(ClickMarkerHalfWidth, ClickMarkerHeight, -ClickMarkerHalfWidth);
  glVertex3f(-ClickMarkerHalfWidth, ClickMarkerHeight, -ClickMarkerHalfWidth);
  glVertex3f(-ClickMarkerHalfWidth, ClickMarkerHeight, ClickMarkerHalfWidth);
  glVertex3f(ClickMarkerHalfWidth, ClickMarkerHeight, ClickMarkerHalfWidth);
  glVertex3f(ClickMarkerHalfWidth, ClickMarkerHeight, -ClickMarkerHalfWidth);
  glEnd();
  glBegin(GL_TRIANGLE_FAN);
  glVertex3f(ClickMarkerHalfWidth, ClickMarkerHeight, -ClickMarkerHalfWidth);
  glVertex3f(ClickMarkerHalfWidth, ClickMarkerHeight, ClickMarkerHalfWidth);
  glVertex3f(-ClickMarkerHalfWidth, ClickMarkerHeight, ClickMarkerHalfWidth);
  glVertex3f(-ClickMarkerHalfWidth, ClickMarkerHeight, -ClickMarkerHalfWidth);
  glEnd();
  glPopMatrix();
}

void TGameWindow::DrawStatus() {
  int32_t column = StartCell, row = StartCell;
  if (TZULPlayer* local = ConnectionLocalPlayer()) {
    column = local->X;
    row = local->Y;
  }
  FFont.BeginText();
  glColor3f(0, 1, 0);
  const std::string cell = std::to_string(column) + "x" + std::to_string(row);
  FFont.TextOut(Width - FFont.TextWidth(cell) - StatusRightMargin, StatusCellTop, cell);
  if (FramesPerSecond > 0) {
    const std::string rate = std::to_string(FramesPerSecond) + " FPS";
    FFont.TextOut(Width - FFont.TextWidth(rate) - StatusRightMargin, StatusFpsTop, rate);
  }
  FFont.EndText();
}
