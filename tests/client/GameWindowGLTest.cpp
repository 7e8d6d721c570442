// The in-game screen inside a connected client window: what a click picks
// and what follows from it (the walk and its message to the host, a falling
// character, nothing at all over the chat panel's controls), the fading
// click marker, the chat panel's layout and edge drag, the status text, the
// keys that reach both the knight and the chat line, and a screenshot.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QCursor>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>

#include "GameWindowClientSupport.h"
#include "Pump.h"
#include "client/Clients.h"
#include "client/FrameClock.h"
#include "client/GLContext.h"
#include "client/GameWindow.h"
#include "client/NameTags.h"
#include "effects/GLGui.h"
#include "models/Frustum.h"
#include "models/GLTextures.h"
#include "models/MD2.h"
#include "world/ZULPlayers.h"

namespace {

constexpr float Cell = TGameWindow::CellWidth;
// Half the body's height once skinned: the middle of a character.
constexpr float BodyMiddle = 3.0f;

class GameWindowTest : public ScreensTest {
 protected:
  void SetUp() override {
    ScreensTest::SetUp();
    if (HasFatalFailure()) return;
    Window->SetScreen(Window->Game.get());
  }

  // The middle of a cell on the floor, and of a player's body, on screen.
  QPoint CellOnScreen(int i, int j) const { return ScreenOf(i * Cell, 0, j * Cell); }
  QPoint BodyOnScreen(const TZULPlayer& player) const {
    float wx = 0, wz = 0;
    player.GetWorldPos(wx, wz);
    return ScreenOf(wx, BodyMiddle, wz);
  }
  void ClickAt(QPoint at) { Click(at.x(), at.y()); }
};

std::string Goal(uint32_t column, uint32_t row) { return Packed(column) + Packed(row); }

// Two pictures are the same picture when at most SameShare of their pixels
// differ by more than SameTolerance in a channel: drawn another way, the
// edges of the floor's cells and of the shadows may round a little apart.
constexpr int SameTolerance = 12;    // of 255
constexpr double SameShare = 0.005;  // of the pixels
int CountFarApart(const QImage& a, const QImage& b) {
  int count = 0;
  for (int y = 0; y < a.height() && y < b.height(); ++y)
    for (int x = 0; x < a.width() && x < b.width(); ++x) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      if (std::abs(qRed(p) - qRed(q)) > SameTolerance || std::abs(qGreen(p) - qGreen(q)) > SameTolerance ||
          std::abs(qBlue(p) - qBlue(q)) > SameTolerance)
        ++count;
    }
  return count;
}
constexpr int MostFarApart = int(SameShare * 640 * 480);

TEST_F(GameWindowTest, AFloorClickWalksThereSendsTheGoalAndLeavesAMarkerThatFadesInOneSecond) {
  Place(LocalId, 127, 126);
  Settle();
  Paint();
  ClickAt(CellOnScreen(129, 123));
  EXPECT_EQ(SentWithin(), (std::vector<TRawFrame>{{9, Goal(129, 123)}}));
  EXPECT_TRUE(Local().Moving());
  EXPECT_EQ(Game().Target, (TPoint{129, 123}));
  EXPECT_EQ(Game().ClickTime, Clock.Now);

  // The marker's point touches the floor; half-way up its axis the view
  // meets the pyramid's far wall.  The same frame drawn again without the
  // marker gives the floor behind it.
  struct TSeen {
    TRGBA Marker, Floor;
  };
  auto look = [&] {
    TSeen seen;
    Paint();
    QPoint at = ScreenOf(129 * Cell, 1.0f, 123 * Cell);
    seen.Marker = PixelAt(at.x(), at.y());
    const uint32_t clickTime = Game().ClickTime;
    Game().ClickTime = 0;
    Paint();
    seen.Floor = PixelAt(at.x(), at.y());
    Game().ClickTime = clickTime;
    return seen;
  };
  const TSeen fresh = look();
  EXPECT_LT(fresh.Marker.R, 10) << fresh.Marker;
  EXPECT_GT(fresh.Marker.G, 200) << fresh.Marker;
  EXPECT_GT(fresh.Floor.R, 40) << "grey floor behind: " << fresh.Floor;
  Clock.Advance(500);
  const TSeen half = look();
  EXPECT_NEAR(half.Marker.R, half.Floor.R / 2, 12) << half.Marker << " over " << half.Floor;
  EXPECT_NEAR(half.Marker.G, (fresh.Marker.G + half.Floor.G) / 2, 20)
      << half.Marker << " over " << half.Floor;
  EXPECT_NE(Game().ClickTime, 0u);
  Clock.Advance(501);
  const TSeen gone = look();
  EXPECT_EQ(Game().ClickTime, 0u) << "past one second the marker ends";
  EXPECT_EQ(gone.Marker, gone.Floor) << "its last frame shows nothing";
}

TEST_F(GameWindowTest, AClickOnACharacterMakesItFallHereOnlyAndOnTheOwnOneEndsTheWalk) {
  // Bob stands straight ahead, turned a quarter (direction 2): his slab of
  // a body is seen edge-on.
  Arrive(9, "Bob", 127, 122);
  Place(9, 127, 122, 2);
  Settle();
  ASSERT_EQ(Window->Client->Players.Count(), 2);
  TZULPlayer& bob = *Window->Client->Players[1];
  Paint();
  // Where he would show unturned, the floor behind him is picked.
  ClickAt(ScreenOf(127 * Cell + 1.2f, BodyMiddle, 122 * Cell));
  EXPECT_NE(bob.Model->Animation, AnimFall);
  const std::vector<TRawFrame> walk = SentWithin();
  ASSERT_EQ(walk.size(), 1u);
  EXPECT_EQ(walk[0].Id, 9u);
  ASSERT_TRUE(Local().Moving());

  // The local player is drawn first: its record keeps the floor out.
  ClickAt(BodyOnScreen(Local()));
  EXPECT_EQ(Local().Model->Animation, AnimFall);
  EXPECT_FALSE(Local().Moving()) << "the walk ends where it stands";
  Clock.Advance(1000);
  Paint();
  EXPECT_EQ(Local().Y, 127) << "it goes no further";
  EXPECT_EQ(Local().OffsetZ, 0.0f);

  // Bob is the last character drawn: the floor behind him is picked as
  // well, and his nearer record wins.
  ClickAt(BodyOnScreen(bob));
  EXPECT_EQ(bob.Model->Animation, AnimFall);
  EXPECT_FALSE(Local().Moving());
  EXPECT_TRUE(SentWithin().empty()) << "nothing goes to the host";
}

TEST_F(GameWindowTest, TheChatPanelsScrollBarAndTopBandTakeTheClickButItsTextDoesNot) {
  TGLMemo& chat = Game().Chat;
  ASSERT_EQ(chat.Top, FrameHeight - 22 - chat.Height);
  Paint();
  const int bar = chat.Left + chat.Width + 2;  // just right of the text area
  Click(bar, chat.Top + chat.Height / 2);
  MouseMove(100, chat.Top - 3);
  Click(100, chat.Top - 3);
  EXPECT_TRUE(SentWithin().empty());
  EXPECT_FALSE(Local().Moving());
  EXPECT_EQ(Game().ClickTime, 0u);

  MouseMove(100, chat.Top + 30);
  Click(100, chat.Top + 30);
  std::vector<TRawFrame> sent = SentWithin();
  ASSERT_EQ(sent.size(), 1u) << "over the text the floor behind is picked";
  EXPECT_EQ(sent[0].Id, 9u);
  EXPECT_TRUE(Local().Moving());
}

TEST_F(GameWindowTest, TheChatPanelKeepsToTheBottomAndItsDraggedEdgeStaysInBounds) {
  TGLMemo& chat = Game().Chat;
  Game().Resize(FrameWidth, 100);
  EXPECT_EQ(chat.Height, 74);
  EXPECT_EQ(chat.Top, 4);
  EXPECT_EQ(chat.Width, FrameWidth - 14);
  EXPECT_EQ(chat.Left, 4);
  Game().Resize(FrameWidth, FrameHeight);
  EXPECT_EQ(chat.Height, 74) << "a taller window keeps the panel's height";
  EXPECT_EQ(chat.Top, FrameHeight - 22 - 74);

  MouseMove(100, chat.Top - 3);
  EXPECT_EQ(Window->cursor().shape(), Qt::SplitVCursor);
  Press(100, chat.Top - 3);
  ASSERT_TRUE(chat.Resizing);
  MouseMove(100, 200);
  EXPECT_EQ(chat.Top, 200) << "the top edge follows the mouse";
  EXPECT_EQ(chat.Height, FrameHeight - 22 - 200);
  MouseMove(100, -300);
  EXPECT_EQ(chat.Height, FrameHeight - 26);
  MouseMove(100, FrameHeight - 5);
  EXPECT_EQ(chat.Height, 20);
  EXPECT_EQ(chat.Top, FrameHeight - 22 - 20);
  Release(100, FrameHeight - 5);
  EXPECT_FALSE(chat.Resizing);
  EXPECT_EQ(Window->cursor().shape(), Qt::BlankCursor);
  EXPECT_TRUE(SentWithin().empty()) << "a drag of the edge walks nobody";
}

TEST_F(GameWindowTest, TheStatusShowsTheCellAndTheRateOnlyOnceASecondWasMeasured) {
  TGLFont& font = *Window->Font;
  const QRect area(FrameWidth - 120, 0, 120, 32);
  auto expected = [&](std::vector<std::string> lines) {
    std::vector<std::pair<QPoint, std::string>> texts;
    for (std::size_t i = 0; i < lines.size(); ++i)
      texts.push_back({QPoint(FrameWidth - font.TextWidth(lines[i]) - 4, i == 0 ? 1 : 15), lines[i]});
    return MaskOf(TextFrame(font, TTextColour::Green, texts), area, TTextColour::Green);
  };
  Paint();
  TTextMask shown = MaskOf(Frame(), area, TTextColour::Green);
  EXPECT_GT(shown.Count, 20);
  EXPECT_EQ(shown, expected({"127x127"})) << "not yet placed, and no rate before a measured second";

  for (int frame = 0; frame < 25; ++frame) {
    Clock.Advance(40);
    Paint();
  }
  ASSERT_GT(FramesPerSecond, 0u);
  Place(LocalId, 130, 126);
  Settle();
  Paint();
  EXPECT_EQ(MaskOf(Frame(), area, TTextColour::Green),
            expected({"130x126", std::to_string(FramesPerSecond) + " FPS"}));
}

TEST_F(GameWindowTest, TheMouseHeldOnTheLeftColumnTurnsTheViewEveryFrameUntilItLeavesTheBand) {
  Window->requestActivate();
  ASSERT_TRUE(PumpUntil([&] { return Window->isActive(); }));
  Paint();
  MouseMove(0, 200);
  const float start = CameraYaw;
  for (int frame = 1; frame <= 3; ++frame) {
    Clock.Advance(100);
    Paint();
    EXPECT_FLOAT_EQ(CameraYaw, start - 25.0f * frame) << "250 degrees a second at the left-most pixel";
  }
  MouseMove(FrameWidth / 2, 200);
  Clock.Advance(100);
  Paint();
  EXPECT_FLOAT_EQ(CameraYaw, start - 75.0f);
}

// A right click walks as a left one, on its release; a right drag turns
// the camera by its move and walks nobody.  The arrows turn and tilt it,
// Left and Right only while the chat line is empty: with text they move
// its caret.
TEST_F(GameWindowTest, RightDragAndArrowsTurnTheCameraAndLeaveTheChatLineItsKeys) {
  Place(LocalId, 127, 126);
  Settle();
  Paint();
  auto right = [&](QEvent::Type type, QPoint at, Qt::MouseButtons held) {
    const QPointF where(at);
    QMouseEvent event(type, where, Window->mapToGlobal(where),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::RightButton, held, Qt::NoModifier);
    QCoreApplication::sendEvent(Window.data(), &event);
  };
  const QPoint cell = CellOnScreen(129, 123);
  right(QEvent::MouseButtonPress, cell, Qt::RightButton);
  EXPECT_TRUE(SentWithin(50).empty()) << "nothing before the release";
  right(QEvent::MouseButtonRelease, cell, Qt::NoButton);
  EXPECT_EQ(SentWithin(), (std::vector<TRawFrame>{{9, Goal(129, 123)}}));

  const float yaw = CameraYaw, pitch = CameraPitch;
  right(QEvent::MouseButtonPress, QPoint(300, 150), Qt::RightButton);
  right(QEvent::MouseMove, QPoint(302, 151), Qt::RightButton);
  EXPECT_EQ(CameraYaw, yaw) << "a hand's tremble is still a click";
  right(QEvent::MouseMove, QPoint(350, 170), Qt::RightButton);
  right(QEvent::MouseButtonRelease, QPoint(350, 170), Qt::NoButton);
  EXPECT_FLOAT_EQ(CameraYaw, yaw + 50 * TGameWindow::DragYawRate);
  EXPECT_FLOAT_EQ(CameraPitch, pitch + 20 * TGameWindow::DragPitchRate);
  EXPECT_TRUE(SentWithin().empty()) << "a drag walks nobody";

  auto key = [&](uint16_t code) { Game().KeyDown(code, 0); };
  key(VK_LEFT);
  EXPECT_FLOAT_EQ(CameraYaw, yaw + 50 * TGameWindow::DragYawRate - TGameWindow::KeyYawStep);
  key(VK_UP);
  EXPECT_FLOAT_EQ(CameraPitch, pitch + 20 * TGameWindow::DragPitchRate - TGameWindow::KeyPitchStep);
  const float turned = CameraYaw;
  for (char c : std::string("xy")) Game().KeyPress(c);
  key(VK_LEFT);
  key(VK_BACK);
  key(VK_RIGHT);
  EXPECT_EQ(CameraYaw, turned) << "Left and Right belong to the line while it holds text";
  EXPECT_EQ(Game().Chat.InputText, "y");
  key(VK_DOWN);
  EXPECT_FLOAT_EQ(CameraPitch, pitch + 20 * TGameWindow::DragPitchRate) << "Up and Down stay the camera's";
  ResetCamera();
}

TEST_F(GameWindowTest, TypedLettersGoToTheChatLineAndAFTAlsoPlayTheKnight) {
  TQ2Player& knight = *Game().Knight;
  char key = 'a';
  Game().KeyPress(key);
  EXPECT_EQ(knight.Animation(), 2);
  key = 'f';
  Game().KeyPress(key);
  EXPECT_EQ(knight.Animation(), 7);
  key = 't';
  Game().KeyPress(key);
  EXPECT_EQ(knight.Animation(), 9);
  key = 'A';
  Game().KeyPress(key);
  EXPECT_EQ(knight.Animation(), 9) << "only the lower-case letters";
  EXPECT_EQ(Game().Chat.InputText, "aftA");
  uint16_t enter = VK_RETURN;
  Game().KeyDown(enter, 0);
  EXPECT_EQ(SentWithin(), (std::vector<TRawFrame>{{5, "aftA"}}));
}

// WCAG relative luminance of a pixel as it was read back.
double Luminance(QRgb pixel) {
  auto linear = [](int channel) {
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * linear(qRed(pixel)) + 0.7152 * linear(qGreen(pixel)) + 0.0722 * linear(qBlue(pixel));
}

double Contrast(QRgb a, QRgb b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The welcome, an arrival, a chat line and a departure, drawn by the panel
// over the brightest scene (white) and the darkest (black): every line's
// pixels as read back stand out from the panel's by 4.5 to 1 at least.
TEST_F(GameWindowTest, EveryChatLineStandsOutFromThePanelOverWhiteAndOverBlack) {
  Settle();
  TGLMemo& chat = Game().Chat;
  chat.Add("Bob rejoint la partie", ArrivalColor);
  chat.Add("Bob>salut", ChatColor);
  chat.Add("Bob nous quitte", ArrivalColor);
  for (float back : {1.0f, 0.0f}) {
    GLContext->makeCurrent(Window.data());
    glClearColor(back, back, back, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    // The state the in-game screen's overlay draws the panel in.
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_FOG);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    SetOrtho();
    chat.Draw();
    glFinish();
    const QImage frame = Frame();
    // Left of the scroll bar, right of the longest line: the panel alone.
    const QRgb panel = frame.pixel(chat.Left + chat.Width - 20, chat.Top + chat.Height / 2);
    for (uint32_t colour : {GreetingColor, ArrivalColor, ChatColor}) {
      const QRgb drawn = qRgb((colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF);
      int pixels = 0;
      for (int y = chat.Top; y < chat.Top + chat.Height; ++y)
        for (int x = chat.Left; x < chat.Left + chat.Width; ++x)
          if ((frame.pixel(x, y) & 0xFFFFFF) == (drawn & 0xFFFFFF)) ++pixels;
      EXPECT_GT(pixels, 20) << std::hex << colour << " is drawn as it is";
      EXPECT_GE(Contrast(drawn, panel), 4.5)
          << std::hex << colour << " on the panel over " << (back > 0 ? "white" : "black") << ", panel "
          << (panel & 0xFFFFFF);
    }
  }
}

TEST_F(GameWindowTest, EachFloorCellShowsTheQuarterOfTheTextureItsParitiesChoose) {
  Paint();
  auto brightness = [&](int i, int j) {
    QPoint at = CellOnScreen(i, j);
    TRGBA pixel = PixelAt(at.x(), at.y());
    return int(pixel.R) + pixel.G + pixel.B;
  };
  // Odd column and odd row show the bottom-left quarter, an even row moves
  // to the right half, an even column to the top half.  Fog dims them all
  // alike at this distance, so their order is that of the four greys.
  const int bottomLeft = brightness(129, 123);
  const int bottomRight = brightness(129, 124);
  const int topLeft = brightness(128, 123);
  const int topRight = brightness(128, 124);
  EXPECT_GT(bottomLeft, bottomRight + 60);
  EXPECT_GT(bottomRight, topLeft + 60);
  EXPECT_GT(topLeft, topRight + 60);
  EXPECT_GT(topRight, 60);

  // Culling keeps every cell that shows: no gap across the near floor.
  const int row = Game().Chat.Top - 10;
  for (int x = 0; x < FrameWidth; x += 4) {
    TRGBA pixel = PixelAt(x, row);
    ASSERT_GT(int(pixel.R) + pixel.G + pixel.B, 60) << "at (" << x << ", " << row << ")";
  }
}

// The floor as it was drawn before it became large quads: every cell that
// passes the frustum test, one quad each, with the marble as the file
// holds it.
void DrawFloorCellByCell(TGLTexture& marble) {
  glEnable(GL_FOG);
  glDisable(GL_BLEND);
  glDepthMask(GL_FALSE);
  glEnable(GL_TEXTURE_2D);
  marble.Bind();
  glColor3f(1, 1, 1);
  ExtractFrustum();
  glBegin(GL_QUADS);
  for (int i = 0; i < TGameWindow::MapSide; ++i)
    for (int j = 0; j < TGameWindow::MapSide; ++j) {
      const float x = float(i) * Cell, z = float(j) * Cell;
      if (!SphereInFrustum(x, 0, z, Cell)) continue;
      const float s = j % 2 ? 0 : 0.5f, t = i % 2 ? 0 : 0.5f;
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
  glEnable(GL_DEPTH_TEST);
  glDepthMask(GL_TRUE);
}

// The characters as they were drawn before the levels of detail: each mesh
// skinned whole (normals too) from the player's current pose, textured,
// and flattened whole as its shadow.
void DrawCharactersWhole(TZULPlayerList& players) {
  glColor4f(1, 1, 1, 1);
  for (int k = 0; k < players.Count(); ++k) {
    TZULPlayer& player = *players[k];
    float wx = 0, wz = 0;
    player.GetWorldPos(wx, wz);
    glPushMatrix();
    glTranslatef(wx, 0, wz);
    glRotatef(DirectionAngles[DirectionIndex(player.Direction)] + 90, 0, 1, 0);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    for (int m = 0; m < player.Model->Meshes.Count(); ++m) {
      TTexturedMesh& mesh = *player.Model->Meshes[m];
      TTexturedMesh whole;
      whole.SetMesh(mesh.Mesh());
      whole.AdoptLowDetail(nullptr);
      for (int t = 0; t < mesh.Textures->Count(); ++t) whole.Textures->Add(mesh.Textures->Items(t)->FileName);
      whole.SkinVertices(player.Model->Animated);
      whole.Draw();
    }
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    glPopMatrix();
  }
}

// The frame timer's rate changes how often a walk is drawn, never where the
// walker is: walked from the same cell to the same goal at 25, 60 and 120
// frames a second, the local player is at the same place at every time two
// rates both draw (every 40 ms for 25 and 120, every 680 ms for 25 and 60),
// and ends on the goal.  The walker starts each step on a whole
// millisecond, so the frame that crosses a step's end may round its start
// by half a millisecond: a few thousandths of a world unit.
TEST_F(GameWindowTest, AWalkIsAtTheSamePlaceAtTheSameTimeAtAnyFrameRate) {
  constexpr uint32_t WalkMs = 8000;   // 6 diagonal and 5 straight steps take 7,284
  constexpr float SamePlace = 0.02f;  // world units: under 2 ms of walking
  const TPoint from{120, 120}, goal{131, 126};
  using TTrack = std::map<uint32_t, std::pair<float, float>>;  // ms since the start
  auto walk = [&](int rate) {
    Place(LocalId, from.X, from.Y);
    Settle();
    Paint();
    EXPECT_TRUE(Local().MoveTo(goal));
    TTrack track;
    const auto period = uint32_t(FramePeriodMs(rate));
    for (uint32_t t = 0; t <= WalkMs; t += period) {
      Paint();
      float wx = 0, wz = 0;
      Local().GetWorldPos(wx, wz);
      track[t] = {wx, wz};
      Clock.Advance(period);
    }
    return track;
  };
  const TTrack at25 = walk(25), at60 = walk(60), at120 = walk(120);
  int compared = 0;
  for (const TTrack* other : {&at60, &at120})
    for (const auto& [t, where] : *other) {
      auto same = at25.find(t);
      if (same == at25.end()) continue;
      ++compared;
      EXPECT_NEAR(where.first, same->second.first, SamePlace) << "at " << t << " ms";
      EXPECT_NEAR(where.second, same->second.second, SamePlace) << "at " << t << " ms";
    }
  EXPECT_EQ(compared, int(WalkMs / 680 + 1 + WalkMs / 40 + 1));
  EXPECT_GT(at25.at(2000).first, at25.at(0).first + Cell) << "the player walks";
  for (const TTrack* track : {&at25, &at60, &at120}) {
    EXPECT_FLOAT_EQ(track->rbegin()->second.first, goal.X * Cell);
    EXPECT_FLOAT_EQ(track->rbegin()->second.second, goal.Y * Cell);
  }
}

// The game's own data, as the forge makes it.
// The tag's text colour as drawn at full strength, and whether a pixel is it.
bool TagText(QRgb pixel) {
  return qRed(pixel) > 230 && qGreen(pixel) > 200 && qBlue(pixel) > 100 && qBlue(pixel) < 160;
}
int TagTextPixels(const QImage& frame, const QRect& area) {
  int count = 0;
  for (int y = std::max(area.top(), 0); y <= std::min(area.bottom(), frame.height() - 1); ++y)
    for (int x = std::max(area.left(), 0); x <= std::min(area.right(), frame.width() - 1); ++x)
      count += TagText(frame.pixel(x, y)) ? 1 : 0;
  return count;
}

// Each other player's name stands over its head, light on a dark backing
// over the white floor as over black, fainter with the fog and gone beyond
// it; the local player's own tag shows only when asked for.
TEST_F(GameWindowTest, NameTagsStandOverTheOthersFadeWithTheFogAndLeaveOutTheOwn) {
  Arrive(20, "Bob", 128, 125);
  Arrive(21, "Mid", 127, 120);  // 42 units ahead: in the fog
  Arrive(22, "Far", 127, 100);  // beyond the fog
  Settle();
  Paint();
  const std::vector<TNameTags::TTag>& tags = Game().Tags.Tags();
  ASSERT_EQ(tags.size(), 2u) << "neither the own nor the one beyond the fog";
  EXPECT_EQ(*tags[0].Name, "Mid") << "the farthest first";
  EXPECT_EQ(*tags[1].Name, "Bob");
  EXPECT_GT(tags[0].Alpha, 0.2f);
  EXPECT_LT(tags[0].Alpha, 0.8f);
  EXPECT_GT(tags[1].Alpha, 0.95f);
  const QPoint head = ScreenOf(128 * Cell, TNameTags::TagHeight, 125 * Cell);
  EXPECT_NEAR(tags[1].X, head.x(), 1.5);
  EXPECT_NEAR(tags[1].Y, head.y(), 1.5);

  // The name reads where its tag stands, over its character's head.
  const QImage frame = Frame();
  const int width = Window->Font->TextWidth("Bob");
  const QRect bobTag(head.x() - width / 2 - 3, head.y() - 16, width + 6, 16);
  EXPECT_GT(TagTextPixels(frame, bobTag), 15);
  EXPECT_LT(bobTag.bottom(), BodyOnScreen(*Window->Client->Players[1]).y() - 10) << "above the body";
  // The backing darkens whatever lies behind the name, white floor or black.
  for (QPoint at : {bobTag.topLeft() + QPoint(1, 1), bobTag.bottomLeft() + QPoint(1, -1)}) {
    const QRgb pixel = frame.pixel(at);
    EXPECT_LT(qRed(pixel) + qGreen(pixel) + qBlue(pixel), 3 * 110) << at.x() << ", " << at.y();
  }
  EXPECT_EQ(TagTextPixels(frame, QRect(0, 0, FrameWidth, FrameHeight)),
            TagTextPixels(frame, bobTag) + TagTextPixels(frame, QRect(0, 0, FrameWidth, head.y() - 17)))
      << "no gold anywhere else below Bob's tag: no own tag";

  Game().ShowOwnTag = true;
  Paint();
  ASSERT_EQ(Game().Tags.Tags().size(), 3u);
  EXPECT_EQ(*Game().Tags.Tags()[2].Name, "me");
  const QPoint own = ScreenOf(127 * Cell, TNameTags::TagHeight, 127 * Cell);
  EXPECT_GT(TagTextPixels(Frame(), QRect(own.x() - 20, own.y() - 16, 40, 16)), 15);
}

// A character whose head stands just under the top edge keeps its whole
// name in the window: the tag is lowered to the edge rather than cut.
TEST_F(GameWindowTest, ATagAtTheTopEdgeIsLoweredIntoTheWindowWhole) {
  Arrive(20, "Bob", 128, 125);
  Settle();
  QPoint head;
  // Looking down more lifts what lies ahead towards the top edge.
  for (CameraPitch = StartPitch; CameraPitch < MaxPitch; CameraPitch += 0.25f) {
    head = ScreenOf(128 * Cell, TNameTags::TagHeight, 125 * Cell);
    if (head.y() >= 2 && head.y() <= 8) break;
  }
  ASSERT_TRUE(head.y() >= 2 && head.y() <= 8) << "no pitch puts Bob's head at the top edge";
  Paint();
  ASSERT_EQ(Game().Tags.Tags().size(), 1u);
  EXPECT_FLOAT_EQ(Game().Tags.Tags()[0].Y, float(TNameTags::TagTextHeight));
  const int width = Window->Font->TextWidth("Bob");
  EXPECT_GT(TagTextPixels(Frame(), QRect(head.x() - width / 2 - 3, 0, width + 6, 16)), 15);
}

class GameScreenshot : public GameWindowTest {
  bool WithGameData() const override { return true; }
};

// The floor drawn as large quads is the floor drawn cell by cell, with the
// game's marble as the file holds it, after testing all 65536 cells, from
// any camera: looking ahead, turned, straight down, along the floor and
// from below it.  (Only the half texel along a cell's edges may blend with
// other neighbours: the tiling puts other quarters side by side.)
TEST_F(GameScreenshot, TheFloorShowsWhatTestingEveryCellWouldShow) {
  Paint();  // gets the floor texture
  ASSERT_NE(Game().FloorTexture, nullptr);
  TGLTexture* marble = TextureManager.Get("data\\images\\marbre.bmp");
  struct TView {
    float Yaw, Pitch;
  } views[] = {{0, 25}, {37, 25}, {200, 90}, {90, 0}, {315, -10}};
  for (const TView& view : views) {
    SCOPED_TRACE(testing::Message() << "yaw " << view.Yaw << " pitch " << view.Pitch);
    CameraYaw = view.Yaw;
    CameraPitch = view.Pitch;
    auto scene = [&](auto floor) {
      glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
      SetPerspective();
      glLoadIdentity();
      float wx = 0, wz = 0;
      Local().GetWorldPos(wx, wz);
      ApplyCamera(wx, wz);
      floor();
      return Frame();
    };
    const QImage drawn = scene([&] { Game().DrawFloor(); });
    GLfloat coord[4];
    glGetFloatv(GL_CURRENT_TEXTURE_COORDS, coord);
    const QImage expected = scene([&] { DrawFloorCellByCell(*marble); });
    GLfloat expectedCoord[4];
    glGetFloatv(GL_CURRENT_TEXTURE_COORDS, expectedCoord);
    EXPECT_LE(CountFarApart(drawn, expected), MostFarApart);
    EXPECT_EQ(coord[0], expectedCoord[0]);
    EXPECT_EQ(coord[1], expectedCoord[1]);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_COORD_ARRAY));
    EXPECT_FALSE(glIsEnabled(GL_VERTEX_ARRAY));
    if (view.Pitch > 0) {
      EXPECT_NE(drawn.pixel(FrameWidth / 2, FrameHeight - 30), qRgba(0, 0, 0, 255)) << "the floor shows";
    }
  }
  marble->Release();
}

// The same scene (floor, players, knight, camera, poses) drawn the way the
// frame draws it now and the way it was drawn before the floor became large
// quads and the shadows came from the low levels of detail: the same picture.
// Every character stands nearer than the switch to its low levels; one
// farther is drawn from them.
TEST_F(GameScreenshot, TheFrameDrawsThePictureOfTheWholeMeshesAndTheCellByCellFloor) {
  Place(LocalId, 127, 128, 1);
  const TPoint cells[] = {{124, 126}, {126, 125}, {129, 126}, {130, 128}, {125, 130}, {128, 125}, {127, 126}};
  for (int k = 0; k < int(std::size(cells)); ++k)
    Arrive(20 + k, "P" + std::to_string(k), cells[k].X, cells[k].Y);
  Settle();
  for (int frame = 0; frame < 5; ++frame) {
    Clock.Advance(40);
    Paint();
  }
  TZULPlayerList& players = Window->Client->Players;
  TGLTexture* marble = TextureManager.Get("data\\images\\marbre.bmp");
  struct TView {
    float Yaw, Pitch, Zoom;
  } views[] = {{0, 25, StartZoom}, {150, 40, 6}, {260, 60, 15}};
  for (const TView& view : views) {
    SCOPED_TRACE(testing::Message() << "yaw " << view.Yaw << " pitch " << view.Pitch << " zoom "
                                    << view.Zoom);
    CameraYaw = view.Yaw;
    CameraPitch = view.Pitch;
    CameraZoom = view.Zoom;
    auto scene = [&](bool before) {
      glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
      SetPerspective();
      glLoadIdentity();
      float wx = 0, wz = 0;
      Local().GetWorldPos(wx, wz);
      ApplyCamera(wx, wz);
      if (before) {
        DrawFloorCellByCell(*marble);
        DrawCharactersWhole(players);
      } else {
        Game().DrawFloor();
        players.Draw(0);  // poses as they stand
      }
      Game().DrawKnight(0);
      return Frame();
    };
    const QImage now = scene(false);
    for (int k = 0; k < players.Count(); ++k) ASSERT_FALSE(players[k]->Model->Far) << players[k]->Name;
    const QImage before = scene(true);
    EXPECT_LE(CountFarApart(now, before), MostFarApart);
    // Every shadow of the frame came from a low level.
    for (int k = 0; k < players.Count(); ++k)
      for (int m = 0; m < players[k]->Model->Meshes.Count(); ++m)
        if (players[k]->Model->Meshes[m]->Mesh()) {
          EXPECT_NE(players[k]->Model->Meshes[m]->LowDetail(), nullptr) << "the forge made no low level";
        }
  }
  marble->Release();

  // Far away, the low levels stand in for the meshes.
  Arrive(40, "far", 127, 128 - int(FarDetailDistance / Cell) - 4);
  Settle();
  CameraYaw = 0;
  CameraPitch = StartPitch;
  CameraZoom = StartZoom;
  Paint();
  EXPECT_TRUE(players[players.Count() - 1]->Model->Far);
  EXPECT_FALSE(players[1]->Model->Far);
}

TEST_F(GameScreenshot, WithPlayersAndTheKnight) {
  Place(LocalId, 125, 128, 1);
  for (int id = 20; id < 24; ++id) Arrive(id, "P" + std::to_string(id), 122 + (id - 20) * 2, 123);
  Settle();
  CameraZoom = 0;  // the farthest view but one: 25 units
  Paint();
  ClickAt(CellOnScreen(127, 124));  // a walk, and its marker
  for (int frame = 0; frame < 10; ++frame) {
    Clock.Advance(40);
    Paint();
  }
  SaveScreenshot("game-screen.png");
  // Each character shows where it stands: hidden, the floor is seen there.
  const QImage shown = Frame();
  TZULPlayerList& players = Window->Client->Players;
  for (int k = 0; k < players.Count(); ++k)
    for (int mesh = 0; mesh < players[k]->Model->Meshes.Count(); ++mesh)
      players[k]->Model->Meshes[mesh]->Visible = false;
  Paint();
  const QImage hidden = Frame();
  for (int k = 0; k < players.Count(); ++k) {
    QPoint at = BodyOnScreen(*players[k]);
    EXPECT_NE(shown.pixel(at), hidden.pixel(at)) << players[k]->Name;
  }
}

}  // namespace
