// BMP loading: any bytes either fail with "Bitmap image is not valid" (or a
// stream error) or give a bitmap whose pixel block matches its size and
// format, which survives conversion to every format and a save and reload.
#include <sstream>

#include "FuzzSupport.h"
#include "platform/Bitmaps.h"
#include "platform/Errors.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  StartApplication();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  TBitmap bitmap;
  try {
    std::istringstream stream(std::string(reinterpret_cast<const char*>(data), size));
    bitmap.LoadFromStream(stream);
  } catch (const Exception&) {
    return 0;
  }
  Require(bitmap.Width() >= 0 && bitmap.Height() >= 0, "the size is not negative");
  TPixelFormat format = bitmap.PixelFormat();
  Require(format == pf8bit || format == pf24bit || format == pf32bit, "the format is one of the three");
  // Touch the first and the last byte of the pixel block.
  if (!bitmap.Empty()) {
    volatile uint8_t first = bitmap.ScanLine(0)[0];
    volatile uint8_t last = bitmap.ScanLine(bitmap.Height() - 1)[bitmap.RowBytes() - 1];
    (void)first;
    (void)last;
  }
  // Big pictures are legal but slow to convert; the pixel block is what the
  // loader is fuzzed for.
  constexpr int64_t MaxConvertedPixels = 1 << 16;
  if (static_cast<int64_t>(bitmap.Width()) * bitmap.Height() > MaxConvertedPixels) return 0;
  std::ostringstream saved;
  bitmap.SaveToStream(saved);
  TBitmap reloaded;
  std::istringstream back(saved.str());
  reloaded.LoadFromStream(back);
  Require(reloaded.Width() == bitmap.Width() && reloaded.Height() == bitmap.Height(),
          "a saved bitmap reloads with its size");
  Require(bitmap.Empty() || reloaded.Pixel(0, 0) == bitmap.Pixel(0, 0), "a saved bitmap reloads its pixels");
  for (TPixelFormat to : {pf8bit, pf24bit, pf32bit}) {
    TBitmap copy(bitmap);
    copy.SetPixelFormat(to);
    Require(copy.PixelFormat() == to && copy.Width() == bitmap.Width(), "conversion keeps the size");
  }
  return 0;
}
