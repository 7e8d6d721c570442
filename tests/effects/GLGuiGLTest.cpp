// The font and the chat panel drawn into a real context and read back:
// glyphs land texel for texel where TextOut puts them, white with a black
// outline over a transparent background; the panel shows its background,
// scroll bar, lines and caret where the layout puts them.
#include <gtest/gtest.h>

#include <vector>

#include "GLFixture.h"
#include "effects/GLGui.h"
#include "platform/Bitmaps.h"
#include "platform/Tick.h"

namespace {

constexpr uint32_t Key = 0x800080;

// Window pixels with the origin at the top left, Y downwards.
void UseWindowProjection(int width, int height) {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, width, height, 0, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

// The whole colour buffer, rows from the top.
class TScreen {
public:
  TScreen(int width, int height) : Width(width), Height(height), FPixels(width * height) {
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, FPixels.data());
  }
  TRGBA At(int x, int y) const { return FPixels[(Height - 1 - y) * Width + x]; }
  // Pixels of a rectangle (right and bottom excluded) that satisfy a test.
  template <class Test>
  int Count(int x1, int y1, int x2, int y2, Test test) const {
    int n = 0;
    for (int y = y1; y < y2; ++y)
      for (int x = x1; x < x2; ++x) n += test(At(x, y));
    return n;
  }
  int Width, Height;

private:
  std::vector<TRGBA> FPixels;
};

TRGBA FromRgb(uint32_t rgb) {
  return {uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb), 255};
}

bool Near(TRGBA pixel, int r, int g, int b, int tolerance = 3) {
  return std::abs(pixel.R - r) <= tolerance && std::abs(pixel.G - g) <= tolerance &&
         std::abs(pixel.B - b) <= tolerance;
}

class GLFontDrawTest : public GLFixture {
protected:
  void SetUp() override {
    GLFixture::SetUp();
    UseWindowProjection(Width, Height);
    glClearColor(0, 0, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    Atlas = *Font.Bitmap();  // BeginText gives the bitmap up
  }

  // Screen pixel (x + i, y + j) shows texel (i, j) of the glyph's cell, or
  // the blue background where the atlas has its key colour; white becomes
  // the drawing colour.
  void ExpectGlyphAt(const TScreen& screen, int x, int y, unsigned char code, TRGBA face) {
    int opaque = 0;
    for (int j = 0; j < 16; ++j)
      for (int i = 0; i < 16; ++i) {
        const uint32_t texel = Atlas.Pixel(16 * (code % 16) + i, 16 * (code / 16) + j) & 0xFFFFFF;
        const TRGBA expected = texel == Key ? TRGBA{0, 0, 255, 255} : texel == 0xFFFFFF ? face : FromRgb(texel);
        opaque += texel != Key;
        ASSERT_EQ(screen.At(x + i, y + j), expected) << "code " << int(code) << " texel " << i << "," << j;
      }
    EXPECT_GT(opaque, 0);
  }

  TGLFont Font;
  TBitmap Atlas;
};

}  // namespace

TEST_F(GLFontDrawTest, GlyphsLandTexelForTexelAtTheirPlace) {
  Font.BeginText();
  EXPECT_EQ(Font.Bitmap(), nullptr);
  ASSERT_NE(Font.Texture(), 0u);
  EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
  EXPECT_TRUE(glIsEnabled(GL_ALPHA_TEST));
  EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
  glColor3f(1, 1, 1);
  Font.TextOut(3, 5, "A");
  glColor3f(0, 1, 0);
  Font.TextOut(30, 40, "\xE9");  // é, in green
  Font.EndText();
  EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
  EXPECT_FALSE(glIsEnabled(GL_ALPHA_TEST));

  const TScreen screen(Width, Height);
  ExpectGlyphAt(screen, 3, 5, 'A', {255, 255, 255, 255});
  ExpectGlyphAt(screen, 30, 40, 0xE9, {0, 255, 0, 255});
  EXPECT_EQ(screen.At(25, 2), (TRGBA{0, 0, 255, 255}));
}

TEST_F(GLFontDrawTest, EachCharacterAdvancesByItsWidth) {
  const GLuint texture = [&] {
    Font.BeginText();
    return Font.Texture();
  }();
  glColor3f(1, 1, 1);
  Font.TextOut(2, 10, "Wg");
  Font.EndText();
  const TScreen screen(Width, Height);

  // 'g' is drawn after 'W', so wherever its cell is not transparent it shows.
  const int gx = 2 + Font.Widths['W'];
  for (int j = 0; j < 16; ++j)
    for (int i = 0; i < 16; ++i) {
      const uint32_t texel = Atlas.Pixel(16 * ('g' % 16) + i, 16 * ('g' / 16) + j) & 0xFFFFFF;
      if (texel != Key) {
        ASSERT_EQ(screen.At(gx + i, 10 + j), FromRgb(texel)) << i << "," << j;
      }
    }

  // A later BeginText binds the same texture again.
  glBindTexture(GL_TEXTURE_2D, 0);
  Font.BeginText();
  GLint bound = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  EXPECT_EQ(static_cast<GLuint>(bound), texture);
  Font.EndText();
}

// A panel on a 200 by 200 window: text area (4, 40) 150 by 100, so the
// panel covers (2, 38) to (162, 142), the input box (2, 144) to (162, 160)
// and the scroll bar track (152, 40) to (160, 140).
class GLMemoDrawTest : public ::testing::Test {
protected:
  static constexpr int Size = 200;

  GLMemoDrawTest() : Surface(Size, Size) {}

  void SetUp() override {
    ASSERT_TRUE(Surface.MakeCurrent()) << "no OpenGL context (is the test running under xvfb-run?)";
    Memo = std::make_unique<TGLMemo>(Font);
    Memo->Left = 4;
    Memo->Top = 40;
    Memo->SetSize(150, 100);
  }

  TScreen Draw() {
    UseWindowProjection(Size, Size);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    Memo->Draw();
    return TScreen(Size, Size);
  }

  TGLTestSurface Surface;
  TGLFont Font;
  std::unique_ptr<TGLMemo> Memo;
  TTestClock Clock{0x10000};  // caret hidden
};

TEST_F(GLMemoDrawTest, BackgroundInputBoxAndTrackAreTranslucent) {
  glEnable(GL_DEPTH_TEST);
  const TScreen screen = Draw();
  // Grey 128 at alpha 128 over black, the track another 80/255 darker.
  EXPECT_TRUE(Near(screen.At(20, 50), 64, 64, 64)) << screen.At(20, 50);
  EXPECT_TRUE(Near(screen.At(2, 38), 64, 64, 64)) << screen.At(2, 38);
  EXPECT_TRUE(Near(screen.At(100, 150), 64, 64, 64)) << screen.At(100, 150);
  EXPECT_TRUE(Near(screen.At(156, 60), 44, 44, 44)) << screen.At(156, 60);
  EXPECT_TRUE(Near(screen.At(161, 60), 64, 64, 64)) << screen.At(161, 60);
  for (auto [x, y] : {std::pair{100, 142}, {100, 143}, {100, 160}, {1, 50}, {162, 50}, {100, 37}})
    EXPECT_EQ(screen.At(x, y), (TRGBA{0, 0, 0, 255})) << x << "," << y;
  // Nothing was typed and the caret is in its dark half-second: no text.
  EXPECT_EQ(screen.Count(2, 38, 162, 160, [](TRGBA p) { return p.R > 100 || p.G > 100; }), 0);
  EXPECT_FALSE(glIsEnabled(GL_BLEND));
  EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
  EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
}

TEST_F(GLMemoDrawTest, NewestLineIsAtTheBottomInItsColour) {
  Memo->Add("Rouge", 0xFF0000);
  Memo->Add("Vert", 0x00FF00);
  const TScreen screen = Draw();
  auto red = [](TRGBA p) { return p.R == 255 && p.G == 0; };
  auto green = [](TRGBA p) { return p.G == 255 && p.R == 0; };
  // "Vert" at y 124 (bottom 138 - 14), "Rouge" at 110, both from x 6.
  EXPECT_GT(screen.Count(6, 126, 80, 138, green), 20);
  EXPECT_EQ(screen.Count(6, 126, 80, 142, red), 0);
  EXPECT_GT(screen.Count(6, 110, 80, 122, red), 20);
  EXPECT_EQ(screen.Count(6, 100, 80, 122, green), 0);
  EXPECT_EQ(screen.Count(2, 38, 162, 108, [](TRGBA p) { return p.R > 100 || p.G > 100; }), 0);
}

TEST_F(GLMemoDrawTest, ThumbShowsTheVisibleShareAndTheScrolledPlace) {
  auto yellow = [](TRGBA p) { return p.R > p.B + 40 && p.G > p.B + 40; };
  for (int i = 0; i < 5; ++i) Memo->Add("court", 0xFFFFFF);
  Memo->Scroll = 50;
  TScreen screen = Draw();
  EXPECT_EQ(Memo->Scroll, 0);  // everything fits
  EXPECT_EQ(screen.Count(150, 40, 162, 142, yellow), 0);

  // 30 lines: 420 pixels for a track of 96: a thumb of 22 at the bottom.
  for (int i = 0; i < 25; ++i) Memo->Add("ligne", 0xFFFFFF);
  screen = Draw();
  EXPECT_EQ(screen.Count(154, 116, 158, 138, yellow), 4 * 22);
  EXPECT_EQ(screen.Count(150, 40, 162, 116, yellow), 0);
  EXPECT_EQ(screen.Count(150, 138, 162, 142, yellow), 0);

  // Scrolled past the oldest line: clamped, the thumb at the top.
  Memo->Scroll = 1000;
  screen = Draw();
  EXPECT_EQ(Memo->Scroll, 420 - 100 + 4);
  EXPECT_EQ(screen.Count(154, 42, 158, 64, yellow), 4 * 22);  // pos 74: 142 - 4 - 22 - 74 = 42
  EXPECT_EQ(screen.Count(150, 64, 162, 142, yellow), 0);
}

TEST_F(GLMemoDrawTest, CaretBlinksAsAnUnderscoreAtTheEnd) {
  auto yellow = [](TRGBA p) { return p.R == 255 && p.G == 255 && p.B == 0; };
  auto green = [](TRGBA p) { return p.G == 255 && p.R == 0; };
  TScreen screen = Draw();
  EXPECT_EQ(screen.Count(2, 144, 162, 160, yellow), 0);
  Clock.Now = 0x10200;  // bit 9: shown
  screen = Draw();
  EXPECT_GT(screen.Count(4, 144, 20, 160, yellow), 3);

  // Typed text in green, the caret after it.
  for (char c : std::string("abc")) Memo->KeyPress(c);
  screen = Draw();
  const int caretX = 4 + Font.TextWidth("abc");
  EXPECT_GT(screen.Count(4, 144, caretX, 160, green), 10);
  EXPECT_GT(screen.Count(caretX, 144, caretX + 16, 160, yellow), 3);
  EXPECT_EQ(screen.Count(4, 144, caretX - 1, 160, yellow), 0);
  Clock.Now = 0x10000 + 511;
  screen = Draw();
  EXPECT_EQ(screen.Count(2, 144, 162, 160, yellow), 0);
}
