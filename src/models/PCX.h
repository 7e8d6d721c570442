// The PCX picture codec: 256-colour ZSoft pictures (version 5, one plane of
// 8 bits, run-length encoded, palette at the end).  A TPCXImage is a TBitmap
// that reads and writes that format; once read it is an 8-bit bitmap with
// the file's 256 colours.  The codec registers itself with the picture
// loader under "pcx" for the whole run of the program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Bitmaps.h"

class TPCXImage : public TBitmap {
 public:
  // Reading
  // Decodes every byte from the stream's position to its end.
  void LoadFromStream(std::istream& stream) override;
  // Decodes one whole picture of count bytes.  "Image PCX incorrecte" for
  // anything but a complete picture; the bitmap is unchanged then.
  void Decode(const uint8_t* data, std::size_t count);

  // Writing
  // Encodes the bitmap without size prefix (the stored form, ReadData and
  // WriteData of TBitmap, adds the 32-bit length in front).
  void SaveToStream(std::ostream& stream) const override;
  // The encoded picture.  A bitmap that is not 8-bit is encoded from an
  // 8-bit copy (nearest entries of its palette).  "Image PCX incorrecte"
  // for an empty bitmap and for a side above 65535, which the header's
  // 16-bit BytesPerLine and resolution fields cannot hold (a picture of
  // 65536 rows or columns can be read, not written).
  std::string Encode() const;
};

// The extension and description the codec registers.
inline constexpr const char* PCXExtension = "pcx";
inline constexpr const char* PCXDescription = "Zsoft paintbrush";

// A static library brings in PCX.cpp, and with it the registration, only
// when something refers to it: every file that includes this header does.
extern const bool PCXRegistered;
[[maybe_unused, gnu::used]] static const bool* const PCXRegistrationLink = &PCXRegistered;
