// Skeletal animation and character drawing.  TAnimatedSkeleton poses a
// skeleton with a motion at a phase and keeps one skinning matrix per bone;
// TTexturedMesh skins a mesh with them and draws it, one texture per
// material group, with a flat black shadow; TL3DPlayer is a whole character
// (skeleton, list of textured meshes, current motion) advanced by elapsed
// milliseconds.  A textured mesh may have a low level of detail beside its
// mesh: the shadow is flattened from it, and a character drawn Far shows it
// instead of the full mesh.  Posing computes its matrices on its own and
// needs no context; drawing needs the context current in modelview mode.
// User-interface thread only.
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

// Matrix helpers; RotateByQuaternion and ApplyTrack multiply the current
// OpenGL matrix.
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
  // Computes Matrices for the motion at the phase (the bone's animated
  // chain from its root, times its inverse rest transform).
  void Pose(const TMotion* motion, float phase);
  // Multiplies the current matrix by the animated chain from the root to bone.
  void ApplyBone(int bone) const;

  TSkeleton* Skeleton() const { return FSkeleton; }
  // Heap bytes this pose holds of its own (the skeleton is shared).
  std::size_t OwnBytes() const;
  const TMotion* Motion = nullptr;  // of the last pose; not counted
  float Phase = 0;
  std::vector<TBoneMatrix> Matrices;  // skinning matrix of each bone

 private:
  // The track of each bone in Motion, found by name once per motion.
  void FindTracks();
  // The animated chain of bone, from the chains of its ancestors already
  // in FChains where they are.
  void ChainOf(int bone);

  TSkeleton* FSkeleton = nullptr;
  mutable std::vector<int> FChain;  // a chain of bones, reused
  // Tracks of the bones in the motion they were found in.
  std::vector<int> FTrackOfBone;
  const TMotion* FTracksMotion = nullptr;
  const TSkeleton* FTracksSkeleton = nullptr;
  const TM3DTrack* FTracksData = nullptr;
  // The animated chain of each bone during a pose, and whether it is made.
  std::vector<TBoneMatrix> FChains;
  std::vector<uint8_t> FChainMade;
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

  // Scratch shared by every character of the mesh, filled just before use.
  // The textured copies of the skinned vertices: OpenGL has read them when
  // the drawing call returns, so the next character may overwrite them.
  std::vector<TSkinnedVertex> Textured;
  // The skinned vertices of the sharing characters (TTexturedMesh::
  // SharedSkinning), of the one that skinned them last.
  std::vector<TSkinnedVertex> Skinned;
  const void* SkinnedBy = nullptr;

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
  // previous one back.  The low level of the mesh's file comes with it
  // when its file exists (see LowDetailFile).
  void SetMesh(TMesh* mesh);
  // Blends each vertex between the posed bones that weigh it, position and
  // normal.
  void SkinVertices(const TAnimatedSkeleton& animated);
  // Blends the positions only, of the full mesh when full is set and of the
  // low level when there is one: all that drawing uses (no lighting ever
  // reads the normals), left zero.
  void SkinPositions(const TAnimatedSkeleton& animated, bool full);
  // Keeps low (or none) as the low level of detail, taking its first
  // reference without counting one; gives the previous one back.
  void AdoptLowDetail(TMesh* low);
  // Texture of material group `group`; a group without one is plain red.
  void SelectTexture(int group);
  // Skins again, from the pose given, the levels this mesh skinned into the
  // shared buffer since another character took it over (see SharedSkinning):
  // full as for SkinPositions.
  void SkinAgainWhereTaken(const TAnimatedSkeleton& animated, bool full);
  // Textured, with the black shadow; nothing when invisible or not skinned.
  // Far draws the low level in place of the mesh where there is one.
  void Draw(bool far = false);
  // Geometry only (picking), of the level Draw shows.
  void DrawPlain(bool far = false);

  TMesh* Mesh() const { return FFull.Mesh; }
  TMesh* LowDetail() const { return FLow.Mesh; }
  // Bytes this textured mesh holds of its own, beyond what it shares with
  // every other character of the same mesh files: what one more character
  // costs in memory.
  std::size_t OwnBytes() const;
  std::unique_ptr<TTextureList> Textures;  // texture i serves group i
  std::vector<TSkinnedVertex> Skinned;
  bool Visible = true;
  // SkinPositions skins into one buffer shared with every character of the
  // same mesh files (kept with their drawing tables) instead of Skinned, so
  // that a character holds no vertices of its own.  For characters drawn
  // right after they are skinned, as a player list draws them; drawing one
  // later needs SkinAgainWhereTaken first (TL3DPlayer draws so).
  bool SharedSkinning = false;

 private:
  friend class TMeshList;
  // What one level of detail is drawn from: its mesh (whose DrawArrays
  // hold the tables, made on the first draw), its skinned vertices (this
  // mesh's own or the shared ones) and the bone of each binding, found by
  // name once per skeleton.
  struct TLevel {
    TMesh* Mesh = nullptr;
    std::vector<TSkinnedVertex>* Skinned = nullptr;
    std::vector<int> BoneOfBinding;
    const TSkeleton* BonesFor = nullptr;
    TMeshArrays& Arrays() const { return *Mesh->DrawArrays; }
  };

  // Takes the first reference of mesh without counting one, and the low
  // level of its file.
  void AdoptMesh(TMesh* mesh);
  bool Drawable(const TLevel& level) const;
  // The level drawn: the low one when far and it is skinned.
  TLevel& Shown(bool far) { return far && Drawable(FLow) ? FLow : FFull; }
  // The level the shadow is flattened from: the low one when it is skinned.
  TLevel& Shadow() { return Drawable(FLow) ? FLow : FFull; }
  // Makes the tables of the level's mesh when they are not made yet;
  // whether they are usable.
  static bool PrepareArrays(TLevel& level);
  // The mesh's shared tables, made empty when there are none yet.
  static TMeshArrays& SharedArrays(TMesh& mesh);
  // The level's own skinned vertices.
  std::vector<TSkinnedVertex>* OwnSkinned(const TLevel& level) {
    return &level == &FFull ? &Skinned : &FLowSkinned;
  }
  // Skins the level's mesh into its own vertices or the shared ones.
  void SkinInto(TLevel& level, const TAnimatedSkeleton& animated);
  // Points the level at its own vertices again, giving the shared ones up.
  void LeaveShared(TLevel& level);
  static void FindBones(TLevel& level, const TSkeleton& skeleton);
  static void SkinLevel(TLevel& level, const TAnimatedSkeleton& animated);
  // The triangles of every group through the corner table given, with the
  // vertex array as the caller set it.
  static void DrawGroups(const TLevel& level, const std::vector<uint32_t>& corners);
  void DrawTextured(TLevel& level);

  TLevel FFull;
  TLevel FLow;
  std::vector<TSkinnedVertex> FLowSkinned;
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
  // Every mesh, of the low level when Far.
  void Draw();
  void DrawPlain();
  // Bytes this character holds of its own (OwnBytes of its pose and meshes).
  std::size_t OwnBytes() const;
  // A marker above the character; draws nothing.
  void DrawMarker() {}

  TAnimatedSkeleton Animated;
  TMeshList Meshes;
  TMotion* Motion = nullptr;
  uint8_t Animation = 0;
  uint32_t Time = 0;  // ms into the motion, 0 to its Duration
  float Phase = 0;    // Time / Duration
  // Seen from so far that the low levels of detail stand for the meshes;
  // set before Advance, which then skins the full meshes only when not.
  bool Far = false;

 private:
  void DropMotion();
};
