#include "client/HelpOverlay.h"

#include <GL/gl.h>

#include <algorithm>

#include "effects/GLGui.h"
#include "models/GLMath.h"
#include "platform/Text1252.h"

namespace {
// The title, then one control a line.  The function keys are listed last
// since the chat input line takes every printable key.
constexpr auto Title = "Aide (F1 pour fermer)"_cp;
constexpr auto Walk = "Clic gauche sur le sol : marcher"_cp;
constexpr auto Fall = "Clic sur un personnage : il tombe"_cp;
constexpr auto Chat = "Taper puis Entrée : parler"_cp;
constexpr auto Turn = "Flèches, clic droit glissé ou bords : tourner la caméra"_cp;
constexpr auto Zoom = "Molette : rapprocher ou éloigner la caméra"_cp;
constexpr auto Knight = "a, f, t : le chevalier attaque, saute, nargue"_cp;
constexpr auto Leave = "Échap : quitter la partie"_cp;
constexpr auto Quit = "Maj+Échap : quitter le jeu"_cp;
constexpr auto Mute = "F9 : couper ou remettre le son"_cp;
}  // namespace

const std::vector<std::string_view>& THelpOverlay::Lines() {
  static const std::vector<std::string_view> lines = {Title.View(), Walk.View(), Fall.View(),   Chat.View(),
                                                      Turn.View(),  Zoom.View(), Knight.View(), Leave.View(),
                                                      Quit.View(),  Mute.View()};
  return lines;
}

void THelpOverlay::Draw(TGLFont& font, int32_t width, int32_t height) const {
  if (!Shown) return;
  const auto& lines = Lines();
  int textWidth = 0;
  for (std::string_view line : lines) textWidth = std::max(textWidth, font.TextWidth(line));
  const int boxWidth = textWidth + 2 * Padding;
  const int boxHeight = static_cast<int>(lines.size()) * LineHeight + 2 * Padding;
  const int left = (width - boxWidth) / 2;
  const int top = (height - boxHeight) / 2;
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  DrawRect(left, top, left + boxWidth, top + boxHeight, BoxColor);
  glDisable(GL_BLEND);
  font.BeginText();
  int y = top + Padding;
  for (std::size_t k = 0; k < lines.size(); ++k, y += LineHeight) {
    if (k == 0)
      glColor3f(1, 1, 0);  // the title
    else
      glColor3f(1, 1, 1);
    font.TextOut(left + Padding, y, lines[k]);
  }
  font.EndText();
}
