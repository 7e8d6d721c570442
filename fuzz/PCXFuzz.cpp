// PCX decoding: any bytes either fail with the codec's error or give an
// 8-bit picture, and a decoded picture encodes and decodes to the same
// pixels and palette.  A side of 65536 (Xmin 0, Xmax 65535) reads, but the
// header the encoder writes holds each side itself in a 16-bit word
// (BytesPerLine, HDpi, VDpi): such a picture must be refused with the
// codec's error, never written with a wrapped header.
#include <cstring>

#include "FuzzSupport.h"
#include "models/PCX.h"
#include "platform/Errors.h"

namespace {
// The longest side a PCX header can state as itself in a word.
constexpr int MaxEncodedSide = 0xFFFF;

bool SamePixels(const TBitmap& a, const TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat()) return false;
  for (int y = 0; y < a.Height(); ++y)
    if (std::memcmp(a.ScanLine(y), b.ScanLine(y), static_cast<std::size_t>(a.Width())) != 0) return false;
  return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  TPCXImage image;
  try {
    image.Decode(data, size);
  } catch (const Exception&) {
    Require(image.Empty(), "a failed decode changed the picture");
    return 0;
  }
  Require(image.PixelFormat() == pf8bit && !image.Empty(), "a decoded picture is 8-bit and not empty");
  if (image.Width() > MaxEncodedSide || image.Height() > MaxEncodedSide) {
    bool refused = false;
    try {
      image.Encode();
    } catch (const Exception&) {
      refused = true;
    }
    Require(refused, "a side above 65535 is refused by the encoder");
    return 0;
  }
  std::string encoded = image.Encode();
  TPCXImage again;
  again.Decode(reinterpret_cast<const uint8_t*>(encoded.data()), encoded.size());
  Require(SamePixels(image, again), "encoding and decoding keeps the pixels");
  for (int i = 0; i < 256; ++i)
    Require(image.Palette()[i].peRed == again.Palette()[i].peRed &&
                image.Palette()[i].peGreen == again.Palette()[i].peGreen &&
                image.Palette()[i].peBlue == again.Palette()[i].peBlue,
            "encoding and decoding keeps the palette");
  return 0;
}
