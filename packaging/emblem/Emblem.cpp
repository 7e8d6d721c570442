// Draws the game's emblem as the desktop icon: a blue shield with a gold
// rim over two crossed swords, bearing a silver Z, the same figure as the
// title screen's logo.  One description of the figure is played on two
// canvases: an SVG writer for the scalable icon and QPainter for the PNG
// sizes, so the two cannot drift apart.
//
//   varozuvod-emblem OUTDIR   writes OUTDIR/scalable/apps/varozuvod.svg and
//                             OUTDIR/NxN/apps/varozuvod.png for every size
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The figure lives in emblem units: x and y from -1 to 1, y upwards.  Both
// canvases map that square onto a 256-unit picture with y downwards.
constexpr double PictureUnits = 256;
constexpr int IconSizes[] = {16, 24, 32, 48, 64, 128, 256};
const char* const IconName = "varozuvod";

QPointF At(double x, double y) { return {PictureUnits / 2 * (1 + x), PictureUnits / 2 * (1 - y)}; }

// A solid colour or a two-stop linear gradient between two points (in
// picture units).
struct TPaint {
  QColor From;
  QColor To;
  QPointF Start;
  QPointF End;
};

TPaint Solid(QColor colour) { return {colour, colour, {}, {}}; }
TPaint Sheen(QColor light, QColor dark, QPointF start, QPointF end) { return {light, dark, start, end}; }

class TCanvas {
 public:
  virtual ~TCanvas() = default;
  virtual void Fill(const QPainterPath& path, const TPaint& paint) = 0;
  // Strokes with round caps and joins; width in picture units.
  virtual void Stroke(const QPainterPath& path, double width, const TPaint& paint) = 0;
  // Limits what follows to the inside of path, until NoClip.
  virtual void ClipTo(const QPainterPath& path) = 0;
  virtual void NoClip() = 0;
};

// ------------------------------------------------------------------ figure

const QColor Gold(0xD8, 0xA8, 0x38);
const QColor GoldLight(0xF4, 0xD6, 0x7C);
const QColor GoldDark(0x94, 0x68, 0x1C);
const QColor SilverLight(0xF2, 0xF5, 0xFA);
const QColor SilverDark(0x8E, 0x98, 0xA8);
const QColor FieldTop(0x1A, 0x35, 0x7D);
const QColor FieldBottom(0x12, 0x24, 0x55);
const QColor Groove(0x0B, 0x16, 0x33);
const QColor Outline(0x1E, 0x16, 0x0C);

// The shield: a flat top dipping to the middle, straight sides, and lower
// sides curving in to the point; a little smaller than the swords' cross,
// so that they show around it.
QPainterPath Shield() {
  constexpr double Scale = 0.86, Drop = 0.04;
  auto at = [](double x, double y) { return At(Scale * x, Scale * y - Drop); };
  QPainterPath path(at(0, 0.62));
  path.lineTo(at(-0.30, 0.66));
  path.lineTo(at(-0.60, 0.70));
  path.lineTo(at(-0.60, 0.10));
  path.quadTo(at(-0.56, -0.45), at(0, -0.82));
  path.quadTo(at(0.56, -0.45), at(0.60, 0.10));
  path.lineTo(at(0.60, 0.70));
  path.lineTo(at(0.30, 0.66));
  path.closeSubpath();
  return path;
}

// One sword from the pommel at a to the point at b: the blade, and the
// hilt (cross guard, grip, pommel) as a second path.
struct TSword {
  QPainterPath Blade;
  QPainterPath Hilt;
};

TSword Sword(double ax, double ay, double bx, double by) {
  const double length = std::hypot(bx - ax, by - ay);
  const double ux = (bx - ax) / length, uy = (by - ay) / length;
  // A point given along the sword and across it.
  auto point = [&](double along, double across) {
    return At(ax + along * ux - across * uy, ay + along * uy + across * ux);
  };
  auto box = [&](double from, double to, double half) {
    QPainterPath path(point(from, -half));
    path.lineTo(point(to, -half));
    path.lineTo(point(to, half));
    path.lineTo(point(from, half));
    path.closeSubpath();
    return path;
  };
  const double guard = 0.22 * length, taper = 0.75 * length, bladeHalf = 0.045;
  TSword sword;
  sword.Blade.moveTo(point(guard, -bladeHalf));
  sword.Blade.lineTo(point(taper, -bladeHalf));
  sword.Blade.lineTo(point(length, 0));
  sword.Blade.lineTo(point(taper, bladeHalf));
  sword.Blade.lineTo(point(guard, bladeHalf));
  sword.Blade.closeSubpath();
  sword.Hilt = box(guard - 0.028, guard + 0.028, 0.15).united(box(0.05, guard, 0.028));
  const double pommelRadius = 0.05 * PictureUnits / 2;
  sword.Hilt.addEllipse(point(0.035, 0), pommelRadius, pommelRadius);
  sword.Hilt = sword.Hilt.simplified();
  return sword;
}

QPainterPath Zed() {
  auto local = [](double x, double y) { return At(0.40 * x, 0.40 * y - 0.02); };
  QPainterPath path(local(-0.48, 0.52));
  path.lineTo(local(0.48, 0.52));
  path.lineTo(local(-0.48, -0.52));
  path.lineTo(local(0.48, -0.52));
  return path;
}

double Units(double emblemUnits) { return emblemUnits * PictureUnits / 2; }

void DrawEmblem(TCanvas& canvas) {
  const TPaint gold = Sheen(GoldLight, GoldDark, At(-0.6, 0.7), At(0.6, -0.8));
  const TPaint steel = Sheen(SilverLight, SilverDark, At(-0.7, 0.8), At(0.7, -0.8));
  for (double side : {1.0, -1.0}) {
    TSword sword = Sword(-0.80 * side, -0.80, 0.70 * side, 0.78);
    canvas.Stroke(sword.Blade, Units(0.02), Solid(Outline));
    canvas.Stroke(sword.Hilt, Units(0.02), Solid(Outline));
    canvas.Fill(sword.Blade, steel);
    canvas.Fill(sword.Hilt, gold);
  }
  const QPainterPath shield = Shield();
  canvas.Stroke(shield, Units(0.02), Solid(Outline));
  canvas.Fill(shield, Sheen(FieldTop, FieldBottom, At(0, 0.7), At(0, -0.82)));
  // The rim and the groove inside it are strokes along the outline, of
  // which only the inner half shows.
  canvas.ClipTo(shield);
  canvas.Stroke(shield, Units(2 * 0.095), Solid(Groove));
  canvas.Stroke(shield, Units(2 * 0.075), gold);
  canvas.NoClip();
  const QPainterPath zed = Zed();
  const double zedWidth = Units(2 * 0.15 * 0.40);
  canvas.Stroke(zed, zedWidth + Units(2 * 0.03), Solid(QColor(0x0E, 0x1C, 0x44)));
  canvas.Stroke(zed, zedWidth, Sheen(SilverLight, SilverDark, At(-0.2, 0.25), At(0.2, -0.25)));
}

// ------------------------------------------------------------------ SVG

std::string Number(double value) {
  std::ostringstream out;
  out.precision(2);
  out << std::fixed << value;
  std::string text = out.str();
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text == "-0" ? "0" : text;
}

std::string Colour(const QColor& colour) { return colour.name(QColor::HexRgb).toStdString(); }

// The path's outline as SVG path data.  QPainterPath keeps curves as
// cubic segments (a CurveTo element and its two data elements) and closes a
// subpath by a line back to its start, which becomes Z here.
std::string PathData(const QPainterPath& path) {
  std::string data;
  QPointF start, last;
  auto endSubpath = [&] {
    if (!data.empty() && last == start) data += "Z";
  };
  for (int i = 0; i < path.elementCount(); ++i) {
    QPainterPath::Element e = path.elementAt(i);
    std::string point = Number(e.x) + " " + Number(e.y);
    if (e.isMoveTo()) {
      endSubpath();
      data += "M" + point;
      start = e;
    } else if (e.isLineTo()) {
      data += "L" + point;
    } else if (e.isCurveTo()) {
      QPainterPath::Element c2 = path.elementAt(i + 1), end = path.elementAt(i + 2);
      data +=
          "C" + point + " " + Number(c2.x) + " " + Number(c2.y) + " " + Number(end.x) + " " + Number(end.y);
      i += 2;
      e = end;
    }
    last = e;
  }
  endSubpath();
  return data;
}

class TSvgCanvas : public TCanvas {
 public:
  void Fill(const QPainterPath& path, const TPaint& paint) override {
    std::string rule = path.fillRule() == Qt::OddEvenFill ? " fill-rule=\"evenodd\"" : "";
    Shape(path, "fill=\"" + Use(paint) + "\"" + rule);
  }
  void Stroke(const QPainterPath& path, double width, const TPaint& paint) override {
    Shape(path, "fill=\"none\" stroke=\"" + Use(paint) + "\" stroke-width=\"" + Number(width) +
                    "\" stroke-linecap=\"round\" stroke-linejoin=\"round\"");
  }
  void ClipTo(const QPainterPath& path) override {
    FClip = "clip" + std::to_string(++FClips);
    FDefs += "<clipPath id=\"" + FClip + "\"><path d=\"" + PathData(path) + "\"/></clipPath>\n";
  }
  void NoClip() override { FClip.clear(); }

  std::string Document() const {
    const std::string size = Number(PictureUnits);
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
           size + "\" height=\"" + size + "\" viewBox=\"0 0 " + size + " " + size + "\">\n<defs>\n" + FDefs +
           "</defs>\n" + FBody + "</svg>\n";
  }

 private:
  void Shape(const QPainterPath& path, const std::string& attributes) {
    FBody += "<path d=\"" + PathData(path) + "\" " + attributes;
    if (!FClip.empty()) FBody += " clip-path=\"url(#" + FClip + ")\"";
    FBody += "/>\n";
  }
  // A colour, or a reference to a gradient, defined the first time it is
  // used.
  std::string Use(const TPaint& paint) {
    if (paint.From == paint.To) return Colour(paint.From);
    std::string stops = "\"><stop offset=\"0\" stop-color=\"" + Colour(paint.From) +
                        "\"/><stop offset=\"1\" stop-color=\"" + Colour(paint.To) + "\"/>";
    std::string key = "gradientUnits=\"userSpaceOnUse\" x1=\"" + Number(paint.Start.x()) + "\" y1=\"" +
                      Number(paint.Start.y()) + "\" x2=\"" + Number(paint.End.x()) + "\" y2=\"" +
                      Number(paint.End.y()) + stops;
    auto known = FGradients.find(key);
    if (known != FGradients.end()) return "url(#" + known->second + ")";
    std::string id = "sheen" + std::to_string(FGradients.size() + 1);
    FGradients[key] = id;
    FDefs += "<linearGradient id=\"" + id + "\" " + key + "</linearGradient>\n";
    return "url(#" + id + ")";
  }

  std::string FDefs;
  std::string FBody;
  std::string FClip;
  int FClips = 0;
  std::map<std::string, std::string> FGradients;
};

// ------------------------------------------------------------------ PNG

class TPainterCanvas : public TCanvas {
 public:
  // image must outlive the canvas.
  explicit TPainterCanvas(QImage& image) : FPainter(&image) {
    FPainter.setRenderHint(QPainter::Antialiasing);
    FPainter.scale(image.width() / PictureUnits, image.height() / PictureUnits);
  }
  void Fill(const QPainterPath& path, const TPaint& paint) override { FPainter.fillPath(path, Brush(paint)); }
  void Stroke(const QPainterPath& path, double width, const TPaint& paint) override {
    FPainter.strokePath(path, QPen(Brush(paint), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  }
  void ClipTo(const QPainterPath& path) override { FPainter.setClipPath(path); }
  void NoClip() override { FPainter.setClipping(false); }

 private:
  static QBrush Brush(const TPaint& paint) {
    if (paint.From == paint.To) return QBrush(paint.From);
    QLinearGradient gradient(paint.Start, paint.End);
    gradient.setColorAt(0, paint.From);
    gradient.setColorAt(1, paint.To);
    return QBrush(gradient);
  }

  QPainter FPainter;
};

// ------------------------------------------------------------------ output

bool WriteSvg(const QString& folder) {
  if (!QDir().mkpath(folder)) return false;
  TSvgCanvas canvas;
  DrawEmblem(canvas);
  std::ofstream file((folder + "/" + IconName + ".svg").toStdString(), std::ios::binary);
  file << canvas.Document();
  return static_cast<bool>(file.flush());
}

bool WritePng(const QString& folder, int size) {
  if (!QDir().mkpath(folder)) return false;
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    TPainterCanvas canvas(image);
    DrawEmblem(canvas);
  }
  return image.convertToFormat(QImage::Format_ARGB32).save(folder + "/" + IconName + ".png", "PNG");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: varozuvod-emblem OUTDIR\n", stderr);
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  bool written = WriteSvg(out + "/scalable/apps");
  for (int size : IconSizes) written = WritePng(out + QString("/%1x%1/apps").arg(size), size) && written;
  if (!written) {
    std::fprintf(stderr, "varozuvod-emblem: could not write the icons under %s\n", argv[1]);
    return 1;
  }
  return 0;
}
