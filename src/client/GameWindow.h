// The in-game screen: the marble floor of 256 by 256 cells seen from the
// camera that orbits the local player, every player's character, the MD2
// knight, the fading click marker, the chat panel and the status text.  A
// click picks what lies under the mouse in OpenGL selection mode: the floor
// walks the local player there, a character falls.  The screen owns the chat
// panel and the knight; the players belong to the client window's connection.
// User-interface thread only, with the OpenGL context current for drawing.
#pragma once

#include <GL/gl.h>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "client/Floor.h"
#include "client/GLWindows.h"
#include "client/Hearing.h"
#include "client/NameTags.h"
#include "effects/GLGui.h"
#include "world/ZULPathFinder.h"

class TGLFont;
class TGLTexture;
class TQ2Player;
class TZULPlayer;
class TZULPlayerList;

// Picking names: the low 16 bits say what was drawn, the high 16 bits which
// one.  A character is (PlayerPickName, its index in the player list); a
// floor cell is (column, row).  Columns stay below 256, so the two kinds
// never meet.
inline constexpr uint32_t PlayerPickName = 512;
inline constexpr uint32_t PickName(uint32_t low, uint32_t high) { return (high << 16) | (low & 0xFFFF); }

class TGameWindow : public TGLWindow {
 public:
  static constexpr int SelectBufferSize = 40;  // values: ten hit records of one name
  static constexpr int MapSide = 256;          // cells along each side of the floor
  static constexpr float CellWidth = 6.0f;     // world units
  static constexpr int KnightColumn = 127;     // the cell the knight stands on
  static constexpr int KnightRow = 126;
  static constexpr uint32_t MarkerFadeMs = 1000;  // the click marker fades out over this
  static constexpr int ChatMinHeight = 20;        // pixels, while its edge is dragged
  static constexpr int ChatLeft = 4;              // pixels from the window's left
  static constexpr int ChatRightMargin = 14;      // window width minus panel width
  static constexpr int ChatBottomBand = 22;       // pixels below the panel: its input line
  static constexpr int ChatTopMargin = 26;        // the panel leaves at least this above
  // The panel behind the chat, dark enough that every line's colour stands
  // out at 4.5 to 1 or more over the brightest marble and over black.
  static constexpr uint32_t ChatBackColor = 0xD0202020;  // 0xAARRGGBB
  static constexpr float KeyYawStep = 5.0f;              // degrees per Left or Right key (and its repeats)
  static constexpr float KeyPitchStep = 3.0f;            // degrees per Up or Down key
  static constexpr float DragYawRate = 0.4f;             // degrees per pixel of a right-button drag
  static constexpr float DragPitchRate = 0.3f;
  static constexpr int DragThreshold = 4;  // pixels a right press may move and still be a click

  // Makes the chat panel on the shared font and loads the knight's models
  // and skins; a missing or malformed file is an Exception.
  explicit TGameWindow(TGLFont& font);
  ~TGameWindow() override;

  // Hides the platform cursor: the client window draws its own pointer.
  void Init() override;
  // The base work, then the chat panel laid out along the bottom.
  void Resize(int32_t width, int32_t height) override;
  // Editing keys and Enter go to the chat input line; the arrows turn the
  // camera, Left and Right only while the input line is empty (otherwise
  // they move its caret).
  void KeyDown(uint16_t& key, TShiftState shift) override;
  // "a", "f" and "t" make the knight attack, flip and taunt; every
  // character is also typed into the chat input line.
  void KeyPress(char& key) override;
  // The chat panel first; otherwise the pick of what lies under the mouse.
  // The right button picks as it is released without having moved: moved,
  // it turns the camera instead.
  void MouseDown(QWindow* sender, TMouseButton button, TShiftState shift, int32_t x, int32_t y) override;
  // The panel's drags, the cursor over its edge, and the edge scrolling.
  void MouseMove(QWindow* sender, TShiftState shift, int32_t x, int32_t y) override;
  void MouseUp(QWindow* sender, TMouseButton button, TShiftState shift, int32_t x, int32_t y) override;
  // One frame: clock, camera, walks, the 3D scene, then the 2D overlay.
  void Paint() override;

  // The parts of a frame, in the order Paint draws them (exposed so that the
  // frame benchmark can time each).
  // The floor where it is visible, fogged, writing no depth.
  void DrawFloor();
  // The knight, advanced by elapsedMs, on its cell.
  void DrawKnight(uint32_t elapsedMs);
  // Markers, click marker, name tags, chat panel and status text.
  void DrawOverlay();
  // Picks the object under client pixel (x, y) and acts on it.
  void Pick(int32_t x, int32_t y);

  // Loaded on the first Paint, its picture arranged for the floor's tiling:
  // a texture of the floor's own, shared with no one.
  std::unique_ptr<TGLTexture> FloorTexture;
  TGLMemo Chat;  // the connection writes its lines here
  std::array<GLuint, SelectBufferSize> SelectBuffer{};
  TPoint Target;           // the cell of the last successful floor click
  uint32_t ClickTime = 0;  // tick count of that click; 0 when no marker is drawn
  std::unique_ptr<TQ2Player> Knight;
  TNameTags Tags;           // the players' names above them
  bool ShowTags = true;     // the other players' names above them
  bool ShowOwnTag = false;  // the local player's own tag too

 private:
  void DrawClickMarker();
  void DrawStatus();
  void DrawPickScene();
  // The name of the nearest hit record among hits, or false.
  bool NearestHit(GLint hits, GLuint& name) const;
  void ClickedOn(GLuint name);
  // The listener at the camera, then the steps of the frame's walkers.
  void Listen(float cx, float cz, TZULPlayerList* players);
  void KnightSound(const char* fileName);

  // Turns the camera by the drag's move since its last point.
  void DragCamera(int32_t x, int32_t y);

  TGLFont& FFont;
  bool FRightDown = false;     // the right button went down over the scene
  bool FRightDragged = false;  // ... and has moved past DragThreshold since
  int32_t FRightStartX = 0, FRightStartY = 0;
  int32_t FRightLastX = 0, FRightLastY = 0;
  // The visible floor of the last frame; its room is kept from frame to
  // frame.
  std::vector<TFloorVertex> FFloor;
  TFootsteps FFootsteps;
};

// The players of the client window's connection and its local player, or
// null while there is no connection.
TZULPlayerList* ConnectionPlayers();
TZULPlayer* ConnectionLocalPlayer();
// Whether the client window is the active window.
bool ClientWindowActive();
