// The font's atlas and the chat panel's logic without drawing: the ring of
// lines, word wrapping, the scroll bar drag, the resize band and editing.
#include <gtest/gtest.h>

#include "effects/GLGui.h"
#include "platform/Bitmaps.h"

namespace {

constexpr uint32_t Key = 0x800080, White = 0xFFFFFF, Black = 0;

// Every character 10 pixels wide; a width of 54 holds five per line.
class MemoTest : public ::testing::Test {
 protected:
  MemoTest() : Memo(Font) {
    Font.Widths.fill(10);
    Memo.SetSize(54, 144);
  }
  std::vector<std::string> Cut(std::string text) const {
    std::vector<std::string> lines;
    while (!text.empty()) lines.push_back(Memo.CutLine(text));
    return lines;
  }
  void Keys(std::initializer_list<uint16_t> keys) {
    for (uint16_t key : keys) Memo.KeyDown(key);
  }

  TGLFont Font;
  TGLMemo Memo;
};

using Lines = std::vector<std::string>;
enum : uint16_t {
  Back = 8,
  Enter = 13,
  End = 35,
  Home = 36,
  Left = 37,
  Right = 39,
  Insert = 45,
  Delete = 46
};

}  // namespace

TEST(GLFontTest, AtlasGlyphsAreWhiteOutlinedInBlackInsideTheirCells) {
  TGLFont font;
  const TBitmap& atlas = *font.Bitmap();
  ASSERT_EQ(atlas.Width(), 256);
  ASSERT_EQ(atlas.Height(), 256);
  auto at = [&](int x, int y) { return atlas.Pixel(x, y) & 0xFFFFFF; };
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x) {
      ASSERT_TRUE(at(x, y) == Key || at(x, y) == White || at(x, y) == Black) << x << "," << y;
      // No white pixel touches the key colour inside its own cell.
      for (int ny = y - 1; at(x, y) == White && ny <= y + 1; ++ny)
        for (int nx = x - 1; nx <= x + 1; ++nx)
          ASSERT_TRUE(nx < 0 || ny < 0 || nx / 16 != x / 16 || ny / 16 != y / 16 || at(nx, ny) != Key)
              << x << "," << y;
    }
  auto count = [&](int code, uint32_t colour, int fromRow) {
    int n = 0;
    for (int y = fromRow; y < 16; ++y)
      for (int x = 0; x < 16; ++x) n += at(16 * (code % 16) + x, 16 * (code / 16) + y) == colour;
    return n;
  };
  EXPECT_GT(count('A', White, 0), 10);
  for (int code : {32, 0, 9, 0x81}) EXPECT_EQ(count(code, Key, 0), 256) << code;
  // Accents of the capitals below leave no mark at the bottom of the degree sign.
  EXPECT_EQ(count(0xB0, Key, 12), 64);
  EXPECT_GT(font.Widths['W'], font.Widths['i']);
  EXPECT_EQ(font.Widths[9], 0);
  EXPECT_EQ(font.TextWidth("W\xE9"), font.Widths['W'] + font.Widths[0xE9]);
}

TEST_F(MemoTest, RingKeepsTheNewestLinesAndSurvivesNoCapacity) {
  for (int i = 0; i < 101; ++i) Memo.Add(std::to_string(i), 0x00FF00);
  EXPECT_EQ(Memo.Count(), 100);
  EXPECT_EQ(Memo.Lines(0).Text, "100");
  EXPECT_EQ(Memo.Line(0).Text, "1");
  EXPECT_EQ(Memo.Line(99).Color, 0xFF00FF00u);
  Memo.SetCapacity(3);
  EXPECT_EQ(Memo.Lines(0).Text, "98");
  EXPECT_EQ(Memo.Next(), 0);
  Memo.SetCapacity(5);
  Memo.Add("new", 0);
  EXPECT_EQ(Memo.Line(3).Text, "new");
  Memo.SetCapacity(0);
  Memo.Add("lost", 0);
  EXPECT_EQ(Memo.Count(), 0);
}

TEST_F(MemoTest, LinesBreakAtTheLastSpaceThatFitsOrInsideAWord) {
  EXPECT_EQ(Cut("aaa bbb ccc"), (Lines{"aaa", " bbb", " ccc"}));
  EXPECT_EQ(Cut("abcdefghijkl"), (Lines{"abcde", "fghij", "kl"}));
  // The space opening the second display line is no break.
  EXPECT_EQ(Cut("ab cdefg"), (Lines{"ab", " cdef", "g"}));
  Memo.Add("aaa bbb ccc", 0);
  Memo.Add("", 0);
  Memo.Layout();
  EXPECT_EQ(Memo.TotalHeight, 42);
  EXPECT_EQ(Memo.Line(1).Height, 0);
  // A new width measures the lines again.
  Memo.SetSize(204, 60);
  Memo.Layout();
  EXPECT_EQ(Memo.TotalHeight, 14);
  // Too narrow for anything: still one character per line.
  Memo.SetSize(3, 60);
  EXPECT_EQ(Cut("a b"), (Lines{"a", " ", "b"}));
}

TEST_F(MemoTest, ScrollBarDragScrollsBackWithinRangeAndBandStartsResize) {
  Memo.Left = 4;
  Memo.Top = 100;
  Memo.SetSize(54, 104);                                   // track of 100 pixels
  for (int i = 0; i < 20; ++i) Memo.Add("abcdefghij", 0);  // 560 pixels in all
  Memo.Layout();
  EXPECT_FALSE(Memo.MouseDown(30, 150));  // over the text
  EXPECT_TRUE(Memo.MouseDown(59, 150));
  EXPECT_TRUE(Memo.MouseMove(140));  // a tenth of the track
  EXPECT_EQ(Memo.Scroll, 56);
  Memo.MouseMove(143);  // -16.8 truncates
  EXPECT_EQ(Memo.Scroll, 40);
  Memo.MouseMove(-1000);
  EXPECT_EQ(Memo.Scroll, 460);
  Memo.MouseMove(1000);
  EXPECT_EQ(Memo.Scroll, 0);
  EXPECT_TRUE(Memo.MouseUp());
  EXPECT_FALSE(Memo.MouseUp());
  // No track at all: the drag does not scroll (nor divide by zero).
  Memo.Height = 4;
  Memo.MouseDown(59, 102);
  Memo.MouseMove(50);
  EXPECT_EQ(Memo.Scroll, 0);
  Memo.MouseUp();

  EXPECT_FALSE(Memo.MouseMove(92));
  EXPECT_TRUE(Memo.MouseMove(93));
  EXPECT_TRUE(Memo.MouseDown(20, 99));
  EXPECT_TRUE(Memo.Resizing);
  EXPECT_FALSE(Memo.MouseUp());  // reports only scroll bar drags
  EXPECT_FALSE(Memo.Resizing);
}

TEST_F(MemoTest, EditingKeepsTheCaretInsideAndEnterHandsTheLineOver) {
  Memo.SetSize(62, 144);  // 58 pixels for the input: five characters
  for (char c : std::string("abc\r\x1B"
                            "defg"))
    Memo.KeyPress(c);
  EXPECT_EQ(Memo.InputText, "abcde");
  EXPECT_EQ(Memo.CaretPos, 6);
  Keys({Left, Left, Back});
  EXPECT_EQ(Memo.InputText, "abde");
  Keys({Delete});
  EXPECT_EQ(Memo.InputText, "abe");
  EXPECT_EQ(Memo.CaretPos, 3);
  // Insert goes past the typing limit, but not at the last character.
  Keys({Home, Insert, Insert, End, Insert, Left, Insert});
  EXPECT_EQ(Memo.InputText, "  abe");
  Keys({End, Right, Delete});
  EXPECT_EQ(Memo.CaretPos, 6);
  Keys({Home, Left, Back, 65});
  EXPECT_EQ(Memo.CaretPos, 1);
  EXPECT_EQ(Memo.InputText, "  abe");

  std::vector<std::string> said;
  Memo.OnSay = [&](const std::string& text) { said.push_back(text); };
  Memo.Scroll = 30;
  Keys({Enter, Enter});
  EXPECT_EQ(said, (Lines{"  abe"}));
  EXPECT_EQ(Memo.CaretPos, 1);
  EXPECT_EQ(Memo.Scroll, 0);
}
