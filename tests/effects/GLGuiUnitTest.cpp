// The font's atlas and widths, and the chat panel's logic without drawing:
// its ring of lines, word wrapping, scrolling by the scroll bar, the resize
// band and the editing of the input line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "effects/GLGui.h"
#include "platform/Bitmaps.h"

namespace {

constexpr uint32_t Key = 0x800080;
constexpr uint32_t White = 0xFFFFFF;
constexpr uint32_t Black = 0x000000;

uint32_t Rgb(const TBitmap& bitmap, int x, int y) { return bitmap.Pixel(x, y) & 0xFFFFFF; }

// A panel whose font gives every character the same width, so that wraps
// and caret positions can be counted by hand.
class MemoTest : public ::testing::Test {
protected:
  static constexpr int CharWidth = 10;  // pixels

  MemoTest() : Memo(Font) {
    Font.Widths.fill(CharWidth);
    Memo.SetSize(4 + 5 * CharWidth, 144);  // five characters per display line
  }

  std::vector<std::string> Cut(std::string text) const {
    std::vector<std::string> lines;
    while (!text.empty()) lines.push_back(Memo.CutLine(text));
    return lines;
  }

  void Type(const std::string& text) {
    for (char c : text) Memo.KeyPress(c);
  }

  TGLFont Font;
  TGLMemo Memo;
};

using Lines = std::vector<std::string>;

}  // namespace

TEST(GLFontTest, AtlasHoldsEachGlyphWhiteOutlinedInBlackInsideItsCell) {
  TGLFont font;
  ASSERT_NE(font.Bitmap(), nullptr);
  const TBitmap& atlas = *font.Bitmap();
  ASSERT_EQ(atlas.Width(), 256);
  ASSERT_EQ(atlas.Height(), 256);
  EXPECT_EQ(font.Texture(), 0u);

  int white = 0;
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x) {
      const uint32_t c = Rgb(atlas, x, y);
      ASSERT_TRUE(c == Key || c == White || c == Black) << std::hex << c << " at " << std::dec << x << "," << y;
      if (c != White) continue;
      ++white;
      // The outline surrounds the face: no white pixel touches the key
      // colour inside its own cell.
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          const int nx = x + dx, ny = y + dy;
          if (nx / 16 != x / 16 || ny / 16 != y / 16 || nx < 0 || ny < 0) continue;
          ASSERT_NE(Rgb(atlas, nx, ny), Key) << "white at " << x << "," << y << " touches the key";
        }
    }
  EXPECT_GT(white, 1000);

  // 'A' (column 1, row 4) has both colours; a space, a control code and an
  // undefined byte have none.
  auto count = [&](int code, uint32_t colour, int fromRow = 0) {
    int n = 0;
    for (int y = fromRow; y < 16; ++y)
      for (int x = 0; x < 16; ++x) n += Rgb(atlas, 16 * (code % 16) + x, 16 * (code / 16) + y) == colour;
    return n;
  };
  EXPECT_GT(count('A', White), 10);
  EXPECT_GT(count('A', Black), 10);
  for (int code : {int(' '), 0, 9, 0x81}) EXPECT_EQ(count(code, Key), 256) << "code " << code;
  // The degree sign sits high in its cell; the accents of the capitals in
  // the row below leave nothing at its bottom.
  EXPECT_EQ(count(0xB0, Key, 12), 4 * 16);
  for (int x = 162; x < 169; ++x) EXPECT_EQ(Rgb(atlas, x, 127), Key);
}

TEST(GLFontTest, WidthsFollowTheGlyphsAndSumOverTheText) {
  TGLFont font;
  EXPECT_GT(font.Widths['W'], font.Widths['i']);
  EXPECT_GT(font.Widths[' '], 0);
  EXPECT_GT(font.Widths[0xE9], 0);  // é
  EXPECT_EQ(font.Widths[0], 0);
  EXPECT_EQ(font.Widths['\t'], 0);
  EXPECT_EQ(font.TextWidth(""), 0);
  EXPECT_EQ(font.TextWidth("Wi\xE9"), font.Widths['W'] + font.Widths['i'] + font.Widths[0xE9]);
  // 13 pixels bold: a capital is wider than a third of a cell and narrower
  // than a whole one.
  EXPECT_GT(font.Widths['A'], 5);
  EXPECT_LT(font.Widths['A'], 16);
}

TEST_F(MemoTest, RingKeepsTheNewestHundredLinesOpaque) {
  EXPECT_EQ(Memo.Capacity(), 100);
  for (int i = 0; i < 101; ++i) Memo.Add("line " + std::to_string(i), 0x00FF00);
  EXPECT_EQ(Memo.Count(), 100);
  EXPECT_EQ(Memo.First(), 1);
  EXPECT_EQ(Memo.Next(), 1);
  EXPECT_EQ(Memo.Lines(0).Text, "line 100");
  EXPECT_EQ(Memo.Line(0).Text, "line 1");
  EXPECT_EQ(Memo.Line(99).Text, "line 100");
  EXPECT_EQ(Memo.Line(99).Color, 0xFF00FF00u);
  EXPECT_EQ(Memo.Line(99).Height, -1);

  // Shrinking keeps the newest lines, oldest first from index 0.
  Memo.SetCapacity(3);
  ASSERT_EQ(Memo.Count(), 3);
  EXPECT_EQ(Memo.First(), 0);
  EXPECT_EQ(Memo.Next(), 0);
  EXPECT_EQ(Memo.Lines(0).Text, "line 98");
  EXPECT_EQ(Memo.Lines(2).Text, "line 100");
  // Growing keeps them all and continues after them.
  Memo.SetCapacity(5);
  EXPECT_EQ(Memo.Next(), 3);
  Memo.Add("new", 0x123456);
  EXPECT_EQ(Memo.Line(3).Text, "new");
  EXPECT_EQ(Memo.Line(3).Color, 0xFF123456u);
  EXPECT_EQ(Memo.Count(), 4);

  // A ring of no entries keeps nothing, safely.
  Memo.SetCapacity(0);
  Memo.Add("lost", 0);
  EXPECT_EQ(Memo.Count(), 0);
  Memo.Layout();
  EXPECT_EQ(Memo.TotalHeight, 0);
  Memo.SetCapacity(-4);
  EXPECT_EQ(Memo.Capacity(), 0);
}

TEST_F(MemoTest, LinesBreakAtTheLastSpaceThatFitsOrInsideAWord) {
  // After the last word that fits; the next display line starts with the space.
  EXPECT_EQ(Cut("aaa bbb ccc"), (Lines{"aaa", " bbb", " ccc"}));
  // A word wider than the panel breaks before the character that overflows.
  EXPECT_EQ(Cut("abcdefghijkl"), (Lines{"abcde", "fghij", "kl"}));
  // A short word, then a word that alone just fits: the space that opens
  // the second display line is no break, so the long word is cut inside.
  EXPECT_EQ(Cut("ab cdefg"), (Lines{"ab", " cdef", "g"}));
  EXPECT_EQ(Cut("abcde"), (Lines{"abcde"}));
  EXPECT_EQ(Cut(""), (Lines{}));
  // A panel too narrow for any character still takes one per line.
  Memo.SetSize(3, 144);
  EXPECT_EQ(Cut("a b"), (Lines{"a", " ", "b"}));
}

TEST_F(MemoTest, LayoutMeasuresLinesOnceAndAgainAfterAWidthChange) {
  Memo.Add("aaa bbb ccc", 0);
  Memo.Add("", 0);
  Memo.Add("ab", 0);
  Memo.Layout();
  EXPECT_EQ(Memo.Line(0).Height, 42);
  EXPECT_EQ(Memo.Line(1).Height, 0);
  EXPECT_EQ(Memo.Line(2).Height, 14);
  EXPECT_EQ(Memo.TotalHeight, 56);
  EXPECT_FALSE(Memo.Relayout);

  // The same width measures nothing again; another width measures all.
  Memo.SetSize(Memo.Width, 60);
  EXPECT_FALSE(Memo.Relayout);
  EXPECT_EQ(Memo.Height, 60);
  Memo.SetSize(4 + 20 * CharWidth, 60);
  EXPECT_TRUE(Memo.Relayout);
  Memo.SetSize(4 + 20 * CharWidth, 70);
  EXPECT_TRUE(Memo.Relayout);
  Memo.Layout();
  EXPECT_EQ(Memo.Line(0).Height, 14);
  EXPECT_EQ(Memo.TotalHeight, 28);
  EXPECT_FALSE(Memo.Relayout);
}

TEST_F(MemoTest, DraggingTheScrollBarScrollsBackAndStaysInRange) {
  Memo.Left = 4;
  Memo.Top = 100;
  Memo.SetSize(54, 104);  // track of 100 pixels
  for (int i = 0; i < 20; ++i) Memo.Add("abcdefghij", 0);  // 28 pixels each
  Memo.Layout();
  ASSERT_EQ(Memo.TotalHeight, 560);
  ASSERT_EQ(Memo.ScrollRange(), 460);

  // Over the text: not taken.  Over the scroll bar: taken.
  EXPECT_FALSE(Memo.MouseDown(30, 150));
  EXPECT_FALSE(Memo.MouseUp());
  EXPECT_FALSE(Memo.MouseDown(54 + 10, 150));
  EXPECT_FALSE(Memo.MouseDown(59, 100));
  EXPECT_TRUE(Memo.MouseDown(59, 150));
  EXPECT_TRUE(Memo.Dragging);

  // Ten pixels up are a tenth of the track: 56 pixels back.
  EXPECT_TRUE(Memo.MouseMove(140));
  EXPECT_EQ(Memo.Scroll, 56);
  EXPECT_EQ(Memo.LastY, 140);
  EXPECT_TRUE(Memo.MouseMove(143));  // -16.8 truncates to -16
  EXPECT_EQ(Memo.Scroll, 40);
  Memo.MouseMove(-1000);
  EXPECT_EQ(Memo.Scroll, 460);
  Memo.MouseMove(1000);
  EXPECT_EQ(Memo.Scroll, 0);
  EXPECT_TRUE(Memo.MouseUp());
  EXPECT_FALSE(Memo.Dragging);
  EXPECT_FALSE(Memo.MouseUp());

  // A panel squeezed to no track does not scroll (and does not divide by 0).
  Memo.Height = 4;
  EXPECT_TRUE(Memo.MouseDown(59, 102));
  Memo.MouseMove(50);
  EXPECT_EQ(Memo.Scroll, 0);
}

TEST_F(MemoTest, BandAboveThePanelStartsAResize) {
  Memo.Left = 4;
  Memo.Top = 100;
  EXPECT_FALSE(Memo.MouseMove(92));
  EXPECT_FALSE(Memo.ResizeHover);
  EXPECT_TRUE(Memo.MouseMove(93));
  EXPECT_TRUE(Memo.ResizeHover);
  EXPECT_TRUE(Memo.MouseMove(99));
  EXPECT_TRUE(Memo.MouseDown(20, 99));
  EXPECT_TRUE(Memo.Resizing);
  EXPECT_FALSE(Memo.Dragging);
  // Releasing ends the resize but reports only a drag of the scroll bar.
  EXPECT_FALSE(Memo.MouseUp());
  EXPECT_FALSE(Memo.Resizing);
  EXPECT_FALSE(Memo.MouseMove(100));
  EXPECT_FALSE(Memo.MouseDown(20, 99));
}

TEST_F(MemoTest, TypingStopsAtTheWidthAndCaretKeysStayInsideTheText) {
  Memo.SetSize(62, 144);  // 58 pixels for the text: five characters
  Type("abc");
  EXPECT_EQ(Memo.InputText, "abc");
  EXPECT_EQ(Memo.CaretPos, 4);
  Memo.KeyPress('\r');
  Memo.KeyPress('\x1B');
  EXPECT_EQ(Memo.InputText, "abc");
  Type("defg");
  EXPECT_EQ(Memo.InputText, "abcde");
  EXPECT_EQ(Memo.CaretPos, 6);

  Memo.KeyDown(37);  // Left
  Memo.KeyDown(37);
  EXPECT_EQ(Memo.CaretPos, 4);
  Memo.KeyDown(8);  // Backspace removes the character before the caret
  EXPECT_EQ(Memo.InputText, "abde");
  EXPECT_EQ(Memo.CaretPos, 3);
  Memo.KeyDown(46);  // Delete removes the one after it
  EXPECT_EQ(Memo.InputText, "abe");
  EXPECT_EQ(Memo.CaretPos, 3);
  Type("X");
  EXPECT_EQ(Memo.InputText, "abXe");
  EXPECT_EQ(Memo.CaretPos, 4);

  // Insert opens a space at the caret, past the typing limit, but not at
  // the last character or beyond.
  Memo.KeyDown(36);  // Home
  EXPECT_EQ(Memo.CaretPos, 1);
  Memo.KeyDown(45);
  Memo.KeyDown(45);
  EXPECT_EQ(Memo.InputText, "  abXe");
  EXPECT_EQ(Memo.CaretPos, 1);
  Memo.KeyDown(35);  // End
  EXPECT_EQ(Memo.CaretPos, 7);
  Memo.KeyDown(45);
  Memo.KeyDown(37);
  Memo.KeyDown(45);
  EXPECT_EQ(Memo.InputText, "  abXe");

  // At either end the keys do nothing.
  Memo.KeyDown(35);
  Memo.KeyDown(39);  // Right
  Memo.KeyDown(46);
  EXPECT_EQ(Memo.CaretPos, 7);
  EXPECT_EQ(Memo.InputText, "  abXe");
  Memo.KeyDown(36);
  Memo.KeyDown(37);
  Memo.KeyDown(8);
  EXPECT_EQ(Memo.CaretPos, 1);
  EXPECT_EQ(Memo.InputText, "  abXe");
  Memo.KeyDown(65);  // any other code
  EXPECT_EQ(Memo.InputText, "  abXe");
}

TEST_F(MemoTest, EnterHandsTheLineOverAndShowsTheNewestLines) {
  std::vector<std::string> said;
  Memo.OnSay = [&](const std::string& text) { said.push_back(text); };
  Memo.KeyDown(13);
  EXPECT_TRUE(said.empty());

  Type("h\xE9!");
  Memo.KeyDown(37);
  Memo.Scroll = 30;
  Memo.KeyDown(13);
  EXPECT_EQ(said, (std::vector<std::string>{"h\xE9!"}));
  EXPECT_EQ(Memo.InputText, "");
  EXPECT_EQ(Memo.CaretPos, 1);
  EXPECT_EQ(Memo.Scroll, 0);

  // Without anyone to hand it to, the line is still taken off the input.
  Memo.OnSay = nullptr;
  Type("x");
  Memo.KeyDown(13);
  EXPECT_EQ(Memo.InputText, "");
}
