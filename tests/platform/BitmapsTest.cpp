// Bitmaps: the bottom-up padded layout the texture uploads read, pixel
// format conversion, mirrored stretch-drawing, Windows bitmap files read
// through Qt, and the picture loader's choice of reader by extension.
#include <gtest/gtest.h>

#include <QImage>
#include <QTemporaryDir>
#include <sstream>

#include "platform/Bitmaps.h"
#include "platform/Errors.h"

namespace {

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "(no error)";
}

// A picture whose every pixel has its own colour.
TBitmap Gradient(int width, int height, TPixelFormat format) {
  TBitmap bitmap(width, height, format);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      bitmap.SetPixel(x, y, static_cast<uint32_t>(x * 0x010000 + y * 0x000100 + 7));
  return bitmap;
}

}  // namespace

TEST(Bitmaps, RowsAreBottomUpPaddedAndBlueFirst) {
  TBitmap bitmap(3, 2, pf24bit);
  EXPECT_EQ(bitmap.RowBytes(), 12);  // 9 bytes padded to 12
  EXPECT_EQ(bitmap.ScanLine(1), bitmap.Bits());
  EXPECT_EQ(bitmap.ScanLine(0), bitmap.Bits() + 12);
  bitmap.SetPixel(1, 0, 0x112233);
  const uint8_t* top = bitmap.Bits() + 12 + 3;
  EXPECT_EQ(top[0], 0x33);
  EXPECT_EQ(top[1], 0x22);
  EXPECT_EQ(top[2], 0x11);
  EXPECT_EQ(TBitmap(5, 1, pf8bit).RowBytes(), 8);
  EXPECT_EQ(TBitmap(5, 1, pf32bit).RowBytes(), 20);
  EXPECT_EQ(bitmap.Pixel(0, 1), 0xFFFFFFu) << "a new bitmap is white";
}

TEST(Bitmaps, FormatConversionKeepsColoursAndPicksNearestPaletteEntry) {
  TBitmap bitmap(4, 3, pf8bit);
  bitmap.Palette()[200] = {10, 20, 30, 0};
  bitmap.Palette()[201] = {250, 0, 5, 0};
  bitmap.ScanLine(0)[0] = 200;
  bitmap.ScanLine(2)[3] = 201;
  bitmap.SetPixelFormat(pf24bit);
  EXPECT_EQ(bitmap.Pixel(0, 0), 0x0A141Eu);
  EXPECT_EQ(bitmap.Pixel(3, 2), 0xFA0005u);
  bitmap.SetPixelFormat(pf32bit);
  EXPECT_EQ(bitmap.Pixel(0, 0), 0x0A141Eu);
  EXPECT_EQ(bitmap.ScanLine(0)[3], 0xFF) << "converted pixels are opaque";
  bitmap.SetPixel(1, 1, 0xF80104);  // nearest to entry 201
  bitmap.SetPixelFormat(pf8bit);
  EXPECT_EQ(bitmap.ScanLine(0)[0], 200);
  EXPECT_EQ(bitmap.ScanLine(2)[3], 201);
  EXPECT_EQ(bitmap.ScanLine(1)[1], 201);
  EXPECT_EQ(bitmap.RowBytes(), 4);
}

TEST(Bitmaps, SetSizeKeepsTheTopLeftAndFillsTheRestWhite) {
  TBitmap bitmap = Gradient(3, 3, pf24bit);
  bitmap.SetSize(5, 2);
  EXPECT_EQ(bitmap.Pixel(2, 1), 0x020107u);
  EXPECT_EQ(bitmap.Pixel(0, 0), 0x000007u);
  EXPECT_EQ(bitmap.Pixel(4, 1), 0xFFFFFFu);
  EXPECT_EQ(bitmap.Pixel(3, 0), 0xFFFFFFu);
}

TEST(Bitmaps, StretchDrawScalesAndClips) {
  TBitmap source = Gradient(2, 2, pf24bit);
  TBitmap target(6, 6, pf24bit);
  target.StretchDraw({1, 1, 5, 5}, source);
  EXPECT_EQ(target.Pixel(1, 1), source.Pixel(0, 0));
  EXPECT_EQ(target.Pixel(2, 2), source.Pixel(0, 0));
  EXPECT_EQ(target.Pixel(3, 2), source.Pixel(1, 0));
  EXPECT_EQ(target.Pixel(4, 4), source.Pixel(1, 1));
  EXPECT_EQ(target.Pixel(0, 0), 0xFFFFFFu);
  EXPECT_EQ(target.Pixel(5, 5), 0xFFFFFFu);
  // Partly outside: only the inside is drawn.
  target.StretchDraw({-3, -3, 3, 3}, source);
  EXPECT_EQ(target.Pixel(0, 0), source.Pixel(1, 1));
  EXPECT_EQ(target.Pixel(5, 5), 0xFFFFFFu);
}

TEST(Bitmaps, RectangleWithTopBelowBottomDrawsUpsideDownIntoTheBottomRows) {
  // A 100 x 60 picture into a 128 x 64 bitmap through (0, 63, 100, 3):
  // picture row 0 lands on the bottom row 63, row 59 on row 4.
  TBitmap picture(100, 60, pf24bit);
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 100; ++x) picture.SetPixel(x, y, static_cast<uint32_t>(x << 16 | y << 8 | 1));
  TBitmap texture(128, 64, pf24bit);
  texture.Fill(0x000000);
  texture.StretchDraw({0, 63, 100, 3}, picture);
  EXPECT_EQ(texture.Pixel(0, 63), picture.Pixel(0, 0));
  EXPECT_EQ(texture.Pixel(99, 63), picture.Pixel(99, 0));
  EXPECT_EQ(texture.Pixel(37, 4), picture.Pixel(37, 59));
  EXPECT_EQ(texture.Pixel(5, 33), picture.Pixel(5, 30));
  EXPECT_EQ(texture.Pixel(0, 3), 0u) << "row above the picture untouched";
  EXPECT_EQ(texture.Pixel(100, 63), 0u) << "column right of the picture untouched";
  // The bottom row (lowest address) now holds the picture's top row.
  EXPECT_EQ(texture.ScanLine(63), texture.Bits());
}

TEST(Bitmaps, WindowsBitmapFilesRoundTripInEveryFormat) {
  for (TPixelFormat format : {pf8bit, pf24bit, pf32bit}) {
    TBitmap bitmap(7, 5, format);
    if (format == pf8bit) {
      bitmap.Palette()[9] = {1, 2, 3, 0};
      bitmap.ScanLine(4)[6] = 9;
      bitmap.ScanLine(0)[0] = 215;
    } else {
      bitmap = Gradient(7, 5, format);
    }
    std::stringstream file;
    bitmap.SaveToStream(file);
    EXPECT_EQ(file.str().substr(0, 2), "BM");
    TBitmap loaded;
    loaded.LoadFromStream(file);
    ASSERT_EQ(loaded.PixelFormat(), format);
    ASSERT_EQ(loaded.Width(), 7);
    ASSERT_EQ(loaded.Height(), 5);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 7; ++x)
        EXPECT_EQ(loaded.Pixel(x, y), bitmap.Pixel(x, y)) << format << " " << x << "," << y;
    if (format == pf8bit) {
      EXPECT_EQ(loaded.ScanLine(4)[6], 9);
      EXPECT_EQ(loaded.Palette()[9], (TPaletteEntry{1, 2, 3, 0}));
    }
  }
}

TEST(Bitmaps, BadFilesAndStoredFormsFailWithTheirTexts) {
  TBitmap bitmap;
  std::istringstream junk("BMthis is not a bitmap at all, not even close");
  EXPECT_EQ(ErrorOf([&] { bitmap.LoadFromStream(junk); }), "Bitmap image is not valid");
  std::istringstream empty("");
  EXPECT_EQ(ErrorOf([&] { bitmap.LoadFromStream(empty); }), "Bitmap image is not valid");
  EXPECT_EQ(ErrorOf([&] { bitmap.LoadFromFile("no\\such\\file.bmp"); }),
            "Cannot open file no\\such\\file.bmp");

  TBitmap picture = Gradient(3, 2, pf24bit);
  std::stringstream stored;
  picture.WriteData(stored);
  std::string bytes = stored.str();
  std::ostringstream plain;
  picture.SaveToStream(plain);
  ASSERT_EQ(bytes.size(), plain.str().size() + 4);
  EXPECT_EQ(static_cast<uint8_t>(bytes[0]) | static_cast<uint8_t>(bytes[1]) << 8,
            static_cast<int>(plain.str().size()));
  TBitmap back;
  back.ReadData(stored);
  EXPECT_EQ(back.Pixel(2, 1), picture.Pixel(2, 1));
  std::istringstream cut(bytes.substr(0, bytes.size() - 1));
  EXPECT_EQ(ErrorOf([&] { back.ReadData(cut); }), "Stream read error");
  std::istringstream huge(std::string("\xFF\xFF\xFF\x7F", 4) + "BM");
  EXPECT_EQ(ErrorOf([&] { back.ReadData(huge); }), "Stream read error");
}

TEST(Bitmaps, QtImagesConvertBothWays) {
  QImage image(2, 1, QImage::Format_ARGB32);
  image.setPixel(0, 0, qRgba(10, 20, 30, 255));
  image.setPixel(1, 0, qRgba(40, 50, 60, 0));
  TBitmap bitmap;
  bitmap.Assign(image);
  EXPECT_EQ(bitmap.PixelFormat(), pf32bit);
  EXPECT_EQ(bitmap.Pixel(0, 0), 0x0A141Eu);
  EXPECT_EQ(bitmap.ScanLine(0)[7], 0) << "alpha kept in the fourth byte";
  QImage back = bitmap.ToImage();
  EXPECT_EQ(back.pixel(1, 0), qRgba(40, 50, 60, 0));
}

TEST(PictureLoader, PicksTheReaderByExtensionInAnyCase) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  std::string folder = dir.path().toStdString();
  Gradient(4, 4, pf24bit).SaveToFile(folder + "/Pic.BMP");
  std::unique_ptr<TBitmap> picture = LoadPicture(folder + "\\Pic.BMP");
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->Width(), 4);
  EXPECT_EQ(picture->Pixel(3, 2), 0x030207u);

  EXPECT_EQ(ErrorOf([&] { LoadPicture(folder + "/Pic.xyz"); }), "Unknown picture file extension (.xyz)");
  EXPECT_EQ(ErrorOf([&] { LoadPicture("data.d\\noext"); }), "Unknown picture file extension (.)");

  // A registered reader is chosen for its extension, whatever the case.
  struct TCounting : TBitmap {
    void LoadFromStream(std::istream&) override { SetSize(1, 1); }
  };
  RegisterFileFormat("Xyz", "test pictures", [] { return std::make_unique<TCounting>(); });
  EXPECT_EQ(FileFormatDescription("XYZ"), "test pictures");
  Gradient(1, 1, pf24bit).SaveToFile(folder + "/Pic.xyz");
  EXPECT_EQ(LoadPicture(folder + "/Pic.xyz")->Width(), 1);
  UnregisterFileFormat("xyz");
  EXPECT_EQ(FileFormatDescription("xyz"), "");
  EXPECT_EQ(ErrorOf([&] { LoadPicture(folder + "/missing.bmp"); }),
            "Cannot open file " + folder + "/missing.bmp");
}
