// Skeletal model files: skeletons (S3D), meshes (L3D) and motions (M3D), the
// objects that hold a loaded file, and the reference-counted managers the
// system gets them from by file name.  Loaded instances are shared: a
// manager lists what it loaded, and Get of a listed name hands out the same
// instance with one more reference counted.  User-interface thread only.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "models/GLMath.h"

static_assert(std::endian::native == std::endian::little, "model files are read straight into memory");

// Records with exactly the file layout (little-endian, packed; see L3D.cpp).

// A 20-byte name: byte 0 is the length (0 to 19), then the characters.
struct TShortName {
  uint8_t Length;
  char Chars[19];
  std::string_view View() const { return {Chars, Length < sizeof Chars ? Length : sizeof Chars}; }
  std::string Str() const { return std::string(View()); }
  // A name of at most 19 characters, the rest zeros; longer names raise
  // "name too long: <name>".
  static TShortName From(std::string_view name);
};

inline constexpr char QELTMagic[4] = {'Q', 'E', 'L', 'T'};
inline constexpr uint32_t S3DVersion = 101;
inline constexpr uint32_t L3DVersion = 103;
inline constexpr uint32_t M3DVersion = 101;

struct TS3DHeader {
  char Magic[4];
  uint32_t Version;
  uint32_t HeaderSize;
  uint32_t BoneCount;
};

struct TS3DBone {
  TShortName Name;
  int32_t Parent;  // negative for a root
  TVector3 Position;
  float Angle;  // degrees
  TVector3 Axis;
};

struct TL3DHeader {
  char Magic[4];
  uint32_t Version;
  uint32_t HeaderSize;
  uint32_t VertexCount;
  uint32_t TriangleCount;
  uint32_t Table12Count;
  uint32_t GroupCount;
  uint32_t Table24Count;
  uint32_t BindingCount;
  uint32_t WeightCount;
};

struct TL3DVertex {
  TVector3 Position;
  TVector3 Normal;
};

struct TL3DCorner {
  int32_t Vertex;
  float U, V;
};

struct TL3DTriangle {
  TL3DCorner Corners[3];
};

// Kept as read; nothing in the system looks inside.
struct TL3DRecord12 {
  uint8_t Bytes[12];
};
struct TL3DRecord24 {
  uint8_t Bytes[24];
};

struct TL3DGroup {
  int32_t First, Last;  // inclusive range of triangles; empty when First > Last
};

struct TL3DBinding {
  TShortName BoneName;
  int32_t First, Last;  // inclusive range of weights
};

struct TL3DWeight {
  int32_t Vertex;
  float Weight;
};

struct TM3DHeader {
  char Magic[4];
  uint32_t Version;
  uint32_t HeaderSize;
  uint32_t TrackCount;
  uint32_t RotationKeyCount;
  uint32_t PositionKeyCount;
  uint32_t Duration;  // milliseconds
};

struct TM3DTrack {
  TShortName BoneName;
  int32_t FirstRotation, LastRotation;  // inclusive ranges of keys;
  int32_t FirstPosition, LastPosition;  // empty when First > Last
};

// Key times are phases: 0 the start, 1 the end of the motion.
struct TM3DRotationKey {
  float Time;
  float X, Y, Z, W;  // quaternion, W the scalar part
};

struct TM3DPositionKey {
  float Time;
  float X, Y, Z;
};

// One bone matrix, column-major as OpenGL stores it.
using TBoneMatrix = std::array<float, 16>;

class TManager;

// A shared resource.  RefCount counts the references beyond the first
// holder's: Release takes one back while there are any and the instance is
// still managed, and destroys it otherwise.  Destroying an instance takes it
// out of its manager's list.
class TInstance {
 public:
  explicit TInstance(TManager* manager = nullptr) : FManager(manager) {}
  virtual ~TInstance();
  TInstance(const TInstance&) = delete;
  TInstance& operator=(const TInstance&) = delete;

  void Release();
  // The manager that made it; null once the manager has been cleared.
  TManager* Manager() const { return FManager; }

  int32_t RefCount = 0;
  std::string FileName;  // as given to the manager: the instance's key

 private:
  friend class TManager;
  TManager* FManager;
};

// A list of instances found by exact file name.  Clearing it (or destroying
// it) detaches every listed instance, so that its next Release destroys it;
// the instances themselves stay.
class TManager {
 public:
  constexpr TManager() = default;
  virtual ~TManager();
  TManager(const TManager&) = delete;
  TManager& operator=(const TManager&) = delete;

  // The first listed instance of exactly that name, or null.
  TInstance* Find(const std::string& fileName) const;
  void Clear();
  int Count() const { return static_cast<int>(FItems.size()); }
  TInstance* Items(int index) const { return FItems.at(static_cast<std::size_t>(index)); }

 protected:
  // Lists an instance bound to this manager.
  void Add(TInstance* instance);
  // The listed instance of that name with one more reference, or else a new
  // T loaded from the file and listed, with RefCount 0.  A failed load lists
  // nothing, frees the half-loaded instance and passes its error on.
  template <class T>
  T* Share(const std::string& fileName);

 private:
  friend class TInstance;
  void Remove(TInstance* instance);
  std::vector<TInstance*> FItems;
};

// Loading (all three): "Cannot open file <name>"; "Stream read error" for a
// file shorter than its header or tables; the magic message of the kind,
// then the version message, then "unknown file format" for a header of
// another size; and "<name>: ..." for counts, indices, ranges, names and
// parent links that do not fit the file.

// A skeleton: named bones in file order, each with its parent's index.
class TSkeleton : public TInstance, public TS3DHeader {
 public:
  explicit TSkeleton(TManager* manager = nullptr) : TInstance(manager), TS3DHeader{} {}
  void Load(const std::string& fileName);
  // The highest bone index with exactly that name, or -1.
  int IndexOfBone(std::string_view name) const;

  std::vector<TS3DBone> Bones;
  // One inverse rest matrix per bone; empty until first computed.
  std::vector<TBoneMatrix> BindInverse;
};

struct TMeshArrays;

// A mesh: vertices, textured triangles in material groups, and vertices
// bound to bones by name with weights.
class TMesh : public TInstance, public TL3DHeader {
 public:
  explicit TMesh(TManager* manager = nullptr) : TInstance(manager), TL3DHeader{} {}
  void Load(const std::string& fileName);

  std::vector<TL3DVertex> Vertices;
  std::vector<TL3DTriangle> Triangles;
  std::vector<TL3DRecord12> Table12;
  std::vector<TL3DGroup> Groups;
  std::vector<TL3DRecord24> Table24;
  std::vector<TL3DBinding> Bindings;
  std::vector<TL3DWeight> Weights;
  // The tables characters draw this mesh through (L3DPlayer.h): made by the
  // first one drawn and shared by all, as the mesh itself is; null until then.
  std::shared_ptr<TMeshArrays> DrawArrays;
};

// A motion: per-bone tracks of rotation and position keys over Duration.
class TMotion : public TInstance, public TM3DHeader {
 public:
  explicit TMotion(TManager* manager = nullptr) : TInstance(manager), TM3DHeader{} {}
  void Load(const std::string& fileName);
  // The track of a bone: the highest track from 1 up with that name, else
  // 0 (track 0 serves every bone without a track of its own, and its own
  // name is never compared); -1 only when there are no tracks.
  int FindTrack(std::string_view name) const;

  std::vector<TM3DTrack> Tracks;
  std::vector<TM3DRotationKey> RotationKeys;
  std::vector<TM3DPositionKey> PositionKeys;
};

class TS3DManager : public TManager {
 public:
  TSkeleton* Get(const std::string& fileName) { return Share<TSkeleton>(fileName); }
};

class TL3DManager : public TManager {
 public:
  TMesh* Get(const std::string& fileName) { return Share<TMesh>(fileName); }
};

class TM3DManager : public TManager {
 public:
  TMotion* Get(const std::string& fileName) { return Share<TMotion>(fileName); }
};

// The low level of detail of a mesh file (fewer triangles, the same bones
// and texture) lies under the same name in this folder beside it:
// "data\qelt-3d\Corps.L3D" has "data\qelt-3d\lod\Corps.L3D".
inline constexpr const char* LowDetailFolderName = "lod";
std::string LowDetailFile(const std::string& fileName);

extern TS3DManager S3DManager;
extern TL3DManager L3DManager;
extern TM3DManager M3DManager;

template <class T>
T* TManager::Share(const std::string& fileName) {
  if (TInstance* found = Find(fileName)) {
    ++found->RefCount;
    return static_cast<T*>(found);
  }
  T* instance = new T(this);
  try {
    instance->Load(fileName);
  } catch (...) {
    delete instance;
    throw;
  }
  Add(instance);
  return instance;
}
