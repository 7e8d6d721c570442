// Text inside the system: 8-bit Windows-1252 bytes in a std::string, on the
// wire, in files, in the glyph atlas and in the chat panel alike.  Qt sees
// text only through ToQString / FromQString.  French literals are written in
// UTF-8 source and turned into 1252 bytes at compile time by the _cp suffix:
//     std::string text = "Session fermée"_cp;
// A character that 1252 lacks stops the build.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class QString;

namespace cp1252 {

// The code points of bytes 0x80..0x9F; 0 marks the five bytes 1252 leaves
// undefined (they map to the same code point, as Windows does).
inline constexpr std::array<char32_t, 32> High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// The code point of one 1252 byte.
constexpr char32_t ToUnicode(unsigned char byte) {
  if (byte >= 0x80 && byte <= 0x9F && High[byte - 0x80] != 0) return High[byte - 0x80];
  return byte;
}

// The 1252 byte of a code point, or -1 when 1252 has none.
constexpr int FromUnicode(char32_t code) {
  if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) return static_cast<int>(code);
  for (std::size_t i = 0; i < High.size(); ++i)
    if (High[i] == code) return static_cast<int>(0x80 + i);
  if (code >= 0x80 && code <= 0x9F) return static_cast<int>(code);
  return -1;
}

// Decodes UTF-8 into 1252 bytes; out may be null to count.  Returns the
// count, or -1 when the text holds a character outside 1252.
constexpr int Utf8To1252(std::string_view utf8, char* out) {
  int count = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    auto lead = static_cast<unsigned char>(utf8[i]);
    char32_t code = lead;
    std::size_t extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
    if (extra) code = lead & (0x3F >> extra);
    for (std::size_t k = 1; k <= extra && i + k < utf8.size(); ++k)
      code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += extra + 1;
    int byte = FromUnicode(code);
    if (byte < 0) return -1;
    if (out) out[count] = static_cast<char>(byte);
    ++count;
  }
  return count;
}

template <std::size_t N>
struct Utf8Literal {
  char Text[N]{};
  constexpr Utf8Literal(const char (&text)[N]) {
    for (std::size_t i = 0; i < N; ++i) Text[i] = text[i];
  }
};

template <std::size_t N>
struct Literal {
  char Bytes[N]{};
  std::size_t Size = 0;
  operator std::string() const { return std::string(Bytes, Size); }
  std::string_view View() const { return std::string_view(Bytes, Size); }
};

}  // namespace cp1252

template <cp1252::Utf8Literal S>
consteval auto operator""_cp() {
  constexpr std::string_view utf8(S.Text, sizeof(S.Text) - 1);
  constexpr int size = cp1252::Utf8To1252(utf8, nullptr);
  static_assert(size >= 0, "this text holds a character that Windows-1252 lacks");
  cp1252::Literal<sizeof(S.Text)> result;
  cp1252::Utf8To1252(utf8, result.Bytes);
  result.Size = static_cast<std::size_t>(size);
  return result;
}

// 1252 bytes to QString and back; a character 1252 lacks becomes '?'.
QString ToQString(const std::string& text);
std::string FromQString(const QString& text);

// 1252 bytes to UTF-8 (for standard output and files meant for people).
std::string ToUtf8(const std::string& text);
