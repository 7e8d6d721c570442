// The painter of the heads' textures: skin warmed in the shadows, and the
// features drawn by longitude and latitude on the face (eyes with white,
// iris, pupil and lashes, brows, lips, nostrils, blushed cheeks), bold
// enough to read when the head is only a few pixels high.
#include <algorithm>
#include <cmath>

#include "Meshes.h"

namespace forge {

namespace {

struct TLook {
  TColor Skin, Lips, Iris, Brow;
  float BrowThickness;  // in eye heights
  float Tilt;           // outer corners higher
  float Blush;
};

const TLook HumanLook{Hex(0xD9A07C), Hex(0xA8584A), Hex(0x4A2C16), Hex(0x2E1C10), 0.50f, 0.0f, 0.10f};
const TLook ElfLook{Hex(0xE6C4A6), Hex(0xC07468), Hex(0x2E8A4E), Hex(0x4A3018), 0.26f, 0.30f, 0.07f};

const TLook& LookOf(TRace race) { return race == TRace::Human ? HumanLook : ElfLook; }

constexpr float EyeTheta = 0.33f, EyePhi = 0.066f;  // radians
constexpr float EyeHalfWidth = 0.125f, EyeHalfHeight = 0.046f;

TColor SkinLit(TColor skin, TVec3 n) {
  float light = Lighting(n);
  // Shadows on skin turn warm rather than grey.
  TColor c = skin * light + TColor{0.10f, 0.02f, 0.0f} * std::max(0.0f, 1.0f - light);
  return c + TColor{1, 0.95f, 0.9f} * (0.05f * Highlight(n, 14));
}

// Paints one eye and its brow over c; ex runs towards the outer corner.
TColor Eye(TColor c, float ex, float ey, const TLook& look, float light) {
  ey -= look.Tilt * ex;
  float upper = 0.88f * std::pow(std::max(0.0f, 1 - ex * ex), 0.55f) + 0.10f;
  float lower = -0.72f * std::pow(std::max(0.0f, 1 - ex * ex), 0.8f);
  TColor lash = Hex(0x1A100A) * light;
  // Brow: an arch above, thinning towards the temple.
  float browCentre = 2.25f + 0.35f * (1 - ex * ex) + look.Tilt * 1.2f * ex;
  float browHalf = look.BrowThickness * Mix(1.0f, 0.45f, SmoothStep(-0.6f, 1.2f, ex));
  if (ex > -1.0f && ex < 1.3f && std::fabs(ey - browCentre) < browHalf) {
    float edge = SmoothStep(browHalf, browHalf * 0.55f, std::fabs(ey - browCentre));
    c = Mix(c, look.Brow * light, 0.92f * edge);
  }
  // The crease of the upper lid.
  if (std::fabs(ex) < 1.0f) c = c * (1 - 0.16f * std::exp(-std::pow((ey - upper - 0.55f) / 0.18f, 2.0f)));
  if (std::fabs(ex) >= 1.08f) return c;
  // Lashes along the upper lid, reaching past the outer corner.
  if (std::fabs(ey - upper) < 0.22f && ex < 1.08f) return lash;
  if (std::fabs(ex) >= 1.0f || ey > upper || ey < lower) {
    if (std::fabs(ey - lower) < 0.10f) return Mix(c, lash, 0.45f);
    return c;
  }
  // Inside the opening: white, iris, pupil, a glint.
  float dx = (ex - 0.04f) * EyeHalfWidth, dy = ey * EyeHalfHeight;
  float r = std::sqrt(dx * dx + dy * dy);
  TColor white = Hex(0xECE8E0) * Mix(0.72f, 1.0f, SmoothStep(upper, upper - 0.6f, ey));
  if (r < 0.0175f) return Hex(0x0A0806);
  if (r < 0.043f) {
    TColor iris = look.Iris * Mix(1.25f, 0.7f, r / 0.043f);
    float glint = std::hypot(dx + 0.012f, dy - 0.013f);
    return glint < 0.008f ? Hex(0xF8F8F8) : iris;
  }
  if (r < 0.047f) return look.Iris * 0.45f;
  return white;
}

TColor Face(TColor c, float theta, float phi, const TLook& look, TVec3 n) {
  float light = Lighting(n);
  // Blushed cheeks.
  float blush =
      std::exp(-std::pow((std::fabs(theta) - 0.45f) / 0.16f, 2.0f) - std::pow((phi + 0.22f) / 0.12f, 2.0f));
  c = Mix(c, look.Lips * light, look.Blush * blush);
  // Lips: the line between them dips at the corners.
  float line = -0.478f - 0.15f * theta * theta;
  float upperLip = 0.040f * std::max(0.0f, 1 - std::pow(theta / 0.18f, 2.0f));
  float lowerLip = 0.046f * std::max(0.0f, 1 - std::pow(theta / 0.16f, 2.0f));
  if (phi < line + upperLip && phi > line - lowerLip) {
    TColor lip = look.Lips * light * (phi > line ? 0.88f : 1.05f);
    c = Mix(c, lip, 0.9f);
  }
  if (std::fabs(phi - line) < 0.0075f && std::fabs(theta) < 0.17f) c = Hex(0x3A1410) * light;
  // Nostrils.
  if (std::pow((std::fabs(theta) - 0.05f) / 0.030f, 2.0f) + std::pow((phi + 0.262f) / 0.016f, 2.0f) < 1)
    c = c * 0.35f;
  // Eyes, each with its outer corner away from the nose.
  float ex = (std::fabs(theta) - EyeTheta) / EyeHalfWidth;
  float ey = (phi - EyePhi) / EyeHalfHeight;
  if (ex > -1.6f && ex < 1.8f && ey > -2.5f && ey < 3.6f) c = Eye(c, ex, ey, look, light);
  return c;
}

TColor ElfEar(const TSurfacePoint& s, const TLook& look) {
  TColor c = SkinLit(look.Skin, s.Normal);
  // The hollow of the ear on its outer face, the rim lighter.
  float middle = std::exp(-std::pow((s.U - 0.25f) / 0.09f, 2.0f)) * SmoothStep(0.08f, 0.25f, s.V) *
                 SmoothStep(0.85f, 0.6f, s.V);
  c = Mix(c, look.Lips * (Lighting(s.Normal) * 0.8f), 0.35f * middle);
  return c;
}

}  // namespace

TColor ShadeHead(TRace race, const TSurfacePoint& s) {
  const TLook& look = LookOf(race);
  if (s.Material == 3) return ElfEar(s, look);
  TColor c = SkinLit(look.Skin, s.Normal);
  if (s.Material == 1) {
    // The neck: shadowed under the jaw and down in the collar.
    float shade = 0.35f * SmoothStep(1.76f, 1.80f, s.Position.Y) * SmoothStep(-0.01f, 0.03f, s.Position.Z);
    shade += 0.4f * SmoothStep(1.68f, 1.62f, s.Position.Y);
    return c * (1 - shade);
  }
  if (s.Material == 2) return c * 0.92f;
  float theta, phi;
  HeadAngles(s.Position, theta, phi);
  // Under the chin the light hardly comes.
  c = c * (1 - 0.25f * SmoothStep(-0.75f, -1.2f, phi));
  if (std::cos(theta) > 0.2f) c = Face(c, theta, phi, look, s.Normal);
  return c;
}

}  // namespace forge
