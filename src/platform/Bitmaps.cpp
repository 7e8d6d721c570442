#include "platform/Bitmaps.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <algorithm>
#include <cstring>
#include <istream>
#include <ostream>
#include <sstream>
#include <unordered_map>

#include "platform/Errors.h"
#include "platform/Files.h"

namespace {

constexpr uint32_t White = 0xFFFFFF;
constexpr uint8_t Opaque = 0xFF;
// Colour cube levels and greys of the palette of a new bitmap.
constexpr int CubeLevels = 6;
constexpr int CubeStep = 51;
constexpr int GreyCount = 40;

TPalette DefaultPalette() {
  TPalette palette;
  int i = 0;
  for (int r = 0; r < CubeLevels; ++r)
    for (int g = 0; g < CubeLevels; ++g)
      for (int b = 0; b < CubeLevels; ++b, ++i)
        palette[i] = {static_cast<uint8_t>(r * CubeStep), static_cast<uint8_t>(g * CubeStep),
                      static_cast<uint8_t>(b * CubeStep), 0};
  for (int k = 1; k <= GreyCount; ++k, ++i) {
    auto v = static_cast<uint8_t>(k * 255 / (GreyCount + 1));
    palette[i] = {v, v, v, 0};
  }
  return palette;
}

std::size_t RowBytesOf(int width, TPixelFormat format) {
  return (static_cast<std::size_t>(width) * format + 31) / 32 * 4;
}

uint32_t ColorOf(const TPaletteEntry& e) {
  return static_cast<uint32_t>(e.peRed) << 16 | static_cast<uint32_t>(e.peGreen) << 8 | e.peBlue;
}

// Reads the colour of one pixel at p in the given format.
uint32_t ReadColor(const uint8_t* p, TPixelFormat format, const TPalette& palette) {
  if (format == pf8bit) return ColorOf(palette[*p]);
  return static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[0];
}

// Writes a colour in a 24 or 32-bit format (32 bits: opaque).
void WriteColor(uint8_t* p, TPixelFormat format, uint32_t color) {
  p[0] = static_cast<uint8_t>(color);
  p[1] = static_cast<uint8_t>(color >> 8);
  p[2] = static_cast<uint8_t>(color >> 16);
  if (format == pf32bit) p[3] = Opaque;
}

// Nearest palette entries, remembered per colour while one operation runs.
class TNearestCache {
 public:
  explicit TNearestCache(const TBitmap& bitmap) : FBitmap(bitmap) {}
  uint8_t operator()(uint32_t color) {
    auto it = FCache.find(color);
    if (it != FCache.end()) return it->second;
    uint8_t index = FBitmap.NearestIndex(color);
    FCache.emplace(color, index);
    return index;
  }

 private:
  const TBitmap& FBitmap;
  std::unordered_map<uint32_t, uint8_t> FCache;
};

void PutU16(std::string& out, uint32_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void PutU32(std::string& out, uint32_t v) {
  PutU16(out, v & 0xFFFF);
  PutU16(out, v >> 16);
}
uint32_t GetU16(const std::string& in, std::size_t at) {
  return static_cast<uint8_t>(in[at]) | static_cast<uint32_t>(static_cast<uint8_t>(in[at + 1])) << 8;
}

// Reads count bytes, growing the buffer only as the bytes arrive, so that a
// wrong length cannot make it allocate more than the stream holds.
std::string ReadCount(std::istream& stream, uint32_t count) {
  constexpr std::size_t ChunkBytes = 64 * 1024;
  std::string data;
  while (data.size() < count) {
    std::size_t part = std::min<std::size_t>(ChunkBytes, count - data.size());
    std::size_t at = data.size();
    data.resize(at + part);
    ReadBuffer(stream, data.data() + at, part);
  }
  return data;
}

}  // namespace

TBitmap::TBitmap() : FPalette(DefaultPalette()) {}

TBitmap::TBitmap(int width, int height, TPixelFormat format) : FFormat(format), FPalette(DefaultPalette()) {
  SetSize(width, height);
}

TBitmap::~TBitmap() = default;

int TBitmap::RowBytes() const { return static_cast<int>(RowBytesOf(FWidth, FFormat)); }

uint8_t* TBitmap::ScanLine(int y) {
  return FBits.data() + static_cast<std::size_t>(FHeight - 1 - y) * RowBytesOf(FWidth, FFormat);
}

const uint8_t* TBitmap::ScanLine(int y) const {
  return FBits.data() + static_cast<std::size_t>(FHeight - 1 - y) * RowBytesOf(FWidth, FFormat);
}

uint32_t TBitmap::Pixel(int x, int y) const {
  return ReadColor(ScanLine(y) + static_cast<std::size_t>(x) * BytesPerPixel(), FFormat, FPalette);
}

void TBitmap::SetPixel(int x, int y, uint32_t color) {
  uint8_t* p = ScanLine(y) + static_cast<std::size_t>(x) * BytesPerPixel();
  if (FFormat == pf8bit)
    *p = NearestIndex(color);
  else
    WriteColor(p, FFormat, color);
}

void TBitmap::Fill(uint32_t color) {
  if (FFormat == pf8bit) {
    std::fill(FBits.begin(), FBits.end(), NearestIndex(color));
    return;
  }
  for (int y = 0; y < FHeight; ++y) {
    uint8_t* row = ScanLine(y);
    for (int x = 0; x < FWidth; ++x) WriteColor(row + x * BytesPerPixel(), FFormat, color);
  }
}

uint8_t TBitmap::NearestIndex(uint32_t color) const {
  int r = (color >> 16) & 0xFF, g = (color >> 8) & 0xFF, b = color & 0xFF;
  int best = 0;
  int bestDistance = 1 << 30;
  for (int i = 0; i < 256 && bestDistance > 0; ++i) {
    const TPaletteEntry& e = FPalette[i];
    int dr = e.peRed - r, dg = e.peGreen - g, db = e.peBlue - b;
    int distance = dr * dr + dg * dg + db * db;
    if (distance < bestDistance) {
      bestDistance = distance;
      best = i;
    }
  }
  return static_cast<uint8_t>(best);
}

void TBitmap::SetPixels(int width, int height, TPixelFormat format, std::vector<uint8_t> bits) {
  FWidth = width;
  FHeight = height;
  FFormat = format;
  FBits = std::move(bits);
}

void TBitmap::SetSize(int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (width == FWidth && height == FHeight) return;
  TBitmap resized;
  resized.FFormat = FFormat;
  resized.FPalette = FPalette;
  resized.FWidth = width;
  resized.FHeight = height;
  resized.FBits.assign(RowBytesOf(width, FFormat) * static_cast<std::size_t>(height), 0);
  resized.Fill(White);
  int rows = std::min(height, FHeight);
  std::size_t bytes = static_cast<std::size_t>(std::min(width, FWidth)) * BytesPerPixel();
  for (int y = 0; y < rows; ++y) std::memcpy(resized.ScanLine(y), ScanLine(y), bytes);
  FWidth = width;
  FHeight = height;
  FBits = std::move(resized.FBits);
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
  if (format == FFormat) return;
  std::vector<uint8_t> bits(RowBytesOf(FWidth, format) * static_cast<std::size_t>(FHeight), 0);
  std::size_t toRow = RowBytesOf(FWidth, format);
  TNearestCache nearest(*this);
  for (int y = 0; y < FHeight; ++y) {
    const uint8_t* from = ScanLine(y);
    uint8_t* to = bits.data() + static_cast<std::size_t>(FHeight - 1 - y) * toRow;
    for (int x = 0; x < FWidth; ++x) {
      uint32_t color = ReadColor(from + x * BytesPerPixel(), FFormat, FPalette);
      if (format == pf8bit)
        to[x] = nearest(color);
      else
        WriteColor(to + x * (format / 8), format, color);
    }
  }
  FFormat = format;
  FBits = std::move(bits);
}

namespace {

// The covered range [first, last) of one side of a rectangle and the source
// offset of each covered position: a reversed side runs from its end.
struct TSpan {
  int From, To;  // signed: To - From is the length, negative when mirrored
  int First() const { return To > From ? From : To + 1; }
  int Last() const { return To > From ? To : From + 1; }
  int Length() const { return To > From ? To - From : From - To; }
  // The source position whose centre lies under position p.
  int Source(int p, int sourceLength) const {
    int offset = To > From ? p - From : From - p;
    return static_cast<int>((2 * static_cast<int64_t>(offset) + 1) * sourceLength / (2 * Length()));
  }
};

}  // namespace

void TBitmap::StretchDraw(const TRect& rect, const TBitmap& source) {
  TSpan sx{rect.Left, rect.Right}, sy{rect.Top, rect.Bottom};
  if (source.Empty() || Empty() || sx.Length() == 0 || sy.Length() == 0) return;
  int x0 = std::max(sx.First(), 0), x1 = std::min(sx.Last(), FWidth);
  int y0 = std::max(sy.First(), 0), y1 = std::min(sy.Last(), FHeight);
  bool raw = source.FFormat == FFormat && (FFormat != pf8bit || source.FPalette == FPalette);
  TNearestCache nearest(*this);
  for (int y = y0; y < y1; ++y) {
    const uint8_t* from = source.ScanLine(sy.Source(y, source.FHeight));
    uint8_t* to = ScanLine(y);
    for (int x = x0; x < x1; ++x) {
      const uint8_t* p =
          from + static_cast<std::size_t>(sx.Source(x, source.FWidth)) * source.BytesPerPixel();
      uint8_t* q = to + static_cast<std::size_t>(x) * BytesPerPixel();
      if (raw) {
        std::memcpy(q, p, BytesPerPixel());
      } else {
        uint32_t color = ReadColor(p, source.FFormat, source.FPalette);
        if (FFormat == pf8bit)
          *q = nearest(color);
        else
          WriteColor(q, FFormat, color);
      }
    }
  }
}

void TBitmap::Assign(const QImage& image) {
  int width = image.width(), height = image.height();
  if (image.format() == QImage::Format_Indexed8) {
    TPalette palette{};
    QList<QRgb> table = image.colorTable();
    for (int i = 0; i < std::min<int>(256, static_cast<int>(table.size())); ++i)
      palette[i] = {static_cast<uint8_t>(qRed(table[i])), static_cast<uint8_t>(qGreen(table[i])),
                    static_cast<uint8_t>(qBlue(table[i])), 0};
    std::vector<uint8_t> bits(RowBytesOf(width, pf8bit) * static_cast<std::size_t>(height), 0);
    SetPixels(width, height, pf8bit, std::move(bits));
    FPalette = palette;
    for (int y = 0; y < height; ++y) std::memcpy(ScanLine(y), image.constScanLine(y), width);
    return;
  }
  // ARGB32 lies in memory as blue, green, red, alpha on this byte order.
  QImage argb = image.convertToFormat(QImage::Format_ARGB32);
  std::vector<uint8_t> bits(RowBytesOf(width, pf32bit) * static_cast<std::size_t>(height), 0);
  SetPixels(width, height, pf32bit, std::move(bits));
  for (int y = 0; y < height; ++y)
    std::memcpy(ScanLine(y), argb.constScanLine(y), static_cast<std::size_t>(width) * 4);
}

QImage TBitmap::ToImage() const {
  if (FFormat == pf8bit) {
    QImage image(FWidth, FHeight, QImage::Format_Indexed8);
    QList<QRgb> table;
    for (const TPaletteEntry& e : FPalette) table.append(qRgb(e.peRed, e.peGreen, e.peBlue));
    image.setColorTable(table);
    for (int y = 0; y < FHeight; ++y) std::memcpy(image.scanLine(y), ScanLine(y), FWidth);
    return image;
  }
  QImage image(FWidth, FHeight, FFormat == pf32bit ? QImage::Format_ARGB32 : QImage::Format_RGB32);
  for (int y = 0; y < FHeight; ++y) {
    const uint8_t* row = ScanLine(y);
    auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < FWidth; ++x) {
      const uint8_t* p = row + x * BytesPerPixel();
      out[x] = qRgba(p[2], p[1], p[0], FFormat == pf32bit ? p[3] : Opaque);
    }
  }
  return image;
}

// Windows bitmap files, as SaveToStream writes them (little-endian):
//   file header, 14 bytes: "BM", uint32 file size, 2 x uint16 reserved 0,
//     uint32 offset of the pixels;
//   info header, 40 bytes: uint32 40, int32 width, int32 height (positive:
//     rows bottom-up), uint16 planes 1, uint16 bits per pixel (8, 24, 32),
//     uint32 compression 0, uint32 pixel bytes, int32 x and y pixels per
//     metre (2835, 72 dpi), uint32 colours used (256 for 8 bits, else 0),
//     uint32 important colours 0;
//   for 8 bits, 256 colours of 4 bytes: blue, green, red, 0;
//   the rows from the bottom up, each padded to 4 bytes.
// Reading goes through Qt, which knows every variant of the format; the
// bit count of the info header picks the pixel format of the result.
namespace {
constexpr std::size_t BmpFileHeaderBytes = 14;
constexpr std::size_t BmpInfoHeaderBytes = 40;
constexpr std::size_t BmpCoreHeaderBytes = 12;
constexpr uint32_t PixelsPerMetre = 2835;
}  // namespace

void TBitmap::LoadFromStream(std::istream& stream) {
  std::string data = ReadToEnd(stream);
  const Exception invalid("Bitmap image is not valid");
  if (data.size() < BmpFileHeaderBytes + BmpCoreHeaderBytes || data[0] != 'B' || data[1] != 'M')
    throw invalid;
  uint32_t infoBytes = GetU16(data, BmpFileHeaderBytes);
  std::size_t bitCountAt = BmpFileHeaderBytes + (infoBytes == BmpCoreHeaderBytes ? 10 : 14);
  if (data.size() < bitCountAt + 2) throw invalid;
  uint32_t bitCount = GetU16(data, bitCountAt);

  QByteArray bytes = QByteArray::fromRawData(data.data(), static_cast<qsizetype>(data.size()));
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, "bmp");
  QImage image;
  if (!reader.read(&image) || image.isNull()) throw invalid;
  if (bitCount <= 8) {
    Assign(image.convertToFormat(QImage::Format_Indexed8));
  } else {
    Assign(image);
    if (bitCount != 32) SetPixelFormat(pf24bit);
  }
}

void TBitmap::SaveToStream(std::ostream& stream) const {
  uint32_t paletteBytes = FFormat == pf8bit ? 256 * 4 : 0;
  auto offset = static_cast<uint32_t>(BmpFileHeaderBytes + BmpInfoHeaderBytes + paletteBytes);
  auto pixelBytes = static_cast<uint32_t>(FBits.size());
  std::string header;
  header += "BM";
  PutU32(header, offset + pixelBytes);
  PutU32(header, 0);
  PutU32(header, offset);
  PutU32(header, BmpInfoHeaderBytes);
  PutU32(header, static_cast<uint32_t>(FWidth));
  PutU32(header, static_cast<uint32_t>(FHeight));
  PutU16(header, 1);
  PutU16(header, FFormat);
  PutU32(header, 0);
  PutU32(header, pixelBytes);
  PutU32(header, PixelsPerMetre);
  PutU32(header, PixelsPerMetre);
  PutU32(header, FFormat == pf8bit ? 256 : 0);
  PutU32(header, 0);
  if (FFormat == pf8bit)
    for (const TPaletteEntry& e : FPalette) {
      header.push_back(static_cast<char>(e.peBlue));
      header.push_back(static_cast<char>(e.peGreen));
      header.push_back(static_cast<char>(e.peRed));
      header.push_back(0);
    }
  stream.write(header.data(), static_cast<std::streamsize>(header.size()));
  stream.write(reinterpret_cast<const char*>(FBits.data()), static_cast<std::streamsize>(FBits.size()));
}

void TBitmap::ReadData(std::istream& stream) {
  uint8_t length[4];
  ReadBuffer(stream, length, sizeof length);
  uint32_t count = length[0] | length[1] << 8 | length[2] << 16 | static_cast<uint32_t>(length[3]) << 24;
  std::istringstream picture(ReadCount(stream, count));
  LoadFromStream(picture);
}

void TBitmap::WriteData(std::ostream& stream) const {
  std::ostringstream picture;
  SaveToStream(picture);
  std::string data = picture.str();
  std::string length;
  PutU32(length, static_cast<uint32_t>(data.size()));
  stream.write(length.data(), 4);
  stream.write(data.data(), static_cast<std::streamsize>(data.size()));
}

void TBitmap::LoadFromFile(const std::string& fileName) {
  std::ifstream stream = OpenFileRead(fileName);
  LoadFromStream(stream);
}

void TBitmap::SaveToFile(const std::string& fileName) const {
  std::ofstream stream = OpenFileWrite(fileName);
  SaveToStream(stream);
  stream.flush();
  if (!stream) throw Exception("Cannot create file " + fileName);
}

void TIcon::LoadFromStream(std::istream& stream) {
  std::string data = ReadToEnd(stream);
  QByteArray bytes = QByteArray::fromRawData(data.data(), static_cast<qsizetype>(data.size()));
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  QImage image;
  if (!reader.read(&image) || image.isNull()) throw Exception("Icon image is not valid");
  Assign(image.convertToFormat(QImage::Format_ARGB32));
}

void TIcon::SaveToStream(std::ostream& stream) const {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, "ico");
  if (!writer.write(ToImage())) throw Exception("Icon image is not valid");
  stream.write(bytes.constData(), bytes.size());
}

// The picture loader's formats, newest registration of an extension first.
namespace {

struct TFileFormat {
  std::string Extension;  // lower case, without the dot
  std::string Description;
  TGraphicFactory Factory;
};

std::vector<TFileFormat>& FileFormats() {
  static std::vector<TFileFormat> formats = {
      {"bmp", "Bitmaps", [] { return std::make_unique<TBitmap>(); }},
      {"ico", "Icons", [] { return std::make_unique<TIcon>(); }},
  };
  return formats;
}

std::vector<TFileFormat>::iterator FindFormat(const std::string& extension) {
  std::vector<TFileFormat>& formats = FileFormats();
  return std::find_if(formats.begin(), formats.end(),
                      [&](const TFileFormat& f) { return SameText(f.Extension, extension); });
}

}  // namespace

void RegisterFileFormat(const std::string& extension, const std::string& description,
                        TGraphicFactory factory) {
  UnregisterFileFormat(extension);
  FileFormats().insert(FileFormats().begin(), {LowerCase(extension), description, std::move(factory)});
}

void UnregisterFileFormat(const std::string& extension) {
  auto it = FindFormat(extension);
  if (it != FileFormats().end()) FileFormats().erase(it);
}

std::string FileFormatDescription(const std::string& extension) {
  auto it = FindFormat(extension);
  return it == FileFormats().end() ? std::string() : it->Description;
}

std::unique_ptr<TBitmap> LoadPicture(const std::string& fileName) {
  std::size_t slash = fileName.find_last_of("\\/");
  std::size_t dot = fileName.find_last_of('.');
  std::string extension;
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
    extension = fileName.substr(dot + 1);
  auto it = FindFormat(extension);
  if (extension.empty() || it == FileFormats().end())
    throw Exception("Unknown picture file extension (." + extension + ")");
  std::unique_ptr<TBitmap> picture = it->Factory();
  picture->LoadFromFile(fileName);
  return picture;
}
