#include "models/PCX.h"

#include <memory>
#include <ostream>
#include <vector>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Text1252.h"

// PCX file layout (16-bit words little-endian):
//   header, 128 bytes:
//     0 Manufacturer (10), 1 Version (5), 2 Encoding (1: run-length),
//     3 BitsPerPixel (8), 4 Xmin, 6 Ymin, 8 Xmax, 10 Ymax,
//     12 HDpi, 14 VDpi, 16 a 16-colour palette of 48 bytes, 64 reserved,
//     65 NPlanes, 66 BytesPerLine, 68 PaletteInfo, 70 HScreenSize,
//     72 VScreenSize, 74 filler of 54 bytes;
//   the run-length encoded pixels, scan line after scan line from the top,
//     width bytes (palette indices) per line;
//   the palette tail, the last 769 bytes: a marker (12) and 256 colours of
//     three bytes red, green, blue.
// Width is Xmax - Xmin + 1 and height Ymax - Ymin + 1.  Reading uses only
// the first four bytes and the four bounds: BytesPerLine and the planes are
// ignored (one plane of width bytes assumed), and so is the marker.
// Run-length code: a byte of 0xC0 or more is a count (its low six bits) for
// the byte that follows; any other byte is one pixel.  A run may go on into
// the next line; a count of 0 repeats its value to the end of the picture.
namespace {

constexpr std::size_t HeaderBytes = 128;
constexpr std::size_t PaletteTailBytes = 769;
constexpr uint8_t Manufacturer = 10;
constexpr uint8_t Version5 = 5;
constexpr uint8_t RunLengthEncoding = 1;
constexpr uint8_t BitsPerPixel8 = 8;
constexpr uint8_t PaletteMarker = 12;
constexpr uint8_t CountFlag = 0xC0;
constexpr uint8_t CountMask = 0x3F;
constexpr int MaxRun = 63;
constexpr uint32_t MaxSide = 0xFFFF;
// The largest picture decoded (pixels): a count of 0 lets a tiny file
// describe a picture of any size, so the size alone must be bounded.
constexpr uint64_t MaxPixels = 1u << 26;

[[noreturn]] void Invalid() { throw Exception("Image PCX incorrecte"_cp); }

uint32_t Word(const uint8_t* p) { return p[0] | static_cast<uint32_t>(p[1]) << 8; }

void PutWord(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

// Whether the encoded bytes give at least needed pixels, counted before any
// pixel memory is taken.
bool HoldsPixels(const uint8_t* data, std::size_t count, uint64_t needed) {
  uint64_t total = 0;
  for (std::size_t i = 0; i < count && total < needed; ++i) {
    if ((data[i] & CountFlag) != CountFlag) {
      ++total;
      continue;
    }
    if (i + 1 >= count) return false;  // a count without its value
    uint32_t run = data[i] & CountMask;
    if (run == 0) return true;  // repeats to the end of the picture
    total += run;
    ++i;
  }
  return total >= needed;
}

}  // namespace

const bool PCXRegistered = [] {
  RegisterFileFormat(PCXExtension, PCXDescription, [] { return std::make_unique<TPCXImage>(); });
  return true;
}();

namespace {
// Takes the codec out of the picture loader when the program ends.
struct TPCXUnregister {
  ~TPCXUnregister() { UnregisterFileFormat(PCXExtension); }
} PCXUnregister;
}  // namespace

void TPCXImage::LoadFromStream(std::istream& stream) {
  std::string data = ReadToEnd(stream);
  Decode(reinterpret_cast<const uint8_t*>(data.data()), data.size());
}

void TPCXImage::Decode(const uint8_t* data, std::size_t count) {
  if (count < HeaderBytes + PaletteTailBytes) Invalid();
  if (data[0] != Manufacturer || data[1] != Version5 || data[2] != RunLengthEncoding ||
      data[3] != BitsPerPixel8)
    Invalid();
  uint32_t xMin = Word(data + 4), yMin = Word(data + 6), xMax = Word(data + 8), yMax = Word(data + 10);
  if (xMax < xMin || yMax < yMin) Invalid();
  int width = static_cast<int>(xMax - xMin + 1), height = static_cast<int>(yMax - yMin + 1);
  uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  const uint8_t* encoded = data + HeaderBytes;
  std::size_t encodedCount = count - HeaderBytes - PaletteTailBytes;
  if (pixels > MaxPixels || !HoldsPixels(encoded, encodedCount, pixels)) Invalid();

  std::size_t rowBytes = (static_cast<std::size_t>(width) + 3) / 4 * 4;
  std::vector<uint8_t> bits(rowBytes * static_cast<std::size_t>(height), 0);
  std::size_t next = 0;
  int64_t remaining = 0;  // a count of 0 goes below 0 and never ends
  uint8_t value = 0;
  for (int y = 0; y < height; ++y) {
    uint8_t* row = bits.data() + static_cast<std::size_t>(height - 1 - y) * rowBytes;
    for (int x = 0; x < width; ++x) {
      if (remaining == 0) {
        // HoldsPixels has made sure that these bytes exist.
        uint8_t byte = encoded[next++];
        if ((byte & CountFlag) == CountFlag) {
          remaining = byte & CountMask;
          value = encoded[next++];
        } else {
          remaining = 1;
          value = byte;
        }
      }
      row[x] = value;
      --remaining;
    }
  }

  const uint8_t* colours = data + count - PaletteTailBytes + 1;
  TPalette& palette = Palette();
  for (int i = 0; i < 256; ++i)
    palette[i] = {colours[3 * i], colours[3 * i + 1], colours[3 * i + 2], PC_NOCOLLAPSE};
  SetPixels(width, height, pf8bit, std::move(bits));
}

std::string TPCXImage::Encode() const {
  if (Empty() || static_cast<uint32_t>(Width()) > MaxSide || static_cast<uint32_t>(Height()) > MaxSide)
    Invalid();
  std::unique_ptr<TBitmap> copy;
  const TBitmap* source = this;
  if (PixelFormat() != pf8bit) {
    copy = std::make_unique<TBitmap>(*this);
    copy->SetPixelFormat(pf8bit);
    source = copy.get();
  }
  auto width = static_cast<uint32_t>(Width()), height = static_cast<uint32_t>(Height());

  uint8_t header[HeaderBytes] = {};
  header[0] = Manufacturer;
  header[1] = Version5;
  header[2] = RunLengthEncoding;
  header[3] = BitsPerPixel8;
  PutWord(header + 8, width - 1);
  PutWord(header + 10, height - 1);
  PutWord(header + 12, width);
  PutWord(header + 14, height);
  header[65] = 1;
  PutWord(header + 66, width);
  PutWord(header + 68, 1);

  std::string out(reinterpret_cast<const char*>(header), HeaderBytes);
  out.reserve(HeaderBytes + static_cast<std::size_t>(source->RowBytes()) * height + PaletteTailBytes);
  auto flush = [&out](int run, uint8_t v) {
    if (run == 1 && v < CountFlag) {
      out.push_back(static_cast<char>(v));
    } else {
      out.push_back(static_cast<char>(CountFlag + run));
      out.push_back(static_cast<char>(v));
    }
  };
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* row = source->ScanLine(static_cast<int>(y));
    int run = 0;
    uint8_t v = 0;
    for (uint32_t x = 0; x < width; ++x) {
      if (run > 0 && row[x] == v && run < MaxRun) {
        ++run;
      } else {
        if (run > 0) flush(run, v);
        v = row[x];
        run = 1;
      }
    }
    flush(run, v);
  }
  out.push_back(static_cast<char>(PaletteMarker));
  for (const TPaletteEntry& e : source->Palette()) {
    out.push_back(static_cast<char>(e.peRed));
    out.push_back(static_cast<char>(e.peGreen));
    out.push_back(static_cast<char>(e.peBlue));
  }
  return out;
}

void TPCXImage::SaveToStream(std::ostream& stream) const {
  std::string data = Encode();
  stream.write(data.data(), static_cast<std::streamsize>(data.size()));
}
