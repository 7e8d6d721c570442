// The character meshes, each with the painter of its texture: the armoured
// body, the two heads (human and elf, sharing one skull so that every hair
// style fits both), the eight hair styles, three beards and three elf ears.
// All are modelled on the rest pose of Skeleton.h and bound to its bones.
// Their ring and grid counts are set by the client's frame: sixteen players,
// each drawn twice (textured, then its shadow), must leave room for the
// floor and the knight within a quarter of a 40 ms frame on a software
// renderer, so the everyday character (body, human head, hair 5, beard 1)
// stays near 5,700 triangles; the face keeps the head's densest columns.
#pragma once

#include "Geometry.h"
#include "Paint.h"

namespace forge {

// Texture sizes in texels (square).
constexpr int BodyTextureSize = 512;
constexpr int HeadTextureSize = 256;
constexpr int HairTextureSize = 256;

// The armoured body: torso with tabard and belt, arms with pauldrons and
// gauntlets, legs with a short skirt of plates, boots.  UVs not yet packed.
TMeshBuilder BuildBody();
// The materials of its parts, which ShadeBody paints.
enum TBodyMaterial {
  mTorso,
  mSkirt,
  mArm,
  mPauldron,
  mCop,
  mHand,
  mLeg,
  mBoot,
  mCuff,
  mHelmet,
  mVisor,
  mPlume
};
// The players' tabard is blue; the knight wears another colour.
constexpr TColor PlayerTabard = Hex(0x1E3A8C);
TColor ShadeBody(const TSurfacePoint& point, TColor tabard = PlayerTabard);

enum class TRace { Human, Elf };

// The centre of the skull, and the head's surface in the directions of
// longitude theta (0 looking forward, growing towards the left, +X) and
// latitude phi (radians, -pi/2 under the chin, pi/2 on top).  Above the brows
// and behind the face both races are the same.
extern const TVec3 HeadCentre;
TVec3 HeadSurface(TRace race, float theta, float phi);
// The skull alone, the same for both races: where hair lies.
TVec3 SkullSurface(float theta, float phi);
// Longitude and latitude of a point seen from the head's centre.
void HeadAngles(TVec3 point, float& theta, float& phi);

// Head and neck of a race (the human's with its ears); UVs not yet packed.
TMeshBuilder BuildHead(TRace race);
TColor ShadeHead(TRace race, const TSurfacePoint& point);

// Pointed elf ears, style 1 to 3; painted into the elf's texture.
TMeshBuilder BuildEars(int style);

// Hair styles 1 (shortest) to 8 (longest) and beards 1 to 3, mapped onto
// the hair texture's fixed layout (PaintHair).
TMeshBuilder BuildHair(int style);
TMeshBuilder BuildBeard(int style);
void PaintHair(TImage& image);

}  // namespace forge
