#include "Skeleton.h"

#include "models/L3D.h"

namespace forge {

namespace {

// Rest joints: a man of about 1.8 m at 0.9 m to the unit, arms hanging a
// little away from the thighs.  Left side at +X.
const std::array<TBoneDef, BoneCount> Bones = {{
    {"Bassin", -1, {0, 1.000f, 0}},
    {"Dos", Bassin, {0, 1.140f, -0.010f}},
    {"Poitrine", Dos, {0, 1.360f, -0.005f}},
    {"Cou", Poitrine, {0, 1.620f, -0.010f}},
    {"Tete", Cou, {0, 1.745f, 0.000f}},
    {"ClavicleG", Poitrine, {0.035f, 1.585f, 0.000f}},
    {"BrasG", ClavicleG, {0.190f, 1.575f, -0.015f}},
    {"AvantBrasG", BrasG, {0.225f, 1.275f, -0.030f}},
    {"MainG", AvantBrasG, {0.250f, 1.015f, -0.005f}},
    {"ClavicleD", Poitrine, {-0.035f, 1.585f, 0.000f}},
    {"BrasD", ClavicleD, {-0.190f, 1.575f, -0.015f}},
    {"AvantBrasD", BrasD, {-0.225f, 1.275f, -0.030f}},
    {"MainD", AvantBrasD, {-0.250f, 1.015f, -0.005f}},
    {"CuisseG", Bassin, {0.095f, 0.975f, 0.000f}},
    {"JambeG", CuisseG, {0.102f, 0.535f, 0.012f}},
    {"PiedG", JambeG, {0.108f, 0.088f, -0.022f}},
    {"OrteilsG", PiedG, {0.112f, 0.025f, 0.105f}},
    {"CuisseD", Bassin, {-0.095f, 0.975f, 0.000f}},
    {"JambeD", CuisseD, {-0.102f, 0.535f, 0.012f}},
    {"PiedD", JambeD, {-0.108f, 0.088f, -0.022f}},
    {"OrteilsD", PiedD, {-0.112f, 0.025f, 0.105f}},
}};

}  // namespace

const TBoneDef& BoneDef(int bone) { return Bones.at(static_cast<std::size_t>(bone)); }

TVec3 RestOffset(int bone) {
  const TBoneDef& def = BoneDef(bone);
  return def.Parent < 0 ? def.Joint : def.Joint - RestJoint(def.Parent);
}

int MirrorBone(int bone) {
  if (bone >= ClavicleG && bone <= MainG) return bone + (ClavicleD - ClavicleG);
  if (bone >= ClavicleD && bone <= MainD) return bone - (ClavicleD - ClavicleG);
  if (bone >= CuisseG && bone <= OrteilsG) return bone + (CuisseD - CuisseG);
  if (bone >= CuisseD && bone <= OrteilsD) return bone - (CuisseD - CuisseG);
  return bone;
}

void FillSkeleton(TSkeleton& skeleton) {
  skeleton.Bones.clear();
  for (int bone = 0; bone < BoneCount; ++bone) {
    TS3DBone record{};
    record.Name = TShortName::From(BoneDef(bone).Name);
    record.Parent = BoneDef(bone).Parent;
    TVec3 offset = RestOffset(bone);
    record.Position = {offset.X, offset.Y, offset.Z};
    record.Angle = 0;
    record.Axis = {0, 1, 0};
    skeleton.Bones.push_back(record);
  }
}

TPosed PoseSkeleton(const TPose& pose) {
  TPosed posed;
  for (int bone = 0; bone < BoneCount; ++bone) {
    const TBoneDef& def = BoneDef(bone);
    TVec3 offset = def.Parent < 0 ? pose.Root : RestOffset(bone);
    TMat4 local = TranslateRotate(offset, pose.Local[bone]);
    posed.World[bone] = def.Parent < 0 ? local : posed.World[def.Parent] * local;
    posed.Skin[bone] = posed.World[bone] * TranslateRotate(-def.Joint, {});
  }
  return posed;
}

TQuat ParentWorldRotation(const TPose& pose, int bone) {
  TQuat rotation;
  for (int b = BoneDef(bone).Parent; b >= 0; b = BoneDef(b).Parent) rotation = pose.Local[b] * rotation;
  return rotation;
}

}  // namespace forge
