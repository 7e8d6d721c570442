// The MD2 loader: any file either fails with an Exception or passes the
// header checks, after which every table and frame the model reads in place
// lies inside the file (the sanitizers see each read of the mapping's
// pages), and a model made from it blends and trails without leaving its
// vertices.  The model data goes back to its manager after every input.
#include <vector>

#include "FuzzSupport.h"
#include "models/MD2.h"
#include "platform/Errors.h"

namespace {

// The header's promises, checked on the bytes in memory, where the
// sanitizers see a read beyond the input.
void CheckInPlace(const uint8_t* data, std::size_t size) {
  TMD2Header header;
  try {
    header = ReadMD2Header(data, static_cast<uint32_t>(size), "fuzz.md2");
  } catch (const Exception&) {
    return;
  }
  for (int32_t i = 0; i < header.TriangleCount; ++i) {
    TMD2Triangle triangle = ReadMD2Triangle(data + header.TrianglesOffset, i);
    for (int corner = 0; corner < 3; ++corner)
      Require(triangle.Vertex[corner] >= 0 && triangle.Vertex[corner] < header.VertexCount &&
                  triangle.SkinCoord[corner] >= 0 && triangle.SkinCoord[corner] < header.SkinCoordCount,
              "a triangle names vertices and skin coordinates that exist");
  }
  for (int32_t i = 0; i < header.SkinCoordCount; ++i)
    (void)ReadMD2SkinCoord(data + header.SkinCoordsOffset, i);
  std::vector<float> vertices(static_cast<std::size_t>(header.VertexCount) * 3);
  for (int32_t f = 0; f < header.FrameCount; ++f)
    DecodeMD2Frame(data + header.FramesOffset + static_cast<int64_t>(f) * header.FrameSize,
                   header.VertexCount, vertices.data());
}

void Animate(const std::string& path, const uint8_t* data, std::size_t size) {
  TQ2Model model;
  try {
    model.LoadModel(path);
  } catch (const Exception&) {
    return;
  }
  TModelInstance& instance = *model.Instance();
  int32_t last = instance.FrameCount() - 1;
  model.SetKeyFrame(0, 0);
  model.SetKeyFrame(1, last);
  model.TrailOn = true;
  model.TrailVertexA = size > 0 ? data[0] : 0;
  model.TrailVertexB = instance.VertexCount() - 1;
  for (float t : {0.0f, 0.5f, 1.0f}) model.Interpolate(0, 1, t);
  Require(model.Vertices().size() == static_cast<std::size_t>(instance.VertexCount()),
          "a model blends every vertex of its data");
  for (int32_t k = 0; k < model.TrailLength(); ++k) (void)model.TrailSample(k);
  for (int32_t i = 0; i < instance.TriangleCount(); ++i) {
    TMD2Triangle triangle = instance.Triangle(i);
    for (int corner = 0; corner < 3; ++corner) {
      (void)model.Vertices()[static_cast<std::size_t>(triangle.Vertex[corner])];
      (void)instance.SkinCoord(triangle.SkinCoord[corner]);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  CheckInPlace(data, size);
  Animate(WriteScratchFile("fuzz.md2", data, size), data, size);
  Require(ModelManager.Count() == 0, "the model data goes back to its manager");
  return 0;
}
