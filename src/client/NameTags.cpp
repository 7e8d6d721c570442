#include "client/NameTags.h"

#include <GL/gl.h>

#include <algorithm>

#include "effects/GLGui.h"
#include "world/ZULPlayers.h"

namespace {

// A tag whose anchor lies this far outside the view still shows a part of
// its name; pixels.
constexpr float OffScreenMargin = 200.0f;

// m (column-major, as OpenGL keeps it) applied to (x, y, z, w).
std::array<float, 4> Transform(const std::array<float, 16>& m, const std::array<float, 4>& v) {
  std::array<float, 4> out{};
  for (int row = 0; row < 4; ++row)
    out[row] = m[row] * v[0] + m[4 + row] * v[1] + m[8 + row] * v[2] + m[12 + row] * v[3];
  return out;
}

}  // namespace

void TNameTags::Capture() {
  glGetFloatv(GL_MODELVIEW_MATRIX, FModelView.data());
  glGetFloatv(GL_PROJECTION_MATRIX, FProjection.data());
  glGetIntegerv(GL_VIEWPORT, FViewport.data());
}

// The fog grows with the eye distance along the view axis, so the tag
// fades as its character does.
bool TNameTags::Project(float x, float y, float z, TTag& tag) const {
  const std::array<float, 4> eye = Transform(FModelView, {x, y, z, 1});
  tag.Depth = -eye[2];
  if (tag.Depth <= 0 || tag.Depth >= HiddenFrom) return false;
  const std::array<float, 4> clip = Transform(FProjection, eye);
  if (clip[3] <= 0) return false;
  const float width = static_cast<float>(FViewport[2]), height = static_cast<float>(FViewport[3]);
  tag.X = (clip[0] / clip[3] + 1) * 0.5f * width;
  tag.Y = (1 - clip[1] / clip[3]) * 0.5f * height;
  if (tag.X < -OffScreenMargin || tag.X > width + OffScreenMargin || tag.Y < 0 ||
      tag.Y > height + TagTextHeight)
    return false;
  // A head just under the top edge keeps its whole name in the window,
  // lowered to the edge rather than cut by it.
  tag.Y = std::max(tag.Y, static_cast<float>(TagTextHeight));
  tag.Alpha = std::clamp((HiddenFrom - tag.Depth) / (HiddenFrom - FadeFrom), 0.0f, 1.0f);
  return true;
}

void TNameTags::Draw(TGLFont& font, const TZULPlayerList& players, const TZULPlayer* local, bool showOwn) {
  FTags.clear();
  for (const TZULPlayer* player : players.Items()) {
    if ((player == local && !showOwn) || player->Name.empty()) continue;
    float wx = 0, wz = 0;
    player->GetWorldPos(wx, wz);
    TTag tag;
    tag.Name = &player->Name;
    if (Project(wx, TagHeight, wz, tag)) FTags.push_back(tag);
  }
  if (FTags.empty()) return;
  // The nearest drawn last, over the others.
  std::sort(FTags.begin(), FTags.end(), [](const TTag& a, const TTag& b) { return a.Depth > b.Depth; });

  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  for (const TTag& tag : FTags) {
    const int width = font.TextWidth(*tag.Name);
    const int left = static_cast<int>(tag.X) - width / 2;
    const int bottom = static_cast<int>(tag.Y);
    glDisable(GL_TEXTURE_2D);
    glColor4f(0, 0, 0, BackingAlpha * tag.Alpha);
    // Bottom edge first: the pixel projection turns it counter-clockwise.
    glRecti(left - BackingMargin, bottom, left + width + BackingMargin, bottom - TagTextHeight);
    font.BeginText();
    glColor4f(TextRed, TextGreen, TextBlue, tag.Alpha);
    font.TextOut(left, bottom - TagTextHeight + 1, *tag.Name);
    font.EndText();
  }
  glDisable(GL_BLEND);
}
