#include "platform/GlyphAtlas.h"

#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QString>

#include "platform/Bitmaps.h"
#include "platform/Text1252.h"

namespace {

constexpr int Columns = 16;
// The black outline is the glyph drawn at every offset of a 3 by 3 square;
// the white glyph sits in its middle, one pixel right of and one above the
// cell's top-left corner.
constexpr int OutlineLeft = 0, OutlineRight = 2;
constexpr int OutlineTop = -2, OutlineBottom = 0;
constexpr int FaceX = 1, FaceY = -1;
// The pixels (162, 127) to (168, 127), the bottom row of the cell of 'z',
// are set back to the key colour after drawing: the caron of the glyph
// below it (0x8A) is the one mark known to reach there in some fonts.
constexpr int ClearRow = 127, ClearFrom = 162, ClearTo = 169;  // ClearTo not cleared

QFont AtlasFont() {
  QFont font(QStringLiteral("Verdana"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(TGlyphAtlas::FontPixels);
  font.setBold(true);
  // Exact pixels: an edge blended with the key colour would show as an
  // opaque purple fringe once the key becomes transparent.
  font.setStyleStrategy(QFont::NoAntialias);
  font.setHintingPreference(QFont::PreferFullHinting);
  return font;
}

// The character a code stands for, or none for the codes that are controls
// (below 32, 127, and the five bytes 1252 leaves undefined): those draw
// nothing and advance by 0, whatever the font would make of them.
bool Printable(unsigned char code, QString& text) {
  const char32_t unicode = cp1252::ToUnicode(code);
  if (unicode < 0x20 || (unicode >= 0x7F && unicode < 0xA0)) return false;
  text = QString(QChar(static_cast<char16_t>(unicode)));
  return true;
}

// Text drawn with its top-left corner at (x, y), as a canvas places it.
void DrawAt(QPainter& painter, int x, int y, int ascent, const QString& text) {
  painter.drawText(x, y + ascent, text);
}

}  // namespace

TGlyphAtlas DrawGlyphAtlas() {
  const QColor key = QColor::fromRgb(TGlyphAtlas::KeyColor);
  QImage image(TGlyphAtlas::Size, TGlyphAtlas::Size, QImage::Format_RGB32);
  image.fill(key);

  TGlyphAtlas atlas;
  {
    QPainter painter(&image);
    const QFont font = AtlasFont();
    painter.setFont(font);
    painter.setRenderHint(QPainter::TextAntialiasing, false);
    const QFontMetrics metrics(font);
    const int ascent = metrics.ascent();
    for (int code = 0; code < 256; ++code) {
      QString text;
      if (!Printable(static_cast<unsigned char>(code), text)) continue;
      const int x = TGlyphAtlas::CellSize * (code % Columns);
      const int y = TGlyphAtlas::CellSize * (code / Columns);
      // Each glyph stays inside its own cell: accents of capitals reach
      // above the cell's top, which would leave marks at the bottom of the
      // glyph drawn above.
      painter.setClipRect(x, y, TGlyphAtlas::CellSize, TGlyphAtlas::CellSize);
      painter.setPen(Qt::black);
      for (int a = OutlineLeft; a <= OutlineRight; ++a)
        for (int b = OutlineTop; b <= OutlineBottom; ++b) DrawAt(painter, x + a, y + b, ascent, text);
      painter.setPen(Qt::white);
      DrawAt(painter, x + FaceX, y + FaceY, ascent, text);
      atlas.Widths[code] = metrics.horizontalAdvance(text);
    }
    painter.setClipping(false);
    painter.setPen(key);
    painter.drawLine(ClearFrom, ClearRow, ClearTo - 1, ClearRow);
  }
  atlas.Bitmap = std::make_unique<TBitmap>();
  atlas.Bitmap->Assign(image);
  return atlas;
}
