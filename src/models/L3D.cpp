#include "models/L3D.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <fstream>

#include "platform/Errors.h"
#include "platform/Files.h"

// The three files share one layout: little-endian, packed, 32-bit integers
// and float32, names as 20-byte short strings (length byte, then up to 19
// characters).  Every file opens with Magic "QELT", a uint32 Version and a
// uint32 HeaderSize, checked in that order; the tables follow the header
// directly, each right after the previous one, count x record size bytes.
//
//   S3D, version 101, header 16: BoneCount; then the bones, 52 bytes each:
//     Name (20), Parent int32 (negative: root), Position 3 x float32,
//     Angle float32 (degrees), Axis 3 x float32.
//   L3D, version 103, header 40: VertexCount, TriangleCount, Table12Count,
//     GroupCount, Table24Count, BindingCount, WeightCount; then the tables in
//     that order: vertices (24: position, normal), triangles (36: three
//     corners of vertex int32, U, V float32), 12-byte records, groups (8:
//     First, Last int32 triangles), 24-byte records, bindings (28: BoneName,
//     First, Last int32 weights), weights (8: Vertex int32, Weight float32).
//   M3D, version 101, header 28: TrackCount, RotationKeyCount,
//     PositionKeyCount, Duration (ms); then tracks (36: BoneName,
//     FirstRotation, LastRotation, FirstPosition, LastPosition int32),
//     rotation keys (20: Time, X, Y, Z, W float32) and position keys (16:
//     Time, X, Y, Z float32).
//
// Ranges are inclusive and empty when First > Last.  Before anything is used
// the loader checks that the tables fit in the file, that every name is at
// most 19 characters, that every index and every non-empty range lies in its
// table, and that parent links end at a root.

static_assert(sizeof(TShortName) == 20 && sizeof(TS3DHeader) == 16 && sizeof(TS3DBone) == 52);
static_assert(sizeof(TL3DHeader) == 40 && sizeof(TL3DVertex) == 24 && sizeof(TL3DTriangle) == 36);
static_assert(sizeof(TL3DRecord12) == 12 && sizeof(TL3DGroup) == 8 && sizeof(TL3DRecord24) == 24);
static_assert(sizeof(TL3DBinding) == 28 && sizeof(TL3DWeight) == 8);
static_assert(sizeof(TM3DHeader) == 28 && sizeof(TM3DTrack) == 36);
static_assert(sizeof(TM3DRotationKey) == 20 && sizeof(TM3DPositionKey) == 16);
static_assert(offsetof(TS3DBone, Parent) == 20 && offsetof(TS3DBone, Axis) == 40);
static_assert(std::is_trivially_copyable_v<TS3DBone> && std::is_trivially_copyable_v<TL3DVertex>);

// Constant-initialised, so that they exist before any other file's start-up code runs.
std::string LowDetailFile(const std::string& fileName) {
  const std::size_t slash = fileName.find_last_of("\\/");
  const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
  return fileName.substr(0, name) + LowDetailFolderName + "\\" + fileName.substr(name);
}

constinit TS3DManager S3DManager;
constinit TL3DManager L3DManager;
constinit TM3DManager M3DManager;

TShortName TShortName::From(std::string_view name) {
  if (name.size() > sizeof(Chars)) throw Exception("name too long: " + std::string(name));
  TShortName result{};
  result.Length = static_cast<uint8_t>(name.size());
  std::memcpy(result.Chars, name.data(), name.size());
  return result;
}

// Instances and managers

TInstance::~TInstance() {
  if (FManager) FManager->Remove(this);
}

void TInstance::Release() {
  if (RefCount > 0 && FManager)
    --RefCount;
  else
    delete this;
}

TManager::~TManager() { Clear(); }

TInstance* TManager::Find(const std::string& fileName) const {
  for (TInstance* instance : FItems)
    if (instance->FileName == fileName) return instance;
  return nullptr;
}

void TManager::Clear() {
  for (TInstance* instance : FItems) instance->FManager = nullptr;
  FItems.clear();
}

void TManager::Add(TInstance* instance) {
  instance->FManager = this;
  FItems.push_back(instance);
}

void TManager::Remove(TInstance* instance) {
  auto it = std::find(FItems.begin(), FItems.end(), instance);
  if (it != FItems.end()) FItems.erase(it);
}

// Reading

namespace {

// An open model file: the name for messages and the bytes it still holds.
class TModelReader {
 public:
  explicit TModelReader(const std::string& fileName) : FFileName(fileName), FStream(OpenFileRead(fileName)) {}

  template <class Header>
  Header ReadHeader(const char* magicMessage, const std::string& versionMessage, uint32_t version) {
    Header header;
    ReadBuffer(FStream, &header, sizeof header);
    if (std::memcmp(header.Magic, QELTMagic, sizeof QELTMagic) != 0) throw Exception(magicMessage);
    if (header.Version != version)
      throw Exception(versionMessage.empty() ? VersionText(header.Version, version) : versionMessage);
    if (header.HeaderSize != sizeof(Header)) throw Exception("unknown file format");
    FLeft = BytesLeft(FStream);
    return header;
  }

  // The S3D and M3D version message: the file's version, unsigned, and the
  // expected one.
  static std::string VersionText(uint32_t found, uint32_t expected) {
    return "unsupported version (" + std::to_string(found) + "/" + std::to_string(expected) + ")";
  }

  // Makes sure that tables of these counts and record sizes follow.
  void Expect(std::initializer_list<std::pair<uint32_t, std::size_t>> tables) const {
    uint64_t bytes = 0;
    for (auto [count, size] : tables) bytes += static_cast<uint64_t>(count) * size;
    if (bytes > FLeft) throw Exception("Stream read error");
  }

  template <class Record>
  void ReadTable(std::vector<Record>& table, uint32_t count) {
    table.resize(count);
    ReadBuffer(FStream, table.data(), static_cast<std::size_t>(count) * sizeof(Record));
  }

  [[noreturn]] void Malformed(const std::string& what) const { throw Exception(FFileName + ": " + what); }

  void CheckName(const TShortName& name, const char* record, std::size_t index) const {
    if (name.Length > sizeof name.Chars)
      Malformed(std::string(record) + " " + std::to_string(index) + ": name of " +
                std::to_string(name.Length) + " characters (19 at most)");
  }

  // "<record> <index>: <what> <value> outside the <count> <table>"
  void CheckIndex(int32_t value, std::size_t count, const char* record, std::size_t index, const char* what,
                  const char* table) const {
    if (value < 0 || static_cast<std::size_t>(value) >= count)
      Malformed(std::string(record) + " " + std::to_string(index) + ": " + what + " " +
                std::to_string(value) + " outside the " + std::to_string(count) + " " + table);
  }

  // A non-empty inclusive range lies in its table of count records.
  void CheckRange(int32_t first, int32_t last, std::size_t count, const char* record, std::size_t index,
                  const char* table) const {
    if (first > last) return;
    if (first < 0 || static_cast<std::size_t>(last) >= count)
      Malformed(std::string(record) + " " + std::to_string(index) + ": " + table + " " +
                std::to_string(first) + ".." + std::to_string(last) + " outside the " +
                std::to_string(count) + " " + table);
  }

 private:
  std::string FFileName;
  std::ifstream FStream;
  uint64_t FLeft = 0;
};

// Every parent is a root mark or a bone, and following parents from any bone
// ends at a root.  Each bone is walked over once: a chain stops at a root or
// at a bone already known to reach one, and meeting a bone of the chain being
// walked means a cycle.
void CheckParents(const TModelReader& reader, const std::vector<TS3DBone>& bones) {
  for (std::size_t i = 0; i < bones.size(); ++i)
    if (bones[i].Parent >= 0) reader.CheckIndex(bones[i].Parent, bones.size(), "bone", i, "parent", "bones");
  enum : uint8_t { Unknown, OnChain, Rooted };
  std::vector<uint8_t> state(bones.size(), Unknown);
  std::vector<std::size_t> chain;
  for (std::size_t i = 0; i < bones.size(); ++i) {
    chain.clear();
    for (std::size_t b = i; state[b] != Rooted;) {
      if (state[b] == OnChain) reader.Malformed("bone " + std::to_string(b) + ": parent links form a cycle");
      state[b] = OnChain;
      chain.push_back(b);
      if (bones[b].Parent < 0) break;
      b = static_cast<std::size_t>(bones[b].Parent);
    }
    for (std::size_t c : chain) state[c] = Rooted;
  }
}

}  // namespace

void TSkeleton::Load(const std::string& fileName) {
  FileName = fileName;
  TModelReader reader(fileName);
  auto header = reader.ReadHeader<TS3DHeader>("not an S3D file", "", S3DVersion);
  static_cast<TS3DHeader&>(*this) = header;
  reader.Expect({{BoneCount, sizeof(TS3DBone)}});
  reader.ReadTable(Bones, BoneCount);
  for (std::size_t i = 0; i < Bones.size(); ++i) reader.CheckName(Bones[i].Name, "bone", i);
  CheckParents(reader, Bones);
}

int TSkeleton::IndexOfBone(std::string_view name) const {
  for (std::size_t i = Bones.size(); i-- > 0;)
    if (Bones[i].Name.View() == name) return static_cast<int>(i);
  return -1;
}

void TMesh::Load(const std::string& fileName) {
  FileName = fileName;
  TModelReader reader(fileName);
  auto header = reader.ReadHeader<TL3DHeader>("not an ZUL3D file", "unsupported version", L3DVersion);
  static_cast<TL3DHeader&>(*this) = header;
  reader.Expect({{VertexCount, sizeof(TL3DVertex)},
                 {TriangleCount, sizeof(TL3DTriangle)},
                 {Table12Count, sizeof(TL3DRecord12)},
                 {GroupCount, sizeof(TL3DGroup)},
                 {Table24Count, sizeof(TL3DRecord24)},
                 {BindingCount, sizeof(TL3DBinding)},
                 {WeightCount, sizeof(TL3DWeight)}});
  reader.ReadTable(Vertices, VertexCount);
  reader.ReadTable(Triangles, TriangleCount);
  reader.ReadTable(Table12, Table12Count);
  reader.ReadTable(Groups, GroupCount);
  reader.ReadTable(Table24, Table24Count);
  reader.ReadTable(Bindings, BindingCount);
  reader.ReadTable(Weights, WeightCount);

  for (std::size_t i = 0; i < Triangles.size(); ++i)
    for (const TL3DCorner& corner : Triangles[i].Corners)
      reader.CheckIndex(corner.Vertex, Vertices.size(), "triangle", i, "vertex", "vertices");
  for (std::size_t i = 0; i < Groups.size(); ++i)
    reader.CheckRange(Groups[i].First, Groups[i].Last, Triangles.size(), "group", i, "triangles");
  for (std::size_t i = 0; i < Bindings.size(); ++i) {
    reader.CheckName(Bindings[i].BoneName, "binding", i);
    reader.CheckRange(Bindings[i].First, Bindings[i].Last, Weights.size(), "binding", i, "weights");
  }
  for (std::size_t i = 0; i < Weights.size(); ++i)
    reader.CheckIndex(Weights[i].Vertex, Vertices.size(), "weight", i, "vertex", "vertices");
}

void TMotion::Load(const std::string& fileName) {
  FileName = fileName;
  TModelReader reader(fileName);
  auto header = reader.ReadHeader<TM3DHeader>("not an M3D file", "", M3DVersion);
  static_cast<TM3DHeader&>(*this) = header;
  reader.Expect({{TrackCount, sizeof(TM3DTrack)},
                 {RotationKeyCount, sizeof(TM3DRotationKey)},
                 {PositionKeyCount, sizeof(TM3DPositionKey)}});
  reader.ReadTable(Tracks, TrackCount);
  reader.ReadTable(RotationKeys, RotationKeyCount);
  reader.ReadTable(PositionKeys, PositionKeyCount);
  for (std::size_t i = 0; i < Tracks.size(); ++i) {
    const TM3DTrack& track = Tracks[i];
    reader.CheckName(track.BoneName, "track", i);
    reader.CheckRange(track.FirstRotation, track.LastRotation, RotationKeys.size(), "track", i,
                      "rotation keys");
    reader.CheckRange(track.FirstPosition, track.LastPosition, PositionKeys.size(), "track", i,
                      "position keys");
  }
}

int TMotion::FindTrack(std::string_view name) const {
  if (Tracks.empty()) return -1;
  for (std::size_t i = Tracks.size() - 1; i >= 1; --i)
    if (Tracks[i].BoneName.View() == name) return static_cast<int>(i);
  return 0;
}
