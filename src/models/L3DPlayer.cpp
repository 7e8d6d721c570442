#include "models/L3DPlayer.h"

#include <GL/gl.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>

#include "models/BoneMatrices.h"
#include "platform/Files.h"

const TBoneMatrix ShadowMatrix = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

std::array<TMotion*, MotionCount> Motions = {};

namespace {
// Below this distance from 1, the cosine of two quaternions is taken as 1
// and they are blended linearly (the sine of the angle would vanish).
constexpr double SlerpLinearBelow = 0.000001;
}  // namespace

// ------------------------------------------------------------ interpolation

void Lerp(TVector3& v, const TVector3& p, float t) {
  v.X += (p.X - v.X) * t;
  v.Y += (p.Y - v.Y) * t;
  v.Z += (p.Z - v.Z) * t;
}

void Slerp(TVector4& q, const TVector4& p, float t) {
  double d = double(q.X) * p.X + double(q.Y) * p.Y + double(q.Z) * p.Z + double(q.W) * p.W;
  const bool opposite = d < 0;
  if (opposite) d = -d;  // the other sign of p is nearer: take the shorter arc
  double w0, w1;
  if (1 - d >= SlerpLinearBelow) {
    double omega = std::acos(d);
    double k = 1 / std::sin(omega);
    w0 = std::sin((1 - t) * omega) * k;
    w1 = std::sin(t * omega) * k;
  } else {
    w0 = 1 - t;
    w1 = t;
  }
  if (opposite) w1 = -w1;
  q.X = float(w0 * q.X + w1 * p.X);
  q.Y = float(w0 * q.Y + w1 * p.Y);
  q.Z = float(w0 * q.Z + w1 * p.Z);
  q.W = float(w0 * q.W + w1 * p.W);
}

// Keys of each kind are stored in increasing time order within a track: the
// sample is the last key at or before the phase, blended towards the next.
template <class TKey, class TValue, class TValueOf, class TBlend>
static bool SampleKeys(const std::vector<TKey>& keys, int first, int last, float phase, TValue& out,
                       TValueOf valueOf, TBlend blend) {
  if (first > last || first < 0 || std::size_t(last) >= keys.size()) return false;
  int k = last;
  while (k > first && phase < keys[std::size_t(k)].Time) --k;
  TValue value = valueOf(keys[std::size_t(k)]);
  if (k < last) {
    const TKey& a = keys[std::size_t(k)];
    const TKey& b = keys[std::size_t(k) + 1];
    float f = (phase - a.Time) / (b.Time - a.Time);
    if (f > 0) blend(value, valueOf(b), f);
  }
  out = value;
  return true;
}

static const TM3DTrack* TrackAt(const TMotion& motion, int track) {
  if (track < 0 || std::size_t(track) >= motion.Tracks.size()) return nullptr;
  return &motion.Tracks[std::size_t(track)];
}

bool SampleRotation(const TMotion& motion, int track, float phase, TVector4& rotation) {
  const TM3DTrack* t = TrackAt(motion, track);
  if (!t) return false;
  return SampleKeys(
      motion.RotationKeys, t->FirstRotation, t->LastRotation, phase, rotation,
      [](const TM3DRotationKey& k) {
        return TVector4{k.X, k.Y, k.Z, k.W};
      },
      Slerp);
}

bool SamplePosition(const TMotion& motion, int track, float phase, TVector3& position) {
  const TM3DTrack* t = TrackAt(motion, track);
  if (!t) return false;
  return SampleKeys(
      motion.PositionKeys, t->FirstPosition, t->LastPosition, phase, position,
      [](const TM3DPositionKey& k) {
        return TVector3{k.X, k.Y, k.Z};
      },
      Lerp);
}

// ------------------------------------------------------------ matrix helpers

void RotateByQuaternion(const TVector4& q) {
  // A blended quaternion may have its scalar part a hair outside [-1, 1].
  double w = std::clamp(double(q.W), -1.0, 1.0);
  double angle = 2 * std::acos(w) * 180 / std::numbers::pi;
  double length2 = double(q.X) * q.X + double(q.Y) * q.Y + double(q.Z) * q.Z;
  if (!(length2 > 0)) return;  // no axis: no rotation
  // OpenGL normalises the axis; only its direction matters.
  double s = 1 / length2;
  glRotatef(float(angle), float(q.X * s), float(q.Y * s), float(q.Z * s));
}

void ApplyTrack(const TMotion& motion, std::string_view boneName, float phase) {
  int track = motion.FindTrack(boneName);
  if (track < 0) return;
  TVector3 position;
  if (SamplePosition(motion, track, phase, position)) glTranslatef(position.X, position.Y, position.Z);
  TVector4 rotation;
  if (SampleRotation(motion, track, phase, rotation)) RotateByQuaternion(rotation);
}

void ComputeBindInverse(TSkeleton& skeleton) {
  // Walking from the bone up to its root, each step multiplied on the
  // right, builds R(b)^-1 T(b)^-1 R(parent)^-1 T(parent)^-1 ..., the inverse
  // of the rest transform root ... T(parent) R(parent) T(b) R(b).
  const std::size_t count = skeleton.Bones.size();
  skeleton.BindInverse.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    TBoneMatrix m = IdentityMatrix;
    int b = int(i);
    for (std::size_t depth = 0; b >= 0 && std::size_t(b) < count && depth < count; ++depth) {
      const TS3DBone& bone = skeleton.Bones[std::size_t(b)];
      m = MultiplyMatrices(m, RotationMatrix(-bone.Angle, bone.Axis.X, bone.Axis.Y, bone.Axis.Z));
      m = MultiplyMatrices(m, TranslationMatrix(-bone.Position.X, -bone.Position.Y, -bone.Position.Z));
      b = bone.Parent;
    }
    skeleton.BindInverse[i] = m;
  }
}

TVector3 TransformPoint(const TVector3& v, const TBoneMatrix& m) {
  return {v.X * m[0] + v.Y * m[4] + v.Z * m[8] + m[12], v.X * m[1] + v.Y * m[5] + v.Z * m[9] + m[13],
          v.X * m[2] + v.Y * m[6] + v.Z * m[10] + m[14]};
}

template <class T>
static std::size_t HeapBytes(const std::vector<T>& v) {
  return v.capacity() * sizeof(T);
}

// The triangles of a group, clipped to the triangle table.
static void GroupRange(const TMesh& mesh, const TL3DGroup& group, int& first, int& last) {
  first = std::max(group.First, 0);
  last = std::min(group.Last, int(mesh.Triangles.size()) - 1);
}

// ---------------------------------------------------------- TAnimatedSkeleton

TAnimatedSkeleton::~TAnimatedSkeleton() {
  if (FSkeleton) FSkeleton->Release();
}

void TAnimatedSkeleton::SetSkeleton(TSkeleton* skeleton) {
  // Counted before the old one goes, so that setting the same one is safe.
  if (skeleton) ++skeleton->RefCount;
  if (FSkeleton) FSkeleton->Release();
  FSkeleton = skeleton;
}

void TAnimatedSkeleton::FindTracks() {
  // Found again for another motion or skeleton, and for a motion whose
  // tracks were read again.
  if (FTracksMotion == Motion && FTracksSkeleton == FSkeleton && FTracksData == Motion->Tracks.data() &&
      FTrackOfBone.size() == FSkeleton->Bones.size())
    return;
  FTrackOfBone.resize(FSkeleton->Bones.size());
  for (std::size_t b = 0; b < FTrackOfBone.size(); ++b)
    FTrackOfBone[b] = Motion->FindTrack(FSkeleton->Bones[b].Name.View());
  FTracksMotion = Motion;
  FTracksSkeleton = FSkeleton;
  FTracksData = Motion->Tracks.data();
}

// A bone's own animated transform: its track's translation, then its
// rotation, as ApplyTrack multiplies them.
static TBoneMatrix TrackMatrix(const TMotion& motion, int track, float phase) {
  TBoneMatrix m = IdentityMatrix;
  if (track < 0) return m;
  TVector3 position;
  if (SamplePosition(motion, track, phase, position)) {
    m[12] = position.X;
    m[13] = position.Y;
    m[14] = position.Z;
  }
  TVector4 rotation;
  if (SampleRotation(motion, track, phase, rotation)) m = MultiplyMatrices(m, QuaternionMatrix(rotation));
  return m;
}

void TAnimatedSkeleton::ChainOf(int bone) {
  // The bones up to the first whose chain is made (or the root), bounded by
  // the skeleton's size as ApplyBone bounds its chain; then each chain from
  // its parent's, root first.
  const std::size_t count = FSkeleton->Bones.size();
  FChain.clear();
  int b = bone;
  while (b >= 0 && std::size_t(b) < count && !FChainMade[std::size_t(b)] && FChain.size() < count) {
    FChain.push_back(b);
    b = FSkeleton->Bones[std::size_t(b)].Parent;
  }
  const bool fromParent = b >= 0 && std::size_t(b) < count && FChainMade[std::size_t(b)];
  TBoneMatrix m = fromParent ? FChains[std::size_t(b)] : IdentityMatrix;
  for (auto k = FChain.rbegin(); k != FChain.rend(); ++k) {
    const auto at = std::size_t(*k);
    m = MultiplyMatrices(m, TrackMatrix(*Motion, FTrackOfBone[at], Phase));
    FChains[at] = m;
    FChainMade[at] = 1;
  }
}

void TAnimatedSkeleton::Pose(const TMotion* motion, float phase) {
  if (!FSkeleton) return;
  if (FSkeleton->BindInverse.size() != FSkeleton->Bones.size()) ComputeBindInverse(*FSkeleton);
  Motion = motion;
  Phase = phase;
  const std::size_t count = FSkeleton->Bones.size();
  Matrices.resize(count);
  if (!Motion) {
    // No motion moves no bone: each is its inverse rest transform.
    for (std::size_t i = 0; i < count; ++i) Matrices[i] = FSkeleton->BindInverse[i];
    return;
  }
  FindTracks();
  FChains.resize(count);
  FChainMade.assign(count, 0);
  for (std::size_t i = 0; i < count; ++i) {
    if (!FChainMade[i]) ChainOf(int(i));
    Matrices[i] = MultiplyMatrices(FChains[i], FSkeleton->BindInverse[i]);
  }
}

std::size_t TAnimatedSkeleton::OwnBytes() const {
  return HeapBytes(Matrices) + HeapBytes(FChain) + HeapBytes(FTrackOfBone) + HeapBytes(FChains) +
         HeapBytes(FChainMade);
}

void TAnimatedSkeleton::ApplyBone(int bone) const {
  if (!FSkeleton || !Motion || bone < 0 || std::size_t(bone) >= FSkeleton->Bones.size()) return;
  // The chain from the bone up to its root, applied root first.  Parent
  // links are checked acyclic when the skeleton is loaded, so no chain is
  // longer than the skeleton; the bound keeps a hand-made skeleton from
  // looping all the same.
  const std::size_t count = FSkeleton->Bones.size();
  FChain.clear();
  for (int b = bone; b >= 0 && std::size_t(b) < count && FChain.size() < count;
       b = FSkeleton->Bones[std::size_t(b)].Parent)
    FChain.push_back(b);
  for (auto b = FChain.rbegin(); b != FChain.rend(); ++b)
    ApplyTrack(*Motion, FSkeleton->Bones[std::size_t(*b)].Name.View(), Phase);
}

// ------------------------------------------------------------- TTexturedMesh

TTexturedMesh::TTexturedMesh() : Textures(std::make_unique<TTextureList>()) {
  FFull.Skinned = &Skinned;
  FLow.Skinned = &FLowSkinned;
}

TTexturedMesh::~TTexturedMesh() {
  LeaveShared(FFull);
  LeaveShared(FLow);
  if (FFull.Mesh) FFull.Mesh->Release();
  if (FLow.Mesh) FLow.Mesh->Release();
}

TMeshArrays& TTexturedMesh::SharedArrays(TMesh& mesh) {
  if (!mesh.DrawArrays) mesh.DrawArrays = std::make_shared<TMeshArrays>();
  return *mesh.DrawArrays;
}

void TTexturedMesh::LeaveShared(TLevel& level) {
  // Another textured mesh made later at this address must not take the
  // shared vertices for its own.
  if (level.Mesh && level.Mesh->DrawArrays && level.Mesh->DrawArrays->SkinnedBy == this)
    level.Mesh->DrawArrays->SkinnedBy = nullptr;
  level.Skinned = OwnSkinned(level);
}

void TTexturedMesh::SetMesh(TMesh* mesh) {
  if (mesh) ++mesh->RefCount;
  AdoptMesh(mesh);
}

void TTexturedMesh::AdoptMesh(TMesh* mesh) {
  LeaveShared(FFull);
  if (FFull.Mesh) FFull.Mesh->Release();
  FFull.Mesh = mesh;
  FFull.BonesFor = nullptr;
  // The low level is optional: data without it shadows with the mesh itself.
  TMesh* low = nullptr;
  if (mesh && !mesh->FileName.empty()) {
    const std::string lowFile = LowDetailFile(mesh->FileName);
    if (!FindFile(lowFile).empty()) low = L3DManager.Get(lowFile);
  }
  AdoptLowDetail(low);
}

void TTexturedMesh::AdoptLowDetail(TMesh* low) {
  LeaveShared(FLow);
  if (FLow.Mesh) FLow.Mesh->Release();
  FLow.Mesh = low;
  FLow.BonesFor = nullptr;
  FLowSkinned.clear();
}

std::size_t TTexturedMesh::OwnBytes() const {
  std::size_t bytes = sizeof *this + HeapBytes(Skinned) + HeapBytes(FLowSkinned);
  for (const TLevel* level : {&FFull, &FLow}) bytes += HeapBytes(level->BoneOfBinding);
  return bytes;
}

void TTexturedMesh::SkinVertices(const TAnimatedSkeleton& animated) {
  if (!FFull.Mesh) return;
  const TMesh& mesh = *FFull.Mesh;
  LeaveShared(FFull);  // drawn from Skinned, now filled
  Skinned.resize(mesh.Vertices.size());
  std::fill(Skinned.begin(), Skinned.end(), TSkinnedVertex{});
  const TSkeleton* skeleton = animated.Skeleton();
  if (!skeleton) return;
  FindBones(FFull, *skeleton);
  for (std::size_t k = 0; k < mesh.Bindings.size(); ++k) {
    const TL3DBinding& binding = mesh.Bindings[k];
    const int bone = FFull.BoneOfBinding[k];
    if (bone < 0 || std::size_t(bone) >= animated.Matrices.size()) continue;
    const TBoneMatrix& m = animated.Matrices[std::size_t(bone)];
    for (int w = std::max(binding.First, 0); w <= binding.Last && std::size_t(w) < mesh.Weights.size(); ++w) {
      const TL3DWeight& weight = mesh.Weights[std::size_t(w)];
      if (weight.Vertex < 0 || std::size_t(weight.Vertex) >= Skinned.size()) continue;
      const TL3DVertex& rest = mesh.Vertices[std::size_t(weight.Vertex)];
      TSkinnedVertex& out = Skinned[std::size_t(weight.Vertex)];
      const float s = weight.Weight * SkinScale;
      // The normal goes through the whole matrix, translation included; no
      // lighting is ever enabled, so it never shows.
      out.Position += TransformPoint(rest.Position, m) * s;
      out.Normal += TransformPoint(rest.Normal, m) * s;
    }
  }
}

void TTexturedMesh::FindBones(TLevel& level, const TSkeleton& skeleton) {
  const std::vector<TL3DBinding>& bindings = level.Mesh->Bindings;
  if (level.BonesFor == &skeleton && level.BoneOfBinding.size() == bindings.size()) return;
  level.BoneOfBinding.resize(bindings.size());
  for (std::size_t k = 0; k < bindings.size(); ++k)
    level.BoneOfBinding[k] = skeleton.IndexOfBone(bindings[k].BoneName.View());
  level.BonesFor = &skeleton;
}

void TTexturedMesh::SkinLevel(TLevel& level, const TAnimatedSkeleton& animated) {
  const TMesh& mesh = *level.Mesh;
  std::vector<TSkinnedVertex>& skinned = *level.Skinned;
  skinned.resize(mesh.Vertices.size());
  std::fill(skinned.begin(), skinned.end(), TSkinnedVertex{});
  const TSkeleton* skeleton = animated.Skeleton();
  if (!skeleton) return;
  FindBones(level, *skeleton);
  const std::size_t vertexCount = skinned.size();
  const std::size_t weightCount = mesh.Weights.size();
  for (std::size_t k = 0; k < mesh.Bindings.size(); ++k) {
    const int bone = level.BoneOfBinding[k];
    if (bone < 0 || std::size_t(bone) >= animated.Matrices.size()) continue;
    const TBoneMatrix& m = animated.Matrices[std::size_t(bone)];
    const TL3DBinding& binding = mesh.Bindings[k];
    const auto first = std::size_t(std::max(binding.First, 0));
    const std::size_t end = std::min(std::size_t(std::max(binding.Last + 1, 0)), weightCount);
    for (std::size_t w = first; w < end; ++w) {
      const TL3DWeight& weight = mesh.Weights[w];
      const auto vertex = std::size_t(weight.Vertex);
      if (vertex >= vertexCount) continue;  // also a negative index
      const TVector3& p = mesh.Vertices[vertex].Position;
      const float s = weight.Weight * SkinScale;
      TVector3& out = skinned[vertex].Position;
      out.X += (p.X * m[0] + p.Y * m[4] + p.Z * m[8] + m[12]) * s;
      out.Y += (p.X * m[1] + p.Y * m[5] + p.Z * m[9] + m[13]) * s;
      out.Z += (p.X * m[2] + p.Y * m[6] + p.Z * m[10] + m[14]) * s;
    }
  }
}

void TTexturedMesh::SkinInto(TLevel& level, const TAnimatedSkeleton& animated) {
  if (SharedSkinning) {
    TMeshArrays& shared = SharedArrays(*level.Mesh);
    level.Skinned = &shared.Skinned;
    shared.SkinnedBy = this;
  } else {
    level.Skinned = OwnSkinned(level);
  }
  SkinLevel(level, animated);
}

void TTexturedMesh::SkinPositions(const TAnimatedSkeleton& animated, bool full) {
  if (full && FFull.Mesh) SkinInto(FFull, animated);
  if (FLow.Mesh) SkinInto(FLow, animated);
}

void TTexturedMesh::SkinAgainWhereTaken(const TAnimatedSkeleton& animated, bool full) {
  for (TLevel* level : {&FFull, &FLow}) {
    if (!level->Mesh || (level == &FFull && !full) || level->Skinned == OwnSkinned(*level)) continue;
    if (level->Arrays().SkinnedBy != this) SkinInto(*level, animated);
  }
}

void TTexturedMesh::SelectTexture(int group) {
  if (group < Textures->Count()) {
    glEnable(GL_TEXTURE_2D);
    glColor3f(1, 1, 1);
    Textures->Items(group)->Bind();
  } else {
    glDisable(GL_TEXTURE_2D);
    glColor3f(1, 0, 0);
  }
}

bool TTexturedMesh::Drawable(const TLevel& level) const {
  // The skinned vertices must match the mesh they are drawn with: before
  // the first skinning (or after a new mesh) they do not, and the arrays
  // would be read past.
  return Visible && level.Mesh && !level.Skinned->empty() &&
         level.Skinned->size() == level.Mesh->Vertices.size();
}

bool TTexturedMesh::PrepareArrays(TLevel& level) {
  TMeshArrays& arrays = SharedArrays(*level.Mesh);
  if (!arrays.BuiltFor(*level.Mesh)) arrays.Build(*level.Mesh);
  return arrays.Valid;
}

void TTexturedMesh::DrawGroups(const TLevel& level, const std::vector<uint32_t>& corners) {
  for (const TL3DGroup& group : level.Mesh->Groups) {
    int first, last;
    GroupRange(*level.Mesh, group, first, last);
    if (first > last) continue;
    glDrawElements(GL_TRIANGLES, 3 * (last - first + 1), GL_UNSIGNED_INT, &corners[3 * std::size_t(first)]);
  }
}

// Texture coordinates belong to the triangle corners, not to the vertices:
// the textured pass draws the vertices of the corner table, copies of the
// skinned ones, each with the texture coordinate of its corners.
void TTexturedMesh::DrawTextured(TLevel& level) {
  TMeshArrays& arrays = level.Arrays();
  const TSkinnedVertex* vertices = level.Skinned->data();
  if (!arrays.SameAsMesh) {
    arrays.Textured.resize(arrays.VertexOfTextured.size());
    const std::vector<TSkinnedVertex>& skinned = *level.Skinned;
    for (std::size_t k = 0; k < arrays.Textured.size(); ++k)
      arrays.Textured[k].Position = skinned[arrays.VertexOfTextured[k]].Position;
    vertices = arrays.Textured.data();
  }
  glVertexPointer(3, GL_FLOAT, sizeof(TSkinnedVertex), &vertices->Position);
  glTexCoordPointer(2, GL_FLOAT, sizeof(TCornerTexCoord), arrays.TexCoords.data());
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  const TCornerTexCoord* lastCoord = nullptr;
  const TMesh& mesh = *level.Mesh;
  for (std::size_t g = 0; g < mesh.Groups.size(); ++g) {
    SelectTexture(int(g));
    int first, last;
    GroupRange(mesh, mesh.Groups[g], first, last);
    if (first > last) continue;
    glDrawElements(GL_TRIANGLES, 3 * (last - first + 1), GL_UNSIGNED_INT,
                   &arrays.TexturedOfCorner[3 * std::size_t(first)]);
    lastCoord = &arrays.TexCoords[arrays.TexturedOfCorner[3 * std::size_t(last) + 2]];
  }
  glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  // The current texture coordinate ends as the last corner's, as it did
  // when the corners were given one by one.
  if (lastCoord) glTexCoord2f(lastCoord->U, lastCoord->V);
}

void TTexturedMesh::Draw(bool far) {
  TLevel& shown = Shown(far);
  if (!Drawable(shown) || !PrepareArrays(shown)) return;
  DrawTextured(shown);
  // The shadow: the mesh squashed onto the ground, solid black.  Its low
  // level casts the same silhouette from far fewer triangles.
  TLevel& shadow = Shadow();
  if (!Drawable(shadow) || !PrepareArrays(shadow)) return;
  glVertexPointer(3, GL_FLOAT, sizeof(TSkinnedVertex), &shadow.Skinned->data()->Position);
  glPushMatrix();
  glMultMatrixf(ShadowMatrix.data());
  glDisable(GL_TEXTURE_2D);
  glColor3f(0, 0, 0);
  DrawGroups(shadow, shadow.Arrays().VertexOfCorner);
  glPopMatrix();
}

void TTexturedMesh::DrawPlain(bool far) {
  TLevel& shown = Shown(far);
  if (!Drawable(shown) || !PrepareArrays(shown)) return;
  glVertexPointer(3, GL_FLOAT, sizeof(TSkinnedVertex), &shown.Skinned->data()->Position);
  DrawGroups(shown, shown.Arrays().VertexOfCorner);
}

// ------------------------------------------------------------- TMeshArrays

namespace {
// Texture coordinates are told apart by their bits, so that every corner
// keeps exactly the coordinate the file gives it.
bool SameTexCoord(const TCornerTexCoord& a, const TL3DCorner& corner) {
  return std::bit_cast<uint32_t>(a.U) == std::bit_cast<uint32_t>(corner.U) &&
         std::bit_cast<uint32_t>(a.V) == std::bit_cast<uint32_t>(corner.V);
}
}  // namespace

void TMeshArrays::Build(const TMesh& mesh) {
  FMesh = &mesh;
  const std::size_t vertexCount = mesh.Vertices.size();
  const std::size_t cornerCount = 3 * mesh.Triangles.size();
  VertexOfCorner.assign(cornerCount, 0);
  TexturedOfCorner.assign(cornerCount, 0);
  VertexOfTextured.clear();
  TexCoords.clear();
  Valid = true;
  // The textured vertices made for each mesh vertex, as chains: the newest
  // in FirstOfVertex, each one's previous in Older.
  std::vector<int32_t> firstOfVertex(vertexCount, -1);
  std::vector<int32_t> older;
  std::size_t c = 0;
  for (const TL3DTriangle& triangle : mesh.Triangles)
    for (const TL3DCorner& corner : triangle.Corners) {
      const std::size_t at = c++;
      if (corner.Vertex < 0 || std::size_t(corner.Vertex) >= vertexCount) {
        Valid = false;  // only a mesh made by hand can get here: loading checks the indices
        continue;
      }
      const auto vertex = std::size_t(corner.Vertex);
      int32_t k = firstOfVertex[vertex];
      while (k >= 0 && !SameTexCoord(TexCoords[std::size_t(k)], corner)) k = older[std::size_t(k)];
      if (k < 0) {
        k = int32_t(VertexOfTextured.size());
        VertexOfTextured.push_back(uint32_t(vertex));
        TexCoords.push_back({corner.U, corner.V});
        older.push_back(firstOfVertex[vertex]);
        firstOfVertex[vertex] = k;
      }
      VertexOfCorner[at] = uint32_t(vertex);
      TexturedOfCorner[at] = uint32_t(k);
    }
  SameAsMesh = VertexOfTextured.size() == vertexCount;
  for (std::size_t k = 0; SameAsMesh && k < VertexOfTextured.size(); ++k)
    SameAsMesh = VertexOfTextured[k] == k;
}

// ----------------------------------------------------------------- TMeshList

TTexturedMesh* TMeshList::Add(const std::string& fileName) {
  auto mesh = std::make_unique<TTexturedMesh>();
  mesh->AdoptMesh(L3DManager.Get(fileName));
  FItems.push_back(std::move(mesh));
  return FItems.back().get();
}

// ---------------------------------------------------------------- TL3DPlayer

TL3DPlayer::~TL3DPlayer() { DropMotion(); }

void TL3DPlayer::DropMotion() {
  if (Motion) Motion->Release();
  Motion = nullptr;
}

std::size_t TL3DPlayer::OwnBytes() const {
  std::size_t bytes = sizeof *this + Animated.OwnBytes();
  for (int i = 0; i < Meshes.Count(); ++i) bytes += Meshes[i]->OwnBytes();
  return bytes;
}

void TL3DPlayer::SetSkeleton(const std::string& fileName) {
  TSkeleton* skeleton = S3DManager.Get(fileName);
  Animated.SetSkeleton(skeleton);
  // The animated skeleton counted its own reference; this one from Get is
  // given back, so the skeleton goes when its last character does.
  skeleton->Release();
}

void TL3DPlayer::SetMotion(const std::string& fileName) {
  if (Motion && Motion->FileName == fileName) return;
  TMotion* motion = M3DManager.Get(fileName);  // may fail: the old motion stays
  DropMotion();
  Motion = motion;
}

void TL3DPlayer::SetAnimation(uint8_t number) {
  Animation = number;
  if (number >= Motions.size()) return;
  TMotion* motion = Motions[number];
  if (!motion || motion == Motion) return;
  ++motion->RefCount;
  DropMotion();
  Motion = motion;
  Time = 0;
}

void TL3DPlayer::Advance(uint32_t elapsedMs) {
  if (!Animated.Skeleton() || Meshes.Count() == 0 || !Motion) return;
  const uint64_t duration = Motion->Duration;
  uint64_t time = uint64_t(Time) + elapsedMs;
  if (time > duration) {
    // The held animation stops on its last pose; the others loop.
    if (Animation == HeldAnimation || duration == 0)
      time = duration;
    else
      time %= duration;
  }
  Time = uint32_t(time);
  Phase = duration ? float(double(Time) / double(duration)) : 0;
  Animated.Pose(Motion, Phase);
  for (int i = 0; i < Meshes.Count(); ++i) {
    TTexturedMesh* mesh = Meshes[i];
    // A far mesh without a low level shows its full mesh all the same.
    mesh->SkinPositions(Animated, !Far || !mesh->LowDetail());
  }
}

// Lighting is never enabled, so the normals are not given to OpenGL.
void TL3DPlayer::Draw() {
  glEnableClientState(GL_VERTEX_ARRAY);
  for (int i = 0; i < Meshes.Count(); ++i) {
    Meshes[i]->SkinAgainWhereTaken(Animated, !Far || !Meshes[i]->LowDetail());
    Meshes[i]->Draw(Far);
  }
  glDisableClientState(GL_VERTEX_ARRAY);
}

void TL3DPlayer::DrawPlain() {
  glEnableClientState(GL_VERTEX_ARRAY);
  for (int i = 0; i < Meshes.Count(); ++i) {
    Meshes[i]->SkinAgainWhereTaken(Animated, !Far || !Meshes[i]->LowDetail());
    Meshes[i]->DrawPlain(Far);
  }
  glDisableClientState(GL_VERTEX_ARRAY);
}
