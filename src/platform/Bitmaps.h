// Device-independent bitmaps and the picture loader.  A TBitmap owns its
// pixels in the layout the models and the texture uploads expect: 8, 24 or 32
// bits per pixel, rows stored bottom-up (the lowest address holds the bottom
// row), each row padded to a multiple of 4 bytes, blue before green before
// red, and a 256-entry palette for the 8-bit form.  LoadPicture picks the
// reader of a file by its extension from the registered formats.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

class QImage;

enum TPixelFormat : uint8_t { pf8bit = 8, pf24bit = 24, pf32bit = 32 };

// Flag of a palette entry the system keeps as a distinct colour.
constexpr uint8_t PC_NOCOLLAPSE = 0x04;

struct TPaletteEntry {
  uint8_t peRed = 0, peGreen = 0, peBlue = 0, peFlags = 0;
  friend bool operator==(const TPaletteEntry&, const TPaletteEntry&) = default;
};
using TPalette = std::array<TPaletteEntry, 256>;

// A rectangle in pixel coordinates counted from the top left; Right and
// Bottom lie just outside it.  A rectangle whose Top lies below its Bottom
// (or whose Left lies right of its Right) is drawn mirrored: it then covers
// the rows Bottom + 1 to Top, the first source row landing on Top.
struct TRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
};

// Colours below are 0xRRGGBB.
class TBitmap {
 public:
  TBitmap();
  TBitmap(int width, int height, TPixelFormat format = pf24bit);
  virtual ~TBitmap();
  TBitmap(const TBitmap&) = default;
  TBitmap& operator=(const TBitmap&) = default;

  // Size and format
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  bool Empty() const { return FWidth == 0 || FHeight == 0; }
  TPixelFormat PixelFormat() const { return FFormat; }
  // Converts the pixels in place; 24 and 32 bits to 8 pick the nearest
  // palette entry.  The fourth byte of a 32-bit pixel is its alpha: pixels
  // converted or set from a colour are opaque (0xFF).
  void SetPixelFormat(TPixelFormat format);
  // Keeps the pixels that lie inside both sizes (anchored at the top left)
  // and fills the new ones with white.
  void SetSize(int width, int height);
  void SetWidth(int width) { SetSize(width, FHeight); }
  void SetHeight(int height) { SetSize(FWidth, height); }
  // Bytes per row, padding included.
  int RowBytes() const;
  int BytesPerPixel() const { return FFormat / 8; }

  // Pixels
  // The first byte of the bottom row: all rows from there as one block.
  uint8_t* Bits() { return FBits.data(); }
  const uint8_t* Bits() const { return FBits.data(); }
  // The first byte of row y, counted from the top (0 is the top row).
  uint8_t* ScanLine(int y);
  const uint8_t* ScanLine(int y) const;
  uint32_t Pixel(int x, int y) const;
  // In 8 bits the nearest palette entry is stored.
  void SetPixel(int x, int y, uint32_t color);
  void Fill(uint32_t color);

  // The palette that 8-bit pixels index; a new bitmap has a 6 x 6 x 6
  // colour cube followed by 40 greys.
  TPalette& Palette() { return FPalette; }
  const TPalette& Palette() const { return FPalette; }
  // The palette entry nearest to a colour.
  uint8_t NearestIndex(uint32_t color) const;

  // Drawing
  // Draws source stretched into rect of this bitmap (nearest pixel),
  // clipped to this bitmap.  See TRect for mirrored rectangles.
  void StretchDraw(const TRect& rect, const TBitmap& source);
  // Copies pixels, palette and format from another bitmap.
  void Assign(const TBitmap& source) { *this = source; }

  // Qt images, for the places that draw with Qt: an indexed image becomes
  // an 8-bit bitmap with its colour table, any other a 32-bit bitmap whose
  // fourth byte is the image's alpha.
  void Assign(const QImage& image);
  QImage ToImage() const;

  // Streams and files
  // Reads a picture from the stream's position to its end.  TBitmap reads
  // Windows bitmap files; "Bitmap image is not valid" otherwise.
  virtual void LoadFromStream(std::istream& stream);
  // Writes the picture; TBitmap writes a Windows bitmap file.
  virtual void SaveToStream(std::ostream& stream) const;
  // The stored form: the picture's length as a 32-bit little-endian integer,
  // then the picture as SaveToStream writes it.
  virtual void ReadData(std::istream& stream);
  virtual void WriteData(std::ostream& stream) const;
  // "Cannot open file <name>" / "Cannot create file <name>" for the file.
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName) const;

 protected:
  // Replaces size, format and pixels at once (rows bottom-up, padded).
  void SetPixels(int width, int height, TPixelFormat format, std::vector<uint8_t> bits);

 private:
  int FWidth = 0;
  int FHeight = 0;
  TPixelFormat FFormat = pf24bit;
  std::vector<uint8_t> FBits;
  TPalette FPalette;
};

// Pictures in any format Qt reads (icons): loaded as 32-bit bitmaps and
// saved as icon files.
class TIcon : public TBitmap {
 public:
  void LoadFromStream(std::istream& stream) override;
  void SaveToStream(std::ostream& stream) const override;
};

// The picture loader.  A format is an extension (without the dot, any letter
// case) with a description and a factory of the bitmap class that reads it.
// "bmp" and "ico" are always known.
using TGraphicFactory = std::function<std::unique_ptr<TBitmap>()>;
void RegisterFileFormat(const std::string& extension, const std::string& description,
                        TGraphicFactory factory);
void UnregisterFileFormat(const std::string& extension);
// The description of a registered extension, or an empty string.
std::string FileFormatDescription(const std::string& extension);

// Loads a picture with the reader of its extension: "Unknown picture file
// extension (.<ext>)" when none is registered, then the reader's errors.
std::unique_ptr<TBitmap> LoadPicture(const std::string& fileName);
