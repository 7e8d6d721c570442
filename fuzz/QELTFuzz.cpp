// The skeleton, mesh and motion loaders (one target per kind, chosen by
// QELT_KIND_S3D, _L3D or _M3D): any file either fails with an Exception or
// loads into tables whose every index and range lies inside them, which is
// what animation and drawing rely on.  A loaded mesh is then skinned on a
// fixed skeleton and a loaded motion sampled, the parts of animation that
// need no OpenGL context.
#include <memory>

#include "FuzzSupport.h"
#include "models/L3D.h"
#include "models/L3DPlayer.h"
#include "platform/Errors.h"

namespace {

void CheckRange(int32_t first, int32_t last, std::size_t count, const char* what) {
  if (first > last) return;
  Require(first >= 0 && static_cast<std::size_t>(last) < count, what);
}

[[maybe_unused]] void Use(const TSkeleton& skeleton) {
  for (std::size_t i = 0; i < skeleton.Bones.size(); ++i) {
    const TS3DBone& bone = skeleton.Bones[i];
    Require(bone.Parent < static_cast<int32_t>(skeleton.Bones.size()), "a parent is a bone or a root mark");
    int found = skeleton.IndexOfBone(bone.Name.View());
    Require(found >= static_cast<int>(i), "a bone is found by its name");
    // Walk to the root: the loader promises that every chain ends.
    std::size_t steps = 0;
    for (int32_t b = static_cast<int32_t>(i); b >= 0; b = skeleton.Bones[static_cast<std::size_t>(b)].Parent)
      Require(++steps <= skeleton.Bones.size(), "parent links end at a root");
  }
}

[[maybe_unused]] void Use(const TMesh& mesh) {
  for (const TL3DTriangle& triangle : mesh.Triangles)
    for (const TL3DCorner& corner : triangle.Corners)
      Require(corner.Vertex >= 0 && static_cast<std::size_t>(corner.Vertex) < mesh.Vertices.size(),
              "a corner names a vertex");
  for (const TL3DGroup& group : mesh.Groups)
    CheckRange(group.First, group.Last, mesh.Triangles.size(), "a group lies in the triangles");
  for (const TL3DBinding& binding : mesh.Bindings) {
    CheckRange(binding.First, binding.Last, mesh.Weights.size(), "a binding lies in the weights");
    Require(binding.BoneName.View().size() <= 19, "a bone name has at most 19 characters");
  }
  for (const TL3DWeight& weight : mesh.Weights)
    Require(weight.Vertex >= 0 && static_cast<std::size_t>(weight.Vertex) < mesh.Vertices.size(),
            "a weight names a vertex");
}

// A posed skeleton with the bone names of the game's characters and a
// matrix for each (never destroyed: it serves every input).
[[maybe_unused]] const TAnimatedSkeleton& PosedSkeleton() {
  static TAnimatedSkeleton* animated = [] {
    auto* skeleton = new TSkeleton;
    for (const char* name : {"Bassin", "Torse", "Tete", "Cuisse", ""})
      skeleton->Bones.push_back({TShortName::From(name), -1, {0, 0, 0}, 0, {0, 1, 0}});
    auto* posed = new TAnimatedSkeleton;
    posed->SetSkeleton(skeleton);
    TBoneMatrix identity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    posed->Matrices.assign(skeleton->Bones.size(), identity);
    posed->Matrices[1][12] = 2;
    return posed;
  }();
  return *animated;
}

[[maybe_unused]] void Skin(TMesh* mesh) {
  TTexturedMesh textured;
  textured.SetMesh(mesh);  // the last reference: destroyed with textured
  textured.SkinVertices(PosedSkeleton());
  Require(textured.Skinned.size() == mesh->Vertices.size(), "skinning gives every vertex");
}

[[maybe_unused]] void Use(const TMotion& motion) {
  for (const TM3DTrack& track : motion.Tracks) {
    CheckRange(track.FirstRotation, track.LastRotation, motion.RotationKeys.size(), "rotation keys in range");
    CheckRange(track.FirstPosition, track.LastPosition, motion.PositionKeys.size(), "position keys in range");
    int found = motion.FindTrack(track.BoneName.View());
    Require(found >= 0 && static_cast<std::size_t>(found) < motion.Tracks.size(), "a track is found");
  }
  Require((motion.FindTrack("") == -1) == motion.Tracks.empty(), "no track only without tracks");
  for (int track = 0; track < static_cast<int>(motion.Tracks.size()); ++track)
    for (float phase : {-1.0f, 0.0f, 0.25f, 0.5f, 1.0f, 2.0f}) {
      TVector4 rotation{};
      TVector3 position{};
      SampleRotation(motion, track, phase, rotation);
      SamplePosition(motion, track, phase, position);
    }
}

#if defined(QELT_KIND_S3D)
using TLoaded = TSkeleton;
const char* const FileName = "fuzz.S3D";
#elif defined(QELT_KIND_L3D)
using TLoaded = TMesh;
const char* const FileName = "fuzz.L3D";
#else
using TLoaded = TMotion;
const char* const FileName = "fuzz.M3D";
#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::string path = WriteScratchFile(FileName, data, size);
  auto loaded = std::make_unique<TLoaded>();
  try {
    loaded->Load(path);
  } catch (const Exception&) {
    return 0;
  }
  Use(*loaded);
#if defined(QELT_KIND_L3D)
  Skin(loaded.release());
#endif
  return 0;
}
