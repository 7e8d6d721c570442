// The PCX codec: hand-made files for the decoder's run-length rules and its
// rejections, hand-computed bytes for the encoder, and round trips through
// the stream, stored and file forms.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <sstream>
#include <vector>

#include "models/PCX.h"
#include "platform/Errors.h"
#include "platform/Text1252.h"

namespace {

using TBytes = std::vector<uint8_t>;

void PutWord(TBytes& b, std::size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

// A PCX file with the given bounds, encoded pixels and a palette tail whose
// entry i is (i, 255 - i, i / 2) behind the given marker.
TBytes MakePCX(uint32_t xMin, uint32_t yMin, uint32_t xMax, uint32_t yMax, const TBytes& encoded,
               uint32_t bytesPerLine = 0, uint8_t marker = 12) {
  TBytes file(128, 0);
  file[0] = 10;
  file[1] = 5;
  file[2] = 1;
  file[3] = 8;
  PutWord(file, 4, xMin);
  PutWord(file, 6, yMin);
  PutWord(file, 8, xMax);
  PutWord(file, 10, yMax);
  file[65] = 1;
  PutWord(file, 66, bytesPerLine ? bytesPerLine : xMax - xMin + 1);
  for (uint8_t byte : encoded) file.push_back(byte);
  file.push_back(marker);
  for (int i = 0; i < 256; ++i) {
    file.push_back(static_cast<uint8_t>(i));
    file.push_back(static_cast<uint8_t>(255 - i));
    file.push_back(static_cast<uint8_t>(i / 2));
  }
  return file;
}

std::string DecodeError(const TBytes& file, TPCXImage& image) {
  try {
    image.Decode(file.data(), file.size());
  } catch (const Exception& e) {
    return e.Message();
  }
  return "(no error)";
}

const std::string Incorrect = "Image PCX incorrecte"_cp;

TBytes Pixels(const std::string& encoded, std::size_t from, std::size_t count) {
  return TBytes(encoded.begin() + static_cast<std::ptrdiff_t>(from),
                encoded.begin() + static_cast<std::ptrdiff_t>(from + count));
}

}  // namespace

TEST(PCX, SizeComesFromTheBoundsAndBytesPerLineIsIgnored) {
  // 100 x 60, every line one run of 63 and one of 37 of the line's number.
  TBytes encoded;
  for (int y = 0; y < 60; ++y) encoded.insert(encoded.end(), {0xFF, uint8_t(y), 0xE5, uint8_t(y)});
  TBytes file = MakePCX(0, 0, 99, 59, encoded, 101);
  TPCXImage image;
  image.Decode(file.data(), file.size());
  ASSERT_EQ(image.Width(), 100);
  ASSERT_EQ(image.Height(), 60);
  EXPECT_EQ(image.PixelFormat(), pf8bit);
  EXPECT_EQ(image.RowBytes(), 100);
  for (int y : {0, 1, 30, 59}) {
    EXPECT_EQ(image.ScanLine(y)[0], y);
    EXPECT_EQ(image.ScanLine(y)[99], y);
  }
  EXPECT_EQ(image.Bits()[0], 59) << "the file's last line is the bottom row";
  // Bounds not starting at 0.
  TPCXImage offset;
  file = MakePCX(10, 20, 13, 20, {0xC4, 3});
  offset.Decode(file.data(), file.size());
  EXPECT_EQ(offset.Width(), 4);
  EXPECT_EQ(offset.Height(), 1);
}

TEST(PCX, RunLengthCodesRunsAcrossLinesAndCountZero) {
  // Width 8, height 3.  Line 0: C5 07 (five 7s), 3F (one 63), C1 C8 (one
  // 200), then C3 05 whose three 5s end line 0 and begin line 1; then C0 2A
  // (count 0) fills everything that is left with 42.
  TBytes file = MakePCX(0, 0, 7, 2, {0xC5, 0x07, 0x3F, 0xC1, 0xC8, 0xC3, 0x05, 0xC0, 0x2A}, 8, 0);
  TPCXImage image;
  image.Decode(file.data(), file.size());
  const TBytes top(image.ScanLine(0), image.ScanLine(0) + 8);
  EXPECT_EQ(top, (TBytes{7, 7, 7, 7, 7, 63, 200, 5}));
  const TBytes middle(image.ScanLine(1), image.ScanLine(1) + 8);
  EXPECT_EQ(middle, (TBytes{5, 5, 42, 42, 42, 42, 42, 42}));
  const TBytes bottom(image.ScanLine(2), image.ScanLine(2) + 8);
  EXPECT_EQ(bottom, TBytes(8, 42));
  // The palette comes from the tail although its marker is 0.
  EXPECT_EQ(image.Palette()[200], (TPaletteEntry{200, 55, 100, PC_NOCOLLAPSE}));
  EXPECT_EQ(image.Palette()[0], (TPaletteEntry{0, 255, 0, PC_NOCOLLAPSE}));
  EXPECT_EQ(image.Pixel(6, 0), 0xC83764u);
}

TEST(PCX, IncompleteOrForeignPicturesAreRejectedAndTheBitmapKept) {
  TPCXImage image;
  TBytes good = MakePCX(0, 0, 1, 0, {0x01, 0x02});
  image.Decode(good.data(), good.size());
  ASSERT_EQ(image.Width(), 2);

  TBytes shortFile(896, 0);
  EXPECT_EQ(DecodeError(shortFile, image), Incorrect);
  for (std::size_t field = 0; field < 4; ++field) {
    TBytes bad = good;
    bad[field] ^= 0x02;
    EXPECT_EQ(DecodeError(bad, image), Incorrect) << "header byte " << field;
  }
  EXPECT_EQ(DecodeError(MakePCX(5, 0, 4, 0, {1}), image), Incorrect) << "Xmax below Xmin";
  EXPECT_EQ(DecodeError(MakePCX(0, 3, 0, 2, {1}), image), Incorrect) << "Ymax below Ymin";
  EXPECT_EQ(DecodeError(MakePCX(0, 0, 3, 1, {0xC5, 1, 2}), image), Incorrect) << "two pixels missing";
  EXPECT_EQ(DecodeError(MakePCX(0, 0, 2, 0, {1, 2, 0xC1}), image), Incorrect) << "count without value";
  EXPECT_EQ(DecodeError(MakePCX(0, 0, 0xFFFF, 0xFFFF, {0xC0, 1}), image), Incorrect) << "4 G pixels";
  EXPECT_EQ(image.Width(), 2);
  EXPECT_EQ(image.ScanLine(0)[1], 2) << "a failed decode leaves the bitmap as it was";
}

TEST(PCX, EncoderSplitsLongRunsAndEscapesHighValues) {
  TPCXImage image;
  image.SetPixelFormat(pf8bit);
  image.SetSize(70, 1);
  std::fill(image.ScanLine(0), image.ScanLine(0) + 70, 9);
  std::string out = image.Encode();
  ASSERT_EQ(out.size(), 128u + 4 + 769);
  EXPECT_EQ(Pixels(out, 128, 4), (TBytes{0xFF, 0x09, 0xC7, 0x09}));

  TPCXImage lone;
  lone.SetPixelFormat(pf8bit);
  lone.SetSize(3, 2);
  uint8_t* top = lone.ScanLine(0);
  top[0] = 0xD0, top[1] = 0x05, top[2] = 0x05;
  uint8_t* second = lone.ScanLine(1);
  second[0] = 0x05, second[1] = 0x05, second[2] = 0xBF;
  out = lone.Encode();
  // Runs stop at the end of each line.
  EXPECT_EQ(Pixels(out, 128, out.size() - 128 - 769), (TBytes{0xC1, 0xD0, 0xC2, 0x05, 0xC2, 0x05, 0xBF}));
  EXPECT_EQ(static_cast<uint8_t>(out[out.size() - 769]), 12);
}

TEST(PCX, HeaderOfAWrittenPictureDescribesItsSize) {
  TPCXImage image;
  image.SetPixelFormat(pf8bit);
  image.SetSize(33, 7);
  std::string out = image.Encode();
  auto word = [&](std::size_t at) {
    return static_cast<uint8_t>(out[at]) | static_cast<uint8_t>(out[at + 1]) << 8;
  };
  EXPECT_EQ(TBytes(out.begin(), out.begin() + 4), (TBytes{10, 5, 1, 8}));
  EXPECT_EQ(word(4), 0);
  EXPECT_EQ(word(6), 0);
  EXPECT_EQ(word(8), 32);
  EXPECT_EQ(word(10), 6);
  EXPECT_EQ(word(12), 33) << "HDpi";
  EXPECT_EQ(word(14), 7) << "VDpi";
  EXPECT_EQ(out[65], 1);
  EXPECT_EQ(word(66), 33) << "BytesPerLine";
  EXPECT_EQ(word(68), 1);
  EXPECT_EQ(std::string(out.begin() + 16, out.begin() + 64), std::string(48, '\0'));
  EXPECT_EQ(std::string(out.begin() + 70, out.begin() + 128), std::string(58, '\0'));
  TPCXImage empty;
  EXPECT_THROW(empty.Encode(), Exception) << "a bitmap without pixels has no PCX form";
}

TEST(PCX, PicturesRoundTripThroughStreamsStoredFormsAndThePictureLoader) {
  TPCXImage image;
  image.SetPixelFormat(pf8bit);
  image.SetSize(37, 11);
  for (int i = 0; i < 256; ++i)
    image.Palette()[i] = {uint8_t(i), uint8_t(i * 7), uint8_t(255 - i), PC_NOCOLLAPSE};
  for (int y = 0; y < 11; ++y)
    for (int x = 0; x < 37; ++x) image.ScanLine(y)[x] = static_cast<uint8_t>(x < 20 ? 0xC7 : (x * y) & 0xFF);

  std::stringstream stored;
  image.WriteData(stored);
  std::string plain = image.Encode();
  std::string bytes = stored.str();
  ASSERT_EQ(bytes.size(), plain.size() + 4);
  uint32_t length = static_cast<uint8_t>(bytes[0]) | static_cast<uint8_t>(bytes[1]) << 8;
  EXPECT_EQ(length, plain.size());
  TPCXImage back;
  back.ReadData(stored);

  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  std::string name = dir.path().toStdString() + "\\skin.PCX";
  image.SaveToFile(name);
  EXPECT_EQ(FileFormatDescription("PCX"), PCXDescription);
  std::unique_ptr<TBitmap> loaded = LoadPicture(name);
  ASSERT_NE(dynamic_cast<TPCXImage*>(loaded.get()), nullptr);

  for (const TBitmap* copy : std::vector<const TBitmap*>{&back, loaded.get()}) {
    ASSERT_EQ(copy->Width(), 37);
    ASSERT_EQ(copy->Height(), 11);
    EXPECT_EQ(copy->Palette(), image.Palette());
    for (int y = 0; y < 11; ++y)
      EXPECT_EQ(TBytes(copy->ScanLine(y), copy->ScanLine(y) + 37),
                TBytes(image.ScanLine(y), image.ScanLine(y) + 37))
          << "row " << y;
  }

  // A 24-bit picture is written through its nearest palette entries.
  TPCXImage colours;
  colours.SetSize(2, 1);
  colours.SetPixel(0, 0, 0xFF0000);
  colours.SetPixel(1, 0, 0x333366);
  std::string encoded = colours.Encode();
  TPCXImage decoded;
  decoded.Decode(reinterpret_cast<const uint8_t*>(encoded.data()), encoded.size());
  EXPECT_EQ(decoded.Pixel(0, 0), 0xFF0000u);
  EXPECT_EQ(decoded.Pixel(1, 0), 0x333366u);
}
