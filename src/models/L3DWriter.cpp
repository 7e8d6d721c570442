#include "models/L3DWriter.h"

#include <cstring>
#include <fstream>
#include <functional>
#include <vector>

#include "platform/Errors.h"
#include "platform/Files.h"

namespace {

template <class Header>
Header MakeHeader(uint32_t version) {
  Header header{};
  std::memcpy(header.Magic, QELTMagic, sizeof QELTMagic);
  header.Version = version;
  header.HeaderSize = sizeof(Header);
  return header;
}

uint32_t CountOf(std::size_t size) { return static_cast<uint32_t>(size); }

template <class Record>
void WriteRecords(std::ostream& stream, const Record* records, std::size_t count) {
  stream.write(reinterpret_cast<const char*>(records), static_cast<std::streamsize>(count * sizeof(Record)));
}

template <class Record>
void WriteTable(std::ostream& stream, const std::vector<Record>& table) {
  WriteRecords(stream, table.data(), table.size());
}

void SaveWith(const std::string& fileName, const std::function<void(std::ostream&)>& write) {
  std::ofstream stream = OpenFileWrite(fileName);
  write(stream);
  stream.flush();
  if (!stream) throw Exception("Cannot create file " + fileName);
}

}  // namespace

void WriteS3D(const TSkeleton& skeleton, std::ostream& stream) {
  auto header = MakeHeader<TS3DHeader>(S3DVersion);
  header.BoneCount = CountOf(skeleton.Bones.size());
  WriteRecords(stream, &header, 1);
  WriteTable(stream, skeleton.Bones);
}

void WriteL3D(const TMesh& mesh, std::ostream& stream) {
  auto header = MakeHeader<TL3DHeader>(L3DVersion);
  header.VertexCount = CountOf(mesh.Vertices.size());
  header.TriangleCount = CountOf(mesh.Triangles.size());
  header.Table12Count = CountOf(mesh.Table12.size());
  header.GroupCount = CountOf(mesh.Groups.size());
  header.Table24Count = CountOf(mesh.Table24.size());
  header.BindingCount = CountOf(mesh.Bindings.size());
  header.WeightCount = CountOf(mesh.Weights.size());
  WriteRecords(stream, &header, 1);
  WriteTable(stream, mesh.Vertices);
  WriteTable(stream, mesh.Triangles);
  WriteTable(stream, mesh.Table12);
  WriteTable(stream, mesh.Groups);
  WriteTable(stream, mesh.Table24);
  WriteTable(stream, mesh.Bindings);
  WriteTable(stream, mesh.Weights);
}

void WriteM3D(const TMotion& motion, std::ostream& stream) {
  auto header = MakeHeader<TM3DHeader>(M3DVersion);
  header.TrackCount = CountOf(motion.Tracks.size());
  header.RotationKeyCount = CountOf(motion.RotationKeys.size());
  header.PositionKeyCount = CountOf(motion.PositionKeys.size());
  header.Duration = motion.Duration;
  WriteRecords(stream, &header, 1);
  WriteTable(stream, motion.Tracks);
  WriteTable(stream, motion.RotationKeys);
  WriteTable(stream, motion.PositionKeys);
}

void SaveS3D(const TSkeleton& skeleton, const std::string& fileName) {
  SaveWith(fileName, [&](std::ostream& s) { WriteS3D(skeleton, s); });
}

void SaveL3D(const TMesh& mesh, const std::string& fileName) {
  SaveWith(fileName, [&](std::ostream& s) { WriteL3D(mesh, s); });
}

void SaveM3D(const TMotion& motion, const std::string& fileName) {
  SaveWith(fileName, [&](std::ostream& s) { WriteM3D(motion, s); });
}
