// The pictures of the screens: the emblem (square), the title banner
// (8:1), the soft round flare the fires are drawn with (on black, for
// additive blending), and the floor's marble (tiling seamlessly; each floor
// cell shows one quarter of it).
#pragma once

#include "Paint.h"

namespace forge {

TImage PaintLogo();
TImage PaintTitle();
TImage PaintFlare();
TImage PaintMarble();

}  // namespace forge
