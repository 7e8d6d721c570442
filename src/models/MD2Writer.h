// Lays out MD2 files from a plain description of a model.  The data
// generator makes the knight and its weapon with it, and the tests make
// files with it, sound or deliberately broken, to read back.  The layout is
// that of MD2File.h: header, skin names, skin coordinates, triangles, frames,
// drawing commands, in this order.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "models/MD2File.h"

struct TMD2Vertex {
  uint8_t X = 0, Y = 0, Z = 0;
  uint8_t Normal = 0;
};

struct TMD2FrameData {
  std::array<float, 3> Scale{1, 1, 1};
  std::array<float, 3> Translation{0, 0, 0};
  std::string Name;  // cut to 15 characters
  std::vector<TMD2Vertex> Vertices;
};

struct TMD2ModelData {
  int32_t SkinWidth = 0;
  int32_t SkinHeight = 0;
  std::vector<std::string> SkinNames;  // each cut to 63 characters
  std::vector<TMD2SkinCoord> SkinCoords;
  std::vector<TMD2Triangle> Triangles;
  std::vector<TMD2FrameData> Frames;  // all with the same number of vertices
  std::vector<int32_t> Commands;
};

// The whole file as bytes.  Frames that differ in vertex count raise an
// Exception.
std::string WriteMD2(const TMD2ModelData& model);

// Writes those bytes to the file FileName, a name as the system writes it
// ("data\tris.md2"); "Cannot create file <name>" when it cannot be made.
void SaveMD2(const TMD2ModelData& model, const std::string& fileName);

// One frame holding Points, given in file coordinates: scale and translation
// span the points' bounding box so that each coordinate takes the bytes 0 to
// 255, and each point is rounded to the nearest step.
TMD2FrameData MakeMD2Frame(const std::string& name, const std::vector<std::array<float, 3>>& points);

// The file coordinates of a point given in world units: the inverse of the
// decoding in MD2File.h.
std::array<float, 3> MD2PointFromWorld(float x, float y, float z);

// Overwrites the 32-bit field at byte Offset of a written file (tests use it
// to make headers lie).
void PatchMD2Int32(std::string& bytes, uint32_t offset, int32_t value);
