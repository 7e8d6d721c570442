#include "Paint.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "models/PCX.h"
#include "platform/Bitmaps.h"

namespace forge {

namespace {

uint32_t Mix32(uint32_t h) {
  h ^= h >> 16;
  h *= 0x7FEB352Du;
  h ^= h >> 15;
  h *= 0x846CA68Bu;
  h ^= h >> 16;
  return h;
}

uint32_t HashInts(int32_t x, int32_t y, int32_t z, uint32_t seed) {
  uint32_t h = seed * 0x9E3779B9u;
  h = Mix32(h ^ static_cast<uint32_t>(x));
  h = Mix32(h ^ static_cast<uint32_t>(y) * 0x85EBCA6Bu);
  h = Mix32(h ^ static_cast<uint32_t>(z) * 0xC2B2AE35u);
  return h;
}

// One of twelve edge directions of a cube, picked by the hash.
float Gradient3(uint32_t h, float x, float y, float z) {
  switch (h % 12) {
    case 0:
      return x + y;
    case 1:
      return -x + y;
    case 2:
      return x - y;
    case 3:
      return -x - y;
    case 4:
      return x + z;
    case 5:
      return -x + z;
    case 6:
      return x - z;
    case 7:
      return -x - z;
    case 8:
      return y + z;
    case 9:
      return -y + z;
    case 10:
      return y - z;
    default:
      return -y - z;
  }
}

float Gradient2(uint32_t h, float x, float y) {
  float angle = static_cast<float>(h & 0xFFFF) / 65536.0f * 2 * Pi;
  return std::cos(angle) * x + std::sin(angle) * y;
}

float Fade(float t) { return t * t * t * (t * (t * 6 - 15) + 10); }

int Wrap(int value, int period) { return ((value % period) + period) % period; }

uint8_t Byte(float channel) { return static_cast<uint8_t>(std::lround(Clamp(channel, 0, 1) * 255.0f)); }

// Median cut: boxes of colours split at the median of their widest channel
// until there are as many boxes as entries; each entry is its box's mean.
std::vector<TColor> MedianCut(std::vector<std::array<uint8_t, 3>> colours, std::size_t entries) {
  struct TBox {
    std::size_t First, Last;  // [First, Last) of colours
  };
  std::vector<TBox> boxes{{0, colours.size()}};
  auto spread = [&](const TBox& box, int& channel) {
    int best = -1;
    for (int c = 0; c < 3; ++c) {
      uint8_t lo = 255, hi = 0;
      for (std::size_t i = box.First; i < box.Last; ++i) {
        lo = std::min(lo, colours[i][c]);
        hi = std::max(hi, colours[i][c]);
      }
      if (hi - lo > best) {
        best = hi - lo;
        channel = c;
      }
    }
    return best;
  };
  while (boxes.size() < entries) {
    std::size_t widest = 0;
    int widestSpread = -1, widestChannel = 0;
    for (std::size_t b = 0; b < boxes.size(); ++b) {
      int channel = 0;
      int s = boxes[b].Last - boxes[b].First > 1 ? spread(boxes[b], channel) : -1;
      // Big boxes first among equally wide ones.
      if (s > widestSpread) {
        widestSpread = s;
        widest = b;
        widestChannel = channel;
      }
    }
    if (widestSpread <= 0) break;
    TBox box = boxes[widest];
    auto first = colours.begin() + static_cast<std::ptrdiff_t>(box.First);
    auto last = colours.begin() + static_cast<std::ptrdiff_t>(box.Last);
    std::sort(first, last, [&](const auto& a, const auto& b) { return a[widestChannel] < b[widestChannel]; });
    std::size_t middle = box.First + (box.Last - box.First) / 2;
    boxes[widest] = {box.First, middle};
    boxes.push_back({middle, box.Last});
  }
  std::vector<TColor> palette;
  for (const TBox& box : boxes) {
    float r = 0, g = 0, b = 0;
    for (std::size_t i = box.First; i < box.Last; ++i) {
      r += colours[i][0];
      g += colours[i][1];
      b += colours[i][2];
    }
    float n = static_cast<float>(box.Last - box.First) * 255.0f;
    palette.push_back({r / n, g / n, b / n});
  }
  while (palette.size() < entries) palette.push_back({});
  return palette;
}

}  // namespace

TImage::TImage(int width, int height, TColor fill)
    : FWidth(width), FHeight(height), FPixels(static_cast<std::size_t>(width) * height, fill) {}

TColor TImage::Wrapped(int x, int y) const { return At(Wrap(x, FWidth), Wrap(y, FHeight)); }

TColor TImage::Sample(float x, float y) const {
  x -= 0.5f;
  y -= 0.5f;
  int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
  float fx = x - x0, fy = y - y0;
  TColor top = Mix(Wrapped(x0, y0), Wrapped(x0 + 1, y0), fx);
  TColor bottom = Mix(Wrapped(x0, y0 + 1), Wrapped(x0 + 1, y0 + 1), fx);
  return Mix(top, bottom, fy);
}

void TImage::Blend(int x, int y, TColor colour, float alpha) {
  if (x < 0 || y < 0 || x >= FWidth || y >= FHeight || alpha <= 0) return;
  TColor& pixel = At(x, y);
  pixel = Mix(pixel, colour, std::min(alpha, 1.0f));
}

void TImage::Fill(const std::function<TColor(float x, float y)>& paint) {
  for (int y = 0; y < FHeight; ++y)
    for (int x = 0; x < FWidth; ++x)
      At(x, y) = paint((static_cast<float>(x) + 0.5f) / FWidth, (static_cast<float>(y) + 0.5f) / FHeight);
}

void ToBitmap(const TImage& image, TBitmap& bitmap) {
  bitmap = TBitmap(image.Width(), image.Height(), pf24bit);
  for (int y = 0; y < image.Height(); ++y) {
    uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < image.Width(); ++x) {
      TColor c = image.At(x, y);
      row[3 * x] = Byte(c.B);
      row[3 * x + 1] = Byte(c.G);
      row[3 * x + 2] = Byte(c.R);
    }
  }
}

void SaveBitmap(const TImage& image, const std::string& fileName) {
  TBitmap bitmap;
  ToBitmap(image, bitmap);
  bitmap.SaveToFile(fileName);
}

void SavePCX(const TImage& image, const std::string& fileName) {
  constexpr std::size_t Entries = 256;
  std::vector<std::array<uint8_t, 3>> colours;
  for (int y = 0; y < image.Height(); ++y)
    for (int x = 0; x < image.Width(); ++x) {
      TColor c = image.At(x, y);
      colours.push_back({Byte(c.R), Byte(c.G), Byte(c.B)});
    }
  // A picture of few colours keeps them all; others get the median cut's.
  std::vector<std::array<uint8_t, 3>> distinct = colours;
  std::sort(distinct.begin(), distinct.end());
  distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
  std::vector<TColor> palette;
  if (distinct.size() <= Entries) {
    for (const auto& c : distinct) palette.push_back({c[0] / 255.0f, c[1] / 255.0f, c[2] / 255.0f});
    palette.resize(Entries);
  } else {
    palette = MedianCut(colours, Entries);
  }

  TPCXImage picture;
  static_cast<TBitmap&>(picture) = TBitmap(image.Width(), image.Height(), pf8bit);
  for (std::size_t i = 0; i < Entries; ++i)
    picture.Palette()[i] = {Byte(palette[i].R), Byte(palette[i].G), Byte(palette[i].B), 0};
  for (int y = 0; y < image.Height(); ++y) {
    uint8_t* row = picture.ScanLine(y);
    for (int x = 0; x < image.Width(); ++x) {
      TColor c = image.At(x, y);
      std::size_t best = 0;
      float bestDistance = 1e9f;
      for (std::size_t i = 0; i < Entries; ++i) {
        float dr = palette[i].R - c.R, dg = palette[i].G - c.G, db = palette[i].B - c.B;
        float d = 0.3f * dr * dr + 0.59f * dg * dg + 0.11f * db * db;
        if (d < bestDistance) {
          bestDistance = d;
          best = i;
        }
      }
      row[x] = static_cast<uint8_t>(best);
    }
  }
  picture.SaveToFile(fileName);
}

float Hash01(int32_t x, int32_t y, int32_t z, uint32_t seed) {
  return static_cast<float>(HashInts(x, y, z, seed) >> 8) / 16777216.0f;
}

float Noise3(TVec3 p, uint32_t seed) {
  int x0 = static_cast<int>(std::floor(p.X)), y0 = static_cast<int>(std::floor(p.Y)),
      z0 = static_cast<int>(std::floor(p.Z));
  float fx = p.X - x0, fy = p.Y - y0, fz = p.Z - z0;
  float corners[2][2][2];
  for (int dz = 0; dz < 2; ++dz)
    for (int dy = 0; dy < 2; ++dy)
      for (int dx = 0; dx < 2; ++dx)
        corners[dz][dy][dx] = Gradient3(HashInts(x0 + dx, y0 + dy, z0 + dz, seed), fx - dx, fy - dy, fz - dz);
  float u = Fade(fx), v = Fade(fy), w = Fade(fz);
  auto lerp = [](float a, float b, float t) { return a + (b - a) * t; };
  float x00 = lerp(corners[0][0][0], corners[0][0][1], u), x10 = lerp(corners[0][1][0], corners[0][1][1], u);
  float x01 = lerp(corners[1][0][0], corners[1][0][1], u), x11 = lerp(corners[1][1][0], corners[1][1][1], u);
  return Clamp(lerp(lerp(x00, x10, v), lerp(x01, x11, v), w), -1, 1);
}

float PeriodicNoise(float x, float y, int period, uint32_t seed) {
  int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
  float fx = x - x0, fy = y - y0;
  float c[2][2];
  for (int dy = 0; dy < 2; ++dy)
    for (int dx = 0; dx < 2; ++dx)
      c[dy][dx] =
          Gradient2(HashInts(Wrap(x0 + dx, period), Wrap(y0 + dy, period), 0, seed), fx - dx, fy - dy);
  float u = Fade(fx), v = Fade(fy);
  float top = c[0][0] + (c[0][1] - c[0][0]) * u, bottom = c[1][0] + (c[1][1] - c[1][0]) * u;
  return Clamp((top + (bottom - top) * v) * 1.4f, -1, 1);
}

float Fractal3(TVec3 p, int octaves, uint32_t seed) {
  float sum = 0, amplitude = 0.5f, total = 0;
  for (int i = 0; i < octaves; ++i) {
    sum += Noise3(p, seed + static_cast<uint32_t>(i)) * amplitude;
    total += amplitude;
    p = p * 2.0f;
    amplitude *= 0.5f;
  }
  return sum / total;
}

float PeriodicFractal(float x, float y, int period, int octaves, uint32_t seed) {
  float sum = 0, amplitude = 0.5f, total = 0;
  for (int i = 0; i < octaves; ++i) {
    sum += PeriodicNoise(x, y, period, seed + static_cast<uint32_t>(i)) * amplitude;
    total += amplitude;
    x *= 2;
    y *= 2;
    period *= 2;
    amplitude *= 0.5f;
  }
  return sum / total;
}

uint32_t TRandom::Next() {
  FState ^= FState << 13;
  FState ^= FState >> 7;
  FState ^= FState << 17;
  return static_cast<uint32_t>(FState >> 32);
}

float TRandom::Range(float lo, float hi) {
  return lo + (hi - lo) * static_cast<float>(Next() >> 8) / 16777216.0f;
}

TBaker::TBaker(TImage& image)
    : FImage(image), FPainted(static_cast<std::size_t>(image.Width()) * image.Height(), 0) {}

void TBaker::Paint(const TMeshBuilder& mesh, const TShader& shader) {
  const float w = static_cast<float>(FImage.Width()), h = static_cast<float>(FImage.Height());
  for (const TMeshTriangle& t : mesh.Triangles) {
    const TMeshPart& part = mesh.Parts[t.Part];
    float px[3], py[3];
    for (int k = 0; k < 3; ++k) {
      px[k] = t.Corners[k].U * w;
      py[k] = (1 - t.Corners[k].V) * h;
    }
    float area = (px[1] - px[0]) * (py[2] - py[0]) - (px[2] - px[0]) * (py[1] - py[0]);
    if (std::fabs(area) < 1e-9f) continue;
    int x0 = std::max(0, static_cast<int>(std::floor(std::min({px[0], px[1], px[2]}))));
    int x1 = std::min(FImage.Width() - 1, static_cast<int>(std::ceil(std::max({px[0], px[1], px[2]}))));
    int y0 = std::max(0, static_cast<int>(std::floor(std::min({py[0], py[1], py[2]}))));
    int y1 = std::min(FImage.Height() - 1, static_cast<int>(std::ceil(std::max({py[0], py[1], py[2]}))));
    const TMeshVertex* v[3] = {&mesh.Vertices[t.Corners[0].Vertex], &mesh.Vertices[t.Corners[1].Vertex],
                               &mesh.Vertices[t.Corners[2].Vertex]};
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) {
        float cx = x + 0.5f, cy = y + 0.5f;
        float b1 = ((cx - px[0]) * (py[2] - py[0]) - (px[2] - px[0]) * (cy - py[0])) / area;
        float b2 = ((px[1] - px[0]) * (cy - py[0]) - (cx - px[0]) * (py[1] - py[0])) / area;
        float b0 = 1 - b1 - b2;
        // A hair outside, so that texels on shared edges are painted.
        constexpr float Slack = -0.02f;
        if (b0 < Slack || b1 < Slack || b2 < Slack) continue;
        TSurfacePoint point;
        point.Position = v[0]->Position * b0 + v[1]->Position * b1 + v[2]->Position * b2;
        point.Normal = Normalize(v[0]->Normal * b0 + v[1]->Normal * b1 + v[2]->Normal * b2);
        point.Part = t.Part;
        point.Material = part.Material;
        float u = t.Corners[0].U * b0 + t.Corners[1].U * b1 + t.Corners[2].U * b2;
        float vv = t.Corners[0].V * b0 + t.Corners[1].V * b1 + t.Corners[2].V * b2;
        point.U = (u - part.U0) / std::max(part.U1 - part.U0, 1e-6f);
        point.V = (vv - part.V0) / std::max(part.V1 - part.V0, 1e-6f);
        FImage.At(x, y) = shader(point);
        FPainted[static_cast<std::size_t>(y) * FImage.Width() + x] = 1;
      }
  }
}

void TBaker::Grow(int texels) {
  const int w = FImage.Width(), h = FImage.Height();
  for (int pass = 0; pass < texels; ++pass) {
    std::vector<uint8_t> next = FPainted;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        if (FPainted[static_cast<std::size_t>(y) * w + x]) continue;
        TColor sum;
        int count = 0;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            int nx = x + dx, ny = y + dy;
            if (nx < 0 || ny < 0 || nx >= w || ny >= h || !FPainted[static_cast<std::size_t>(ny) * w + nx])
              continue;
            sum = sum + FImage.At(nx, ny);
            ++count;
          }
        if (count == 0) continue;
        FImage.At(x, y) = sum * (1.0f / static_cast<float>(count));
        next[static_cast<std::size_t>(y) * w + x] = 1;
      }
    FPainted.swap(next);
  }
}

float Lighting(TVec3 normal) {
  const TVec3 key = Normalize({0.45f, 0.75f, 0.6f});
  const TVec3 fill = Normalize({-0.6f, 0.2f, 0.5f});
  float sky = 0.5f + 0.5f * normal.Y;
  float ambient = Mix(0.34f, 0.56f, sky);
  float diffuse = std::max(0.0f, Dot(normal, key)) * 0.50f;
  float back = std::max(0.0f, Dot(normal, fill)) * 0.12f;
  return ambient + diffuse + back;
}

float Highlight(TVec3 normal, float sharpness) {
  const TVec3 half = Normalize(Normalize({0.45f, 0.75f, 0.6f}) + TVec3{0, 0.25f, 1});
  return std::pow(std::max(0.0f, Dot(normal, half)), sharpness);
}

}  // namespace forge
