// MD2 models: the file layout and its checks, the writer, and the animation
// of a character read back through the model manager.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "models/MD2File.h"
#include "models/MD2Writer.h"
#include "platform/Errors.h"

namespace {

const uint8_t* Bytes(const std::string& file) { return reinterpret_cast<const uint8_t*>(file.data()); }

// A square of two triangles over four vertices, in two frames.
TMD2ModelData SquareModel() {
  TMD2ModelData model;
  model.SkinWidth = 64;
  model.SkinHeight = 32;
  model.SkinNames = {"knight.pcx"};
  model.SkinCoords = {{0, 0}, {63, 0}, {63, 31}, {0, 31}};
  model.Triangles = {{{0, 1, 2}, {0, 1, 2}}, {{0, 2, 3}, {0, 2, 3}}};
  for (int f = 0; f < 2; ++f) {
    TMD2FrameData frame;
    frame.Name = "stand" + std::to_string(f);
    frame.Vertices = {{0, 0, 0, 0}, {10, 0, 0, 0}, {10, 10, 0, 0}, {0, 10, uint8_t(f), 0}};
    model.Frames.push_back(frame);
  }
  return model;
}

std::string RejectionOf(const std::string& file) {
  try {
    ReadMD2Header(Bytes(file), uint32_t(file.size()), "data\\bad.md2");
  } catch (const Exception& error) {
    return error.Message();
  }
  return "";
}

}  // namespace

// A frame's bytes become world units with the file's up axis as +Y and its
// second axis as -Z, lifted so that a player model stands on the ground.
TEST(MD2File, DecodeTurnsFileAxesIntoWorldUnits) {
  TMD2ModelData model = SquareModel();
  model.Frames[0].Scale = {1, 1, 1};
  model.Frames[0].Translation = {10, 20, 30};
  model.Frames[0].Vertices[0] = {0, 0, 0, 0};
  model.Frames[0].Scale = {1, 1, 1};
  model.Frames[1].Scale = {0.5f, 2, 1};
  model.Frames[1].Translation = {10, 20, 30};
  model.Frames[1].Vertices[0] = {2, 3, 4, 0};
  std::string file = WriteMD2(model);
  TMD2Header header = ReadMD2Header(Bytes(file), uint32_t(file.size()), "square.md2");

  float out[4 * 3];
  DecodeMD2Frame(Bytes(file) + header.FramesOffset, header.VertexCount, out);
  EXPECT_FLOAT_EQ(out[0], 1.0f);
  EXPECT_FLOAT_EQ(out[1], 5.4f);
  EXPECT_FLOAT_EQ(out[2], -2.0f);
  EXPECT_FLOAT_EQ(out[3], 2.0f);  // vertex (10, 0, 0): X = (10 + 10) / 10
  DecodeMD2Frame(Bytes(file) + header.FramesOffset + header.FrameSize, header.VertexCount, out);
  EXPECT_FLOAT_EQ(out[0], 1.1f);   // (2 * 0.5 + 10) / 10
  EXPECT_FLOAT_EQ(out[1], 5.8f);   // (4 * 1 + 30) / 10 + 2.4
  EXPECT_FLOAT_EQ(out[2], -2.6f);  // -(3 * 2 + 20) / 10
}

// What the writer lays out, the reader finds again: counts, tables read in
// place, and points given in world units back within one quantization step.
TEST(MD2File, WrittenModelReadsBack) {
  TMD2ModelData model = SquareModel();
  std::vector<std::array<float, 3>> points;
  const float world[4][3] = {{-1, 0, 0.5f}, {1, 0, 0.5f}, {1, 4.8f, -0.5f}, {-1, 4.8f, -0.5f}};
  for (const auto& p : world) points.push_back(MD2PointFromWorld(p[0], p[1], p[2]));
  model.Frames[1] = MakeMD2Frame("a-name-longer-than-sixteen", points);
  std::string file = WriteMD2(model);

  TMD2Header header = ReadMD2Header(Bytes(file), uint32_t(file.size()), "square.md2");
  EXPECT_EQ(header.Magic, md2::Magic);
  EXPECT_EQ(header.SkinWidth, 64);
  EXPECT_EQ(header.SkinHeight, 32);
  EXPECT_EQ(header.VertexCount, 4);
  EXPECT_EQ(header.SkinCoordCount, 4);
  EXPECT_EQ(header.TriangleCount, 2);
  EXPECT_EQ(header.FrameCount, 2);
  EXPECT_EQ(header.FrameSize, 40 + 4 * 4);
  EXPECT_EQ(header.EndOffset, int32_t(file.size()));
  EXPECT_EQ(header.SkinCoordsOffset, 68 + 64);

  TMD2Triangle second = ReadMD2Triangle(Bytes(file) + header.TrianglesOffset, 1);
  EXPECT_EQ(second.Vertex[1], 2);
  EXPECT_EQ(second.SkinCoord[2], 3);
  TMD2SkinCoord corner = ReadMD2SkinCoord(Bytes(file) + header.SkinCoordsOffset, 2);
  EXPECT_EQ(corner.S, 63);
  EXPECT_EQ(corner.T, 31);

  const uint8_t* frame = Bytes(file) + header.FramesOffset + header.FrameSize;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(frame) + 24), "a-name-longer-t");
  float out[4 * 3];
  DecodeMD2Frame(frame, header.VertexCount, out);
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(out[3 * i + k], world[i][k], 0.5 * 4.8 / 255) << i << "," << k;
}

// A header that lies about the file is refused before anything points into
// it, and the refusal names the file: the reader must never be led outside.
TEST(MD2File, TruncatedOrLyingHeaderIsRejected) {
  const std::string good = WriteMD2(SquareModel());
  TMD2Header header = ReadMD2Header(Bytes(good), uint32_t(good.size()), "square.md2");
  EXPECT_EQ(RejectionOf(good), "");

  struct TCase {
    const char* What;
    uint32_t Offset;  // header field patched, or 0 to cut the file
    int32_t Value;
  };
  const TCase cases[] = {
      {"header cut short", 0, 40},
      {"last frame cut by one byte", 0, int32_t(good.size()) - 1},
      {"zero skin width", 8, 0},
      {"negative skin height", 12, -64},
      {"frame size too small for its vertices", 16, 40 + 4 * 4 - 1},
      {"more vertices than the frames hold", 24, 5},
      {"negative vertex count", 24, -1},
      {"more skin coordinates than the file holds", 28, 1 << 30},
      {"negative triangle count", 32, -2},
      {"one frame too many", 40, 3},
      {"frame count that wraps 32 bits", 40, 0x7FFFFFFF},
      {"triangles offset beyond the file", 52, int32_t(good.size()) + 1},
      {"negative frames offset", 56, -4},
      {"skin coordinates offset leaving the table half outside", 48, int32_t(good.size()) - 8},
  };
  for (const TCase& c : cases) {
    std::string bad = good;
    if (c.Offset == 0)
      bad.resize(std::size_t(c.Value));
    else
      PatchMD2Int32(bad, c.Offset, c.Value);
    std::string message = RejectionOf(bad);
    EXPECT_NE(message, "") << c.What;
    EXPECT_NE(message.find("data\\bad.md2"), std::string::npos) << c.What << ": " << message;
  }

  // Triangle indices outside the vertices or the skin coordinates.
  const int16_t badIndices[] = {4, -1, 32767};
  for (int16_t index : badIndices) {
    for (uint32_t field : {0u, 3u}) {  // a vertex index, a skin coordinate index
      std::string bad = good;
      std::memcpy(bad.data() + header.TrianglesOffset + md2::TriangleBytes + 2 * (field + 1), &index, 2);
      EXPECT_NE(RejectionOf(bad).find("triangle 1"), std::string::npos) << index << " in field " << field;
    }
  }
}

TEST(MD2File, WriterRefusesFramesOfDifferentSizes) {
  TMD2ModelData model = SquareModel();
  model.Frames[1].Vertices.pop_back();
  EXPECT_THROW(WriteMD2(model), Exception);
}
