// Inputs the fuzz targets found, kept as tests of the loaders that failed on
// them: each is a file of a few bytes that once cost far more than its size.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <string>

#include "models/MD2.h"
#include "models/MD2File.h"
#include "models/MD2Writer.h"
#include "platform/Errors.h"

namespace {

// One triangle over three vertices in one frame.
TMD2ModelData Triangle() {
  TMD2ModelData model;
  model.SkinWidth = 64;
  model.SkinHeight = 32;
  model.SkinCoords = {{0, 0}, {63, 0}, {0, 31}};
  model.Triangles = {{{0, 1, 2}, {0, 1, 2}}};
  TMD2FrameData frame;
  frame.Vertices = {{0, 0, 0, 0}, {10, 0, 0, 0}, {0, 10, 0, 0}};
  model.Frames = {frame};
  return model;
}

std::string Rejection(const std::string& file) {
  try {
    ReadMD2Header(reinterpret_cast<const uint8_t*>(file.data()), uint32_t(file.size()), "data\\tris.md2");
  } catch (const Exception& error) {
    return error.Message();
  }
  return "";
}

}  // namespace

// A header with no frames but a vertex count of 1.6 billion passed every
// table check (no frame record has to hold the vertices), and loading it
// sized three vertex arrays by that count: 57 GB asked for by 73 bytes.  A
// vertex count now needs frames; a model without frames and vertices still
// loads.
TEST(MD2FuzzRegression, VerticesWithoutFramesAreRefusedBeforeAnythingIsSized) {
  const int32_t lyingCount = 1593835524;  // the count of the file found
  std::string file = WriteMD2(Triangle());
  PatchMD2Int32(file, 40, 0);           // frame count
  PatchMD2Int32(file, 24, lyingCount);  // vertex count
  std::string message = Rejection(file);
  ASSERT_NE(message.find("data\\tris.md2"), std::string::npos) << message;
  EXPECT_NE(message.find(std::to_string(lyingCount) + " vertices without any frame"), std::string::npos)
      << message;

  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  std::string path = folder.path().toStdString() + "/tris.md2";
  std::ofstream(path, std::ios::binary) << file;
  {
    TQ2Model model;
    EXPECT_THROW(model.LoadModel(path), Exception);
    EXPECT_EQ(model.Instance(), nullptr);
  }
  EXPECT_EQ(ModelManager.Count(), 0);

  TMD2ModelData empty = Triangle();
  empty.Triangles.clear();
  empty.Frames.clear();
  EXPECT_EQ(Rejection(WriteMD2(empty)), "");
}

// Frames that hold no vertex at all: loading took the address of the first
// vertex of each frame in a table of none (a fault the fuzz build's checked
// standard library stops on, silent elsewhere).  Such a model loads, has its
// frames and blends nothing.
TEST(MD2FuzzRegression, FramesWithoutVerticesLoadAndBlendNothing) {
  TMD2ModelData model = Triangle();
  model.Triangles.clear();
  model.Frames[0].Vertices.clear();
  model.Frames.push_back(model.Frames[0]);
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  std::string path = folder.path().toStdString() + "/empty.md2";
  SaveMD2(model, path);
  {
    TQ2Model q2;
    ASSERT_NO_THROW(q2.LoadModel(path));
    EXPECT_EQ(q2.Instance()->FrameCount(), 2);
    EXPECT_EQ(q2.Instance()->VertexCount(), 0);
    q2.SetKeyFrame(0, 0);
    q2.SetKeyFrame(1, 1);
    q2.Interpolate(0, 1, 0.5f);
    EXPECT_TRUE(q2.Vertices().empty());
  }
  EXPECT_EQ(ModelManager.Count(), 0);
}
