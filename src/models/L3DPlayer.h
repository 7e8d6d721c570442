// Skeletal animation and character drawing.  TAnimatedSkeleton poses a
// skeleton with a motion at a phase and keeps one skinning matrix per bone;
// TTexturedMesh skins a mesh with them and draws it, one texture per
// material group, with a flat black shadow; TL3DPlayer is a whole character
// (skeleton, list of textured meshes, current motion) advanced by elapsed
// milliseconds.  Posing uses the OpenGL modelview stack as its calculator, so
// posing and drawing need the context current in modelview mode; the stack
// is left as it was found.  User-interface thread only.
//
// References: SetSkeleton, SetMesh and SetAnimation count one on what they
// take; Get, TMeshList::Add and SetMotion pass the first reference on; each
// setter gives the previous object back, and so does every destructor.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "models/GLMath.h"
#include "models/GLTextures.h"
#include "models/L3D.h"

// Maps (x, y, z) to (x, 0, z): the character's shadow on its ground plane.
extern const TBoneMatrix ShadowMatrix;

// Number of entries of Motions (animation numbers 0 to 5).
inline constexpr std::size_t MotionCount = 6;
// The shared character motions by animation number, null until loaded; the
// table holds the first reference of each.
extern std::array<TMotion*, MotionCount> Motions;

// Animation whose motion plays once and holds its last pose.
inline constexpr uint8_t HeldAnimation = 5;
// Skinned characters are drawn at three times their model size.
inline constexpr float SkinScale = 3.0f;

// Interpolation
// v moves towards p by t.
void Lerp(TVector3& v, const TVector3& p, float t);
// q becomes the spherical interpolation from q towards p by t, along the
// shorter arc; nearly equal quaternions are interpolated linearly.  Not
// renormalised.
void Slerp(TVector4& q, const TVector4& p, float t);

// Key sampling: the interpolated value of one track's keys at a phase.
// False, leaving the output untouched, when the track has no such keys.
bool SampleRotation(const TMotion& motion, int track, float phase, TVector4& rotation);
bool SamplePosition(const TMotion& motion, int track, float phase, TVector3& position);

// Matrix helpers on the current OpenGL matrix
// Rotates by a unit quaternion; one with a zero vector part does nothing.
void RotateByQuaternion(const TVector4& q);
// Multiplies by the animated local transform of a bone: its track's
// translation, then its rotation.
void ApplyTrack(const TMotion& motion, std::string_view boneName, float phase);
// Fills the skeleton's BindInverse, the inverse of each bone's rest transform.
void ComputeBindInverse(TSkeleton& skeleton);
// m applied to (x, y, z, 1), without division.
TVector3 TransformPoint(const TVector3& v, const TBoneMatrix& m);

class TAnimatedSkeleton {
 public:
  TAnimatedSkeleton() = default;
  ~TAnimatedSkeleton();
  TAnimatedSkeleton(const TAnimatedSkeleton&) = delete;
  TAnimatedSkeleton& operator=(const TAnimatedSkeleton&) = delete;

  // Keeps skeleton with one reference counted; gives the previous one back.
  void SetSkeleton(TSkeleton* skeleton);
  // Computes Matrices for the motion at the phase.
  void Pose(const TMotion* motion, float phase);
  // Multiplies the current matrix by the animated chain from the root to bone.
  void ApplyBone(int bone) const;

  TSkeleton* Skeleton() const { return FSkeleton; }
  const TMotion* Motion = nullptr;  // of the last pose; not counted
  float Phase = 0;
  std::vector<TBoneMatrix> Matrices;  // skinning matrix of each bone

 private:
  TSkeleton* FSkeleton = nullptr;
  mutable std::vector<int> FChain;  // ApplyBone's chain of bones, reused
};

// Position then normal, the layout given to the vertex and normal arrays.
struct TSkinnedVertex {
  TVector3 Position;
  TVector3 Normal;
};
static_assert(sizeof(TSkinnedVertex) == 24);

struct TCornerTexCoord {
  float U = 0, V = 0;
};

// The index tables a mesh is drawn through, made once from its triangles.
// A texture coordinate belongs to a triangle corner, not to a vertex, so
// the textured pass has vertices of its own: one per distinct (vertex, U, V)
// among the corners, in order of first use, each a copy of a skinned vertex.
// The shadow and picking draw the skinned vertices themselves.
struct TMeshArrays {
  // Fills the tables from the mesh's triangles; a corner naming no vertex
  // of the mesh leaves them not Valid.
  void Build(const TMesh& mesh);
  bool BuiltFor(const TMesh& mesh) const {
    return FMesh == &mesh && VertexOfCorner.size() == 3 * mesh.Triangles.size();
  }

  std::vector<uint32_t> VertexOfCorner;    // 3 a triangle: its mesh vertex
  std::vector<uint32_t> TexturedOfCorner;  // 3 a triangle: its textured vertex
  std::vector<uint32_t> VertexOfTextured;  // the mesh vertex each textured one copies
  std::vector<TCornerTexCoord> TexCoords;  // of each textured vertex
  // Textured vertex k copies mesh vertex k for every k: the skinned
  // vertices serve the textured pass as they are.
  bool SameAsMesh = false;
  bool Valid = false;

 private:
  const TMesh* FMesh = nullptr;
};

class TTexturedMesh {
 public:
  TTexturedMesh();
  ~TTexturedMesh();
  TTexturedMesh(const TTexturedMesh&) = delete;
  TTexturedMesh& operator=(const TTexturedMesh&) = delete;

  // Keeps mesh with one reference counted (none for null); gives the
  // previous one back.
  void SetMesh(TMesh* mesh);
  // Blends each vertex between the posed bones that weigh it.
  void SkinVertices(const TAnimatedSkeleton& animated);
  // Texture of material group `group`; a group without one is plain red.
  void SelectTexture(int group);
  // Textured, with the black shadow; nothing when invisible or not skinned.
  void Draw();
  // Geometry only (picking); nothing when invisible or not skinned.
  void DrawPlain();

  TMesh* Mesh() const { return FMesh; }
  std::unique_ptr<TTextureList> Textures;  // texture i serves group i
  std::vector<TSkinnedVertex> Skinned;
  bool Visible = true;

 private:
  friend class TMeshList;
  // Takes the first reference of mesh without counting one.
  void AdoptMesh(TMesh* mesh);
  bool Drawable() const;
  // Makes the tables of FMesh when they are not made yet.
  void PrepareArrays();
  // The skinned vertices as the vertex and normal arrays.
  void SetArrays();
  // The triangles of every group through the corner table given, with the
  // arrays as the caller set them.
  void DrawGroups(const std::vector<uint32_t>& corners) const;
  void DrawTextured();

  TMesh* FMesh = nullptr;
  TMeshArrays FArrays;
  // The textured vertices of the last Draw, copied from Skinned; reused
  // from frame to frame.
  std::vector<TSkinnedVertex> FTextured;
};

// The textured meshes of a character; owns them.
class TMeshList {
 public:
  TMeshList() = default;
  ~TMeshList() { Clear(); }
  TMeshList(const TMeshList&) = delete;
  TMeshList& operator=(const TMeshList&) = delete;

  // A new textured mesh of the file's mesh, appended; load errors pass on.
  TTexturedMesh* Add(const std::string& fileName);
  // Takes over a textured mesh made elsewhere, appended.
  TTexturedMesh* Append(std::unique_ptr<TTexturedMesh> mesh) {
    FItems.push_back(std::move(mesh));
    return FItems.back().get();
  }
  void Clear() { FItems.clear(); }
  int Count() const { return int(FItems.size()); }
  TTexturedMesh* operator[](int index) const { return FItems.at(std::size_t(index)).get(); }

 private:
  std::vector<std::unique_ptr<TTexturedMesh>> FItems;
};

class TL3DPlayer {
 public:
  TL3DPlayer() = default;
  ~TL3DPlayer();
  TL3DPlayer(const TL3DPlayer&) = delete;
  TL3DPlayer& operator=(const TL3DPlayer&) = delete;

  // The skeleton of the file; load errors pass on.
  void SetSkeleton(const std::string& fileName);
  // Plays the motion of the file, keeping Time and Animation; nothing when
  // it is the file of the current motion.
  void SetMotion(const std::string& fileName);
  // Selects animation number: its shared motion restarts at time 0 unless
  // it is already playing or not loaded.
  void SetAnimation(uint8_t number);
  // Moves Time on by elapsedMs (looping, or holding the held animation),
  // then poses and skins every mesh.  Nothing without skeleton, meshes or
  // motion.
  void Advance(uint32_t elapsedMs);
  void Draw();
  void DrawPlain();
  // A marker above the character; draws nothing.
  void DrawMarker() {}

  TAnimatedSkeleton Animated;
  TMeshList Meshes;
  TMotion* Motion = nullptr;
  uint8_t Animation = 0;
  uint32_t Time = 0;  // ms into the motion, 0 to its Duration
  float Phase = 0;    // Time / Duration

 private:
  void DropMotion();
};
