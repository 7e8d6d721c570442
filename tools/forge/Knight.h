// The MD2 knight and its sword: the armoured body with a great helm and a
// plume, posed on the biped through the twenty animations of the MD2 player
// table, one file frame per key frame, and a sword fixed in the right hand
// in every frame.  Both are written in world units (three times model size)
// with their feet on Y = 0 after the MD2 reader's conversion, facing +Z.
#pragma once

#include <string>
#include <vector>

#include "Geometry.h"
#include "Paint.h"
#include "Skeleton.h"

struct TMD2ModelData;

namespace forge {

// The frame ranges of the table: animation a plays frames
// AnimationFirstFrame[a] to AnimationFirstFrame[a + 1] - 1.
constexpr int AnimationCount = 20;
constexpr int AnimationFirstFrame[AnimationCount + 1] = {0,   40,  46,  54,  58,  62,  66,  72,  84,  95, 112,
                                                         123, 135, 154, 160, 169, 173, 178, 184, 190, 198};
constexpr int KnightFrameCount = 198;
// The sword's vertices that a trail follows: the tip of the blade and its
// base at the guard.
constexpr int SwordTipVertex = 21;
constexpr int SwordBaseVertex = 28;
constexpr int KnightSkinSize = 256;  // texels, square
constexpr int SwordSkinSize = 128;

// The pose of every file frame, in frame order.
std::vector<TPose> KnightPoses();
// The name of file frame f ("stand01", "run3", ...).
std::string KnightFrameName(int frame);

// The knight's mesh and the sword's (the sword in the rest pose's right
// hand), with UVs packed for their skins.
TMeshBuilder BuildKnight();
TMeshBuilder BuildSword();

// The MD2 models: every frame posed, skinned and laid out for the writer.
TMD2ModelData KnightModel(const TMeshBuilder& knight, const std::vector<TPose>& poses);
TMD2ModelData SwordModel(const TMeshBuilder& sword, const std::vector<TPose>& poses);

// The skins' painters.
TColor ShadeKnight(const TSurfacePoint& point);
TColor ShadeSword(const TSurfacePoint& point);

}  // namespace forge
