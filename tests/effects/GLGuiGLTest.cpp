// The font and the chat panel drawn into a real context and read back.
#include <gtest/gtest.h>

#include "GLFixture.h"
#include "effects/GLGui.h"
#include "platform/Bitmaps.h"
#include "platform/Tick.h"

namespace {

// Window pixels, origin at the top left, Y downwards; clears to a colour.
void Begin2D(int size, float r, float g, float b) {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, size, size, 0, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glClearColor(r, g, b, 1);
  glClear(GL_COLOR_BUFFER_BIT);
}

// The pixel at (x, y) counted from the top left.
TRGBA At(int size, int x, int y) {
  TRGBA pixel;
  glReadPixels(x, size - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, &pixel);
  return pixel;
}

template <class Test>
int Count(int size, int x1, int y1, int x2, int y2, Test test) {
  int n = 0;
  for (int y = y1; y < y2; ++y)
    for (int x = x1; x < x2; ++x) n += test(At(size, x, y));
  return n;
}

bool Grey(TRGBA p, int level) { return std::abs(p.R - level) <= 2 && p.R == p.G && p.G == p.B; }

}  // namespace

using GLFontDrawTest = GLFixture;

// Screen pixel (x + i, y + j) shows texel (i, j) of the glyph's cell: white
// in the drawing colour, black, or the blue background where the atlas has
// its key colour.  The second glyph's quad starts at the first one's width.
TEST_F(GLFontDrawTest, GlyphsLandTexelForTexelAndAdvanceByTheirWidths) {
  TGLFont font;
  const TBitmap atlas = *font.Bitmap();
  Begin2D(Width, 0, 0, 1);
  font.BeginText();
  EXPECT_EQ(font.Bitmap(), nullptr);
  glColor3f(0, 1, 0);
  font.TextOut(3, 5, "W\xE9");
  font.EndText();
  EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D) || glIsEnabled(GL_ALPHA_TEST));
  const int next = 3 + font.Widths['W'];
  auto texel = [&](int code, int i, int j) {
    return atlas.Pixel(16 * (code % 16) + i, 16 * (code / 16) + j) & 0xFFFFFF;
  };
  auto expected = [](uint32_t texel) {
    return texel == 0xFFFFFF ? TRGBA{0, 255, 0, 255}
           : texel == 0      ? TRGBA{0, 0, 0, 255}
                             : TRGBA{0, 0, 255, 255};
  };
  for (int j = 0; j < 16; ++j) {
    for (int i = 0; i < next - 3; ++i)
      ASSERT_EQ(At(Width, 3 + i, 5 + j), expected(texel('W', i, j))) << i << "," << j;
    for (int i = 0; i < 16; ++i) {
      if (texel(0xE9, i, j) == 0x800080 && next + i < 3 + 16) continue;  // may show the 'W'
      ASSERT_EQ(At(Width, next + i, 5 + j), expected(texel(0xE9, i, j))) << i << "," << j;
    }
  }
}

// A 200 by 200 window; text area at (4, 40), 150 by 100: panel (2, 38) to
// (162, 142), input box (2, 144) to (162, 160), track (152, 40) to (160, 140).
class GLMemoDrawTest : public ::testing::Test {
 protected:
  static constexpr int Size = 200;
  void SetUp() override {
    ASSERT_TRUE(Surface.MakeCurrent()) << "no OpenGL context (is the test running under xvfb-run?)";
    Memo.Left = 4;
    Memo.Top = 40;
    Memo.SetSize(150, 100);
  }
  void Draw() {
    Begin2D(Size, 0, 0, 0);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    Memo.Draw();
  }
  int Count(int x1, int y1, int x2, int y2, bool (*test)(TRGBA)) {
    return ::Count(Size, x1, y1, x2, y2, test);
  }

  TGLTestSurface Surface{Size, Size};
  TGLFont Font;
  TGLMemo Memo{Font};
  TTestClock Clock{0x10000};  // caret in its dark half
};

TEST_F(GLMemoDrawTest, PanelShowsItsLinesNewestAtTheBottomThumbAndCaret) {
  Memo.Add("Rouge", 0xFF0000);
  Memo.Add("Vert", 0x00FF00);
  Draw();
  // Grey 128 at alpha 128 over black; the track 80/255 darker; gaps black.
  EXPECT_TRUE(Grey(At(Size, 2, 38), 64) && Grey(At(Size, 100, 150), 64)) << At(Size, 2, 38);
  EXPECT_TRUE(Grey(At(Size, 156, 60), 44)) << At(Size, 156, 60);
  for (auto [x, y] : {std::pair{100, 142}, {100, 143}, {100, 160}, {162, 50}})
    EXPECT_EQ(At(Size, x, y), (TRGBA{0, 0, 0, 255})) << x << "," << y;
  auto red = [](TRGBA p) { return p.R == 255 && p.G == 0; };
  auto green = [](TRGBA p) { return p.G == 255 && p.R == 0; };
  EXPECT_GT(Count(6, 126, 80, 138, green), 20);  // "Vert" at y 124
  EXPECT_EQ(Count(6, 100, 80, 122, green), 0);
  EXPECT_GT(Count(6, 110, 80, 122, red), 20);  // "Rouge" at y 110
  EXPECT_EQ(Count(6, 126, 80, 142, red), 0);
  EXPECT_FALSE(glIsEnabled(GL_BLEND) || glIsEnabled(GL_DEPTH_TEST));

  // 30 lines (420 pixels, a track of 96): a thumb of 22 pixels, at the
  // bottom, then at the top once scrolled back as far as it goes.
  auto yellow = [](TRGBA p) { return p.R > p.B + 40 && p.G > p.B + 40; };
  EXPECT_EQ(Count(150, 40, 162, 142, yellow), 0);
  for (int i = 0; i < 28; ++i) Memo.Add("ligne", 0xFFFFFF);
  Draw();
  EXPECT_EQ(Count(154, 116, 158, 138, yellow), 4 * 22);
  EXPECT_EQ(Count(150, 40, 162, 142, yellow), 4 * 22);
  Memo.Scroll = 1000;
  Draw();
  EXPECT_EQ(Memo.Scroll, 324);
  EXPECT_EQ(Count(154, 42, 158, 64, yellow), 4 * 22);  // 142 - 4 - 22 - 74

  // Typed text in green; the caret after it in yellow while bit 9 of the
  // tick count is set.
  auto caret = [](TRGBA p) { return p.R == 255 && p.G == 255 && p.B == 0; };
  for (char c : std::string("abc")) Memo.KeyPress(c);
  const int caretX = 4 + Font.TextWidth("abc");
  Draw();
  EXPECT_GT(Count(4, 144, caretX, 160, green), 10);
  EXPECT_EQ(Count(2, 144, 162, 160, caret), 0);
  Clock.Now = 0x10200;
  Draw();
  EXPECT_GT(Count(caretX, 144, caretX + 16, 160, caret), 3);
  EXPECT_EQ(Count(4, 144, caretX - 1, 160, caret), 0);
}
