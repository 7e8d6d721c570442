#include "effects/GLGui.h"

#include <algorithm>
#include <cmath>

#include "models/GLMath.h"
#include "platform/Bitmaps.h"
#include "platform/GlyphAtlas.h"
#include "platform/Tick.h"

namespace {

// Virtual-key codes of the editing keys.
constexpr uint16_t VkBack = 8, VkReturn = 13, VkEnd = 35, VkHome = 36, VkLeft = 37, VkRight = 39,
                   VkInsert = 45, VkDelete = 46;

constexpr int WrapMargin = 4;          // pixels kept free right of the text
constexpr int GlyphDrawHeight = 13;    // pixels a display line needs inside the panel
constexpr int InputBoxHeight = 16;     // pixels
constexpr int ScrollTrackWidth = 8;    // pixels
constexpr int ResizeBand = 8;          // pixels above the panel that grab its edge
constexpr int ScrollBarHitWidth = 10;  // pixels
constexpr int PanelLeftAsPlaced = 4;   // the Left the in-game screen gives the panel
constexpr uint32_t TrackColor = 0x50000000;
constexpr uint32_t ThumbColor = 0x50C0C000;
constexpr uint32_t CaretBlinkMask = 1000;  // tick bits; above 500 means bit 9 (512 ms) is set
constexpr uint32_t CaretShownAbove = 500;
constexpr uint32_t OpaqueAlpha = 0xFF000000;

}  // namespace

// ---------------------------------------------------------------- TGLFont

static_assert(TGLFont::KeyColor == TGlyphAtlas::KeyColor);
static_assert(TGLFont::GlyphSize == TGlyphAtlas::CellSize);

TGLFont::TGLFont() {
  TGlyphAtlas atlas = DrawGlyphAtlas();
  FBitmap = std::move(atlas.Bitmap);
  Widths = atlas.Widths;
}

TGLFont::~TGLFont() = default;

void TGLFont::BeginText() {
  glEnable(GL_TEXTURE_2D);
  if (FTexture == 0) {
    FTexture = TextureFromBitmap(*FBitmap, KeyColor);
    FBitmap.reset();
  } else {
    glBindTexture(GL_TEXTURE_2D, FTexture);
  }
  glEnable(GL_ALPHA_TEST);
  glAlphaFunc(GL_NOTEQUAL, 0);
  glDisable(GL_DEPTH_TEST);
}

void TGLFont::EndText() {
  glDisable(GL_TEXTURE_2D);
  glDisable(GL_ALPHA_TEST);
}

int TGLFont::TextWidth(std::string_view S) const {
  int width = 0;
  for (char c : S) width += Width(c);
  return width;
}

// Each byte is a 16 by 16 quad on its atlas cell; t = 1 is the top row of
// the atlas.  The quads overlap where a glyph is narrower than its cell; the
// alpha test drops the transparent texels.
void TGLFont::TextOut(int X, int Y, std::string_view S) const {
  constexpr float cell = 1.0f / 16;
  glBegin(GL_QUADS);
  for (char ch : S) {
    const auto c = static_cast<unsigned char>(ch);
    const int col = c % 16, row = c / 16;
    const float sl = col * cell, sr = (col + 1) * cell;
    const float tt = (16 - row) * cell, tb = (15 - row) * cell;
    glTexCoord2f(sr, tb);
    glVertex2i(X + GlyphSize, Y + GlyphSize);
    glTexCoord2f(sr, tt);
    glVertex2i(X + GlyphSize, Y);
    glTexCoord2f(sl, tt);
    glVertex2i(X, Y);
    glTexCoord2f(sl, tb);
    glVertex2i(X, Y + GlyphSize);
    X += Widths[c];
  }
  glEnd();
}

void TGLFont::TextOutCentered(int X, int Y, std::string_view S) const { TextOut(X - TextWidth(S) / 2, Y, S); }

// ---------------------------------------------------------------- TGLMemo

TGLMemo::TGLMemo(TGLFont& font) : FFont(font) { SetCapacity(DefaultCapacity); }

const TGLMemoLine& TGLMemo::Line(int age) const { return FLines[(FFirst + age) % FCapacity]; }

// The new line overwrites the oldest one once the ring is full.  A ring of
// no entries keeps nothing.
void TGLMemo::Add(const std::string& S, uint32_t Color) {
  if (FCapacity <= 0) return;
  FLines[FNext] = TGLMemoLine{S, Color | OpaqueAlpha, -1};
  FNext = (FNext + 1) % FCapacity;
  if (FCount == FCapacity)
    FFirst = (FFirst + 1) % FCapacity;
  else
    ++FCount;
}

void TGLMemo::SetCapacity(int N) {
  N = std::max(N, 0);
  if (N == FCapacity) return;
  while (FCount > N) {
    FFirst = (FFirst + 1) % FCapacity;
    --FCount;
  }
  std::vector<TGLMemoLine> ring(N);
  for (int age = 0; age < FCount; ++age) ring[age] = std::move(FLines[(FFirst + age) % FCapacity]);
  FLines = std::move(ring);
  FCapacity = N;
  FFirst = 0;
  FNext = FCount == N ? 0 : FCount;
}

void TGLMemo::SetSize(int W, int H) {
  if (W != Width) {
    Relayout = true;
    Width = W;
  }
  Height = H;
}

// The break position is the last space seen before the overflow; a line cut
// there ends before the space and the rest starts with it.  A space in the
// first position is no break, and a cut always takes at least one byte.
std::size_t TGLMemo::CutLength(std::string_view S) const {
  int w = WrapMargin;
  std::size_t breakPos = 0;
  for (std::size_t i = 0; i < S.size(); ++i) {
    w += FFont.Width(S[i]);
    if (w > Width) return std::max<std::size_t>(breakPos > 0 ? breakPos : i, 1);
    if (S[i] == ' ') breakPos = i;
  }
  return S.size();
}

std::string TGLMemo::CutLine(std::string& S) const {
  const std::size_t length = CutLength(S);
  std::string line = S.substr(0, length);
  S.erase(0, length);
  return line;
}

int TGLMemo::MeasureLine(std::string_view text) const {
  int h = 0;
  while (!text.empty()) {
    h += LineHeight;
    text.remove_prefix(CutLength(text));
  }
  return h;
}

void TGLMemo::Layout() {
  TotalHeight = 0;
  for (int age = 0; age < FCount; ++age) {
    TGLMemoLine& line = FLines[(FFirst + age) % FCapacity];
    if (Relayout || line.Height == -1) line.Height = MeasureLine(line.Text);
    TotalHeight += line.Height;
  }
  Relayout = false;
}

void TGLMemo::Draw() {
  glDisable(GL_DEPTH_TEST);
  glEnable(GL_BLEND);
  const int left = Left - 2, top = Top - 2;
  const int right = Left + Width + 8, bottom = Top + Height + 2;
  DrawRect(left, bottom + 2, right, bottom + 2 + InputBoxHeight, BackColor);
  DrawRect(left, top, right, bottom, BackColor);
  DrawRect(right - 2 - ScrollTrackWidth, top + 2, right - 2, bottom - 2, TrackColor);

  FFont.BeginText();
  Layout();
  if (Height > TotalHeight)
    Scroll = 0;
  else
    Scroll = std::min(Scroll, ScrollRange());
  DrawLines();
  DrawInput(bottom + 2);
  FFont.EndText();

  DrawThumb(right, bottom);
  glDisable(GL_BLEND);
}

// Newest line at the bottom, older lines upwards, each display line drawn
// only when it lies wholly inside the text area.
void TGLMemo::DrawLines() {
  const int bottom = Top + Height - 2;
  int y = bottom + Scroll;
  int index = FNext;
  for (int drawn = 0; drawn < FCount; ++drawn) {
    index = (index == 0 ? FCapacity : index) - 1;
    const TGLMemoLine& line = FLines[index];
    y -= line.Height;
    SetColor(line.Color);
    std::string_view rest = line.Text;
    for (int yk = y; !rest.empty(); yk += LineHeight) {
      const std::size_t length = CutLength(rest);
      if (yk > Top && yk + GlyphDrawHeight < bottom) FFont.TextOut(Left + 2, yk, rest.substr(0, length));
      rest.remove_prefix(length);
    }
    if (y < Top) break;
  }
}

void TGLMemo::DrawInput(int inputTop) {
  glColor3f(0, 1, 0);
  if (!InputText.empty()) FFont.TextOut(Left, inputTop, InputText);
  if ((GetTickCount() & CaretBlinkMask) <= CaretShownAbove) return;
  const std::string_view input = InputText;
  const std::size_t before = std::min<std::size_t>(std::max(CaretPos - 1, 0), input.size());
  const int cx = FFont.TextWidth(input.substr(0, before));
  glColor3f(1, 1, 0);
  FFont.TextOut(Left + cx, inputTop, before < input.size() ? input.substr(before, 1) : std::string_view("_"));
}

// The thumb's length is the visible share of the track, its offset from the
// bottom the scrolled share; both rounded half to even.
void TGLMemo::DrawThumb(int right, int bottom) {
  if (ScrollRange() <= 0 || TotalHeight <= 0) return;
  const double track = Height - 4;
  const int size = static_cast<int>(std::nearbyint(track * track / TotalHeight));
  const int pos = static_cast<int>(std::nearbyint(track * Scroll / TotalHeight));
  DrawRect(right - 8, bottom - 4 - size - pos, right - 4, bottom - 4 - pos, ThumbColor);
  glColor3f(1, 1, 1);
}

// ---------------------------------------------------------------- input

// The scroll bar lies right of the text area; the test is written for the
// panel's own Left, which is the same as the in-game screen's band for the
// Left of 4 it gives the panel.
bool TGLMemo::MouseDown(int X, int Y) {
  Resizing = ResizeHover;
  const int barLeft = Left - PanelLeftAsPlaced + Width;
  Dragging = Top < Y && Y < Top + Height && barLeft < X && X < barLeft + ScrollBarHitWidth;
  LastY = Y;
  return Dragging || Resizing;
}

// While dragging, the mouse moves the view by the share of TotalHeight that
// its distance is of the track.  A panel with no track (Height 4 or less)
// does not scroll.
bool TGLMemo::MouseMove(int Y) {
  ResizeHover = Top - ResizeBand < Y && Y < Top;
  if (Dragging) {
    const int track = Height - 4;
    if (track > 0) {
      Scroll += static_cast<int>(static_cast<int64_t>(LastY - Y) * TotalHeight / track);
      Scroll = std::max(0, std::min(Scroll, ScrollRange()));
    }
    LastY = Y;
  }
  return ResizeHover || Dragging;
}

bool TGLMemo::MouseUp() {
  const bool wasDragging = Dragging;
  Dragging = false;
  Resizing = false;
  return wasDragging;
}

void TGLMemo::KeyDown(uint16_t Key) {
  const int length = static_cast<int>(InputText.size());
  switch (Key) {
    case VkBack:
      if (CaretPos > 1) {
        --CaretPos;
        InputText.erase(CaretPos - 1, 1);
      }
      break;
    case VkReturn:
      if (!InputText.empty()) {
        if (OnSay) OnSay(InputText);
        InputText.clear();
        CaretPos = 1;
        Scroll = 0;
      }
      break;
    case VkEnd:
      if (CaretPos <= length) CaretPos = length + 1;
      break;
    case VkHome:
      CaretPos = 1;
      break;
    case VkLeft:
      if (CaretPos > 1) --CaretPos;
      break;
    case VkRight:
      if (CaretPos <= length) ++CaretPos;
      break;
    case VkInsert:
      if (length > CaretPos) InputText.insert(CaretPos - 1, 1, ' ');
      break;
    case VkDelete:
      if (CaretPos <= length) InputText.erase(CaretPos - 1, 1);
      break;
    default:
      break;
  }
}

// A character goes in at the caret only while the whole input still fits.
void TGLMemo::KeyPress(char Key) {
  if (static_cast<unsigned char>(Key) < 32) return;
  InputText.insert(CaretPos - 1, 1, Key);
  if (FFont.TextWidth(InputText) <= Width - WrapMargin)
    ++CaretPos;
  else
    InputText.erase(CaretPos - 1, 1);
}
