// MD2 models: the file layout and its checks, the writer, and the animation
// of a character read back through the model manager.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "models/MD2.h"
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
  model.SkinCoords = {{0, 0}, {63, 0}, {63, 31}, {0, 31}};
  model.Triangles = {{{0, 1, 2}, {0, 1, 2}}, {{0, 2, 3}, {0, 2, 3}}};
  for (int f = 0; f < 2; ++f) {
    TMD2FrameData frame;
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

// A frame's bytes become world units, the file's up axis as +Y and its
// second axis as -Z, lifted so that a player model stands on the ground; and
// points given to the writer in world units come back within a step.
TEST(MD2File, FramesDecodeIntoWorldUnitsAndBack) {
  TMD2ModelData model = SquareModel();
  model.Frames[0].Translation = {10, 20, 30};
  model.Frames[0].Vertices[1] = {2, 3, 4, 0};
  model.Frames[0].Scale = {0.5f, 2, 1};
  const float world[4][3] = {{-1, 0, 0.5f}, {1, 0, 0.5f}, {1, 4.8f, -0.5f}, {-1, 4.8f, -0.5f}};
  std::vector<std::array<float, 3>> points;
  for (const auto& p : world) points.push_back(MD2PointFromWorld(p[0], p[1], p[2]));
  model.Frames[1] = MakeMD2Frame("walk", points);
  const std::string file = WriteMD2(model);
  const TMD2Header header = ReadMD2Header(Bytes(file), uint32_t(file.size()), "square.md2");
  EXPECT_EQ(header.EndOffset, int32_t(file.size()));

  float out[4 * 3];
  DecodeMD2Frame(Bytes(file) + header.FramesOffset, header.VertexCount, out);
  EXPECT_FLOAT_EQ(out[0], 1.0f);   // (0, 0, 0): (0 + 10) / 10
  EXPECT_FLOAT_EQ(out[1], 5.4f);   //            (0 + 30) / 10 + 2.4
  EXPECT_FLOAT_EQ(out[2], -2.0f);  //           -(0 + 20) / 10
  EXPECT_FLOAT_EQ(out[3], 1.1f);   // (2, 3, 4): (2 * 0.5 + 10) / 10
  EXPECT_FLOAT_EQ(out[4], 5.8f);   //            (4 * 1 + 30) / 10 + 2.4
  EXPECT_FLOAT_EQ(out[5], -2.6f);  //            -(3 * 2 + 20) / 10
  DecodeMD2Frame(Bytes(file) + header.FramesOffset + header.FrameSize, header.VertexCount, out);
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(out[3 * i + k], world[i][k], 0.5 * 4.8 / 255) << i << "," << k;
}

// A header that lies about the file is refused before anything points into
// it: the reader must never be led outside.  A table or frame that does not
// lie inside the file is an out-of-bounds pointer; other lies name the file.
TEST(MD2File, TruncatedOrLyingHeaderIsRejected) {
  const std::string good = WriteMD2(SquareModel());
  TMD2Header header = ReadMD2Header(Bytes(good), uint32_t(good.size()), "square.md2");
  EXPECT_EQ(RejectionOf(good), "");

  struct TCase {
    const char* What;
    uint32_t Offset;  // header field patched, or 0 to cut the file
    int32_t Value;
    bool OutOfBounds = false;
  };
  const TCase cases[] = {
      {"header cut short", 0, 40},
      {"last frame cut by one byte", 0, int32_t(good.size()) - 1, true},
      {"zero skin width", 8, 0},
      {"negative skin height", 12, -64},
      {"frame size too small for its vertices", 16, 40 + 4 * 4 - 1},
      {"more vertices than the frames hold", 24, 5},
      {"negative vertex count", 24, -1},
      {"more skin coordinates than the file holds", 28, 1 << 30, true},
      {"negative triangle count", 32, -2},
      {"one frame too many", 40, 3, true},
      {"frame count that wraps 32 bits", 40, 0x7FFFFFFF, true},
      {"triangles offset beyond the file", 52, int32_t(good.size()) + 1, true},
      {"negative frames offset", 56, -4, true},
      {"skin coordinates offset leaving the table half outside", 48, int32_t(good.size()) - 8, true},
  };
  for (const TCase& c : cases) {
    std::string bad = good;
    if (c.Offset == 0)
      bad.resize(std::size_t(c.Value));
    else
      PatchMD2Int32(bad, c.Offset, c.Value);
    std::string message = RejectionOf(bad);
    if (c.OutOfBounds) {
      EXPECT_EQ(message, "Out of bounds pointer !") << c.What;
    } else {
      EXPECT_NE(message, "") << c.What;
      EXPECT_NE(message.find("data\\bad.md2"), std::string::npos) << c.What << ": " << message;
    }
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

namespace {

// The standard 198 frames, each vertex of frame f at world X = f, so that
// the X of any blended vertex tells which frames were blended and how far:
// vertex 0 at (f, 0, 0), vertex 1 at (f, 1, 0), vertex 2 at (f, 0, 1).
TMD2ModelData CountingModel() {
  TMD2ModelData model;
  model.SkinWidth = 8;
  model.SkinHeight = 8;
  model.SkinCoords = {{0, 0}, {8, 0}, {0, 8}};
  model.Triangles = {{{0, 1, 2}, {0, 1, 2}}};
  for (int f = 0; f < 198; ++f) {
    TMD2FrameData frame;
    frame.Translation = {10.0f * f, 0, -24};
    frame.Vertices = {{0, 0, 0, 0}, {0, 0, 10, 0}, {0, 10, 0, 0}};
    model.Frames.push_back(frame);
  }
  return model;
}

class MD2Models : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(FDir.isValid()); }
  void TearDown() override { EXPECT_EQ(ModelManager.Count(), 0) << "a model reference was not given back"; }

  std::string PathOf(const std::string& name) const { return FDir.path().toStdString() + "/" + name; }
  std::string Save(const std::string& name, const TMD2ModelData& model) {
    SaveMD2(model, PathOf(name));
    return PathOf(name);
  }
  std::string SaveBytes(const std::string& name, const std::string& bytes) {
    std::ofstream(PathOf(name), std::ios::binary) << bytes;
    return PathOf(name);
  }

  QTemporaryDir FDir;
};

// A player whose body and weapon both play the counting model, its weapon
// trail following vertices 0 and 1.
struct TCountingPlayer {
  explicit TCountingPlayer(const std::string& fileName) {
    Player.GetBody()->LoadModel(fileName);
    Player.GetWeapon()->LoadModel(fileName);
    Player.GetWeapon()->TrailVertexA = 0;
    Player.GetWeapon()->TrailVertexB = 1;
    Player.RandomPercent = [this] { return std::exchange(Draw, 99); };
  }
  // The blended position between key frames, read off the body.
  float Shown() const { return Player.Body()->Vertices()[0].X; }
  // Advances by Ms in frames of StepMs, as the screen does.
  void Play(int ms, int stepMs = 40) {
    for (; ms > 0; ms -= stepMs) Player.Advance(std::min(ms, stepMs));
  }

  TQ2Player Player;
  int Draw = 99;  // the next idle draw, then 99 (no variation)
};

}  // namespace

// One instance per file, found without regard to case both in the manager
// and on disk, counted per Get and destroyed with its last reference.
TEST_F(MD2Models, ManagerSharesOneInstancePerFileWhateverItsCase) {
  std::string fileName = Save("Square.md2", SquareModel());
  std::string shouted = PathOf("SQUARE.MD2");

  TModelInstance* first = ModelManager.Get(shouted);  // only the other case exists on disk
  TModelInstance* second = ModelManager.Get(fileName);
  EXPECT_EQ(first, second);
  EXPECT_EQ(first->RefCount(), 2);
  EXPECT_EQ(ModelManager.Count(), 1);
  EXPECT_EQ(first->Triangle(1).Vertex[2], 3);  // tables read in place
  EXPECT_EQ(first->SkinCoord(1).S, 63);
  EXPECT_FLOAT_EQ(first->Frame(1)[3].Y, 2.4f + 0.1f);  // vertex (0, 10, 1) of frame 1

  first->Release();
  EXPECT_EQ(ModelManager.Count(), 1);
  second->Release();
  EXPECT_EQ(ModelManager.Count(), 0);

  try {
    ModelManager.Get(PathOf("missing.md2"));
    ADD_FAILURE() << "a missing file was loaded";
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(), "Unable to open " + PathOf("missing.md2"));
  }
  EXPECT_EQ(ModelManager.Count(), 0);
}

// A file that lies fails in LoadModel, registers nothing, and leaves a model
// that was loaded before as it was.
TEST_F(MD2Models, LoadModelOfALyingFileKeepsThePreviousModel) {
  std::string good = Save("good.md2", SquareModel());
  std::string bytes = WriteMD2(SquareModel());
  PatchMD2Int32(bytes, 40, 1000);  // a thousand frames in a file that holds two
  std::string lying = SaveBytes("lying.md2", bytes);

  TQ2Model model;
  model.LoadModel(good);
  try {
    model.LoadModel(lying);
    ADD_FAILURE() << "a lying file was loaded";
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(), "Out of bounds pointer !");
  }
  EXPECT_EQ(ModelManager.Count(), 1);
  EXPECT_EQ(model.ModelName(), good);
  ASSERT_NE(model.Instance(), nullptr);
  EXPECT_EQ(model.Instance()->RefCount(), 1);
  EXPECT_EQ(model.Vertices().size(), 4u);
}

// A file that cannot be read is named as the caller named it, not as it
// was found on disk; a folder is no file to open.
TEST_F(MD2Models, FilesThatCannotBeReadAreNamedAsGiven) {
  ASSERT_TRUE(QDir(FDir.path()).mkdir("data"));
  SaveBytes("data/empty.md2", "");
  const QString previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(FDir.path()));
  auto errorOf = [](const std::string& fileName) {
    try {
      ModelManager.Get(fileName)->Release();
    } catch (const Exception& error) {
      return error.Message();
    }
    return std::string("loaded");
  };
  EXPECT_EQ(errorOf("data\\Empty.md2"), "Empty file data\\Empty.md2");
  EXPECT_EQ(errorOf("data"), "Unable to open data");
  QDir::setCurrent(previous);
}

// A new character starts in animation 0 at frame 0 with LastFrame 0, so its
// first step wraps into animation 0 proper; from there 400 ms move two key
// frames on and leave 40 ms into the third, blended at 40/180.
TEST_F(MD2Models, AdvanceMovesOneKeyFrameEvery180Ms) {
  TCountingPlayer knight(Save("tris.md2", CountingModel()));
  int ends = 0;
  knight.Player.OnAnimationEnd = [&](TQ2Player&) { ++ends; };

  knight.Player.Advance(0);
  knight.Player.Advance(-5);
  EXPECT_EQ(knight.Player.Frame(), 0);
  EXPECT_EQ(knight.Player.Elapsed(), 0);

  knight.Player.Advance(180);
  EXPECT_EQ(knight.Player.Animation(), 0);
  EXPECT_EQ(knight.Player.Frame(), 0);
  EXPECT_EQ(knight.Player.LastFrame(), 39);
  EXPECT_EQ(ends, 1);

  knight.Player.Advance(400);
  EXPECT_EQ(knight.Player.PrevFrame(), 0);
  EXPECT_EQ(knight.Player.Frame(), 2);
  EXPECT_EQ(knight.Player.Elapsed(), 40);
  EXPECT_EQ(ends, 1);
  // Blending from the key before (frame 0) towards frame 2.
  EXPECT_FLOAT_EQ(knight.Shown(), 2.0f * 40 / 180);
  EXPECT_FLOAT_EQ(knight.Player.Weapon()->Vertices()[0].X, 2.0f * 40 / 180);

  knight.Play(140 + 180 * 36);  // to the last frame of animation 0
  EXPECT_EQ(knight.Player.Frame(), 39);
  knight.Play(180);  // it starts over, and a draw of 99 picks no variation
  EXPECT_EQ(knight.Player.Animation(), 0);
  EXPECT_EQ(knight.Player.Frame(), 0);
  EXPECT_EQ(ends, 2);
}

// Each start of animation 0 draws 0 to 99: each tenth below 50 picks one of
// the animations 7 to 11, which blends from the previous key.
TEST_F(MD2Models, AnimationZeroStartingOverPicksIdleVariations) {
  TCountingPlayer knight(Save("tris.md2", CountingModel()));
  knight.Player.Advance(180);  // into animation 0 proper; draws nothing
  const struct {
    int Draw;
    uint8_t Animation;
  } picks[] = {{0, 7}, {19, 8}, {20, 9}, {39, 10}, {45, 11}, {50, 0}};
  for (const auto& pick : picks) {
    knight.Player.SetAnimation(3);  // frames 54 to 57, then animation 0
    knight.Draw = pick.Draw;
    knight.Play(4 * 180);
    EXPECT_EQ(knight.Player.Animation(), pick.Animation) << "draw " << pick.Draw;
    EXPECT_EQ(knight.Player.Frame(), AnimFirstFrame[pick.Animation]) << "draw " << pick.Draw;
    // Blending starts from frame 57, the last key shown.
    EXPECT_FLOAT_EQ(knight.Player.Body()->Keys(1 - knight.Player.Slot())[0].X, 57.0f);
  }
}

// A death animation ends on its last frame and stays there; SetAnimation of
// the current animation changes nothing; 20 stops, numbers above it are
// ignored.
TEST_F(MD2Models, DeathHoldsItsLastFrameAndSelectingTheSameAnimationChangesNothing) {
  std::string fileName = Save("tris.md2", CountingModel());
  TCountingPlayer knight(fileName);
  int ends = 0;
  knight.Player.OnAnimationEnd = [&](TQ2Player&) { ++ends; };
  knight.Player.SetAnimation(17);  // frames 178 to 183
  knight.Play(6 * 180 + 100);
  EXPECT_EQ(knight.Player.Animation(), AnimStopped);
  EXPECT_EQ(knight.Player.Frame(), 183);
  EXPECT_FLOAT_EQ(knight.Shown(), 183.0f);
  EXPECT_EQ(ends, 1);
  knight.Play(5000);
  EXPECT_EQ(knight.Player.Frame(), 183);
  EXPECT_FLOAT_EQ(knight.Shown(), 183.0f);
  EXPECT_EQ(ends, 1);

  // Even one long step that runs past the end holds the last frame itself.
  TCountingPlayer fallen(fileName);
  fallen.Player.SetAnimation(19);  // frames 190 to 197
  fallen.Player.Advance(10 * 180 + 90);
  EXPECT_EQ(fallen.Player.Frame(), 197);
  EXPECT_FLOAT_EQ(fallen.Shown(), 197.0f);

  TCountingPlayer walker(fileName);
  walker.Player.SetAnimation(9);
  walker.Play(3 * 180 + 80);
  const int frame = walker.Player.Frame();
  const float shown = walker.Shown();
  for (uint8_t same : {9, 21, 255}) walker.Player.SetAnimation(same);
  EXPECT_EQ(walker.Player.Animation(), 9);
  EXPECT_EQ(walker.Player.Frame(), frame);
  EXPECT_EQ(walker.Player.Elapsed(), 80);
  EXPECT_FLOAT_EQ(walker.Shown(), shown);
  walker.Player.SetAnimation(AnimStopped);
  walker.Play(1000);
  EXPECT_EQ(walker.Player.Frame(), frame);
  EXPECT_FLOAT_EQ(walker.Shown(), shown);
}

// Animation 2 switches the weapon's trail on: one sample a blend, the
// newest 10 kept.  Back in animation 0 it shrinks by one sample a blend.
TEST_F(MD2Models, AttackTrailKeepsTheNewestTenSamplesAndShrinksAfter) {
  TCountingPlayer knight(Save("tris.md2", CountingModel()));
  knight.Player.Advance(180);
  TQ2Model& weapon = *knight.Player.Weapon();
  EXPECT_FALSE(weapon.TrailOn);
  knight.Player.SetAnimation(2);  // frames 46 to 53
  EXPECT_TRUE(weapon.TrailOn);
  EXPECT_EQ(weapon.TrailLength(), 1);

  std::vector<float> recorded = {weapon.Vertices()[0].X};
  for (int blend = 0; blend < 14; ++blend) {
    knight.Player.Advance(40);
    recorded.push_back(weapon.Vertices()[0].X);
  }
  EXPECT_EQ(weapon.TrailLength(), 10);
  for (int k = 0; k < 10; ++k) {
    EXPECT_FLOAT_EQ(weapon.TrailSample(k).A.X, recorded[recorded.size() - 1 - k]) << k;
    EXPECT_FLOAT_EQ(weapon.TrailSample(k).B.Y, 1.0f) << k;  // vertex B, one unit above A
  }

  knight.Play(8 * 180 - 14 * 40);  // to the end of the attack
  ASSERT_EQ(knight.Player.Animation(), 0);
  EXPECT_FALSE(weapon.TrailOn);
  EXPECT_EQ(weapon.TrailLength(), 9);  // the blend that came back to 0
  const float newest = weapon.TrailSample(0).A.X;
  for (int left = 8; left >= 0; --left) {
    knight.Player.Advance(40);
    EXPECT_EQ(weapon.TrailLength(), left);
  }
  knight.Player.Advance(40);
  EXPECT_EQ(weapon.TrailLength(), 0);
  EXPECT_FLOAT_EQ(weapon.TrailSample(0).A.X, newest);  // shrinking records nothing

  // A trail following vertices the model lacks records nothing.
  weapon.TrailVertexB = 3;
  knight.Player.SetAnimation(7);
  EXPECT_TRUE(weapon.TrailOn);
  knight.Play(400);
  EXPECT_EQ(weapon.TrailLength(), 0);
}
