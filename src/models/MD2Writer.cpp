#include "models/MD2Writer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/Errors.h"
#include "platform/Files.h"

namespace {

constexpr float ByteSteps = 255.0f;

void PutBytes(std::string& out, const void* data, std::size_t count) {
  out.append(static_cast<const char*>(data), count);
}

void PutInt16(std::string& out, int16_t value) { PutBytes(out, &value, sizeof value); }
void PutInt32(std::string& out, int32_t value) { PutBytes(out, &value, sizeof value); }
void PutFloat(std::string& out, float value) { PutBytes(out, &value, sizeof value); }

// A name in a fixed field, zero-padded and always zero-terminated.
void PutName(std::string& out, const std::string& name, uint32_t fieldBytes) {
  std::string field = name.substr(0, fieldBytes - 1);
  field.resize(fieldBytes, '\0');
  out += field;
}

int32_t VertexCountOf(const TMD2ModelData& model) {
  if (model.Frames.empty()) return 0;
  std::size_t count = model.Frames.front().Vertices.size();
  for (const TMD2FrameData& frame : model.Frames)
    if (frame.Vertices.size() != count) throw Exception("MD2 frames differ in vertex count");
  return int32_t(count);
}

void PutFrame(std::string& out, const TMD2FrameData& frame) {
  for (float value : frame.Scale) PutFloat(out, value);
  for (float value : frame.Translation) PutFloat(out, value);
  PutName(out, frame.Name, md2::FrameNameBytes);
  for (const TMD2Vertex& vertex : frame.Vertices) {
    const uint8_t bytes[md2::VertexBytes] = {vertex.X, vertex.Y, vertex.Z, vertex.Normal};
    PutBytes(out, bytes, sizeof bytes);
  }
}

}  // namespace

std::string WriteMD2(const TMD2ModelData& model) {
  TMD2Header header;
  header.Magic = md2::Magic;
  header.Version = md2::Version;
  header.SkinWidth = model.SkinWidth;
  header.SkinHeight = model.SkinHeight;
  header.VertexCount = VertexCountOf(model);
  header.FrameSize = int32_t(md2::FrameHeaderBytes + md2::VertexBytes * header.VertexCount);
  header.SkinNameCount = int32_t(model.SkinNames.size());
  header.SkinCoordCount = int32_t(model.SkinCoords.size());
  header.TriangleCount = int32_t(model.Triangles.size());
  header.CommandCount = int32_t(model.Commands.size());
  header.FrameCount = int32_t(model.Frames.size());
  header.SkinNamesOffset = int32_t(md2::HeaderBytes);
  header.SkinCoordsOffset = header.SkinNamesOffset + header.SkinNameCount * int32_t(md2::SkinNameBytes);
  header.TrianglesOffset = header.SkinCoordsOffset + header.SkinCoordCount * int32_t(md2::SkinCoordBytes);
  header.FramesOffset = header.TrianglesOffset + header.TriangleCount * int32_t(md2::TriangleBytes);
  header.CommandsOffset = header.FramesOffset + header.FrameCount * header.FrameSize;
  header.EndOffset = header.CommandsOffset + header.CommandCount * 4;

  std::string out;
  out.reserve(std::size_t(header.EndOffset));
  PutBytes(out, &header, sizeof header);
  for (const std::string& name : model.SkinNames) PutName(out, name, md2::SkinNameBytes);
  for (const TMD2SkinCoord& coord : model.SkinCoords) {
    PutInt16(out, coord.S);
    PutInt16(out, coord.T);
  }
  for (const TMD2Triangle& triangle : model.Triangles) {
    for (int16_t index : triangle.Vertex) PutInt16(out, index);
    for (int16_t index : triangle.SkinCoord) PutInt16(out, index);
  }
  for (const TMD2FrameData& frame : model.Frames) PutFrame(out, frame);
  for (int32_t command : model.Commands) PutInt32(out, command);
  return out;
}

void SaveMD2(const TMD2ModelData& model, const std::string& fileName) {
  std::string bytes = WriteMD2(model);
  std::ofstream file = OpenFileWrite(fileName);
  file.write(bytes.data(), std::streamsize(bytes.size()));
  file.close();
  if (!file) throw Exception("Cannot write file " + fileName);
}

TMD2FrameData MakeMD2Frame(const std::string& name, const std::vector<std::array<float, 3>>& points) {
  TMD2FrameData frame;
  frame.Name = name;
  if (points.empty()) return frame;
  for (int k = 0; k < 3; ++k) {
    auto [low, high] = std::minmax_element(points.begin(), points.end(),
                                           [k](const auto& a, const auto& b) { return a[k] < b[k]; });
    float span = (*high)[k] - (*low)[k];
    frame.Translation[k] = (*low)[k];
    frame.Scale[k] = span > 0 ? span / ByteSteps : 1.0f;
  }
  for (const auto& point : points) {
    TMD2Vertex vertex;
    uint8_t* bytes[3] = {&vertex.X, &vertex.Y, &vertex.Z};
    for (int k = 0; k < 3; ++k) {
      float step = std::nearbyint((point[k] - frame.Translation[k]) / frame.Scale[k]);
      *bytes[k] = uint8_t(std::clamp(step, 0.0f, ByteSteps));
    }
    frame.Vertices.push_back(vertex);
  }
  return frame;
}

std::array<float, 3> MD2PointFromWorld(float x, float y, float z) {
  return {float(x * md2::FileUnitsPerWorldUnit), float(-z * md2::FileUnitsPerWorldUnit),
          float((y - md2::FeetLift) * md2::FileUnitsPerWorldUnit)};
}

void PatchMD2Int32(std::string& bytes, uint32_t offset, int32_t value) {
  if (std::size_t(offset) + sizeof value > bytes.size()) throw Exception("MD2 patch beyond the file");
  std::memcpy(bytes.data() + offset, &value, sizeof value);
}
