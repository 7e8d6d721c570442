// The biped every character is built on: its bones with their rest joints,
// the skeleton file made from them, and posing on the processor (the same
// chain of translations and rotations the game applies, so that meshes can be
// checked, the knight's frames computed and the motions measured).
// Model units: the body is about 2 tall, feet at y = 0, facing +Z, its left
// side towards +X.  Every rest rotation is the identity, so a bone's frame at
// rest is the model's frame placed at its joint.
#pragma once

#include <array>
#include <string>

#include "Vectors.h"

class TSkeleton;

namespace forge {

enum TBone : int {
  Bassin,
  Dos,
  Poitrine,
  Cou,
  Tete,
  ClavicleG,
  BrasG,
  AvantBrasG,
  MainG,
  ClavicleD,
  BrasD,
  AvantBrasD,
  MainD,
  CuisseG,
  JambeG,
  PiedG,
  OrteilsG,
  CuisseD,
  JambeD,
  PiedD,
  OrteilsD,
  BoneCount
};

struct TBoneDef {
  const char* Name;
  int Parent;   // -1 for the root
  TVec3 Joint;  // where the bone turns, in the rest pose, model units
};

const TBoneDef& BoneDef(int bone);
inline TVec3 RestJoint(int bone) { return BoneDef(bone).Joint; }
// The joint relative to the parent's joint (the root's is absolute).
TVec3 RestOffset(int bone);
// The bone of the other side (a bone of the middle is its own mirror).
int MirrorBone(int bone);

// The skeleton file's contents: one record per bone in TBone order.
void FillSkeleton(TSkeleton& skeleton);

// A pose: where the root's joint stands and each bone's rotation relative
// to its parent (the identity is the rest pose).
struct TPose {
  TVec3 Root = RestJoint(Bassin);
  std::array<TQuat, BoneCount> Local{};
};

// The world transform of every bone for a pose, and the skinning matrices
// (world transform times the inverse of the rest transform).
struct TPosed {
  std::array<TMat4, BoneCount> World;
  std::array<TMat4, BoneCount> Skin;
  TVec3 Joint(int bone) const { return {World[bone].M[12], World[bone].M[13], World[bone].M[14]}; }
};
TPosed PoseSkeleton(const TPose& pose);

// The world rotation of a bone's parent frame in a pose.
TQuat ParentWorldRotation(const TPose& pose, int bone);

}  // namespace forge
