// The MD2 keyframe model format as bytes: the header, the checks that a
// file's header tells the truth about the file, and the decoding of one frame
// into world units.  Pure byte work without GL or files; the model loader
// (MD2) reads through it in place, the writer (MD2Writer) lays files out by it.
#pragma once

#include <cstdint>
#include <string>

namespace md2 {

// Sizes of the file's records, in bytes.
constexpr uint32_t HeaderBytes = 68;
constexpr uint32_t SkinNameBytes = 64;
constexpr uint32_t SkinCoordBytes = 4;
constexpr uint32_t TriangleBytes = 12;
constexpr uint32_t FrameHeaderBytes = 40;  // scale, translation, 16-byte name
constexpr uint32_t FrameNameBytes = 16;
constexpr uint32_t VertexBytes = 4;  // x, y, z, normal index

// What the writer stamps on a file; the reader does not look at them.
constexpr int32_t Magic = 'I' | ('D' << 8) | ('P' << 16) | ('2' << 24);
constexpr int32_t Version = 8;

// File coordinates are ten times world units, and a standard player model
// stands on its feet at file height -24, so it is lifted by this in world units.
constexpr double FileUnitsPerWorldUnit = 10.0;
constexpr double FeetLift = 2.4;

}  // namespace md2

// The header: seventeen little-endian 32-bit signed integers at offset 0.
//   0 magic, 4 version            (not read)
//   8 skin width, 12 skin height  in pixels of the skin picture
//  16 frame size                  bytes of one frame record
//  20 skin name count             (not read)
//  24 vertex count                per frame
//  28 skin coordinate count, 32 triangle count
//  36 drawing command count       (not read)
//  40 frame count
//  44 skin names offset           (not read)
//  48 skin coordinates offset, 52 triangles offset, 56 frames offset
//  60 drawing commands offset, 64 end offset  (not read)
// Skin coordinate (4 bytes): s, t as int16, in skin pixels.
// Triangle (12 bytes): three vertex indices, then three skin coordinate
// indices, all int16.
// Frame f at frames offset + f * frame size: scale (3 float32), translation
// (3 float32), a 16-byte name, then per vertex x, y, z as uint8 and a normal
// index (uint8, not read).
struct TMD2Header {
  int32_t Magic = 0;
  int32_t Version = 0;
  int32_t SkinWidth = 0;
  int32_t SkinHeight = 0;
  int32_t FrameSize = 0;
  int32_t SkinNameCount = 0;
  int32_t VertexCount = 0;
  int32_t SkinCoordCount = 0;
  int32_t TriangleCount = 0;
  int32_t CommandCount = 0;
  int32_t FrameCount = 0;
  int32_t SkinNamesOffset = 0;
  int32_t SkinCoordsOffset = 0;
  int32_t TrianglesOffset = 0;
  int32_t FramesOffset = 0;
  int32_t CommandsOffset = 0;
  int32_t EndOffset = 0;
};

struct TMD2SkinCoord {
  int16_t S = 0;
  int16_t T = 0;
};

struct TMD2Triangle {
  int16_t Vertex[3] = {0, 0, 0};
  int16_t SkinCoord[3] = {0, 0, 0};
};

// Reads the header of a file of Size bytes at Data and checks it against the
// file: positive skin sizes, non-negative counts, no vertices without a
// frame, frame records large enough for their vertices, every table and
// every frame inside the file, every triangle index naming an existing
// vertex and skin coordinate.  A table or frame outside the file raises
// "Out of bounds pointer !"; any other fault an Exception naming FileName
// and the fault.
TMD2Header ReadMD2Header(const uint8_t* data, uint32_t size, const std::string& fileName);

// Record Index of a table read in place (the file gives no alignment).
TMD2SkinCoord ReadMD2SkinCoord(const uint8_t* table, int32_t index);
TMD2Triangle ReadMD2Triangle(const uint8_t* table, int32_t index);

// Decodes the VertexCount vertices of the frame record at Frame into world
// units, three floats (X, Y, Z) per vertex at Out:
//   X = (x * scale0 + translation0) / 10
//   Y = (z * scale2 + translation2) / 10 + 2.4
//   Z = -(y * scale1 + translation1) / 10
// so that the file's up axis becomes +Y.
void DecodeMD2Frame(const uint8_t* frame, int32_t vertexCount, float* out);
