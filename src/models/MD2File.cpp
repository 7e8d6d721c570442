#include "models/MD2File.h"

#include <bit>
#include <cstring>

#include "platform/Errors.h"

static_assert(std::endian::native == std::endian::little, "MD2 files are read in place as little-endian");

namespace {

int16_t ReadInt16(const uint8_t* at) {
  int16_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

float ReadFloat(const uint8_t* at) {
  float value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

[[noreturn]] void Reject(const std::string& fileName, const std::string& fault) {
  throw Exception("Invalid MD2 file " + fileName + ": " + fault);
}

// A table or frame outside the file is a pointer beyond its end, and is
// reported in the words of the file mapping that would have refused it.
[[noreturn]] void OutOfBounds() { throw Exception("Out of bounds pointer !"); }

// Counts and sizes must not be negative, whatever the file says.
void CheckNotNegative(const std::string& fileName, const char* what, int32_t value) {
  if (value < 0) Reject(fileName, std::string(what) + " is negative (" + std::to_string(value) + ")");
}

// A table of Count records of RecordBytes at Offset must end inside the file.
// The arithmetic is done in 64 bits so that no lying count can wrap it.
void CheckTable(const std::string& fileName, const char* what, int32_t offset, int32_t count,
                int64_t recordBytes, uint32_t size) {
  CheckNotNegative(fileName, (std::string(what) + " count").c_str(), count);
  if (offset < 0 || int64_t{offset} + int64_t{count} * recordBytes > int64_t{size}) OutOfBounds();
}

void CheckTriangles(const std::string& fileName, const TMD2Header& header, const uint8_t* data) {
  const uint8_t* table = data + header.TrianglesOffset;
  for (int32_t i = 0; i < header.TriangleCount; ++i) {
    TMD2Triangle triangle = ReadMD2Triangle(table, i);
    for (int corner = 0; corner < 3; ++corner) {
      if (triangle.Vertex[corner] < 0 || triangle.Vertex[corner] >= header.VertexCount)
        Reject(fileName, "triangle " + std::to_string(i) + " names vertex " +
                             std::to_string(triangle.Vertex[corner]) + " of " +
                             std::to_string(header.VertexCount));
      if (triangle.SkinCoord[corner] < 0 || triangle.SkinCoord[corner] >= header.SkinCoordCount)
        Reject(fileName, "triangle " + std::to_string(i) + " names skin coordinate " +
                             std::to_string(triangle.SkinCoord[corner]) + " of " +
                             std::to_string(header.SkinCoordCount));
    }
  }
}

}  // namespace

TMD2Header ReadMD2Header(const uint8_t* data, uint32_t size, const std::string& fileName) {
  if (size < md2::HeaderBytes)
    Reject(fileName, "shorter (" + std::to_string(size) + " bytes) than its " +
                         std::to_string(md2::HeaderBytes) + "-byte header");
  static_assert(sizeof(TMD2Header) == md2::HeaderBytes, "the header is copied as it lies in the file");
  TMD2Header header;
  std::memcpy(&header, data, md2::HeaderBytes);

  if (header.SkinWidth <= 0 || header.SkinHeight <= 0)
    Reject(fileName, "skin size " + std::to_string(header.SkinWidth) + " x " +
                         std::to_string(header.SkinHeight) + " is not positive");
  CheckNotNegative(fileName, "vertex count", header.VertexCount);
  // A model sizes its vertex arrays by this count, so a count that no frame
  // record backs would let a few bytes ask for gigabytes.
  if (header.VertexCount > 0 && header.FrameCount == 0)
    Reject(fileName, std::to_string(header.VertexCount) + " vertices without any frame");
  int64_t frameBytes = md2::FrameHeaderBytes + int64_t{md2::VertexBytes} * header.VertexCount;
  if (header.FrameCount > 0 && header.FrameSize < frameBytes)
    Reject(fileName, "frame size " + std::to_string(header.FrameSize) + " is below the " +
                         std::to_string(frameBytes) + " bytes its " + std::to_string(header.VertexCount) +
                         " vertices need");
  CheckTable(fileName, "skin coordinates", header.SkinCoordsOffset, header.SkinCoordCount,
             md2::SkinCoordBytes, size);
  CheckTable(fileName, "triangles", header.TrianglesOffset, header.TriangleCount, md2::TriangleBytes, size);
  CheckTable(fileName, "frames", header.FramesOffset, header.FrameCount, header.FrameSize, size);
  CheckTriangles(fileName, header, data);
  return header;
}

TMD2SkinCoord ReadMD2SkinCoord(const uint8_t* table, int32_t index) {
  const uint8_t* at = table + std::size_t(index) * md2::SkinCoordBytes;
  return TMD2SkinCoord{ReadInt16(at), ReadInt16(at + 2)};
}

TMD2Triangle ReadMD2Triangle(const uint8_t* table, int32_t index) {
  const uint8_t* at = table + std::size_t(index) * md2::TriangleBytes;
  TMD2Triangle triangle;
  for (int k = 0; k < 3; ++k) {
    triangle.Vertex[k] = ReadInt16(at + 2 * k);
    triangle.SkinCoord[k] = ReadInt16(at + 6 + 2 * k);
  }
  return triangle;
}

void DecodeMD2Frame(const uint8_t* frame, int32_t vertexCount, float* out) {
  double scale[3], translation[3];
  for (int k = 0; k < 3; ++k) {
    scale[k] = ReadFloat(frame + 4 * k);
    translation[k] = ReadFloat(frame + 12 + 4 * k);
  }
  const uint8_t* vertex = frame + md2::FrameHeaderBytes;
  for (int32_t i = 0; i < vertexCount; ++i, vertex += md2::VertexBytes, out += 3) {
    out[0] = float((vertex[0] * scale[0] + translation[0]) / md2::FileUnitsPerWorldUnit);
    out[1] = float((vertex[2] * scale[2] + translation[2]) / md2::FileUnitsPerWorldUnit + md2::FeetLift);
    out[2] = float(-(vertex[1] * scale[1] + translation[1]) / md2::FileUnitsPerWorldUnit);
  }
}
